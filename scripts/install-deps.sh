#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
# shellcheck source=scripts/wine-route.sh
source "$(dirname "$0")/wine-route.sh"
packages=(
    cmake ninja-build g++ git clang clang-format libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev rsync
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-tools
    wine wine32 wine64 xvfb xauth
    strace hyperfine libssl-dev openssl osslsigncode
    # Wine's bcrypt verifies ECDSA (the signed manifest) through the 32-bit
    # GnuTLS; without it BCryptImportKeyPair fails under Wine.
    libgnutls30:i386
)
# Where the kernel runs no 32-bit code (or UPDATE_WINE_ROUTE=qemu asks for
# it), 32-bit Wine runs through a patched qemu-i386, built here from
# Debian's source (see scripts/wine-route.sh and scripts/build-qemu.sh).
qemu_packages=()
if [ "${UPDATE_WINE_ROUTE:-}" = qemu ] ||
    { [ -z "${UPDATE_WINE_ROUTE:-}" ] && ! wine_route_native_works; }; then
    qemu_packages=(wine32-preloader:i386 dpkg-dev meson pkg-config libglib2.0-dev zlib1g-dev)
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
not_installed() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}
mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_qemu < <(not_installed "${qemu_packages[@]}")
if [ ${#missing[@]} -gt 0 ] || [ ${#missing_qemu[@]} -gt 0 ]; then
    apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
    apt-get -o DPkg::Lock::Timeout=900 install -y -q "${missing[@]}"
fi
if [ ${#missing_qemu[@]} -gt 0 ]; then
    # Without their recommends: what builds qemu-i386 needs no more.
    apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing_qemu[@]}"
fi
if [ ${#qemu_packages[@]} -gt 0 ]; then
    bash "$(dirname "$0")/build-qemu.sh"
fi

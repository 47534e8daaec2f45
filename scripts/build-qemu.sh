#!/usr/bin/env bash
# Builds the qemu-i386 that the qemu route of the Wine tests runs (see
# scripts/wine-route.sh): Debian's own qemu source, with the patches in
# scripts/qemu/, built as the i386 user-mode emulator alone into
# build/qemu/qemu-i386. Debian's packaged qemu-i386 loses a thread's TLS at
# every signal, and under Wine a program that has started a thread then
# waits for good in its next server call; scripts/qemu/*.patch say why.
#
# Does nothing when the binary is there and was built from these patches.
# Fetching the source needs root (apt); the build takes about a minute on
# two cores. Needs dpkg-dev, meson, ninja-build, pkg-config, libglib2.0-dev
# and zlib1g-dev (scripts/install-deps.sh installs them).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/qemu"
binary="$out/qemu-i386"
patches=("$root"/scripts/qemu/*.patch)

# What the binary was built from: this script and the patches.
recipe="$(cat "$0" "${patches[@]}" | sha256sum | cut -d' ' -f1)"
if [ -x "$binary" ] && [ "$(cat "$out/recipe" 2>/dev/null)" = "$recipe" ]; then
    exit 0
fi

echo "== qemu: building a patched qemu-i386 from Debian's source into $out"
started=$(date +%s)
work="$out/work"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# Debian's source packages come from the same mirrors as its binaries: one
# deb-src entry for each deb entry, in a file of our own.
if [ -z "$(apt-cache showsrc qemu 2>/dev/null | head -1)" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "build-qemu.sh: apt knows no source packages here, and adding them needs root" >&2
        exit 1
    fi
    list=/etc/apt/sources.list.d/update-deb-src
    rm -f "$list.sources" "$list.list"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "$f" != "$list.sources" ] || continue
        if grep -Eq '^Types:.*\<deb\>' "$f"; then
            sed -E 's/^Types:.*/Types: deb-src/' "$f" >>"$list.sources"
            echo >>"$list.sources"
        fi
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -nE 's/^deb[[:space:]]/deb-src /p' "$f" >>"$list.list"
    done
    apt-get update -q >/dev/null
fi

cd "$work"
# apt's sandbox user may not write here (a checkout under /root); the
# download is checked against the signed index all the same.
apt-get source -q --download-only qemu 2>&1 | grep -v "unsandboxed as root" || true
dsc="$(ls qemu_*.dsc 2>/dev/null | head -1)"
if [ -z "$dsc" ]; then
    echo "build-qemu.sh: apt-get source qemu fetched nothing" >&2
    exit 1
fi
dpkg-source --no-check -x "$dsc" source >/dev/null
cd source
for patch in "${patches[@]}"; do
    patch -p1 --forward --quiet <"$patch" || {
        echo "build-qemu.sh: $(basename "$patch") does not apply to ${dsc%.dsc}" >&2
        exit 1
    }
done
mkdir build
cd build
# The emulator alone, with what a Wine prefix needs of it: extended
# attributes (Wine keeps the hidden and system attributes in them).
../configure --target-list=i386-linux-user --without-default-features \
    --disable-system --disable-tools --disable-docs --disable-debug-info \
    --enable-attr --disable-werror >configure.log 2>&1 || {
    tail -20 configure.log >&2
    exit 1
}
ninja qemu-i386 >build.log 2>&1 || {
    tail -30 build.log >&2
    exit 1
}
install -m 755 qemu-i386 "$binary.new"
mv -f "$binary.new" "$binary"
echo "$recipe" >"$out/recipe"
echo "== qemu: ${dsc%.dsc} with $(printf '%s ' "${patches[@]##*/}")built in $(($(date +%s) - started)) s"

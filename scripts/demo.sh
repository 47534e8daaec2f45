#!/usr/bin/env bash
# Builds Update.exe and runs one whole update in a throwaway folder: a small
# installation, a registry file that points at it, and an update package
# with its manifest (made by update-manifest), signed with a demo key pair
# made in that folder, started from its own folder, as a user would start it
# from Explorer. This Update.exe trusts the demo key (a build of its own in
# build/demo; no other build trusts it). First a copy of the package with
# one file damaged is refused, then a copy changed by someone without the
# key (a file and the manifest anew), and the installation stays as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$(pwd)

if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || [ ! -d /usr/include/gtest ]; then
    bash scripts/install-deps.sh
fi
cmake --preset linux >/dev/null
cmake --build --preset linux --target update-manifest >/dev/null
tool="$root_dir/build/linux/tools/manifest/update-manifest"

demo=$(mktemp -d /tmp/brenvolt-demo-XXXXXX)
trap 'rm -rf "$demo"' EXIT

# The vendor's key pair (here a demo one), and Update.exe built with its
# public key.
mkdir -p "$demo/keys"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$demo/keys/vendor.pem" 2>/dev/null
openssl pkey -in "$demo/keys/vendor.pem" -pubout -out "$demo/keys/vendor.pub"
echo "== Update.exe built with the demo public key (build/demo), key $(openssl pkey -pubin \
    -in "$demo/keys/vendor.pub" -outform DER | sha256sum | cut -c1-16)"
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATE_TESTS=OFF \
    -DUPDATE_TRUSTED_KEYS="$demo/keys/vendor.pub" >/dev/null
cmake --build build/demo --target Update >/dev/null
install="$demo/Programme/Brenvolt"
package="$demo/Brenvolt-Update-1.01"

# The installed product.
mkdir -p "$install/Data"
printf 'BV 1.00\n' >"$install/BV.EXE"
chmod a-w "$install/BV.EXE" # read-only, as some installers leave it
printf 'map 1.00\n' >"$install/Data/map.dat"
printf 'settings\n' >"$install/settings.ini"

# The registry, as the product's installer left it.
cat >"$demo/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0]
@="${install}"
REG

# The update package.
mkdir -p "$package/Data/Maps" "$package/.svn"
cp "$root_dir/build/demo/src/update/Update.exe" "$package/Update.exe"
printf 'map 1.01\n' >"$package/Data/map.dat"
printf 'new map\n' >"$package/Data/Maps/north.dat"
printf 'BV 1.01\n' >"$package/BV.EXE"
printf 'Neu in 1.01: schnellere Karten.\n' >"$package/faq.txt"
printf 'not for the user\n' >"$package/.svn/entries"
printf 'hidden\n' >"$package/.DS_Store"
# The vendor lists what the package holds, and signs the list.
"$tool" make "$package" 2>/dev/null
"$tool" sign --key "$demo/keys/vendor.pem" "$package" 2>/dev/null

# Notepad of the demo: shows which notes it was asked to open.
mkdir -p "$demo/bin"
cat >"$demo/bin/notepad.exe" <<'SH'
#!/bin/sh
echo "[Notepad opens $1]"
sed 's/^/    /' "$1"
SH
chmod +x "$demo/bin/notepad.exe"

echo "== Installation before the update"
(cd "$install" && find . -type f | sort | while read -r f; do printf '  %-22s %s\n' "$f" "$(head -c 40 "$f")"; done)
echo
echo "== Update package (started as $package/Update.exe)"
(cd "$package" && find . -type f | sort | sed 's/^/  /')
echo
echo "== A damaged copy of the package (one byte of Data/map.dat changed) is refused"
damaged="$demo/Brenvolt-Update-1.01-damaged"
cp -a "$package" "$damaged"
printf 'map 1.0X\n' >"$damaged/Data/map.dat"
(cd "$damaged" && UPDATE_REGISTRY_FILE="$demo/registry.reg" PATH="$demo/bin:$PATH" ./Update.exe 2>&1 | sed 's/^/  /')
echo "  Data/map.dat is still: $(cat "$install/Data/map.dat")"
echo
echo "== A changed copy (Data/map.dat changed and the manifest made anew, without the key) is refused"
changed="$demo/Brenvolt-Update-1.01-changed"
cp -a "$package" "$changed"
printf 'map 6.66\n' >"$changed/Data/map.dat"
"$tool" make "$changed" 2>/dev/null
(cd "$changed" && UPDATE_REGISTRY_FILE="$demo/registry.reg" PATH="$demo/bin:$PATH" ./Update.exe 2>&1 | sed 's/^/  /')
echo "  Data/map.dat is still: $(cat "$install/Data/map.dat")"
echo
echo "== The signed package: what the user sees (the message box, then Notepad)"
(cd "$package" && UPDATE_REGISTRY_FILE="$demo/registry.reg" PATH="$demo/bin:$PATH" \
    ./Update.exe "/LOG=$demo/update.log" 2>&1 | sed 's/^/  /')
sleep 0.5
echo
echo "== Its log: the signature, checked with the demo key"
grep -a 'signiert' "$demo/update.log" | iconv -f CP1252 -t UTF-8 | sed 's/^/  /'
echo
echo "== Installation after the update"
(cd "$install" && find . -type f | sort | while read -r f; do printf '  %-22s %s\n' "$f" "$(head -c 40 "$f")"; done)

#!/usr/bin/env bash
# Builds Update.exe and runs one whole update in a throwaway folder: a small
# installation, a registry file that points at it, and an update package
# with its manifest (made by update-manifest), started from its own folder,
# as a user would start it from Explorer. First a copy of the package with
# one file damaged is refused, and the installation stays as it was.
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$(pwd)

if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || [ ! -d /usr/include/gtest ]; then
    bash scripts/install-deps.sh
fi
cmake --preset linux >/dev/null
cmake --build --preset linux --target Update update-manifest >/dev/null

demo=$(mktemp -d /tmp/brenvolt-demo-XXXXXX)
trap 'rm -rf "$demo"' EXIT
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
cp "$root_dir/build/linux/src/update/Update.exe" "$package/Update.exe"
printf 'map 1.01\n' >"$package/Data/map.dat"
printf 'new map\n' >"$package/Data/Maps/north.dat"
printf 'BV 1.01\n' >"$package/BV.EXE"
printf 'Neu in 1.01: schnellere Karten.\n' >"$package/faq.txt"
printf 'not for the user\n' >"$package/.svn/entries"
printf 'hidden\n' >"$package/.DS_Store"
# The vendor lists what the package holds.
"$root_dir/build/linux/tools/manifest/update-manifest" make "$package" 2>/dev/null

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
echo "== The good package: what the user sees (the message box, then Notepad)"
(cd "$package" && UPDATE_REGISTRY_FILE="$demo/registry.reg" PATH="$demo/bin:$PATH" ./Update.exe 2>&1 | sed 's/^/  /')
sleep 0.5
echo
echo "== Installation after the update"
(cd "$install" && find . -type f | sort | while read -r f; do printf '  %-22s %s\n' "$f" "$(head -c 40 "$f")"; done)

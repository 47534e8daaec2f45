#!/bin/sh
# update-manifest make and check on a package: the manifest lists what an
# update installs (and the top-level Update.exe), sha256sum -c accepts it,
# check passes, and fails after a file changes or goes (each on its own); a
# link back to a folder on the way is not followed; a refused name
# fails make and leaves the old manifest.
# Usage: update_manifest_cli.sh <update-manifest> <work-directory>
set -u
tool=$1
work=$2
fail() {
    echo "FAILED: $*"
    exit 1
}
rm -rf "$work" && mkdir -p "$work/p/Sub" "$work/p/.git" || exit 1
p=$work/p
printf 'a' >"$p/a.txt"
printf 'bb' >"$p/Sub/b.dat"
printf 'exe' >"$p/Update.exe"
printf 'no' >"$p/Sub/UPDATE.EXE"
printf 'no' >"$p/.git/config"
ln -s .. "$p/Sub/Up" || exit 1

# A link back to a folder on the way is not followed (nor walked for ever).
timeout 60 "$tool" make "$p" || fail "make"
expected="ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb  a.txt"
grep -qx "$expected" "$p/.Update.sha256" || fail "a.txt line: $(cat "$p/.Update.sha256")"
[ "$(cut -c67- "$p/.Update.sha256" | sort | tr '\n' ' ')" = "Sub/b.dat Update.exe a.txt " ] ||
    fail "listed: $(cat "$p/.Update.sha256")"
ls -a "$p" | grep -q 'tmp$' && fail "left beside: $(ls -a "$p")"
(cd "$p" && sha256sum --quiet -c .Update.sha256) || fail "sha256sum -c"
"$tool" check "$p" || fail "check of the package as made"

printf 'thumbs' >"$p/Thumbs.db"
"$tool" check "$p" 2>"$work/out" || fail "an unlisted file fails check"
grep -q "not listed.*Thumbs.db" "$work/out" || fail "unlisted not named: $(cat "$work/out")"

printf 'b' >"$p/Sub/b.dat"
"$tool" check "$p" 2>"$work/out" && fail "check passes a changed file"
grep -q "differs.*b.dat" "$work/out" || fail "changed file not named: $(cat "$work/out")"
printf 'bb' >"$p/Sub/b.dat"
rm "$p/a.txt"
"$tool" check "$p" 2>"$work/out" && fail "check passes a missing file"
grep -q "missing.*a.txt" "$work/out" || fail "missing file not named: $(cat "$work/out")"

cp "$p/.Update.sha256" "$work/before"
printf 'x' >"$p/Sub/NUL.txt"
"$tool" make "$p" 2>"$work/out" && fail "make passes a name Windows cannot hold"
cmp -s "$p/.Update.sha256" "$work/before" || fail "a failed make changed the manifest"
ls -a "$p" | grep -q 'tmp$' && fail "a failed make left: $(ls -a "$p")"
echo "passed"

#!/bin/sh
# update-manifest make and check on a package: the manifest lists what an
# update installs (and the top-level Update.exe), sha256sum -c accepts it,
# check passes, and fails after a file changes or goes (each on its own); a
# link back to a folder on the way is not followed; a refused name
# fails make and leaves the old manifest. sign and verify, against the
# openssl command line both ways, with a key pair made here.
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

# sign and verify, with the openssl command line.
rm "$p/Sub/NUL.txt"
"$tool" make "$p" 2>/dev/null || fail "make before signing"
for key in key other; do
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/$key.pem" 2>/dev/null &&
        openssl pkey -in "$work/$key.pem" -pubout -out "$work/$key.pub" || fail "openssl genpkey"
done
"$tool" sign --key "$work/key.pem" "$p" || fail "sign"
[ "$(wc -l <"$p/.Update.sha256.sig")" = 1 ] || fail "not one line: $(cat "$p/.Update.sha256.sig")"
base64 -d "$p/.Update.sha256.sig" >"$work/sig.der" || fail "not base64"
openssl dgst -sha256 -verify "$work/key.pub" -signature "$work/sig.der" "$p/.Update.sha256" >/dev/null ||
    fail "openssl does not verify the tool's signature"
"$tool" verify --key "$work/key.pub" "$p" 2>"$work/out" || fail "verify of the tool's signature"
id=$(openssl pkey -pubin -in "$work/key.pub" -outform DER | sha256sum | cut -c1-16)
grep -q "verified with key $id" "$work/out" || fail "key not named $id: $(cat "$work/out")"
"$tool" verify --key "$work/other.pub" "$p" 2>/dev/null && fail "verify with another key"
cat "$work/other.pub" "$work/key.pub" >"$work/both.pub"
"$tool" verify --key "$work/both.pub" "$p" 2>/dev/null || fail "verify with the second of two keys"
openssl dgst -sha256 -sign "$work/key.pem" "$p/.Update.sha256" | openssl base64 -A >"$p/.Update.sha256.sig"
"$tool" verify --key "$work/key.pub" "$p" 2>/dev/null || fail "the tool does not verify openssl's signature"
printf '\n' >>"$p/.Update.sha256"
"$tool" verify --key "$work/key.pub" "$p" 2>/dev/null && fail "verify passes a manifest changed after signing"
"$tool" sign --key "$work/key.pem" "$p" 2>/dev/null && fail "sign signs a manifest that does not parse"
"$tool" sign --key "$work/key.pub" "$p" 2>/dev/null && fail "sign with a public key"
echo "passed"

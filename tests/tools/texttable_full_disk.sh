#!/bin/sh
# texttable build onto a full disk: the error is reported, the table that was
# there stays as it was, and nothing else is left beside it. Runs as root in
# a mount namespace of its own with a 64 KiB tmpfs; exits 77 (skipped) where
# that cannot be had.
# Usage: texttable_full_disk.sh <texttable> <work-directory>
set -u
tool=$1
work=$2

if [ "${TEXTTABLE_IN_NAMESPACE:-}" != 1 ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "SKIPPED: needs root to mount a small tmpfs"
        exit 77
    fi
    rm -rf "$work" && mkdir -p "$work/disk" || exit 1
    TEXTTABLE_IN_NAMESPACE=1 unshare --mount --propagation private sh "$0" "$tool" "$work"
    exit $?
fi

if ! mount -t tmpfs -o size=64k tmpfs "$work/disk" 2>"$work/mount.txt"; then
    echo "SKIPPED: cannot mount a tmpfs here: $(cat "$work/mount.txt")"
    exit 77
fi

fail() {
    echo "FAILED: $*"
    exit 1
}

printf 'alt\nzwei\n' >"$work/old.txt"
"$tool" build "$work/old.txt" "$work/disk/t.tbl" || fail "the first build failed"
cp "$work/disk/t.tbl" "$work/old.tbl"

# 200 KiB of text cannot fit on a 64 KiB disk.
head -c 204800 /dev/zero | tr '\0' 'x' >"$work/big.txt"
echo >>"$work/big.txt"
if "$tool" build "$work/big.txt" "$work/disk/t.tbl" 2>"$work/err.txt"; then
    fail "a build onto a full disk succeeded"
fi
grep -q "^texttable: $work/disk/t.tbl: cannot write" "$work/err.txt" ||
    fail "no error named the table: $(cat "$work/err.txt")"
cmp -s "$work/old.tbl" "$work/disk/t.tbl" || fail "the old table was changed"
left=$(ls -A "$work/disk")
[ "$left" = t.tbl ] || fail "left on the disk: $left"

# A build that fits replaces the table.
printf 'neu\n' >"$work/new.txt"
"$tool" build "$work/new.txt" "$work/disk/t.tbl" || fail "a build that fits failed"
[ "$("$tool" dump "$work/disk/t.tbl")" = neu ] || fail "the new table is not in place"
echo "PASSED"

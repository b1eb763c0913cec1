#!/bin/bash
# collect_test.sh - `zozerez-gateway collect` and `receipt` on the sample
# configuration moved into a temporary tree: every kind of outgoing message,
# a guaranteed delivery closed by its receipt, messages put back and held
# back, and messages failed for good moved aside with a notification.
set -u
gateway="$1"
sample="$2"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
sed "s|/var/spool/zozerez|$root|g; s|/var/lib/zozerez|$root/lib|g" "$sample" >"$root/gw.reg"
mkdir -p "$root"/out/{office,statements,reports,batches} "$root/lib" "$root/out-errors"
run() { "$gateway" "$@" --config "$root/gw.reg"; }

echo hello >"$root/out/office/report.txt"
echo '<x/>' >"$root/out/statements/st.xml"
printf 'text \xAE\xA2' >"$root/out/reports/r.txt"
echo a >"$root/out/batches/a"
echo b >"$root/out/batches/b"
out=$(run collect) || fail "collect: $out"
grep -q '^5 messages$' <<<"$out" || fail "five messages expected: $out"
grep -q 'subject: File report.txt from the branch' <<<"$out" || fail "subject: $out"
grep -q 'body:    text ов' <<<"$out" || fail "866 body: $out"
left=$(find "$root"/out/{office,reports,batches} -type f)
[ -z "$left" ] || fail "files left: $left"
hash=$(cut -d'|' -f2 "$root/lib/olmhash.dat" | tr -d '\r')
[ -n "$hash" ] || fail "the guaranteed delivery was not recorded"
[ -n "$(find "$root/out/statements" -mindepth 1 -type d)" ] || fail "request not kept for repeats"
out=$(run receipt "$hash") || fail "receipt: $out"
[ -z "$(find "$root/out/statements" -mindepth 1)" ] || fail "receipt did not end the request"
[ ! -e "$root/lib/olmhash.dat" ] || fail "hash store not emptied"

echo again >"$root/out/office/again.txt"
out=$(run collect --status retry) || fail "retry: $out"
grep -q 'outcome: not sent this time' <<<"$out" || fail "retry outcome: $out"
[ -f "$root/out/office/again.txt" ] || fail "not put back"

out=$(run collect --status failed) || fail "failed: $out"
[ -f "$root/out-errors/again.txt" ] || fail "not moved to the bad-files directory"
echo "collect and receipt checked"

#!/bin/bash
# store_test.sh - `zozerez-gateway store` with the sample configuration moved
# into a temporary tree: plain, receipt, signed with a Cyrillic signer, and a
# message no rule takes.
set -u
gateway="$1"
sample="$2"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
sed "s|/var/spool/zozerez|$root|g; s|/var/lib/zozerez|$root/lib|g" "$sample" >"$root/gw.reg"
mkdir -p "$root/in/receipts" "$root/in/bank" "$root/in/all" "$root/in-errors"
printf 'hello' >"$root/Report.doc"
printf 'sig' >"$root/sig"
today=$(date +%Y%m%d)
month=$(date +%Y%m)

out=$("$gateway" store "$root/Report.doc" --from SMTP:ivan@bank.example --config "$root/gw.reg") ||
  fail "plain store: $out"
[ "$out" = "stored: $root/in/all/Report_$today.doc" ] || fail "plain store printed: $out"

out=$("$gateway" store "$root/Report.doc" --from SMTP:x@y --receipt --config "$root/gw.reg") ||
  fail "receipt: $out"
[ -f "$root/in/receipts/$month/Report_$today.doc" ] || fail "receipt not filed by month: $out"

out=$("$gateway" store "$root/Report.doc" --name st.xml --from SMTP:a@bank.example \
  --to reports@example.org --signed --signature "Иванов=$root/sig" --config "$root/gw.reg") ||
  fail "signed store: $out"
grep -q "stored: $root/in/bank/$today/TMP_.*/st.xml.Иванов.sgn" <<<"$out" || fail "signed: $out"
dir=$(dirname "$(ls "$root"/in/bank/"$today"/TMP_*/st.xml)")
[ "$(cat "$dir/st.xml")" = "hello" ] || fail "signed content"
[ "$(cat "$dir/olminfo.txt")" = $'From:SMTP:a@bank.example\r' ] || fail "descriptor"

# Rule 2 takes everything, so make its directory unusable: the file goes to the error directory.
rm -rf "$root/in/all"
export ZZ_SLEEP_LOG="$root/pauses"
out=$("$gateway" store "$root/Report.doc" --from SMTP:x@y --config "$root/gw.reg") &&
  fail "a failed store exited 0"
[ "$(cat "$root/pauses" 2>/dev/null | tr '\n' ' ')" = "1000 1000 1000 " ] ||
  fail "the failed write did not pause three times: $(cat "$root/pauses" 2>/dev/null)"
grep -q "kept: $root/in-errors/Report.doc" <<<"$out" || fail "error directory: $out"
grep -q "E0090003 cannot write the file" <<<"$out" || fail "events not shown: $out"
echo "store command checked"

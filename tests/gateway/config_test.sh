#!/bin/bash
# config_test.sh - `zozerez-gateway config` on the sample configuration, on a
# store missing a required value, and on a broken store.
set -u
gateway="$1"
sample="$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

out=$("$gateway" config --config "$sample") || fail "the sample configuration is incomplete: $out"
grep -q '^key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Zozerez$' <<<"$out" || fail "no key line"
grep -q '  FileMask = "Квитанция"' <<<"$out" || fail "Cyrillic values are not printed in UTF-8"
grep -q '  1 = "EX:/o=Example' <<<"$out" || fail "e-mail list not listed"
grep -q 'REQUIRED' <<<"$out" && fail "the sample marks a required value absent"

printf 'REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gw]\r\n"InputFileRulezFlags"=dword:00000000\r\n' \
  >"$work/partial.reg"
out=$("$gateway" config --config "$work/partial.reg") && fail "absent required values not refused"
grep -q '  OutputMessageFlags = (absent)  <-- REQUIRED' <<<"$out" || fail "absent value not marked"

printf 'REGEDIT4\n[K]\n"a"=dword:xyz\n' >"$work/broken.reg"
err=$("$gateway" config --config "$work/broken.reg" 2>&1) && fail "a broken store was accepted"
grep -q "broken.reg, line 3: a dword needs" <<<"$err" || fail "refusal does not name the line: $err"
echo "config listing checked"

#!/bin/bash
# explain_test.sh - `zozerez-gateway explain` on the loopback configuration:
# each input rule's verdict and the reason it passes a message over, the
# path the walk gives (unique names, date directories, a rule that cannot
# store), the messages an output rule's directory would make; and through it
# all the real tree stays as it was and no scratch copy is left behind.
set -u
gateway="$1"
template="$2"
root=$(mktemp -d)
export TMPDIR="$root/tmp"
mkdir -p "$TMPDIR"
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
mkdir -p "$root"/out/{plain,requests,separate,guaranteed} "$root"/in/{receipts,statements,all} \
  "$root"/{in-errors,out-errors,state}
sed "s|@ROOT@|$root|g" "$template" >"$root/gw.reg"
echo figures >"$root/report.txt"
echo old >"$root/in/all/report.txt"
echo a >"$root/out/separate/one.txt"
echo b >"$root/out/separate/two.txt"
tree() { find "$root" -path "$TMPDIR" -prune -o -printf '%p %s %T@\n' | sort; }
before=$(tree)
x() { "$gateway" explain "$@" --config "$root/gw.reg"; }
expect() { grep -qF -- "$1" <<<"$out" || fail "no line \"$1\" in:"$'\n'"$out"; }

out=$(x incoming "$root/report.txt" --from branch@demo.example) || fail "explain failed: $out"
expect '  0  '"$root"'/in/receipts: passed over: the name does not match "Квитанция"'
expect '  1  '"$root"'/in/statements: passed over: the name does not match "*.xml"'
expect "  2  $root/in/all: takes it, as $root/in/all/report~1.txt"
expect "the walk as configured: stored as"$'\n'"  $root/in/all/report~1.txt"

out=$(x incoming "$root/report.txt" --name 'Квитанция' --receipt --from x@y) || fail "$out"
expect "  $root/in/receipts/$(date +%Y%m)/Квитанция"

rmdir "$root/in/statements"
before=$(tree)
out=$(x incoming "$root/report.txt" --name st.xml --from x@y) && fail "a missing directory stored"
expect "  1  $root/in/statements: takes it, but cannot store it:"
expect "the walk as configured: not stored"
mkdir "$root/in/statements"
before=$(tree)

out=$(x outgoing "$root/out/separate") || fail "explain outgoing failed: $out"
expect "explain outgoing $root/out/separate (output rule 2)"
[ "$(grep -c '^message ' <<<"$out")" -eq 4 ] || fail "four messages expected: $out"
expect "  to:      SMTP:archive@demo.example"
expect "  subject: To each one"
expect "  taken:   $root/out/separate/TMP_"
grep -q "^  request: $root/out/separate/TMP_[0-9_]* (made by the module)$" <<<"$out" ||
  fail "the send directory is not told as the module would make it: $out"

err=$(x outgoing "$root/in" 2>&1) && fail "a directory of no rule was explained"
grep -q "is the directory of no output rule" <<<"$err" || fail "$err"
"$gateway" explain incoming "$root/report.txt" --config "$root/gw.reg" 2>/dev/null
[ $? -eq 2 ] || fail "explain incoming without --from is not a usage error"

[ "$(tree)" = "$before" ] || fail "explain changed the real tree"
[ -z "$(ls -A "$TMPDIR")" ] || fail "scratch left behind: $(ls "$TMPDIR")"
echo "explain checked"

#!/bin/bash
# crash_test.sh - the gateway killed (SIGKILL) at each named point of a round,
# then started again: every file must end in exactly one place - stored once
# by the receiving side, or, when the kill came between the claim and the
# journal, set aside in the bad-files directory with the administrator told.
set -u
gateway="$1"      # the test build, with crash points
template="$2"
root=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$root"' EXIT
fail() { echo "FAIL [$point]: $*"; exit 1; }

# point:N pairs; the Nth time the point is reached the process dies
points=(claimed:1 claimed:2 journaled:2 delivered:1 delivered:4 completed:2
        stored:1 stored:3 noted:2 receipt:2 finished:1)
for point in "${points[@]}"; do
  tree="$root/${point/:/-}"
  mkdir -p "$tree"/out/{plain,requests,separate,guaranteed} "$tree"/in/{receipts,statements,all} \
    "$tree"/{in-errors,out-errors,state}
  sed -e "s|@ROOT@|$tree|g" -e 's|"OutRulezFlags"=dword:00000001|"OutRulezFlags"=dword:00000003\n"AdminEmail"="admin@demo.example"\n"admin_etype"=dword:00000000|' \
    "$template" >"$tree/gw.reg"
  for i in 1 2 3 4; do echo "loose $i" >"$tree/out/plain/l$i.txt"; done
  for d in 1 2; do
    mkdir "$tree/out/requests/r$d"
    echo "request $d" >"$tree/out/requests/r$d/r$d.txt"
    printf 'Subject:R%s\r\nEmail:SMTP:desk@x\r\n' "$d" >"$tree/out/requests/r$d/olminfo.txt"
  done
  ZOZEREZ_CRASH_AT="$point" "$gateway" run --once --config "$tree/gw.reg" >"$tree/crash.log" 2>&1
  [ $? -eq 137 ] || fail "the point was never reached: $(cat "$tree/crash.log")"
  log=$(for _ in 1 2 3 4; do "$gateway" run --once --config "$tree/gw.reg" 2>&1; done | tee "$tree/restart.log")
  [ -z "$(find "$tree/out" -name 'qmt-*')" ] || fail "left claimed: $(find "$tree/out" -name 'qmt-*')"
  [ -z "$(find "$tree/out" -type f)" ] || fail "left to send: $(find "$tree/out" -type f)"$'\n'"$log"
  [ -z "$(find "$tree/maildir" -name '.zozerez-journal*')" ] || fail "journal left behind"
  aside=0
  for payload in "loose 1" "loose 2" "loose 3" "loose 4" "request 1" "request 2"; do
    stored=$(grep -rlx "$payload" "$tree/in/all" | wc -l)
    kept=$(grep -rlx "$payload" "$tree/out-errors" | wc -l)
    [ $((stored + kept)) -eq 1 ] || fail "\"$payload\" stored $stored times, set aside $kept times"$'\n'"$log"
    aside=$((aside + kept))
  done
  case "$point" in
    claimed:*)
      [ "$aside" -le 1 ] || fail "$aside files set aside"
      if [ "$aside" -eq 1 ]; then
        grep -q "set aside .*claimed by a gateway that stopped" <<<"$log" || fail "no log line: $log"
        grep -rqa "^To: admin@demo.example" "$tree/maildir" ||
          fail "the administrator was not told"
      fi ;;
    *) [ "$aside" -eq 0 ] || fail "$aside files set aside" ;;
  esac
done
# A send directory the module was still making (files in, no descriptor yet)
# when its gateway stopped: once old, its files go back and are sent; a
# young one is left to whoever is making it.
point=unfinished-group
tree="$root/group"
mkdir -p "$tree"/out/{plain,requests,separate,guaranteed} "$tree"/in/{receipts,statements,all} \
  "$tree"/{in-errors,out-errors,state}
sed -e "s|@ROOT@|$tree|g" "$template" >"$tree/gw.reg"
young="$tree/out/plain/TMP_$(date +%Y%m%d%H%M%S)_7"
mkdir "$tree/out/plain/TMP_20200101000000_1234" "$young"
echo grouped >"$tree/out/plain/TMP_20200101000000_1234/g.txt"
echo young >"$young/y.txt"
log=$(for _ in 1 2; do "$gateway" run --once --config "$tree/gw.reg" 2>&1; done)
grep -q "undid the unfinished send directory .*TMP_20200101000000_1234: 1 files back" <<<"$log" ||
  fail "no undo line: $log"
[ "$(cat "$tree/in/all/g.txt" 2>/dev/null)" = grouped ] || fail "the grouped file was not sent: $log"
[ -f "$young/y.txt" ] || fail "a young send directory was touched"
echo "crash points checked: ${#points[@]}"

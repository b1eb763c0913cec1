#!/bin/bash
# status_test.sh - `zozerez-gateway status` (table and --json) over a prepared
# tree whose file times are set, so every figure and age is known; status in a
# loop beside a busy `run` changes nothing and never fails; `check` names each
# missing directory with its setting.
set -u
gateway="$1"
template="$2"
root=$(mktemp -d)
pid=0
trap '[ "$pid" -ne 0 ] && kill -9 $pid 2>/dev/null; rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
mkdir -p "$root"/out/{plain,requests,separate,guaranteed} "$root"/in/{receipts,statements,all} \
  "$root"/{in-errors,out-errors,state}
sed "s|@ROOT@|$root|g" "$template" >"$root/gw.reg"
now=$(date +%s)
at() { touch -d "@$(($now - $1))" "$2"; }

# Rule 0: two loose files (the older 2 h), one claimed 20 min ago (stuck).
echo a >"$root/out/plain/a.txt" && at 7200 "$root/out/plain/a.txt"
echo b >"$root/out/plain/b.txt" && at 60 "$root/out/plain/b.txt"
echo c >"$root/out/plain/qmt00001.tmp" && at 1200 "$root/out/plain/qmt00001.tmp"
# Rule 1: a send request waiting 5 min and one in hand for 30 s.
mkdir "$root/out/requests/r1" "$root/out/requests/r2"
printf 'Subject:x\r\nEmail:SMTP:a@b\r\n' >"$root/out/requests/r1/olminfo.txt"
at 300 "$root/out/requests/r1/olminfo.txt"
printf 'Subject:y\r\n' >"$root/out/requests/r2/qmt00002.tmp" && at 30 "$root/out/requests/r2/qmt00002.tmp"
# Rule 3: a guaranteed delivery sent 30 min ago, repeating hourly with 2 sends left.
mkdir "$root/out/guaranteed/g1"
descriptor="$root/out/guaranteed/g1/olminfo.txt"
printf 'MessageHash:H1\r\nCurrentTime:%d\r\nRepeatNumber:2\r\nRepeatTimeout:60\r\nSubject:s\r\n' \
  $(($now - 1800)) >"$descriptor"
printf '%s|H1\r\nno bar here\r\n%s/gone/olminfo.txt|H2\r\n' "$descriptor" "$root" >"$root/state/olmhash.dat"
echo bad >"$root/out-errors/x.txt" && at 86400 "$root/out-errors/x.txt"
rmdir "$root/in/statements"
before=$(find "$root" -printf '%p %s %T@\n' | sort)

out=$("$gateway" status --config "$root/gw.reg")
[ $? -eq 0 ] || fail "status failed: $out"
expect() { grep -qF -- "$1" <<<"$out" || fail "no line \"$1\" in:"$'\n'"$out"; }
expect "  stuck: $root/out/plain/qmt00001.tmp under a working name for 20m"
expect "  failed: 1 file in the bad-files directory $root/out-errors"
expect "  lost: the guaranteed delivery H2 names $root/gone/olminfo.txt, which is not there"
expect "  oldest waiting: $root/out/plain/a.txt for 2h 0m"
expect "     waiting: 2 files, 0 send directories; oldest 2h 0m"
expect "     waiting: 0 files, 1 send directory; oldest 5m"
expect "     in hand $root/out/requests/r2 for 3"
expect "     repeat $root/out/guaranteed/g1: 2 sends left, every 60 min, next due in "
expect "  1  $root/in/statements  MISSING"
expect "bad files: $root/out-errors, 1 file, oldest 1d 0h"
expect "incoming errors: $root/in-errors, 0 files"
expect "guaranteed deliveries waiting for a receipt: 2 ($root/state/olmhash.dat)"
expect "  H1  for 30m"
expect "  1 line not understood"
expect "  no round finished"
# "needs attention" comes before everything else.
[ "$(sed -n 3p <<<"$out")" = "needs attention" ] || fail "attention is not first: $out"

# The last events: the end of RORIV_LOG's file only, however long it grows.
events=$(mktemp)
seq -f 'event line %g' 1 20000 >"$events"
out=$(RORIV_LOG="$events" "$gateway" status --events 2 --config "$root/gw.reg")
rm "$events"
expect "last events ($events)"$'\n'"  event line 19999"$'\n'"  event line 20000"

json=$("$gateway" status --json --config "$root/gw.reg") || fail "status --json failed"
figures=$(cat <<'PY'
import json, sys
root, now = sys.argv[1], int(sys.argv[2])
s = json.load(sys.stdin)
o = s["output_rules"]
assert [r["files"] for r in o] == [2, 0, 0, 0], o
assert [r["send_dirs"] for r in o] == [0, 1, 0, 1], o
assert abs(o[0]["oldest"]["age"] - 7200) <= 5 and o[0]["oldest"]["path"] == root + "/out/plain/a.txt"
assert [i["path"] for i in o[0]["in_hand"]] == [root + "/out/plain/qmt00001.tmp"]
assert abs(o[0]["in_hand"][0]["age"] - 1200) <= 5
rep = o[3]["repeats"][0]
assert rep["left"] == 2 and rep["every_minutes"] == 60 and rep["next_due"] == now - 1800 + 3600
assert rep["due"] is False and o[3]["oldest"] is None
assert [r["exists"] for r in s["input_rules"]] == [True, False, True]
assert s["bad_files"]["files"] == 1 and abs(s["bad_files"]["oldest"]["age"] - 86400) <= 5
assert s["incoming_errors"]["files"] == 0
d = s["guaranteed_deliveries"]
assert [x["hash"] for x in d["open"]] == ["H1", "H2"] and d["malformed_lines"] == 1
assert d["open"][0]["since"] == now - 1800 and d["open"][1]["descriptor_present"] is False
assert s["service"] is None and s["database"]["mode"] is False
assert len(s["attention"]) == 4, s["attention"]
PY
)
python3 -c "$figures" "$root" "$now" <<<"$json" || fail "JSON figures wrong: $json"
[ "$(find "$root" -printf '%p %s %T@\n' | sort)" = "$before" ] || fail "status changed the tree"

# A damaged state file and an unreadable rule directory are said; the rest is printed.
mkdir -p "$root/maildir"
printf '{"version": 1, "pid": 12' >"$root/maildir/.zozerez-state.json"
chmod 000 "$root/out/separate"
out=$("$gateway" status --config "$root/gw.reg") && [ "$(id -u)" -ne 0 ] && fail "problems not said"
chmod 755 "$root/out/separate"
grep -q "zozerez-state.json: not a state file (cut short or not JSON)" <<<"$out" || fail "$out"
expect "     waiting: 2 files, 0 send directories"
rm "$root/maildir/.zozerez-state.json"
mv "$root/out/requests" "$root/requests.away"
out=$("$gateway" status --config "$root/gw.reg") && fail "a missing rule directory passed"
expect "     cannot be read: $root/out/requests: No such file or directory"
mv "$root/requests.away" "$root/out/requests"
printf '{"version": 7}' >"$root/maildir/.zozerez-state.json"
out=$("$gateway" status --config "$root/gw.reg") && fail "an old state file passed"
grep -q "state file version 7, this program reads 1" <<<"$out" || fail "$out"
rm "$root/maildir/.zozerez-state.json"

# check: every directory named with its setting; a fixed tree passes.
err=$("$gateway" check --config "$root/gw.reg" 2>&1) && fail "a missing input directory passed"
grep -qF "input rule 1: \"Path\" under HKEY_LOCAL_MACHINE\\SOFTWARE\\ZozerezDemo\\InputFileRulez\\1 $root/in/statements: No such file or directory" \
  <<<"$err" || fail "check does not name the setting: $err"
mkdir "$root/in/statements"
out=$("$gateway" check --config "$root/gw.reg" 2>&1) || fail "check failed on a good tree: $out"
cp "$root/gw.reg" "$root/open.reg"
sed -i 's|"PollSeconds"=dword:00000001|&\n"StatusPort"=dword:00002328\n"StatusAddress"="0.0.0.0"|' "$root/open.reg"
err=$("$gateway" check --config "$root/open.reg" 2>&1) && fail "an open status address passed"
grep -q '"StatusAddress" under .* is 0.0.0.0, reachable from other machines' <<<"$err" || fail "$err"

# Beside a busy service: status never fails and takes nothing; the service
# sends everything and says what it did in its state file.
rm -rf "$root/out/plain/qmt00001.tmp" "$root/out/requests/r2" "$root/out/guaranteed/g1" \
  "$root/state/olmhash.dat"
for i in $(seq 1 40); do echo "$i" >"$root/out/plain/f$i.txt"; done
"$gateway" run --config "$root/gw.reg" >"$root/run.log" 2>&1 &
pid=$!
for i in $(seq 1 30); do
  "$gateway" status --config "$root/gw.reg" >/dev/null || fail "status failed beside run"
  "$gateway" status --json --config "$root/gw.reg" | python3 -c 'import json,sys; json.load(sys.stdin)' ||
    fail "status --json beside run is not JSON"
  [ -z "$(find "$root/out/plain" -name 'f*.txt')" ] && [ -f "$root/maildir/.zozerez-state.json" ] && break
  sleep 0.5
done
# The receipts come back a round later: wait for the state file to count them.
stored() {
  "$gateway" status --json --config "$root/gw.reg" |
    python3 -c 'import json,sys; s=json.load(sys.stdin)["service"]; print(s["totals"]["stored"] if s else 0)'
}
for i in $(seq 1 120); do [ "$(stored)" -ge 84 ] && break; sleep 0.5; done
kill -TERM $pid && wait $pid
pid=0
[ -z "$(find "$root/out" -type f)" ] || fail "left to send: $(find "$root/out" -type f)"
[ "$(find "$root/in/all" -name 'f*.txt' | wc -l)" -eq 40 ] || fail "not all stored: $(cat "$root/run.log")"
json=$("$gateway" status --json --config "$root/gw.reg") || fail "status after run"
figures=$(cat <<'PY'
import json, sys
s = json.load(sys.stdin)["service"]
t = s["totals"]
# 43 sent: the 40, a.txt, b.txt and the request r1, which carries no file and
# so is refused when it comes back; the 42 others are answered with receipts,
# which come back and are stored too.
assert t["sent"] == 43 and t["failed"] == 0 and t["put_back"] == 0, t
assert t["stored"] == 42 + 42 and t["refused"] == 1 and t["receipts_sent"] == 42, t
assert s["per_rule"][sys.argv[1] + "/out/plain"]["sent"] == 42, s["per_rule"]
assert s["rounds"] >= 1 and s["held_back"] == [] and s["running"] is False
PY
)
python3 -c "$figures" "$root" <<<"$json" || fail "service figures wrong: $json"
out=$("$gateway" status --config "$root/gw.reg")
expect "  not running: the service (pid "
echo "status checked"

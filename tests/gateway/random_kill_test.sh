#!/bin/bash
# random_kill_test.sh - several gateways drain one rule directory while they
# are killed (SIGKILL) at random moments and started again. At the end every
# file must be sent exactly once or set aside once (claimed and killed before
# its journal entry); nothing may be left under a working name.
# usage: random_kill_test.sh GATEWAY TEMPLATE [FILES] [PROCESSES] [KILLS]
set -u
gateway="$1"
template="$2"
files="${3:-5000}"
procs="${4:-4}"
kills="${5:-200}"
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=/tmp
root=$(mktemp -d "$base/zz-kill.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  [ -n "${KEEP:-}" ] || rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$root"/out/{plain,requests,separate,guaranteed} "$root"/in/{receipts,statements,all} \
  "$root"/{in-errors,out-errors,state}
for n in $(seq 0 "$procs"); do
  # every sender shares the outbox; each reads an inbox of its own, which stays empty
  sed -e "s|@ROOT@|$root|g" -e "s|\"Inbox\"=\"$root/maildir\"|\"Inbox\"=\"$root/inbox$n\"|" \
    -e 's|"SendReceipts"="+"|"SendReceipts"="-"|' "$template" >"$root/gw$n.reg"
done
# the final receiver reads the shared outbox
sed -e "s|@ROOT@|$root|g" -e 's|"SendReceipts"="+"|"SendReceipts"="-"|' "$template" >"$root/receiver.reg"
for i in $(seq 1 "$files"); do echo "payload $i" >"$root/out/plain/f$i.dat"; done

start() { "$gateway" run --config "$root/gw$1.reg" >>"$root/gw$1.log" 2>&1 & pids[$1]=$!; }
for n in $(seq 1 "$procs"); do start "$n"; done
began=$(date +%s)
for k in $(seq 1 "$kills"); do
  sleep "0.$(printf '%03d' $((RANDOM % 200 + 20)))"
  n=$((RANDOM % procs + 1))
  kill -9 "${pids[$n]}" 2>/dev/null
  wait "${pids[$n]}" 2>/dev/null
  start "$n"
done
for _ in $(seq 1 600); do
  [ -z "$(find "$root/out/plain" -name 'f*.dat' -print -quit)" ] && break
  sleep 0.2
done
for n in $(seq 1 "$procs"); do kill -TERM "${pids[$n]}" 2>/dev/null; wait "${pids[$n]}" 2>/dev/null; done
pids=()
# a last start recovers what the last kills left; then the receiver stores everything
"$gateway" run --once --config "$root/gw1.reg" >>"$root/final.log" 2>&1 || fail "final run failed"
for _ in 1 2 3; do "$gateway" run --once --config "$root/receiver.reg" >>"$root/receiver.log" 2>&1; done

lost=0 doubled=0 aside=0
counts=$(cat "$root"/in/all/* 2>/dev/null | sort | uniq -c)
kept=$(cat "$root"/out-errors/* 2>/dev/null | sort | uniq -c)
stranded=$(find "$root/out" -name 'qmt-*' -o -name 'olminfo.txt' | grep -c . || true)
left=$(find "$root/out/plain" -name 'f*.dat' | wc -l)
sent=$(echo "$counts" | grep -c 'payload' || true)
doubled=$(echo "$counts" | awk '$1 > 1' | grep -c . || true)
aside=$(echo "$kept" | grep -c 'payload' || true)
both=$(comm -12 <(echo "$counts" | awk '{print $3}' | sort) <(echo "$kept" | awk '{print $3}' | sort) | grep -c . || true)
lost=$((files - sent - aside + both))
echo "random kills: $files files, $procs gateways, $kills kills in $(($(date +%s) - began)) s:" \
  "sent $sent, set aside $aside, duplicated $doubled, lost $lost, stranded $stranded, left $left"
[ "$lost" -eq 0 ] && [ "$doubled" -eq 0 ] && [ "$both" -eq 0 ] && [ "$stranded" -eq 0 ] &&
  [ "$left" -eq 0 ] || fail "see $root (KEEP=1 keeps it)"

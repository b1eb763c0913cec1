#!/bin/bash
# run_test.sh - the real `zozerez-gateway run` on temporary trees with real
# Maildirs: the loopback flow with receipts closing a guaranteed delivery,
# hostile and malformed messages moved aside, and a kill in the middle of a
# round followed by a restart that loses and duplicates nothing.
set -u
gateway="$1"
template="$2"
root=$(mktemp -d)
trap '[ "$pid" -ne 0 ] && kill -9 $pid 2>/dev/null; rm -rf "$root"' EXIT
pid=0
fail() { echo "FAIL: $*"; exit 1; }
mkdir -p "$root"/out/{plain,requests,separate,guaranteed} "$root"/in/{receipts,statements,all} \
  "$root"/{in-errors,out-errors,state}
sed "s|@ROOT@|$root|g" "$template" >"$root/gw.reg"
run() { "$gateway" run --once --config "$root/gw.reg"; }

# The loopback flow.
echo "figures" >"$root/out/plain/report.txt"
mkdir "$root/out/requests/r1"
echo a >"$root/out/requests/r1/a.txt"
printf 'Subject:Note\r\nEmail:SMTP:desk@x\r\nBody:\r\nfile it\r\n' >"$root/out/requests/r1/olminfo.txt"
echo m >"$root/out/separate/minutes.doc"
echo "<s/>" >"$root/out/guaranteed/st.xml"
log=$(run; run; run) || fail "run failed: $log"
[ -z "$(find "$root/out" -type f)" ] || fail "left to send: $(find "$root/out" -type f)"
for f in all/report.txt all/a.txt all/minutes.doc all/minutes~1.doc; do
  [ -f "$root/in/$f" ] || fail "not stored: $f"$'\n'"$log"
done
[ -n "$(find "$root/in/statements" -name 'st_*.xml')" ] || fail "statement not stored by date"
[ "$(find "$root/in/receipts" -type f | wc -l)" -eq 5 ] || fail "five receipts expected"
[ ! -e "$root/state/olmhash.dat" ] || fail "the guaranteed delivery was not closed"
grep -q 'sent "File report.txt" \[report.txt\] from SMTP:branch@demo.example to SMTP:office@demo.example' \
  <<<"$log" || fail "no readable send line: $log"
grep -q 'stored report.txt from branch@demo.example as' <<<"$log" || fail "no store line"
[ -z "$(find "$root/maildir/new" "$root/maildir/tmp" -type f)" ] || fail "Maildir not drained"

# A delivery that fails puts the file back; the next round offers it again.
mv "$root/maildir/tmp" "$root/maildir/tmp.away" && touch "$root/maildir/tmp"
echo later >"$root/out/plain/later.txt"
log=$(run) || fail "run with a broken outbox: $log"
grep -q 'kept for a later round' <<<"$log" || fail "no put-back line: $log"
[ -f "$root/out/plain/later.txt" ] || fail "the file was not put back"
rm "$root/maildir/tmp" && mv "$root/maildir/tmp.away" "$root/maildir/tmp"
log=$(run; run) || fail "run after repair: $log"
[ "$(cat "$root/in/all/later.txt" 2>/dev/null)" = "later" ] || fail "not offered again: $log"

# Malformed messages are moved aside, hostile names are tamed; the loop goes on.
inbox="$root/maildir/new"
printf 'this is not mail' >"$inbox/1.garbage"
printf 'From: a@b\r\nSubject: \xcf\xf0\xe8\r\nContent-Type: text/plain\r\n\r\nx\r\n' >"$inbox/2.8bit"
printf 'From: a@b\r\nSubject: hi\r\nContent-Type: text/plain\r\n\r\nno attachment\r\n' >"$inbox/3.bare"
for name in '../x' 'a:b?'; do
  printf 'From: a@b\r\nSubject: t\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename="%s"\r\n\r\nx\r\n--B--\r\n' "$name" \
    >"$inbox/4.$(echo "$name" | tr -c 'a-z' '_')"
done
printf 'From: a@b\r\nSubject: t\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename="cut.bin"\r\n\r\nxx' \
  >"$inbox/5.truncated"
sed -i 's|"PollSeconds"=dword:00000001|&\n"MaxMessageBytes"=dword:00001000|' "$root/gw.reg"
head -c 5000 /dev/zero | tr '\0' x >"$inbox/6.large"
log=$(run) || fail "run failed on bad input: $log"
sed -i '/"MaxMessageBytes"/d' "$root/gw.reg"
[ "$(ls "$root/maildir/failed" | wc -l)" -eq 5 ] || fail "five messages moved aside: $log"
for reason in "not a MIME message" "without a charset" "no attachment" "truncated" \
  'larger than 4096 bytes ("MaxMessageBytes")'; do
  grep -q "$reason" <<<"$log" || fail "no log line with \"$reason\": $log"
done
# A name with a path keeps its last part; one a file system cannot hold is
# made storable by the module. Neither leaves the rule directory.
[ "$(find "$root" -name x -o -name cut.bin)" = "$root/in/all/x" ] || fail "a hostile file was written"
[ -f "$root/in/all/a_b_" ] || fail "a:b? was not stored as a_b_: $log"

# Entries the module never takes are named once, not every round.
ln -s /etc/passwd "$root/out/plain/passwd"
mkfifo "$root/out/plain/pipe"
log=$(run; run) || fail "run with planted entries: $log"
[ "$(grep -c 'passed over .*/out/plain/passwd: a symbolic link; it is never sent' <<<"$log")" -eq 1 ] ||
  fail "the link was not reported once: $log"
[ "$(grep -c 'passed over .*/out/plain/pipe: a FIFO' <<<"$log")" -eq 1 ] || fail "no FIFO line: $log"
rm "$root/out/plain/passwd" "$root/out/plain/pipe"

# A kill somewhere in a round, then a restart: nothing lost, doubled or left
# claimed. A kill between a claim and its journal entry sets that one file
# aside in the bad-files directory (the crash test covers each point).
for i in $(seq 1 60); do echo "payload $i" >"$root/out/plain/f$i.dat"; done
"$gateway" run --config "$root/gw.reg" >"$root/killed.log" 2>&1 &
pid=$!
sleep 0.3
kill -9 $pid
wait $pid 2>/dev/null
pid=0
log=$(run; run; run) || fail "restart failed: $log"
[ -z "$(find "$root/out" -type f)" ] || fail "left after restart: $(find "$root/out" -type f)"
for i in $(seq 1 60); do
  stored=$(grep -rlx "payload $i" "$root/in/all" | wc -l)
  aside=$(grep -rlx "payload $i" "$root/out-errors" | wc -l)
  [ $((stored + aside)) -eq 1 ] || fail "f$i.dat stored $stored times, set aside $aside times: $log"
done
# A mail server's pipe: one message on standard input into the inbox, stored
# in the next round; what is not mail, or cannot be written, gets the exit
# status the server acts on.
deliver() { "$gateway" deliver --config "$root/gw.reg"; }
printf 'From: clerk@x\r\nTo: gateway@demo.example\r\nSubject: piped\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n--b\r\nContent-Type: text/plain; name=piped.txt\r\nContent-Disposition: attachment; filename=piped.txt\r\n\r\nby pipe\r\n--b--\r\n' |
  deliver || fail "deliver refused a message: $?"
log=$(run) || fail "run after deliver failed: $log"
[ "$(cat "$root/in/all/piped.txt" 2>/dev/null)" = "by pipe" ] || fail "the piped message was not stored: $log"
echo "no header here" | deliver 2>/dev/null
[ $? -eq 65 ] || fail "something that is not mail was not refused with 65"
mv "$root/maildir" "$root/maildir.away" && touch "$root/maildir"
printf 'From: a@x\r\n\r\nbody\r\n' | deliver 2>/dev/null
[ $? -eq 75 ] || fail "an inbox that cannot be written did not ask to try again (75)"
printf 'REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gw]\r\n"PollSeconds"=dword:00000001\r\n' >"$root/bare.reg"
printf 'From: a@x\r\n\r\nbody\r\n' | "$gateway" deliver --config "$root/bare.reg" 2>/dev/null
[ $? -eq 78 ] || fail "a store without \"Inbox\" did not answer 78"
echo "run loop checked"

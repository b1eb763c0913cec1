#!/bin/bash
# postfix_test.sh - two gateways exchange mail through a private Postfix on a
# loopback port (its own configuration directory, queue and mailboxes;
# nothing system-wide changed). Gateway A submits over SMTP; while Postfix is
# down its messages wait. Postfix delivers into gateway B's Maildir, B stores
# the files by its input rules and answers with receipts that travel back the
# same way and close A's guaranteed delivery. A recipient Postfix refuses
# fails for good, with the administrator told; a bounce comes back as a
# delivery report; a gateway killed after Postfix took a message sends it
# again; a message for a pipe service reaches B through `deliver`. A also
# hands a message to Postfix's sendmail. Last, one request per fault: a
# recipient of three refused, the sender refused, a recipient deferred,
# STARTTLS required but not offered, a certificate not trusted (then trusted
# through SmtpCAFile), no SMTP address, a bracket in an address, 4xx and 5xx
# after the data, 421 mid-session, a server that stalls past the timeout
# (before the data and after it), Postfix down.
set -u
gateway=$(readlink -f "$1")  # Postfix's pipe runs it from elsewhere
template="$2"
crashtest="${3:-}"  # the same program with crash points, for the kill mid-send
postfix=/usr/sbin/postfix
[ -x "$postfix" ] || { echo "SKIP: Postfix is not installed (postfix)"; exit 0; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: a private Postfix can only be started by root"; exit 0; }
id postfix >/dev/null 2>&1 || { echo "SKIP: there is no postfix user"; exit 0; }

root=$(mktemp -d)
chmod 755 "$root"
pf="$root/postfix"
cleanup() {
  "$postfix" -c "$pf" stop >/dev/null 2>&1
  [ -n "${KEEP:-}" ] || rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

for port in $(shuf -i 20000-60000 -n 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
done
mkdir -p "$pf/queue" "$pf/data" "$root"/mail/{a,b}/{tmp,new,cur}
chown postfix "$pf/data"
# Postfix delivers as its own user here; a real gateway runs as the user its
# mail is delivered as (virtual_uid_maps).
chown -R postfix:postfix "$root/mail"
# The system's services, unchrooted, with smtpd on the test's port only.
awk -v port="$port" '
  /^smtp +inet/ { print "127.0.0.1:" port " inet n - n - - smtpd"; next }
  /^[a-z]/ && NF >= 8 && $5 == "y" { $5 = "n" }
  { print }' /etc/postfix/master.cf >"$pf/master.cf"
cat >"$pf/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $pf/queue
data_directory = $pf/data
meta_directory = /etc/postfix
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = relay.test
mydestination =
mynetworks = 127.0.0.0/8
relay_domains =
alias_maps =
alias_database =
maillog_file = $pf/maillog
maillog_file_prefixes = $pf
virtual_mailbox_domains = demo.example, a.test
virtual_mailbox_base = $root/mail
virtual_mailbox_maps = regexp:$pf/mailboxes
virtual_uid_maps = static:$(id -u postfix)
virtual_gid_maps = static:$(id -g postfix)
smtpd_recipient_restrictions = check_recipient_access regexp:$pf/refused, permit_mynetworks, reject_unauth_destination
smtpd_sender_restrictions = check_sender_access regexp:$pf/senders
transport_maps = regexp:$pf/transport
smtpd_reject_unlisted_recipient = no
EOF
# Taken at SMTP time, then bounced: the sender gets a delivery status report.
# Mail for piped@ goes to the pipe service, which runs `deliver`.
printf '/^gone@demo\\.example$/ error:5.1.1 mailbox gone\n/^piped@demo\\.example$/ zozerez:\n' \
  >"$pf/transport"
printf 'zozerez unix - n n - - pipe\n  flags=R user=nobody argv=%s deliver --config %s\n' \
  "$gateway" "$root/b/pipe.reg" >>"$pf/master.cf"
printf '/@a\\.test$/ a/\n/@demo\\.example$/ b/\n' >"$pf/mailboxes"
printf '/^refused@demo\\.example$/ REJECT no such desk here\n/^later@demo\\.example$/ DEFER try later\n' >"$pf/refused"
printf '/^nobody@a\\.test$/ REJECT unknown sender\n' >"$pf/senders"
"$postfix" -c "$pf" check >"$root/check.log" 2>&1 || fail "postfix check: $(cat "$root/check.log")"

# A sends from gw-a@a.test; B is desk@demo.example. Both talk SMTP to Postfix.
for g in a b; do
  tree="$root/$g"
  mkdir -p "$tree"/out/{plain,requests,separate,guaranteed} "$tree"/in/{receipts,statements,all} \
    "$tree"/{in-errors,out-errors,state}
  own=$([ "$g" = a ] && echo gw-a@a.test || echo desk@demo.example)
  sed -e "s|@ROOT@|$tree|g" \
    -e "s|\"Inbox\"=\"$tree/maildir\"|\"Inbox\"=\"$root/mail/$g\"|" \
    -e "s|branch@demo.example|gw-a@a.test|g" \
    -e "s|\"OwnAddress\"=\"gateway@demo.example\"|\"OwnAddress\"=\"$own\"\n\"Transport\"=\"smtp\"\n\"SmtpServer\"=\"127.0.0.1\"\n\"SmtpPort\"=dword:$(printf '%08x' "$port")\n\"SmtpTls\"=\"none\"\n\"SmtpTimeout\"=dword:0000000a|" \
    -e 's|"OutRulezFlags"=dword:00000001|"OutRulezFlags"=dword:00000003\n"AdminEmail"="admin@a.test"\n"admin_etype"=dword:00000000|' \
    "$template" >"$tree/gw.reg"
done
run() { "$gateway" run --once --config "$root/$1/gw.reg" >>"$root/$1.log" 2>&1; }
# wait_for DIR - until Postfix has delivered something into the Maildir DIR
wait_for() {
  for _ in $(seq 1 100); do
    [ -n "$(ls -A "$1/new" 2>/dev/null)" ] && return 0
    "$postfix" -c "$pf" flush >/dev/null 2>&1
    sleep 0.2
  done
  fail "nothing delivered into $1: $(tail -n 20 "$pf/maillog" 2>/dev/null)"
}

echo "Quarterly figures" >"$root/a/out/plain/report.txt"
echo "<statement amount='100'/>" >"$root/a/out/guaranteed/statement.xml"
mkdir "$root/a/out/requests/r1"
echo "for nobody" >"$root/a/out/requests/r1/memo.txt"
printf 'Subject:Nobody home\r\nEmail:SMTP:refused@demo.example\r\n' >"$root/a/out/requests/r1/olminfo.txt"

# Postfix is down: every message is kept and offered again.
run a
grep -q 'kept for a later round' "$root/a.log" || fail "not kept while Postfix was down: $(cat "$root/a.log")"
[ -f "$root/a/out/plain/report.txt" ] || fail "the file did not wait: $(cat "$root/a.log")"

"$postfix" -c "$pf" start >"$root/start.log" 2>&1 || fail "postfix start: $(cat "$root/start.log")"
: >"$root/a.log"
run a
grep -q 'sent "File report.txt" \[report.txt\] .* queued as [0-9A-Za-z]\+ by smtp://' "$root/a.log" ||
  fail "report.txt not sent: $(cat "$root/a.log")"
id=$(grep -o 'queued as [0-9A-Za-z]*' "$root/a.log" | head -n 1 | cut -d' ' -f3)
grep -q "$id" "$pf/maillog" || fail "queue id $id is not in Postfix's log"
grep -q '"Nobody home": recipient refused: refused@demo.example: 55[0-9] .*no such desk here' "$root/a.log" ||
  fail "the refused recipient was not named: $(cat "$root/a.log")"
grep -q '"Nobody home" refused by SMTP .*: every recipient was refused (the last: 554 .*); failed for good' "$root/a.log" ||
  fail "the refused message did not fail for good: $(cat "$root/a.log")"
[ -f "$root/a/out-errors/r1/memo.txt" ] || fail "the refused message is not among the bad files"
grep -q 'sent ".*" \[\] from SMTP:gw-a@a.test to SMTP:admin@a.test queued as' "$root/a.log" ||
  fail "the administrator was not told: $(cat "$root/a.log")"
[ -z "$(find "$root/a/out" -type f -name 'qmt-*')" ] || fail "left claimed"

# B receives through Postfix, stores by its rules and answers with receipts.
wait_for "$root/mail/b"
for _ in 1 2 3; do
  run b
  [ "$(find "$root/b/in" -type f | wc -l)" -ge 2 ] && break
  wait_for "$root/mail/b"
done
[ "$(cat "$root/b/in/all/report.txt" 2>/dev/null)" = "Quarterly figures" ] ||
  fail "B did not store report.txt: $(cat "$root/b.log")"
[ -n "$(find "$root/b/in/statements" -name 'statement_*.xml')" ] ||
  fail "B did not store the statement: $(cat "$root/b.log")"
grep -q 'receipt for .* sent to SMTP:gw-a@a.test' "$root/b.log" || fail "no receipt: $(cat "$root/b.log")"

# The receipts come back to A and close the guaranteed delivery.
wait_for "$root/mail/a"
grep -q . "$root/a/state/olmhash.dat" || fail "A holds no open guaranteed delivery to close"
for _ in 1 2 3; do
  run a
  ! grep -q . "$root/a/state/olmhash.dat" 2>/dev/null && break
  sleep 0.5
done
! grep -q . "$root/a/state/olmhash.dat" 2>/dev/null ||
  fail "the guaranteed delivery is still open: $(cat "$root/a.log")"

# Killed after Postfix took a message and before the module completed it: a
# restart cannot tell it went, so it goes again (at least once) and nothing
# is lost or left claimed.
if [ -n "$crashtest" ]; then
  echo "killed mid-send" >"$root/a/out/plain/killed.txt"
  (ZOZEREZ_CRASH_AT=delivered "$crashtest" run --once --config "$root/a/gw.reg" >"$root/kill.log") 2>/dev/null
  [ $? -eq 137 ] || fail "the kill point was not reached: $(cat "$root/kill.log")"
  : >"$root/a.log"
  run a
  grep -q 'completed a message a stopped gateway had in hand .* as not sent; offered again' \
    "$root/a.log" || fail "the killed send was not recovered: $(cat "$root/a.log")"
  run a
  [ -z "$(find "$root/a/out" -type f)" ] || fail "left after the restart: $(find "$root/a/out" -type f)"
  for _ in $(seq 1 50); do
    run b
    [ "$(grep -rlx 'killed mid-send' "$root/b/in/all" | wc -l)" -ge 2 ] && break
    "$postfix" -c "$pf" flush >/dev/null 2>&1
    sleep 0.2
  done
  [ "$(grep -rlx 'killed mid-send' "$root/b/in/all" | wc -l)" -eq 2 ] ||
    fail "the message killed mid-send did not arrive twice (at least once): $(cat "$root/b.log")"
fi

# A guaranteed delivery Postfix takes and then bounces: the report comes
# back to A, which names the message and tells the administrator.
sed -i 's|"0"="SMTP:bank@demo.example"|"0"="SMTP:gone@demo.example"|' "$root/a/gw.reg"
echo "<statement amount='200'/>" >"$root/a/out/guaranteed/second.xml"
: >"$root/a.log"
run a
grep -q 'sent "Statement second"' "$root/a.log" || fail "the second statement was not sent: $(cat "$root/a.log")"
hash=$(tail -n 1 "$root/a/state/olmhash.dat" | tr -d '\r' | cut -d'|' -f2)
[ -n "$hash" ] || fail "no open guaranteed delivery for the second statement"
wait_for "$root/mail/a"
run a
grep -q "delivery report on $hash \"Statement second\": failed for gone@demo.example (5.1.1)" "$root/a.log" ||
  fail "the bounce was not read: $(cat "$root/a.log")"
grep -q "the guaranteed delivery $hash .* can never arrive; the administrator admin@a.test was told" \
  "$root/a.log" || fail "the administrator was not told of the bounce: $(cat "$root/a.log")"

# Postfix pipes mail for piped@ to `zozerez-gateway deliver` (as nobody),
# which puts it into an inbox of its own; B stores it from there.
if runuser -u nobody -- "$gateway" --version >/dev/null 2>&1; then
  mkdir -p "$root"/b-pipe/{tmp,new,cur}
  chown -R nobody "$root/b-pipe"
  sed "s|\"Inbox\"=\"$root/mail/b\"|\"Inbox\"=\"$root/b-pipe\"|" "$root/b/gw.reg" >"$root/b/pipe.reg"
  mkdir "$root/a/out/requests/pipe"
  echo "through the pipe" >"$root/a/out/requests/pipe/piped.csv"
  printf 'Subject:Piped\r\nEmail:SMTP:piped@demo.example\r\n' >"$root/a/out/requests/pipe/olminfo.txt"
  run a
  wait_for "$root/b-pipe"
  "$gateway" run --once --config "$root/b/pipe.reg" >>"$root/b.log" 2>&1
  [ "$(cat "$root/b/in/all/piped.csv" 2>/dev/null)" = "through the pipe" ] ||
    fail "the piped message was not stored: $(tail -n 5 "$pf/maillog")"
else
  echo "not checked here: Postfix's pipe runs deliver as nobody, who cannot run $gateway"
fi

# The same through Postfix's sendmail.
cat >"$root/sendmail" <<EOF
#!/bin/sh
exec /usr/sbin/sendmail -C "$pf" "\$@"
EOF
chmod 755 "$root/sendmail"
sed -i -e 's|"Transport"="smtp"|"Transport"="sendmail"\n"SendmailPath"="'"$root"'/sendmail"|' "$root/a/gw.reg"
echo "by sendmail" >"$root/a/out/plain/piped.txt"
: >"$root/a.log"
run a
grep -q "sent \"File piped.txt\" \[piped.txt\] .* handed to $root/sendmail" "$root/a.log" ||
  fail "not handed to sendmail: $(cat "$root/a.log")"
for _ in $(seq 1 50); do
  run b
  [ -f "$root/b/in/all/piped.txt" ] && break
  "$postfix" -c "$pf" flush >/dev/null 2>&1
  sleep 0.2
done
[ "$(cat "$root/b/in/all/piped.txt" 2>/dev/null)" = "by sendmail" ] ||
  fail "B did not receive the piped message: $(tail -n 5 "$pf/maillog")"
# Faults, one request each, sent over SMTP: the log line, and whether the
# request waits in its rule directory (put back) or among the bad files.
sed -i -e 's|"Transport"="sendmail"|"Transport"="smtp"|' "$root/a/gw.reg"
fault() {  # fault NAME DESCRIPTOR WHERE PATTERN [SETTING]
  local name=$1 descriptor=$2 where=$3 pattern=$4 setting=${5:-}
  cp "$root/a/gw.reg" "$root/a/gw.reg.kept"
  [ -n "$setting" ] && sed -i "s|\"SmtpTimeout\"=dword:0000000a|&\n$setting|" "$root/a/gw.reg"
  mkdir "$root/a/out/requests/$name"
  echo "$name" >"$root/a/out/requests/$name/$name.txt"
  printf "Subject:$name\r\n$descriptor" >"$root/a/out/requests/$name/olminfo.txt"
  : >"$root/a.log"
  run a
  mv "$root/a/gw.reg.kept" "$root/a/gw.reg"
  grep -q -- "$pattern" "$root/a.log" || fail "$name: no \"$pattern\": $(cat "$root/a.log")"
  case $where in
    waits) [ -f "$root/a/out/requests/$name/olminfo.txt" ] || fail "$name did not wait: $(cat "$root/a.log")"
      rm -rf "${root:?}/a/out/requests/$name" ;;
    failed) [ -f "$root/a/out-errors/$name/$name.txt" ] || fail "$name is not among the bad files" ;;
    sent) [ ! -e "$root/a/out/requests/$name" ] || fail "$name was not sent: $(cat "$root/a.log")" ;;
  esac
}
fault mixed 'Email:SMTP:desk@demo.example\r\nEmail:SMTP:refused@demo.example\r\nEmail:SMTP:office@demo.example\r\n' \
  sent '"mixed": recipient refused: refused@demo.example: 554'
fault sender 'From:SMTP:nobody@a.test\r\nEmail:SMTP:desk@demo.example\r\n' \
  failed '"sender": recipient refused: desk@demo.example: 554 5.7.1 <nobody@a.test>: Sender address rejected'
fault later 'Email:SMTP:later@demo.example\r\n' waits '"later": recipient refused: later@demo.example: 450'
fault tls 'Email:SMTP:desk@demo.example\r\n' waits 'cannot send "tls" .*; kept for a later round' \
  '"SmtpTls"="starttls"'
fault nobody 'Email:EX:/o=Bank/cn=Desk\r\n' failed '"nobody": recipient refused: EX:/o=Bank/cn=Desk: not an SMTP address'
fault bracket 'Email:SMTP:x>y@demo.example\r\n' failed '"bracket": recipient refused: SMTP:x>y@demo.example: not a plain SMTP address'
# Postfix offers STARTTLS with a certificate of its own: not trusted, the
# message waits; trusted through SmtpCAFile, it goes.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pf/key.pem" -out "$pf/cert.pem" -days 2 \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1 || fail "no test certificate"
printf 'smtpd_tls_cert_file = %s\nsmtpd_tls_key_file = %s\nsmtpd_tls_security_level = may\n' \
  "$pf/cert.pem" "$pf/key.pem" >>"$pf/main.cf"
"$postfix" -c "$pf" reload >/dev/null 2>&1 || fail "postfix reload"
sleep 1
fault untrusted 'Email:SMTP:desk@demo.example\r\n' waits 'cannot send "untrusted" .*certificate' \
  '"SmtpTls"="starttls"'
fault trusted 'Email:SMTP:desk@demo.example\r\n' sent 'sent "trusted" .* queued as' \
  "\"SmtpTls\"=\"starttls\"\\n\"SmtpCAFile\"=\"$pf/cert.pem\""
# Answers after the data (4xx: waits; 5xx: failed for good) and a server
# that ends the session with 421 after one error too many (waits).
printf '/^late@a\\.test$/ DEFER not now\n/^bad@a\\.test$/ REJECT not this\n' >"$pf/after-data"
printf 'smtpd_end_of_data_restrictions = check_sender_access regexp:%s\nsmtpd_hard_error_limit = 1\n' \
  "$pf/after-data" >>"$pf/main.cf"
"$postfix" -c "$pf" reload >/dev/null 2>&1 || fail "postfix reload"
sleep 1
fault data4 'From:SMTP:late@a.test\r\nEmail:SMTP:desk@demo.example\r\n' waits 'cannot send "data4" .*450'
fault data5 'From:SMTP:bad@a.test\r\nEmail:SMTP:desk@demo.example\r\n' failed '"data5" refused by SMTP .*554'
fault closed 'Email:SMTP:refused@demo.example\r\nEmail:SMTP:desk@demo.example\r\n' waits \
  'cannot send "closed" .*421'
sed -i '/^smtpd_end_of_data_restrictions\|^smtpd_hard_error_limit/d' "$pf/main.cf"

# A server that stalls past SmtpTimeout: the message waits.
printf 'smtpd_client_restrictions = sleep 4\n' >>"$pf/main.cf"
"$postfix" -c "$pf" reload >/dev/null 2>&1 || fail "postfix reload"
sleep 1
sed -i 's|"SmtpTimeout"=dword:0000000a|"SmtpTimeout"=dword:00000001|' "$root/a/gw.reg"
fault stall 'Email:SMTP:desk@demo.example\r\n' waits 'cannot send "stall" .*[Tt]imeout'
# The same after the data: the gateway gives up on the final answer and the
# connection is gone: the message waits to go again.
sed -i 's|^smtpd_client_restrictions = sleep 4$|smtpd_end_of_data_restrictions = sleep 4|' "$pf/main.cf"
"$postfix" -c "$pf" reload >/dev/null 2>&1 || fail "postfix reload"
sleep 1
fault afterdata 'Email:SMTP:desk@demo.example\r\n' waits 'cannot send "afterdata" .*[Tt]imeout.*354'
"$postfix" -c "$pf" stop >/dev/null 2>&1
fault down 'Email:SMTP:desk@demo.example\r\n' waits 'cannot send "down" .*Couldn.t connect'
echo "mail through Postfix checked (queue id $id)"

#!/bin/bash
# pg_gateways_test.sh - two gateways on one PostgreSQL database (a private
# cluster on a loopback port) drain queued messages while one of them is
# killed (SIGKILL) and started again. Every message must be delivered exactly
# once and end as sent; no claim may be left behind.
# usage: pg_gateways_test.sh GATEWAY TEMPLATE [MESSAGES] [KILLS]
set -u
gateway="$1"
template="$2"
messages="${3:-1000}"
kills="${4:-3}"
driver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bin" ] && [ -x "$bin/initdb" ] ||
  { echo "SKIP: the PostgreSQL server binaries are not installed (postgresql)"; exit 0; }
[ -f "$driver" ] || { echo "SKIP: the PostgreSQL ODBC driver is not installed (odbc-postgresql)"; exit 0; }
id postgres >/dev/null 2>&1 || { echo "SKIP: there is no postgres user to run the server"; exit 0; }

root=$(mktemp -d)
chmod 755 "$root"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  runuser -u postgres -- "$bin/pg_ctl" -D "$root/pg/data" -m immediate stop >/dev/null 2>&1
  [ -n "${KEEP:-}" ] || rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A free loopback port: nothing answers on it.
for port in $(shuf -i 20000-60000 -n 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
done
mkdir "$root/pg" && chown postgres "$root/pg"
runuser -u postgres -- "$bin/initdb" -D "$root/pg/data" -U zz --auth=trust >"$root/initdb.log" 2>&1 ||
  fail "initdb: $(cat "$root/initdb.log")"
runuser -u postgres -- "$bin/pg_ctl" -D "$root/pg/data" -w -l "$root/pg/log" \
  -o "-k $root/pg -p $port -c listen_addresses=127.0.0.1" start >/dev/null 2>&1 ||
  fail "the server did not start: $(cat "$root/pg/log")"
sql() { "$bin/psql" -h 127.0.0.1 -p "$port" -U zz -d postgres -v ON_ERROR_STOP=1 -qAt -c "$1"; }

dsn="Driver=$driver;Server=127.0.0.1;Port=$port;Database=postgres;Uid=zz;ByteaAsLongVarBinary=1"
mkdir -p "$root"/out/{plain,requests,separate,guaranteed} "$root"/in/{receipts,statements,all} \
  "$root"/{in-errors,out-errors,state,att}
for n in 1 2; do
  # Each gateway delivers into a Maildir of its own and reads an empty inbox.
  sed -e "s|@ROOT@|$root|g" \
    -e "s|\"Outbox\"=\"$root/maildir\"|\"Outbox\"=\"$root/sent$n\"|" \
    -e "s|\"Inbox\"=\"$root/maildir\"|\"Inbox\"=\"$root/inbox$n\"|" \
    -e 's|"SendReceipts"="+"|"SendReceipts"="-"\n"DatabaseHostName"="gw'$n'"\n"DatabaseLease"=dword:00000014|' \
    -e 's|"OutputMessageFlags"=dword:00000000|&\n"GWODBCFlags"=dword:00000001\n"ODBC_DSN"="'"$dsn"'"\n"ODBCAttachmentDir"="'"$root"'/att"\n"AttachmentSort"=dword:00000000\n"ODBCTimeout"=dword:00000005\n"ODBCDelay"=dword:00000001|' \
    "$template" >"$root/gw$n.reg"
done
out=$("$gateway" db init --config "$root/gw1.reg" 2>&1) || fail "db init: $out"
sql "INSERT INTO zz_message (guid, direction, state, flags, subject, body, sender_type,
       sender_address, created)
     SELECT 'm-' || i, 2, 'queued', 0, 'm-' || i, convert_to('message ' || i, 'UTF8'), 'SMTP',
       'branch@demo.example', i FROM generate_series(1, $messages) i;
     INSERT INTO zz_recipient (guid, position, type, address)
     SELECT 'm-' || i, 0, 'SMTP', 'desk@demo.example' FROM generate_series(1, $messages) i" ||
  fail "cannot queue the messages"

start() { "$gateway" run --config "$root/gw$1.reg" >>"$root/gw$1.log" 2>&1 & pids[$1]=$!; }
sent() { sql "SELECT COUNT(*) FROM zz_message WHERE state = 'sent'"; }
began=$(date +%s)
start 1
start 2
for k in $(seq 1 "$kills"); do
  # Killed while the queue is being drained, at a different point each time.
  target=$((messages * k / (kills + 1)))
  for _ in $(seq 1 600); do [ "$(sent)" -ge "$target" ] && break; sleep 0.1; done
  kill -9 "${pids[1]}"
  wait "${pids[1]}" 2>/dev/null
  start 1
done
# The database goes away for a few seconds mid-run: the gateways wait (a
# release in hand is retried by the module) and connect again when it is
# back. The lease (20 s) is longer than the outage, as it must be: a claim
# taken over while its gateway still sends would be sent twice.
pg_ctl() { runuser -u postgres -- "$bin/pg_ctl" -D "$root/pg/data" "$@" >/dev/null 2>&1; }
pg_ctl -m fast stop || fail "the server did not stop"
sleep 3
pg_ctl -w -l "$root/pg/log" -o "-k $root/pg -p $port -c listen_addresses=127.0.0.1" start ||
  fail "the server did not start again"
# Claims the killed gateway made but never wrote down come back after the lease.
for _ in $(seq 1 900); do [ "$(sent)" -ge "$messages" ] && break; sleep 0.1; done
for n in 1 2; do kill -TERM "${pids[$n]}" 2>/dev/null; wait "${pids[$n]}" 2>/dev/null; done
pids=()

delivered=$(cat "$root"/sent1/{new,cur}/* "$root"/sent2/{new,cur}/* 2>/dev/null |
  grep -a '^Subject: m-' | sort | uniq -c)
once=$(awk '$1 == 1' <<<"$delivered" | grep -c . || true)
twice=$(awk '$1 > 1' <<<"$delivered" | grep -c . || true)
by1=$(cat "$root"/sent1/{new,cur}/* 2>/dev/null | grep -ac '^Subject: m-' || true)
by2=$(cat "$root"/sent2/{new,cur}/* 2>/dev/null | grep -ac '^Subject: m-' || true)
states=$(sql "SELECT state || ' ' || COUNT(*) FROM zz_message GROUP BY state ORDER BY state" | xargs)
recovered=$(grep -c 'completed the database message' "$root/gw1.log" || true)
noticed=$(cat "$root"/gw*.log | grep -c 'database cannot be reached\|module could not start' || true)
echo "two gateways on PostgreSQL: $messages messages, $kills kills in $(($(date +%s) - began)) s:" \
  "delivered once $once, more than once $twice (gw1 $by1, gw2 $by2), states: $states," \
  "claims ended after a kill: $recovered, database outages noticed: $noticed"
[ "$once" -eq "$messages" ] && [ "$twice" -eq 0 ] && [ "$states" = "sent $messages" ] ||
  fail "see $root (KEEP=1 keeps it)"
# A gateway that said the database was away says when it is back.
for n in 1 2; do
  ! grep -q 'the message database cannot be reached' "$root/gw$n.log" ||
    grep -q 'the message database is reachable again' "$root/gw$n.log" ||
    fail "gateway $n never said the database was back: see $root/gw$n.log"
done

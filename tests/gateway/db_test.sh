#!/bin/bash
# db_test.sh - the loopback gateway in database mode on the embedded SQLite
# database: a message queued with `db enqueue` is collected from the
# database and sent; received, it is stored in the database part by part and
# its attachment filed by the input rules; `db list` shows both.
set -u
gateway="$1"
template="$2"
driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so
[ -f "$driver" ] || { echo "SKIP: the SQLite ODBC driver is not installed (libsqliteodbc)"; exit 0; }
root=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
mkdir -p "$root"/out/{plain,requests,separate,guaranteed} "$root"/in/{receipts,statements,all} \
  "$root"/{in-errors,out-errors,state,att}
sed -e "s|@ROOT@|$root|g" -e 's|"OutputMessageFlags"=dword:00000000|&\n"GWODBCFlags"=dword:00000001\n"ODBC_DSN"="Driver='"$driver"';Database='"$root"'/state/messages.db;Timeout=20000"\n"ODBCAttachmentDir"="'"$root"'/att"\n"AttachmentSort"=dword:00000000\n"ODBCTimeout"=dword:00000005\n"ODBCDelay"=dword:00000001|' \
  "$template" >"$root/gw.reg"
sed -i 's|^\(\[HKEY_LOCAL_MACHINE.*\\Gateway\]\)$|&\n"DatabaseAttempts"=dword:00000001|' "$root/gw.reg"
gw() { "$gateway" "$@" --config "$root/gw.reg" 2>&1; }
out=$(gw db init) || fail "db init: $out"
echo "from the database" >"$root/report.txt"
out=$(gw db enqueue "$root/report.txt" --to SMTP:desk@demo.example --subject "Queued" \
  --from branch@demo.example) || fail "db enqueue: $out"
grep -q '^queued .* with 1 file$' <<<"$out" || fail "enqueue: $out"
out=$(gw db list) || fail "db list: $out"
grep -q '^outgoing queued: 1$' <<<"$out" || fail "list before: $out"
out=$(gw run --once; gw run --once) || fail "run: $out"
grep -q 'sent "Queued" \[report.txt\]' <<<"$out" || fail "not sent: $out"
grep -q 'stored .* in the message database' <<<"$out" || fail "not stored in the database: $out"
# The database keeps the message; its attachment is also filed by the input rules.
[ "$(cat "$root/in/all/report.txt" 2>/dev/null)" = "from the database" ] || fail "not filed: $out"
out=$(gw db list) || fail "db list: $out"
grep -q '^outgoing sent: 1$' <<<"$out" || fail "list after: $out"
grep -q '^incoming stored: [1-9]' <<<"$out" || fail "nothing incoming stored: $out"
out=$(gw status) || fail "status in database mode: $out"
grep -q '^message database$' <<<"$out" && grep -q '^  outgoing sent: 1$' <<<"$out" ||
  fail "status does not show the database queue: $out"

# A signed database message: the module makes its signature list from the
# attachment's signature file, one entry with the attachment's digest.
echo "signed statement" >"$root/signed.txt"
printf 'SIGNATURE BYTES' >"$root/signed.sig"
out=$(gw db enqueue "$root/signed.txt" --signed --to SMTP:desk@demo.example --subject Signed \
  --signature Clerk="$root/signed.sig") || fail "db enqueue signed: $out"
out=$(gw collect --status retry) || fail "collect: $out"
digest=$(openssl dgst -sha256 -binary "$root/signed.txt" | od -An -v -tx1 | xargs)
entry=$(printf 'Name-Signer:Clerk\r\nHash-Value:%s\r\nName-Attachment:signed.txt\r\nLength-Sign:15\r\nSign:\r\nSIGNATURE BYTES' "$digest")
grep -q "file:    OLMSIGN.CRS (${#entry} bytes)" <<<"$out" || fail "no signature list of ${#entry} bytes: $out"
grep -q 'flags:   0x2 sign' <<<"$out" || fail "not signed: $out"

# Put back once with DatabaseAttempts 1: failed, listed, shown, and requeued.
guid=$(gw db list --state failed | grep -oE '^[0-9a-f-]{36}')
[ -n "$guid" ] || fail "the message put back is not failed: $(gw db list --state failed)"
out=$(gw db show "$guid") || fail "db show: $out"
grep -q '^state: failed$' <<<"$out" || fail "show state: $out"
grep -q '^recipient: SMTP:desk@demo.example$' <<<"$out" || fail "show recipient: $out"
grep -q '^signature: Clerk .*/signed.txt.Clerk.sgn$' <<<"$out" || fail "show signature: $out"
out=$(gw db requeue) || fail "db requeue: $out"
[ "$out" = "requeued 1 message" ] || fail "requeue: $out"
grep -q '^outgoing queued: 1$' <<<"$(gw db list)" || fail "not queued again: $(gw db list)"
out=$(gw db show no-such-guid) && fail "an unknown GUID was shown: $out"
grep -q 'no message no-such-guid' <<<"$out" || fail "unknown GUID: $out"
echo "database mode checked"

#!/bin/bash
# smime_test.sh - secure mail between two gateways through one Maildir: A
# signs with its own key and encrypts to B's certificate; B decrypts with its
# key, verifies against the trusted CA and stores the file byte for byte with
# the signature beside it. A tampered message and one for someone else are
# moved aside, never stored; a recipient without a certificate gets nothing.
set -u
gateway="$1"
root=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
command -v openssl >/dev/null || { echo "SKIP: no openssl command"; exit 0; }
cd "$root" || exit 1
q() { "$@" >/dev/null 2>&1 || fail "$*"; }
mkdir -p certs trusted keys a/out a/in a/bad b/in b/err mail
q openssl req -x509 -newkey rsa:2048 -nodes -keyout keys/ca.key -out trusted/ca.pem -subj /CN=CA -days 30
for who in a b; do
  q openssl req -newkey rsa:2048 -nodes -keyout keys/$who.key -out $who.csr -subj /CN=Gateway-$who \
    -addext subjectAltName=email:$who@bank.example
  q openssl x509 -req -in $who.csr -CA trusted/ca.pem -CAkey keys/ca.key -CAcreateserial -days 30 \
    -out certs/$who.pem -copy_extensions copy
  chmod 600 keys/$who.key
done

# reg NAME OUTBOX INBOX TYPE RECIPIENT: a gateway with one output and one input rule
reg() {
  cat <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\$1]
"OutputMessageFlags"=dword:00000000
"CertificateFlags"=dword:00000000
"OutRulezFlags"=dword:00000001
"SaveOutErrorPath"="$root/$1/bad"
"InnRulezFlags"=dword:00000001
"SaveInErrorPath"="$root/b/err"
"InputFileRulezFlags"=dword:00000000
"Filename"="$root/$1"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\$1\\Gateway]
"Outbox"="$2"
"Inbox"="$3"
"OwnAddress"="$1@bank.example"
"OwnKey"="$root/keys/$1.key"
"OwnCertificate"="$root/certs/$1.pem"
"CertificateDirectory"="$root/certs"
"TrustedCADirectory"="$root/trusted"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\$1\\OutputFileRulez]
"OutputRulezNum"=dword:00000001

[HKEY_LOCAL_MACHINE\\SOFTWARE\\$1\\OutputFileRulez\\0]
"Path"="$root/$1/out"
"DefaultSubject"="Secure <#%#>"
"Type"=dword:0000000$4
"Email"="SMTP:$1@bank.example"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\$1\\OutputFileRulez\\0\\EmailList]
"EmailNum"=dword:00000001
"0"="SMTP:$5"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\$1\\InputFileRulez]
"InputRulezNum"=dword:00000001

[HKEY_LOCAL_MACHINE\\SOFTWARE\\$1\\InputFileRulez\\0]
"Path"="$root/$1/in"
"Email"="*"
"FileMask"="*"
"Type"=dword:00000007
"SaveFileWithSignature"="+"
"SaveDetachedSignature"="+"
REG
}
reg a "$root/mail" "$root/a/inbox" 3 b@bank.example >a.reg
reg b "$root/b/outbox" "$root/mail" 3 a@bank.example >b.reg
run() { "$gateway" run --once --config "$root/$1.reg" 2>&1; }

head -c 5000 /dev/urandom >a/out/statement.bin
cp a/out/statement.bin original.bin
out=$(run a) || fail "A: $out"
grep -q "sent \"Secure statement" <<<"$out" || fail "A did not send: $out"
sent=$(ls mail/new/*)
grep -q 'application/pkcs7-mime' "$sent" || fail "not encrypted: $(head -30 "$sent")"
grep -q "^Subject: Secure statement" "$sent" || fail "the headers are not readable outside"
grep -qa 'filename="statement.bin"' "$sent" && fail "the attachment shows through the encryption"
cp "$sent" sent.eml

out=$(run b) || fail "B: $out"
grep -q 'stored statement.bin' <<<"$out" || fail "B did not store: $out"
stored=$(find b/in -name 'statement.bin' -type f)
cmp -s "$stored" original.bin || fail "the stored file differs from the one sent"
sgn=$(find b/in -name 'statement.bin.*.sgn')
[ -n "$sgn" ] || fail "no signature beside the file: $(find b/in)"
q openssl cms -cmsout -inform DER -in "$sgn" -noout

# A message for someone else, and one whose signed content was changed.
q openssl cms -encrypt -binary -aes256 -in original.bin -out other.p7m certs/a.pem
{ echo "From: x@bank.example"; echo "Subject: not for B"; cat other.p7m; } >mail/new/9.other
out=$(run b)
grep -q 'moved aside 9.other: cannot decrypt' <<<"$out" || fail "a message for A was not refused: $out"
# Signed but not encrypted, then altered in transit.
sed -i 's/^"Type"=dword:00000003/"Type"=dword:00000002/' a.reg
echo "the plain signed text" >a/out/note.txt
run a >/dev/null || fail "A signed only"
signed=$(ls -t mail/new/* | head -1)
grep -q 'multipart/signed' "$signed" || fail "not signed: $(head -20 "$signed")"
q openssl cms -verify -in "$signed" -CAfile trusted/ca.pem -purpose smimesign -out /dev/null
from=$(echo "the plain signed text" | base64)
to=$(echo "the altered text here" | base64)
grep -q "$from" "$signed" || fail "the attachment is not where the test looks: $(cat "$signed")"
sed -i "s|$from|$to|" "$signed"
out=$(run b)
grep -q 'moved aside .*signature does not verify' <<<"$out" || fail "a tampered message was stored: $out"
[ -z "$(find b/in -name 'note.txt')" ] || fail "the tampered file was stored"

# A recipient without a certificate: nothing leaves, the file is set aside.
sed -i 's/^"Type"=dword:00000002/"Type"=dword:00000001/; s/"0"="SMTP:b@bank.example"/"0"="SMTP:nobody@bank.example"/' a.reg
echo "secret" >a/out/secret.txt
before=$(ls mail/new | wc -l)
out=$(run a)
grep -q 'no certificate for nobody@bank.example.*not sent in plain text' <<<"$out" || fail "$out"
[ "$(ls mail/new | wc -l)" -eq "$before" ] || fail "something was sent"
[ -f a/bad/secret.txt ] || fail "the file was not set aside: $(find a)"
echo "secure mail checked"

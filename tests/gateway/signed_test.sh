#!/bin/bash
# signed_test.sh - the module's signature check mode with the real vudo: a
# send directory whose signature list names every file with its digest and a
# detached CMS signature by a certificate of a trusted CA is handed out; each
# tampering is refused with the events that name it.
set -u
gateway="$1"
root=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
command -v openssl >/dev/null || { echo "SKIP: no openssl command"; exit 0; }
cd "$root" || exit 1
mkdir -p certs trusted out bad state
q() { "$@" >/dev/null 2>&1 || fail "$*"; }
q openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out trusted/ca.pem -subj /CN=CA -days 30
q openssl req -newkey rsa:2048 -nodes -keyout clerk.key -out clerk.csr -subj /CN=Clerk \
  -addext subjectAltName=email:clerk@bank.example
q openssl x509 -req -in clerk.csr -CA trusted/ca.pem -CAkey ca.key -CAcreateserial -days 30 \
  -out certs/clerk.pem -copy_extensions copy
cat >gw.reg <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Signed]
"OutputMessageFlags"=dword:00000100
"CertificateFlags"=dword:00000000
"OutRulezFlags"=dword:00000000
"ArchiveFlags"=dword:00000000
"Filename"="$root/state"

[HKEY_LOCAL_MACHINE\SOFTWARE\Signed\Gateway]
"CertificateDirectory"="$root/certs"
"TrustedCADirectory"="$root/trusted"

[HKEY_LOCAL_MACHINE\SOFTWARE\Signed\OutputFileRulez]
"OutputRulezNum"=dword:00000001

[HKEY_LOCAL_MACHINE\SOFTWARE\Signed\OutputFileRulez\0]
"Path"="$root/out"
"DefaultSubject"="Signed"
"Type"=dword:00000002
"Email"="SMTP:branch@bank.example"

[HKEY_LOCAL_MACHINE\SOFTWARE\Signed\OutputFileRulez\0\EmailList]
"EmailNum"=dword:00000001
"0"="SMTP:head@bank.example"
REG

# entry FILE SIGNATURE [ADDRESS]: one signature list entry, as the list format has it
entry() {
  local hash
  hash=$(openssl dgst -sha256 -binary "$1" | od -An -v -tx1 | tr 'a-f' 'A-F' | xargs)
  printf 'Name-Signer:Clerk\r\nHash-Value:%s\r\nName-Attachment:%s\r\n' "$hash" "$(basename "$1")"
  [ -n "${3:-}" ] && printf 'Signer-Type-Address:SMTP\r\nSigner-Address:%s\r\n' "$3"
  printf 'Length-Sign:%d\r\nSign:\r\n' "$(stat -c %s "$2")"
  cat "$2"
}
gw() { "$gateway" "$@" --config "$root/gw.reg" 2>&1; }
chmod 600 clerk.key
# request NAME [SIGN OPTIONS]: a send directory of two files signed by `sign`
request() {
  local dir="out/$1"
  shift
  mkdir -p "$dir"
  printf 'statement %s\n' "$dir" >"$dir/a.txt"
  printf 'annex %s\n' "$dir" >"$dir/b.txt"
  gw sign "$dir" --key clerk.key --cert certs/clerk.pem "$@" >/dev/null || fail "sign $dir"
  printf 'Email:SMTP:desk@bank.example\r\n' >"$dir/olminfo.txt"
}
collect() { gw collect; }

# A key others may read is refused before it is used.
chmod 644 clerk.key
out=$(gw sign out --key clerk.key --cert certs/clerk.pem) && fail "a readable key was used"
grep -q 'may be read by others (mode 0644)' <<<"$out" || fail "no reason: $out"
chmod 600 clerk.key

request good
out=$(gw verify out/good) || fail "verify refused a good directory: $out"
grep -q '^a.txt: valid, signed by Clerk$' <<<"$out" || fail "verify: $out"
out=$(gw certs) || fail "certs: $out"
grep -q 'e-mail:  clerk@bank.example' <<<"$out" && grep -q 'trusted: yes' <<<"$out" ||
  fail "certs: $out"
out=$(collect) || fail "a well signed directory was refused: $out"
grep -q 'file:    a.txt' <<<"$out" || fail "not handed out: $out"
grep -q 'outcome: sent' <<<"$out" || fail "not sent: $out"
# `openssl cms -verify` accepts what sign made.
mkdir -p single && echo "one file" >single/only.txt
gw sign single --key clerk.key --cert certs/clerk.pem >/dev/null || fail "sign single"
python3 -c 'import sys; d=open("single/OLMSIGN.CRS","rb").read(); sys.stdout.buffer.write(d[d.index(b"Sign:\r\n")+7:])' >only.sig
q openssl cms -verify -binary -inform DER -in only.sig -content single/only.txt -CAfile trusted/ca.pem \
  -purpose smimesign -out /dev/null

# Each tampering: the message is refused with the event that names it.
check_refused() {  # NAME PATTERN
  local out
  out=$(collect)
  grep -q 'refused by the module' <<<"$out" || fail "$1 was not refused: $out"
  grep -qE "$2" <<<"$out" || fail "$1: no \"$2\" among the events: $out"
  rm -rf "out/$1"
}
request altered
echo "changed" >>out/altered/b.txt
check_refused altered 'the digest of "b.txt" differs'
request resigned
q openssl cms -sign -binary -in /etc/hostname -signer certs/clerk.pem -inkey clerk.key \
  -outform DER -out other.sig
q openssl cms -sign -binary -in out/resigned/b.txt -signer certs/clerk.pem -inkey clerk.key \
  -outform DER -out b.sig
{ entry out/resigned/a.txt other.sig; entry out/resigned/b.txt b.sig; } >out/resigned/OLMSIGN.CRS
out=$(gw verify out/resigned) && fail "verify passed a wrong signature"
grep -q '^a.txt: the signature does not match the data' <<<"$out" || fail "verify: $out"
check_refused resigned 'a signature is not correct'
request unknown
mv certs/clerk.pem clerk.pem
check_refused unknown "cannot find the signer's certificate"
mv clerk.pem certs/clerk.pem
request untrusted
mv trusted/ca.pem ca.pem
check_refused untrusted 'the key of a signature was not found'
mv ca.pem trusted/ca.pem
request someone --address boss@bank.example
check_refused someone "cannot find the signer's certificate"
request cut
head -c 100 out/cut/OLMSIGN.CRS >cut.crs && mv cut.crs out/cut/OLMSIGN.CRS
check_refused cut 'signature list has a bad or missing field'

# GOST R 34.10-2012 signatures and 34.11-2012 digests through the gost engine.
engine=/usr/lib/x86_64-linux-gnu/engines-3/gost.so
if [ ! -f "$engine" ]; then
  echo "SKIP (GOST part): the gost engine is not installed (libengine-gost-openssl)"
  echo "signature checks verified"
  exit 0
fi
printf 'openssl_conf = openssl_def\n[openssl_def]\nengines = engine_section\n[engine_section]\ngost = gost_section\n[gost_section]\nengine_id = gost\ndynamic_path = %s\ndefault_algorithms = ALL\n' \
  "$engine" >gost.cnf
export OPENSSL_CONF="$root/gost.cnf"
mkdir -p gost/certs gost/trusted gost/out
q openssl genpkey -algorithm gost2012_256 -pkeyopt paramset:A -out gost/ca.key
q openssl req -x509 -new -key gost/ca.key -md_gost12_256 -subj /CN=GostCA -days 30 -out gost/trusted/ca.pem
q openssl genpkey -algorithm gost2012_256 -pkeyopt paramset:A -out gost/clerk.key
chmod 600 gost/clerk.key
q openssl req -new -key gost/clerk.key -md_gost12_256 -subj /CN=Clerk \
  -addext subjectAltName=email:clerk@bank.example -out gost/clerk.csr
q openssl x509 -req -in gost/clerk.csr -CA gost/trusted/ca.pem -CAkey gost/ca.key -CAcreateserial \
  -days 30 -md_gost12_256 -copy_extensions copy -out gost/certs/clerk.pem
sed -e "s|$root/certs|$root/gost/certs|; s|$root/trusted|$root/gost/trusted|; s|$root/out|$root/gost/out|" \
  -e 's|^"TrustedCADirectory".*|&\n"DigestAlgorithm"="md_gost12_256"|' gw.reg >gost.reg
gost() { "$gateway" "$@" --config "$root/gost.reg" 2>&1; }
# Without the engine, a GOST digest is named as unknown; nothing crashes.
: >plain.cnf
out=$(OPENSSL_CONF="$root/plain.cnf" "$gateway" certs --config "$root/gost.reg" 2>&1) &&
  fail "a GOST digest without the engine was taken"
grep -q '"DigestAlgorithm" .*md_gost12_256" is not known to OpenSSL' <<<"$out" || fail "$out"
mkdir gost/out/req && echo "ГОСТ statement" >gost/out/req/a.txt
printf 'Email:SMTP:desk@bank.example\r\n' >gost/out/req/olminfo.txt
gost sign gost/out/req --key gost/clerk.key --cert gost/certs/clerk.pem >/dev/null || fail "GOST sign"
want=$(openssl dgst -md_gost12_256 -binary gost/out/req/a.txt | od -An -v -tx1 | tr 'a-f' 'A-F' | xargs)
grep -qa "Hash-Value:$want" gost/out/req/OLMSIGN.CRS || fail "the GOST digest is not openssl's: $want"
out=$(gost verify gost/out/req) || fail "GOST verify: $out"
out=$(gost collect) || fail "a GOST signed directory was refused: $out"
grep -q 'outcome: sent' <<<"$out" || fail "GOST: $out"
echo "signature checks verified (RSA and GOST)"

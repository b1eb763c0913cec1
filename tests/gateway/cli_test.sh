#!/bin/bash
# cli_test.sh - the command line as admins meet it: help on standard output
# with exit 0 for the program and every command, one-line errors and the
# usage on standard error with exit 2, the version, options in any order,
# and a man page that describes every option the help lists.
set -u
gateway="$1"
manpage="$2"
fail() { echo "FAIL: $*"; exit 1; }
expect() {  # expect CODE STREAM PATTERN ARGS...: exit code and a pattern on stdout or stderr
  local code=$1 stream=$2 pattern=$3
  shift 3
  local out err rc
  out=$("$gateway" "$@" 2>/tmp/cli_err.$$); rc=$?
  err=$(cat /tmp/cli_err.$$); rm -f /tmp/cli_err.$$
  [ "$rc" -eq "$code" ] || fail "$* exited $rc, not $code: $out$err"
  local text=$out
  [ "$stream" = err ] && text=$err
  grep -qE -- "$pattern" <<<"$text" || fail "$*: no \"$pattern\" on std$stream: $out$err"
  if [ "$code" -eq 2 ]; then [ -z "$out" ] || fail "$*: usage errors print nothing on stdout"; fi
}
expect 0 out '^Usage: zozerez-gateway' --help
commands="config store collect receipt run status check explain sign verify certs db deliver"
for command in $commands; do
  expect 0 out "^Usage: zozerez-gateway $command" "$command" --help
  expect 0 out "^Usage: zozerez-gateway $command" --config /nowhere "$command" -h
done
expect 0 out '^zozerez-gateway [0-9]+\.[0-9]+\.[0-9]+ \(build [0-9a-z]+\)$' --version
expect 2 err '^zozerez-gateway: unknown command "bogus"' bogus
expect 2 err '^usage: zozerez-gateway COMMAND' bogus
expect 2 err 'not expected: --frob' run --frob
expect 2 err 'maybe not in' collect --status maybe
expect 2 err 'FILE is required' store --from a@b
expect 2 err 'subcommand is required'
expect 2 err 'SIGNER=FILE' store f --from a@b --signature nosign
# Options in any order; --config after the command.
file=$(mktemp)
expect 1 err 'configuration store refused: /nowhere' store "$file" --config /nowhere --from a@b
rm -f "$file"

# The man page describes every option any help lists.
options=$( ("$gateway" --help; for c in $commands; do "$gateway" "$c" --help; done) |
  grep -oE '^ +(-h,)?--[a-z-]+' | sed 's/^ *//; s/-h,//' | sort -u)
for option in $options; do
  grep -qF -- "\\-\\-${option#--}" "$manpage" || fail "the man page does not describe $option"
done
for command in $commands; do
  grep -qE "^\.B(I)? $command" "$manpage" || fail "the man page does not describe $command"
done
echo "command line checked"

#!/bin/bash
# event_log_test.sh - roriv's events as the Windows Event Log receives them,
# as far as Wine shows them: Wine 8 keeps no event log to read back
# (ReportEventW is a stub that names the call on its "advapi" debug channel
# and prints each insertion string on "eventlog"), so this checks what roriv
# hands over. With the source registered: the event id is the event code,
# the type error and the category the module's level, and the insertion
# strings are the event's arguments alone. Without it: one warning that the
# source is not registered, then each event as its whole text. And on a
# system whose ANSI code page is not 1251, a warning naming it.
# Usage: event_log_test.sh RORIV_TESTS.exe ZOZEREZ-REGISTER.exe WINE-RUN
set -euo pipefail
tests=$1 register=$2 wine_run=$3
# One prefix for both programs: the registration must be seen by the tests.
export WINEPREFIX="${WINEPREFIX:-$(dirname "$(readlink -f "$tests")")/wine-prefix}"
fail() { echo "FAIL: $1"; echo "$out"; exit 1; }
events() {
  ZZ_WINEDEBUG=err+eventlog,warn+eventlog,fixme+advapi \
    "$wine_run" "$tests" --gtest_filter=Win32Roriv.ReportsEvents 2>&1 | tr -d '\r'
}

"$wine_run" "$register" --unregister >/dev/null
out=$(events)
grep -q 'RegisterEventSourceA ((null),"Application")' <<<"$out" || fail "no fallback to the Application source"
grep -q 'ReportEventW L"zozerez: the event source \\"zozerez\\" is not registered' <<<"$out" ||
  fail "no warning that the source is not registered"
[ "$(grep -c 'is not registered' <<<"$out")" -eq 1 ] || fail "the warning is not given once"
grep -q 'ReportEventW L"level 3 E0090003 cannot write the file \\"C:\\\\in\\\\report.txt\\""' <<<"$out" ||
  fail "the whole text does not reach the Application source"

"$wine_run" "$register" >/dev/null
out=$(events)
grep -q 'RegisterEventSourceA ((null),"zozerez")' <<<"$out" || fail "the source zozerez is not used"
grep -qE 'ReportEventW \([0-9A-F]+,0x0001,0x0003,0xe0090003,' <<<"$out" ||
  fail "event 0xE0090003 is not an error of category 3"
grep -qE 'ReportEventW \([0-9A-F]+,0x0001,0x0001,0xe0090002,' <<<"$out" ||
  fail "event 0xE0090002 is not an error of category 1"
grep -q 'ReportEventW L"C:\\\\in\\\\report.txt"' <<<"$out" || fail "the path is not an insertion string alone"
grep -q 'ReportEventW L"OXT_store_file_ext"' <<<"$out" || fail "the second argument is missing"
grep -q 'is not registered' <<<"$out" && fail "a registered source still warns"
# A system whose code page for non-Unicode programs is not 1251 is told so.
out=$(ZZ_WINE_LOCALE=C.UTF-8 ZZ_WINEDEBUG=err+eventlog,warn+eventlog "$wine_run" "$register" 2>&1 | tr -d '\r')
grep -q 'warning: registered; but the code page for non-Unicode programs is [0-9]* (OEM [0-9]*), not 1251 (OEM 866)' <<<"$out" ||
  fail "zozerez-register does not warn about the code page"
grep -q 'ReportEventW L"level 2 the code page for non-Unicode programs is' <<<"$out" ||
  fail "no warning event about the code page"
echo "events reach the Event Log: message ids, types, categories and insertion strings as registered"

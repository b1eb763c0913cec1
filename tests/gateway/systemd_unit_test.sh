#!/bin/bash
# systemd_unit_test.sh - the shipped unit file: systemd-analyze verify
# accepts it (with the built program in place of /usr/local/bin), its
# hardening is there, and - where systemd is the running init - a copy
# started under systemd on a temporary tree reaches "active" only once the
# service said READY, and does not start at all when `check` finds a missing
# directory. Elsewhere that last part says SKIP.
set -u
gateway="$1"
unit="$2"
template="$3"
root=$(mktemp -d)
name="zozerez-test-$$"
trap 'systemctl stop "$name" 2>/dev/null; rm -f "/run/systemd/system/$name.service";
      systemctl daemon-reload 2>/dev/null; rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed"; exit 0; }
sed "s|/usr/local/bin/zozerez-gateway|$gateway|g" "$unit" >"$root/zozerez-gateway.service"
out=$(systemd-analyze verify --man=no "$root/zozerez-gateway.service" 2>&1) ||
  fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify has remarks: $out"
for line in Type=notify WatchdogSec= "ExecStartPre=$gateway check" ExecReload= ProtectSystem=strict \
  ReadWritePaths= NoNewPrivileges=yes User=zozerez CapabilityBoundingSet= PrivateTmp=yes; do
  grep -q "^$line" "$root/zozerez-gateway.service" || fail "the unit has no $line"
done

if [ ! -d /run/systemd/system ]; then
  echo "SKIP: systemd is not the running init here; the unit was verified but not started"
  exit 0
fi
mkdir -p "$root"/out/{plain,requests,separate,guaranteed} "$root"/in/{receipts,statements,all} \
  "$root"/{in-errors,out-errors,state}
sed "s|@ROOT@|$root|g" "$template" >"$root/gw.reg"
# As root on the test tree: the user, the store and the paths are the test's.
sed -e "s|^User=.*|User=root|; s|^Group=.*|Group=root|; s|^StateDirectory=.*||" \
  -e "s|^Environment=RORIV_STORE=.*|Environment=RORIV_STORE=$root/gw.reg|" \
  -e "s|^ReadWritePaths=.*|ReadWritePaths=$root|" -e "s|^ProtectHome=.*|ProtectHome=no|" \
  "$root/zozerez-gateway.service" >"/run/systemd/system/$name.service"
systemctl daemon-reload
systemctl start "$name" || fail "the unit did not start: $(journalctl -u "$name" -n 20 --no-pager)"
[ "$(systemctl is-active "$name")" = active ] || fail "not active after start"
echo hello >"$root/out/plain/a.txt"
for i in $(seq 1 50); do [ -f "$root/in/all/a.txt" ] && break; sleep 0.2; done
[ -f "$root/in/all/a.txt" ] || fail "the service under systemd did not send and store"
systemctl stop "$name"
rmdir "$root/in/statements"
systemctl start "$name" 2>/dev/null && fail "started although check finds a missing directory"
[ "$(systemctl is-active "$name")" != active ] || fail "active although check failed"
echo "unit started under systemd"

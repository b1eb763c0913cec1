#!/usr/bin/env python3
"""service_notify_test.py - `zozerez-gateway run` as systemd's Type=notify
sees it, through a notification socket of the test's own (NOTIFY_SOCKET):
READY=1 only once the module has started (never while it cannot), a
WATCHDOG=1 ping with a STATUS line after every round, RELOADING=1 and READY=1
around a SIGHUP that reads the settings again, and STOPPING=1 on SIGTERM.
Usage: service_notify_test.py GATEWAY LOOPBACK_TEMPLATE
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

gateway, template = sys.argv[1], sys.argv[2]
root = tempfile.mkdtemp()
proc = None


def fail(text):
    print("FAIL: " + text)
    if proc:
        proc.kill()
    sys.exit(1)


def configure(extra=""):
    text = open(template, encoding="utf-8").read().replace("@ROOT@", root)
    text = text.replace('"PollSeconds"=dword:00000001', '"PollSeconds"=dword:00000001\n' + extra)
    with open(os.path.join(root, "gw.reg"), "w", encoding="utf-8") as f:
        f.write(text)


for d in ["out/plain", "out/requests", "out/separate", "out/guaranteed", "in/receipts",
          "in/statements", "in/all", "in-errors", "out-errors", "state"]:
    os.makedirs(os.path.join(root, d))
notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
notify.bind(os.path.join(root, "notify"))
notify.settimeout(0.2)
env = dict(os.environ, NOTIFY_SOCKET=os.path.join(root, "notify"))
env.pop("LD_PRELOAD", None)


def start():
    log = open(os.path.join(root, "run.log"), "a")
    return subprocess.Popen([gateway, "run", "--config", os.path.join(root, "gw.reg")],
                            stdout=log, stderr=subprocess.STDOUT, env=env)


def messages(until, seconds=20):
    """Datagrams until one satisfies `until` (or the time is up)."""
    got, end = [], time.time() + seconds
    while time.time() < end:
        try:
            got.append(notify.recv(4096).decode())
        except socket.timeout:
            continue
        if until(got[-1]):
            break
    return got


# A module that cannot start (its database is not there): never READY.
configure()
text = open(os.path.join(root, "gw.reg"), encoding="utf-8").read().replace(
    '"OutputMessageFlags"=dword:00000000',
    '"OutputMessageFlags"=dword:00000000\n"GWODBCFlags"=dword:00000001\n'
    '"ODBC_DSN"="Driver=/nowhere/driver.so"\n"ODBCAttachmentDir"="%s/state"\n'
    '"AttachmentSort"=dword:00000000\n"ODBCDelay"=dword:00000000\n"ODBCTimeout"=dword:00000001'
    % root)
open(os.path.join(root, "gw.reg"), "w", encoding="utf-8").write(text)
proc = start()
got = messages(lambda m: False, seconds=3)
if any("READY=1" in m for m in got):
    fail("READY while the module could not start: %s" % got)
if not any("STATUS=waiting for the module to start" in m for m in got):
    fail("no waiting status: %s" % got)
proc.terminate()
got = messages(lambda m: "STOPPING=1" in m, seconds=10)
proc.wait(10)
if not any("STOPPING=1" in m for m in got):
    fail("no STOPPING on SIGTERM while waiting: %s" % got)

# A module that starts: READY, then a ping per round.
configure()
open(os.path.join(root, "out/plain/a.txt"), "w").write("a")
proc = start()
got = messages(lambda m: m.startswith("WATCHDOG=1\nSTATUS=round"))
ready = [i for i, m in enumerate(got) if "READY=1" in m]
pings = [i for i, m in enumerate(got) if m.startswith("WATCHDOG=1")]
if not ready or not pings or ready[0] > pings[0]:
    fail("READY must come before any ping: %s" % got)
if "STATUS=round 1 took " not in got[-1] or "; sent 1," not in got[-1]:
    fail("the round's STATUS line: %s" % got)

# SIGHUP: the settings are read again, announced as a reload.
configure('"SendReceipts"="-"\n')
proc.send_signal(1)
got = messages(lambda m: m == "READY=1")
if "RELOADING=1" not in got or got.index("RELOADING=1") > got.index("READY=1"):
    fail("no RELOADING then READY around SIGHUP: %s" % got)
time.sleep(0.5)
if "settings read again" not in open(os.path.join(root, "run.log")).read():
    fail("the reload is not logged")
# A broken store on SIGHUP keeps the old settings and the service.
open(os.path.join(root, "gw.reg"), "w").write("REGEDIT4\n[K]\n\"a\"=dword:xyz\n")
proc.send_signal(1)
got = messages(lambda m: m == "READY=1")
if proc.poll() is not None:
    fail("a broken store on SIGHUP stopped the service")
proc.terminate()
got = messages(lambda m: "STOPPING=1" in m)
if proc.wait(20) != 0 or not any("STOPPING=1" in m for m in got):
    fail("no clean stop: %s" % got)
shutil.rmtree(root)
print("notifications checked")

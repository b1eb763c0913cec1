#!/usr/bin/env python3
"""status_http_test.py - the running service's status page and /metrics.

A real `zozerez-gateway run` with "StatusPort" on a free loopback port sends a
known set of files; /metrics is then read by a strict parser of the Prometheus
text format and its counters checked against what happened; other paths,
methods and long targets get 404/405/414 and the server keeps serving; a
port already in use is said and the gateway goes on; a password file turns
on basic authentication; and the page is loaded in headless Chromium, which
must show the stuck item first. Without Chromium that part says SKIP.
Usage: status_http_test.py GATEWAY LOOPBACK_TEMPLATE
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

gateway, template = sys.argv[1], sys.argv[2]
root = tempfile.mkdtemp()
procs = []


def fail(text):
    print("FAIL: " + text)
    for p in procs:
        p.kill()
    sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def configure(port, extra=""):
    text = open(template, encoding="utf-8").read().replace("@ROOT@", root)
    text = text.replace('"PollSeconds"=dword:00000001',
                        '"PollSeconds"=dword:00000001\n"StatusPort"=dword:%08x\n%s' % (port, extra))
    with open(os.path.join(root, "gw.reg"), "w", encoding="utf-8") as f:
        f.write(text)


def start(name):
    log = open(os.path.join(root, name), "w")
    p = subprocess.Popen([gateway, "run", "--config", os.path.join(root, "gw.reg")],
                         stdout=log, stderr=subprocess.STDOUT)
    procs.append(p)
    return p


def stop(p):
    p.terminate()
    p.wait(30)
    procs.remove(p)


def get(url, method="GET", headers=None):
    request = urllib.request.Request(url, method=method, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=10) as r:
            return r.status, dict(r.headers), r.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, dict(e.headers), e.read().decode()


def wait_for(predicate, what, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return
        time.sleep(0.2)
    fail("timed out waiting for " + what)


# The Prometheus text format, strictly: HELP and TYPE once per family and
# before its samples, names and labels well formed, values numbers, counters
# named *_total, no family split.
SAMPLE = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(.*)\})? (\S+)$')
LABEL = re.compile(r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\\n]|\\[\\"n])*)"(,|$)')


def parse_metrics(text):
    if not text.endswith("\n"):
        fail("the exposition does not end with a line feed")
    families, samples, current, done = {}, [], None, set()
    for line in text.splitlines():
        if line.startswith("# HELP "):
            name = line.split(" ")[2]
            if name in families or name in done:
                fail("family %s described twice" % name)
            if current:
                done.add(current)
            families[name] = {"help": line.split(" ", 3)[3], "type": None}
            current = name
        elif line.startswith("# TYPE "):
            _, _, name, kind = line.split(" ")
            if name != current or families[name]["type"] is not None:
                fail("TYPE of %s out of place" % name)
            if kind not in ("counter", "gauge"):
                fail("unexpected type " + kind)
            families[name]["type"] = kind
        elif line.startswith("#") or not line:
            fail("stray line %r" % line)
        else:
            m = SAMPLE.match(line)
            if not m or m.group(1) != current:
                fail("sample outside its family or malformed: %r" % line)
            labels, rest = {}, m.group(3) or ""
            while rest:
                lm = LABEL.match(rest)
                if not lm:
                    fail("bad labels in %r" % line)
                labels[lm.group(1)] = lm.group(2).replace('\\"', '"').replace("\\n", "\n") \
                    .replace("\\\\", "\\")
                rest = rest[lm.end():]
            float(m.group(4))
            if families[current]["type"] == "counter" and not current.endswith("_total"):
                fail("counter %s is not named *_total" % current)
            samples.append((current, labels, float(m.group(4))))
    return families, samples


def value(samples, name, **labels):
    found = [v for n, l, v in samples if n == name and all(l.get(k) == x for k, x in labels.items())]
    if len(found) != 1:
        fail("%s %s: %d samples" % (name, labels, len(found)))
    return found[0]


for d in ["out/plain", "out/requests", "out/separate", "out/guaranteed", "in/receipts",
          "in/statements", "in/all", "in-errors", "out-errors", "state"]:
    os.makedirs(os.path.join(root, d))
port = free_port()
configure(port)
for i in range(12):
    with open(os.path.join(root, "out/plain/f%d.txt" % i), "w") as f:
        f.write(str(i))
service = start("run.log")
base = "http://127.0.0.1:%d" % port
wait_for(lambda: not os.listdir(os.path.join(root, "out/plain")) and
         len(os.listdir(os.path.join(root, "in/all"))) == 12, "the files to go round")



def stored_so_far():
    status, _, text = get(base + "/metrics")
    m = re.search(r"^zozerez_messages_stored_total (\S+)$", text, re.M)
    return status == 200 and m is not None and float(m.group(1)) >= 24


# The receipts come back a round later; the state file counts them after it.
wait_for(stored_so_far, "the receipts to be stored and counted")
# A claim left behind 20 minutes ago: stuck, and first on the page.
stuck = os.path.join(root, "out/plain/qmt99999.tmp")
open(stuck, "w").write("x")
os.utime(stuck, (time.time() - 1200, time.time() - 1200))

status, headers, text = get(base + "/metrics")
if status != 200 or not headers.get("Content-Type", "").startswith("text/plain; version=0.0.4"):
    fail("/metrics: %s %s" % (status, headers))
families, samples = parse_metrics(text)
plain = root + "/out/plain"
if value(samples, "zozerez_messages_sent_total", directory=plain) != 12:
    fail("sent_total: " + text)
if value(samples, "zozerez_messages_stored_total") != 24 or \
        value(samples, "zozerez_receipts_sent_total") != 12:
    fail("stored or receipts: " + text)
if value(samples, "zozerez_messages_failed_total", directory=plain) != 0:
    fail("failed_total")
if value(samples, "zozerez_output_in_hand", rule="0", directory=plain) != 1 or \
        value(samples, "zozerez_output_in_hand_oldest_seconds", rule="0", directory=plain) < 1190:
    fail("the claim is not counted: " + text)
if value(samples, "zozerez_input_directory_present", rule="1",
         directory=root + "/in/statements") != 1 or value(samples, "zozerez_service_up") != 1:
    fail("gauges: " + text)

# Other paths, methods and long targets: refused, and the server goes on.
for url, method, code in [(base + "/nope", "GET", 404), (base + "/", "POST", 405),
                          (base + "/metrics", "DELETE", 405), (base + "/?" + "q" * 20000, "GET", 414),
                          (base + "/?" + "q" * 2000, "GET", 200)]:
    got = get(url, method)[0]
    if got != code:
        fail("%s %s... answered %d, not %d" % (method, url[:60], got, code))
if get(base + "/", "HEAD")[0] != 200 or get(base + "/metrics")[0] != 200:
    fail("the server stopped serving")

# The page in a real browser: the stuck claim is the first thing it shows.
chromium = shutil.which("chromium")
if chromium is None:
    print("SKIP: chromium is not installed; the page was not loaded in a browser")
else:
    dom = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu",
                          "--user-data-dir=" + os.path.join(root, "chromium"),
                          "--dump-dom", base + "/"],
                         capture_output=True, text=True, timeout=120).stdout
    m = re.search(r'<section id="attention">.*?<li>(.*?)</li>', dom, re.S)
    if not m or not m.group(1).startswith("stuck: " + stuck):
        fail("the page does not show the stuck claim first:\n" + dom[:3000])
    if dom.find('id="attention"') > dom.find('id="outputs"') or "<script" in dom:
        fail("attention is not first, or the page has scripts")

# A second gateway on the same port says so and goes on with its work.
other = start("other.log")
wait_for(lambda: "cannot serve the status page: 127.0.0.1:%d: cannot listen" % port
         in open(os.path.join(root, "other.log")).read(), "the port-in-use line")
if other.poll() is not None:
    fail("the second gateway stopped")
stop(other)
stop(service)

# A password file: basic authentication, even on loopback; a file others may
# read is refused.
password = os.path.join(root, "passwords")
open(password, "w").write("admin:s3cret\n")
os.chmod(password, 0o644)
configure(port, '"StatusPasswordFile"="%s"\n' % password)
service = start("auth.log")
wait_for(lambda: "may be read by others (mode 0644); make it 0600" in
         open(os.path.join(root, "auth.log")).read(), "the password file refusal")
stop(service)
os.chmod(password, 0o600)
service = start("auth2.log")
wait_for(lambda: "status page at http://127.0.0.1:%d/" % port in
         open(os.path.join(root, "auth2.log")).read(), "the server with a password")
if get(base + "/metrics")[0] != 401:
    fail("no authentication asked")
if get(base + "/metrics", headers={"Authorization": "Basic YWRtaW46d3Jvbmc="})[0] != 401:
    fail("a wrong password was let in")
if get(base + "/metrics", headers={"Authorization": "Basic YWRtaW46czNjcmV0"})[0] != 200:
    fail("the right password was refused")
stop(service)

# Another address without a password file is refused before listening.
configure(port, '"StatusAddress"="0.0.0.0"\n')
service = start("open.log")
wait_for(lambda: "is reachable from other machines" in open(os.path.join(root, "open.log")).read(),
         "the refusal of an open address")
stop(service)
shutil.rmtree(root)
print("status page and metrics checked")

#!/usr/bin/env python3
"""Load and fault test of a Quaybill site served by lighttpd on 127.0.0.1.

Several clients place, list, update and delete ads at once for a bounded
time, while a killer thread SIGKILLs running CGI processes of this site (and
only of this site: their executable is the site's own qbcgi.exe). At the end:

  - every ad whose confirmation page arrived is in the store, with the price
    of its last confirmed update, unless its delete was confirmed, in which
    case it is gone;
  - the store holds no ad that no client placed, nor one whose placing gave
    an error page;
  - no error page speaks of a locked or busy store;
  - no more responses were cut than processes were killed (a cut response
    without a kill would be a crash), and every request was answered;
  - PRAGMA integrity_check says ok, and lighttpd's log holds no sanitizer
    report.

  load_and_faults.py --program PATH/TO/qbcgi [--duration S] [--clients N]

The duration defaults to $QB_LOAD_SECONDS, else 45 seconds. Exits 77 (skipped)
when lighttpd is missing, unless CI is set, where that is a failure.
"""

import argparse
import http.client
import os
import random
import re
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
CATEGORIES = ["Vehicles", "Boats", "Real Estate", "Jobs", "Electronics", "Furniture", "Pets", "Miscellaneous"]
MAX_REQUESTS_PER_CLIENT = 100000
SANITIZER_MARKERS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")


def under_ci():
    ci = os.environ.get("CI", "")
    return ci != "" and ci != "false"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Counts:
    """Figures shared by all threads."""

    def __init__(self):
        self.lock = threading.Lock()
        self.requests = 0
        self.pages = 0
        self.error_pages = 0
        self.locking_errors = 0
        self.cut = 0
        self.hung = 0
        self.killed = 0
        self.error_samples = []

    def add(self, **kw):
        with self.lock:
            for key, value in kw.items():
                setattr(self, key, getattr(self, key) + value)

    def sample_error(self, text):
        with self.lock:
            if len(self.error_samples) < 5:
                self.error_samples.append(text)


class Site:
    def __init__(self, port, counts):
        self.port = port
        self.counts = counts

    def request(self, method, query, form=None):
        """One request; returns (kind, body): kind is page, error, cut or empty."""
        body = urllib.parse.urlencode(form).encode() if form is not None else None
        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body is not None else {}
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            conn.request(method, "/qbcgi.exe?" + query, body=body, headers=headers)
            response = conn.getresponse()
            status = response.status
            text = response.read().decode("latin-1")
        except socket.timeout:
            # No answer within a minute, far beyond the store's busy timeout.
            self.counts.add(requests=1, hung=1)
            return "cut", ""
        except (OSError, http.client.HTTPException):
            status, text = None, ""
        finally:
            conn.close()
        self.counts.add(requests=1)
        if status != 200:
            self.counts.add(cut=1)
            return "cut", text
        if text == "":
            return "empty", text
        if not text.rstrip("\r\n").lower().endswith("</html>"):
            self.counts.add(cut=1)
            return "cut", text
        if "The following internal error has occurred:" in text:
            self.counts.add(error_pages=1)
            description = re.search(r"<PRE>(.*?)</PRE>", text, re.S)
            description = description.group(1) if description else text[:200]
            lowered = description.lower()
            if "locked" in lowered or "busy" in lowered:
                self.counts.add(locking_errors=1)
            self.counts.sample_error(description)
            return "error", text
        self.counts.add(pages=1)
        return "page", text


class Ad:
    """What a client knows of one of its ads."""

    def __init__(self, item):
        self.item = item
        self.confirmed = False   # the confirmation page arrived
        self.uncertain = False   # the placing request was cut: there or not
        self.refused = False     # placing gave an error page: not there
        self.ad_id = None
        self.prices = {"0"}      # the prices the store may hold
        self.deleted = False     # the delete was confirmed
        self.maybe_deleted = False


class Client(threading.Thread):
    def __init__(self, number, run, site, deadline):
        super().__init__(name="client-%d" % number, daemon=True)
        self.number = number
        self.site = site
        self.deadline = deadline
        self.name_ = "loader %s %d" % (run, number)
        self.password = "pw%d" % number
        self.prefix = "ad-%s-%d-" % (run, number)
        self.ads = []
        self.rng = random.Random(number)
        self.failure = None

    def live_ads(self):
        return [ad for ad in self.ads if ad.confirmed and not ad.deleted and not ad.maybe_deleted]

    def place(self):
        ad = Ad("%s%d" % (self.prefix, len(self.ads)))
        self.ads.append(ad)
        kind, text = self.site.request("POST", "Action=ADD", {
            "Category": self.rng.choice(CATEGORIES), "Item": ad.item, "Name": self.name_,
            "Email": "c%d@example.com" % self.number, "Phone": "555", "Price": "0",
            "Password": self.password, "Desc": "x" * self.rng.randrange(0, 20000)})
        if kind == "page" and (self.name_ + " , Your Ad has been Entered Successfully!") in text:
            ad.confirmed = True
        elif kind == "page":
            self.failure = "placing %s gave another page" % ad.item
        elif kind == "error":
            ad.refused = True
        else:
            ad.uncertain = True

    def find_ids(self):
        kind, text = self.site.request("POST", "Action=Getedit", {"Name": self.name_})
        if kind != "page":
            return
        for ad_id, item in re.findall(r'\?Action=Getpw&ID=(\d+)">([^<]*)</a>', text):
            for ad in self.ads:
                if ad.item == item:
                    ad.ad_id = ad_id

    def known_ad(self):
        live = self.live_ads()
        if not live:
            return None
        ad = self.rng.choice(live)
        if ad.ad_id is None:
            self.find_ids()
        return ad if ad.ad_id is not None else None

    def update(self):
        ad = self.known_ad()
        if ad is None:
            return
        kind, text = self.site.request("POST", "Action=Edit", {"ID": ad.ad_id, "pw": self.password})
        if kind != "page":
            return
        if 'value="%s"' % ad.item not in text:
            self.failure = "the edit page of %s does not show it" % ad.item
            return
        price = str(self.rng.randrange(1, 1000000))
        kind, text = self.site.request("POST", "Action=Update", {
            "ID": ad.ad_id, "pw": self.password, "Category": self.rng.choice(CATEGORIES), "Item": ad.item,
            "Email": "c%d@example.com" % self.number, "Phone": "555", "Price": price, "Desc": "updated"})
        if kind == "page" and (ad.item + "</i></font></h1><h1>was Updated successfully") in text:
            ad.prices = {price}
        elif kind == "page":
            self.failure = "updating %s gave another page" % ad.item
        else:
            ad.prices.add(price)

    def delete(self):
        ad = self.known_ad()
        if ad is None:
            return
        kind, text = self.site.request("POST", "Action=Delete",
                                       {"ID": ad.ad_id, "pw": self.password, "Item": ad.item})
        if kind == "page" and (ad.item + "</i></font> was deleted successfully") in text:
            ad.deleted = True
        elif kind == "page":
            self.failure = "deleting %s gave another page" % ad.item
        else:
            ad.maybe_deleted = True

    def browse(self):
        if self.rng.random() < 0.2:
            self.site.request("GET", "Action=ShowAll")
        else:
            self.site.request("GET", "Action=List&Cat=%d" % self.rng.randrange(1, 9))

    def run(self):
        actions = [(0.35, self.place), (0.30, self.browse), (0.20, self.update), (0.15, self.delete)]
        for _ in range(MAX_REQUESTS_PER_CLIENT):
            if time.monotonic() >= self.deadline or self.failure:
                return
            r = self.rng.random()
            for weight, action in actions:
                if r < weight:
                    action()
                    break
                r -= weight


def parent_pid(pid):
    with open("/proc/%s/stat" % pid) as f:
        # "pid (comm) state ppid ...": comm may hold blanks and parentheses.
        return int(f.read().rsplit(")", 1)[1].split()[1])


class Killer(threading.Thread):
    """Every `interval` seconds, SIGKILLs one running CGI process of the site:
    a child of the server whose executable is the site's qbcgi.exe (not a
    helper that process may have started, such as a sanitizer's)."""

    def __init__(self, exe, server_pid, interval, deadline, counts):
        super().__init__(name="killer", daemon=True)
        self.exe = os.path.realpath(exe)
        self.server_pid = server_pid
        self.interval = interval
        self.deadline = deadline
        self.counts = counts
        self.rng = random.Random(99)

    def running(self):
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                if os.readlink("/proc/%s/exe" % entry) == self.exe and parent_pid(entry) == self.server_pid:
                    pids.append(int(entry))
            except OSError:
                pass
        return pids

    def run(self):
        while time.monotonic() < self.deadline:
            tick_end = time.monotonic() + self.interval
            # Look for a victim during the first half of the tick.
            while time.monotonic() < tick_end - self.interval / 2:
                pids = self.running()
                if pids:
                    try:
                        os.kill(self.rng.choice(pids), signal.SIGKILL)
                        self.counts.add(killed=1)
                    except ProcessLookupError:
                        pass
                    break
            time.sleep(max(0.0, tick_end - time.monotonic()))


def wait_for_port(port, server, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if server.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def check_store(db_path, clients):
    """Compares the store with what the clients were told; returns figures."""
    conn = sqlite3.connect(db_path, timeout=30)
    try:
        integrity = conn.execute("PRAGMA integrity_check").fetchall()
        rows = conn.execute("SELECT Item, Price FROM QB").fetchall()
    finally:
        conn.close()
    stored = {}
    for item, price in rows:
        stored.setdefault(item, []).append(price)
    figures = {"integrity": integrity, "checked": 0, "lost": 0, "resurrected": 0, "stale": 0,
               "duplicated": 0, "uncertain": 0, "refused": 0, "phantoms": 0, "problems": []}
    known = set()
    for client in clients:
        for ad in client.ads:
            known.add(ad.item)
            prices = stored.get(ad.item, [])
            if len(prices) > 1:
                figures["duplicated"] += 1
                figures["problems"].append("%s stored %d times" % (ad.item, len(prices)))
            if ad.refused:
                figures["refused"] += 1
                if prices:
                    figures["problems"].append("%s is in the store though placing it gave an error page" % ad.item)
                continue
            if not ad.confirmed or ad.maybe_deleted:
                figures["uncertain"] += 1
                continue
            figures["checked"] += 1
            if ad.deleted:
                if prices:
                    figures["resurrected"] += 1
                    figures["problems"].append("%s is back after its delete was confirmed" % ad.item)
            elif not prices:
                figures["lost"] += 1
                figures["problems"].append("%s was confirmed but is not in the store" % ad.item)
            elif prices[0] not in ad.prices:
                figures["stale"] += 1
                figures["problems"].append("%s has price %s, expected one of %s" % (ad.item, prices[0], sorted(ad.prices)))
    for item in stored:
        if item not in known:
            figures["phantoms"] += 1
            figures["problems"].append("%s is in the store but no client placed it" % item)
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--duration", type=float, default=float(os.environ.get("QB_LOAD_SECONDS", "45")))
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--kill-interval", type=float, default=0.1)
    args = parser.parse_args()

    lighttpd = os.environ.get("LIGHTTPD") or shutil.which("lighttpd") or "/usr/sbin/lighttpd"
    if not os.access(lighttpd, os.X_OK):
        if under_ci():
            print("load_and_faults: lighttpd is missing under CI (apt-get install lighttpd)", file=sys.stderr)
            return 1
        print("load_and_faults SKIPPED: lighttpd is missing (apt-get install lighttpd)")
        return 77
    program = os.path.abspath(args.program)
    if not os.access(program, os.X_OK):
        print("load_and_faults: no program at %s" % program, file=sys.stderr)
        return 1

    work = tempfile.mkdtemp(prefix="qbload.")
    site_dir = os.path.join(work, "site")
    port = free_port()
    conf = subprocess.run([os.path.join(ROOT, "scripts", "lighttpd-site"), "--dir", site_dir, "--port", str(port),
                           "--program", program, "--banners", "n", "--fresh"],
                          check=True, capture_output=True, text=True).stdout.strip()
    log_path = os.path.join(work, "lighttpd.log")
    log = open(log_path, "wb")
    server = subprocess.Popen([lighttpd, "-D", "-f", conf], stdout=log, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL)
    counts = Counts()
    try:
        if not wait_for_port(port, server, 10):
            print("load_and_faults: lighttpd did not start", file=sys.stderr)
            return 1
        site = Site(port, counts)
        # One request first so that the store exists before the killing starts.
        kind, _ = site.request("GET", "Action=ShowAll")
        if kind != "page":
            print("load_and_faults: the site does not answer with a page", file=sys.stderr)
            return 1

        run = "%x" % int(time.time())
        started = time.monotonic()
        deadline = started + args.duration
        clients = [Client(n, run, site, deadline) for n in range(args.clients)]
        killer = Killer(os.path.join(site_dir, "qbcgi.exe"), server.pid, args.kill_interval, deadline, counts)
        for thread in clients + [killer]:
            thread.start()
        # Each thread stops by itself at the deadline; a request in flight may
        # wait out the store's busy timeout and the client's own timeout.
        for thread in clients + [killer]:
            thread.join(timeout=max(0.0, deadline - time.monotonic()) + 90)
        elapsed = time.monotonic() - started
        if any(thread.is_alive() for thread in clients + [killer]):
            print("load_and_faults: a client did not stop in time", file=sys.stderr)
            return 1
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=15)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        log.close()

    figures = check_store(os.path.join(site_dir, "qb.db"), clients)
    with open(log_path, "rb") as f:
        server_log = f.read().decode("latin-1")
    sanitizer_reports = sum(server_log.count(marker) for marker in SANITIZER_MARKERS)

    failures = [client.failure for client in clients if client.failure]
    failures += figures["problems"][:20]
    if figures["integrity"] != [("ok",)]:
        failures.append("integrity_check: %s" % figures["integrity"][:5])
    if counts.locking_errors:
        failures.append("%d error pages speak of a locked or busy store" % counts.locking_errors)
    if counts.hung:
        failures.append("%d requests got no answer within a minute" % counts.hung)
    if counts.cut > counts.killed:
        failures.append("%d responses were cut but only %d processes killed" % (counts.cut, counts.killed))
    if sanitizer_reports:
        failures.append("lighttpd's log holds %d sanitizer reports" % sanitizer_reports)
    if figures["checked"] == 0:
        failures.append("no ad was confirmed, so nothing was checked")

    for sample in counts.error_samples:
        print("error page: %s" % sample)
    for failure in failures:
        print("FAILED: %s" % failure)
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print("site and lighttpd log kept in %s" % work)
    print("load_and_faults: %d clients for %.1f s, killing a CGI process every %.2f s"
          % (args.clients, elapsed, args.kill_interval))
    print("requests: %d (pages %d, error pages %d, cut %d, unanswered %d), locking errors: %d"
          % (counts.requests, counts.pages, counts.error_pages, counts.cut, counts.hung, counts.locking_errors))
    print("killed: %d CGI processes" % counts.killed)
    print("ads checked: %d (refused with an error page: %d, left uncertain by a kill: %d), ads lost: %d, "
          "resurrected: %d, stale: %d, phantoms: %d"
          % (figures["checked"], figures["refused"], figures["uncertain"], figures["lost"], figures["resurrected"],
             figures["stale"], figures["phantoms"]))
    print("integrity_check: %s" % ("ok" if figures["integrity"] == [("ok",)] else "FAILED"))
    print("load_and_faults: %s" % ("passed" if not failures else "FAILED"))
    return 0 if not failures else 1


if __name__ == "__main__":
    sys.exit(main())

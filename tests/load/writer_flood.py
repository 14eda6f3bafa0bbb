#!/usr/bin/env python3
"""Floods a fresh site with writers through lighttpd and checks that no confirmed ad is lost.

--clients keep-alive clients place ads (each with its own Item) for --seconds. With --mixed half of them are
sellers who place an ad, find it by their name, unlock and update it twice and delete it, over and over. Exits 1
when a confirmed ad (or its last confirmed change or delete) is not in the store, an ad whose placing got an error
page is, integrity_check fails, or any answer was an error page, another page or none; exits 77 (skipped) without
lighttpd, unless CI is set. Prints ads per second and answer times.
    writer_flood.py [--mixed] [--clients 32] [--seconds 20] [--port N] [--program build/qbcgi]
"""
import argparse, collections, contextlib, http.client, os, re, shutil, socket, sqlite3, subprocess, sys
import tempfile, threading, time, urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CONFIRMED = "Your Ad has been Entered Successfully!"
ERROR_PAGE = re.compile(r"internal error has occurred:|Error Number =|locked|busy", re.I)


class Client:
    """One keep-alive connection; a broken one is opened again for the next request."""

    def __init__(self, port):
        self.port, self.conn = port, None

    def post(self, query, form):
        if self.conn is None:
            self.conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            self.conn.request("POST", "/qbcgi.exe?" + query, urllib.parse.urlencode(form),
                              {"Content-Type": "application/x-www-form-urlencoded"})
            return self.conn.getresponse().read().decode("latin-1"), None
        except (OSError, http.client.HTTPException) as e:
            self.conn.close()
            self.conn = None
            return "", type(e).__name__


class Flood:
    def __init__(self, port, deadline):
        self.port, self.deadline = port, deadline
        self.lock = threading.Lock()
        self.counts, self.confirmed, self.refused, self.times = collections.Counter(), [], [], []
        self.edited = {}

    def placer(self, n):
        client, i = Client(self.port), 0
        while time.monotonic() < self.deadline:
            item = "flood-%d-%d" % (n, i)
            i += 1
            started = time.monotonic()
            text, failure = client.post("Action=ADD", {"Category": "Boats", "Item": item, "Name": "flood %d" % n,
                                                       "Password": "pw%d" % n, "Price": "1", "Desc": "x" * 200})
            kind = ("confirmed" if CONFIRMED in text else "error page" if ERROR_PAGE.search(text) else
                    "failure: " + (failure or "other page"))
            with self.lock:
                self.times.append(time.monotonic() - started)
                self.counts[kind] += 1
                (self.confirmed if kind == "confirmed" else self.refused if kind == "error page" else []).append(item)

    def count(self, what, text, failure, done):
        """Counts one answer of an editor; true when it confirmed what was asked (`done` in it)."""
        kind = ("confirmed" if done in text else "error page" if ERROR_PAGE.search(text) else
                "failure: " + (failure or "other page"))
        with self.lock:
            self.counts[what + ": " + kind] += 1
        return kind == "confirmed"

    def editor(self, n):
        """Places an ad of its own, then unlocks, updates and deletes it, over and over. Keeps in
        self.edited what it was last told each of its ads holds (None: deleted)."""
        client, cycle, name, pw = Client(self.port), 0, "editor %d" % n, "ed%d" % n
        while time.monotonic() < self.deadline:
            cycle += 1
            item = "edit-%d-%d" % (n, cycle)
            text, failure = client.post("Action=ADD", {"Category": "Pets", "Item": item, "Name": name,
                                                       "Password": pw, "Desc": "y" * 200})
            if not self.count("place", text, failure, CONFIRMED):
                continue
            text, failure = client.post("Action=Getedit", {"Name": name})
            ids = [int(i) for i in re.findall(r"Action=Getpw&ID=(\d+)", text)]
            if not self.count("lookup", text, failure, "Action=Getpw&ID=") or not ids:
                continue
            ad = max(ids)
            with self.lock:
                self.edited[ad] = item
            for step in (1, 2):
                if time.monotonic() >= self.deadline:
                    return
                text, failure = client.post("Action=Edit", {"ID": str(ad), "pw": pw})
                self.count("unlock", text, failure, "<textarea")
                item = "edit-%d-%d-%d" % (n, cycle, step)
                text, failure = client.post("Action=Update", {"ID": str(ad), "pw": pw, "Item": item,
                                                              "Category": "Pets", "Desc": "z" * 200})
                if self.count("update", text, failure, "was Updated successfully"):
                    with self.lock:
                        self.edited[ad] = item
            text, failure = client.post("Action=Delete", {"ID": str(ad), "pw": pw, "Item": item})
            if self.count("delete", text, failure, "was deleted successfully"):
                with self.lock:
                    self.edited[ad] = None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def skip_without_lighttpd(name):
    if not shutil.which("lighttpd"):
        print(name + ": lighttpd is missing (apt-get install lighttpd)")
        sys.exit(1 if os.environ.get("CI", "") not in ("", "false") else 77)


@contextlib.contextmanager
def served(program, site, port, prepare=None):
    """Lays out a fresh site, runs prepare(site), exempts the clients' address from the placing limit (as an
    operator would exempt a flood from one address), and serves the site with lighttpd until the block ends."""
    conf = subprocess.run([os.path.join(ROOT, "scripts", "lighttpd-site"), "--dir", site, "--port", str(port),
                           "--program", os.path.abspath(program), "--banners", "n", "--fresh"],
                          check=True, capture_output=True, text=True).stdout.strip()
    if prepare:
        prepare(site)
    subprocess.run([os.path.join(os.path.dirname(os.path.abspath(program)), "qbadmin"), "--site", site,
                    "limits", "--exempt", "127.0.0.1"], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(site, "..", "lighttpd.log"), "wb") as log:
        server = subprocess.Popen(["lighttpd", "-D", "-f", conf], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    try:
        for _ in range(100):  # the first page also creates the store, or adds its indexes
            if "<html" in Client(port).post("Action=ShowAll", {"x": "1"})[0].lower():
                break
            time.sleep(0.1)
        yield
    finally:
        server.terminate()
        server.wait()


def run_threads(threads):
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def problems(flood, db_path):
    """What went wrong: answers that were neither a confirmation nor a refusal the board means to give,
    error pages, confirmed ads or changes missing from the store, refused ads stored, a damaged store."""
    with sqlite3.connect(db_path) as db:
        integrity = db.execute("PRAGMA integrity_check").fetchall()
        by_id = dict(db.execute("SELECT ID, Item FROM QB"))
    stored = set(by_id.values())
    # An editor's ad holds what its last confirmed change gave it; a confirmed delete left nothing.
    # An answer that was no confirmation may or may not have been stored, so only IDs whose last
    # change was confirmed count: the editors stop after a confirmation or an error page alike.
    found = ["%d answers: %s" % (n, kind) for kind, n in sorted(flood.counts.items())
             if "failure" in kind or kind.endswith("error page")]
    found += ["confirmed but not stored: " + item for item in flood.confirmed if item not in stored][:5]
    found += ["refused but stored: " + item for item in flood.refused if item in stored][:5]
    found += ["ad %d holds %s, not %s" % (ad, by_id.get(ad), item) for ad, item in flood.edited.items()
              if by_id.get(ad) != item][:5]
    return found + ([] if integrity == [("ok",)] else ["integrity_check: %s" % integrity])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--clients", type=int, default=32)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--port", type=int, default=0, help="default: a free one")
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "qbcgi"))
    parser.add_argument("--mixed", action="store_true", help="half the clients edit and delete their own ads")
    args = parser.parse_args()
    skip_without_lighttpd("writer_flood")
    editors = args.clients // 2 if args.mixed else 0
    placers = args.clients - editors
    work = tempfile.mkdtemp(prefix="qb-flood-")
    site, port = os.path.join(work, "site"), args.port or free_port()
    db_path = os.path.join(site, "qb.db")
    with served(args.program, site, port):
        flood = Flood(port, time.monotonic() + args.seconds)
        started = time.monotonic()
        run_threads([threading.Thread(target=flood.placer, args=(n,)) for n in range(placers)] +
                    [threading.Thread(target=flood.editor, args=(n,)) for n in range(editors)])
        spent = time.monotonic() - started
    times = sorted(flood.times) or [0.0]
    print("%d placing, %d editing clients, %.1f s: %s" % (
        placers, editors, spent, ", ".join("%s %d" % kv for kv in sorted(flood.counts.items()))))
    print("%.1f confirmed ads/s; answer time median %.3f s, 99%% %.3f s, max %.3f s" % (
        len(flood.confirmed) / spent, times[len(times) // 2], times[int(len(times) * 0.99)], times[-1]))
    found = problems(flood, db_path) + ([] if flood.confirmed else ["no ad was confirmed"])
    for problem in found:
        print("FAILED:", problem)
    if found:
        print("site and lighttpd log kept in", work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())

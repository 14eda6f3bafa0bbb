#!/usr/bin/env python3
"""Runs every qbadmin command on a large site while clients place, show and look up ads through lighttpd.

Category pages are left out of the load, since they purge and the purge command is to find the expired ads
(1 in 333). Exits 1 when a confirmed ad is not in the store, a request got an error page or a failed answer, a
command did not exit 0, or the final store exported and imported into a new store differs (the work directory
is then kept); exits 77 (skipped) without lighttpd, unless CI is set.
    qbadmin_under_load.py [--ads 100000] [--clients 6] [--build DIR] [--port N]
"""
import argparse, http.client, os, random, shutil, socket, sqlite3, subprocess, sys, tempfile, threading, time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class Load:
    def __init__(self, port, clients):
        self.port = port
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.confirmed, self.errors, self.latencies = [], [], []
        self.threads = [threading.Thread(target=self.client, args=(n,), daemon=True) for n in range(clients)]

    def request(self, method, query, form=None):
        body = urllib.parse.urlencode(form).encode() if form else None
        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body else {}
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        started = time.monotonic()
        conn.request(method, "/qbcgi.exe?" + query, body=body, headers=headers)
        response = conn.getresponse()
        text = response.read().decode("latin-1")
        conn.close()
        with self.lock:
            self.latencies.append(time.monotonic() - started)
            if "The following internal error has occurred:" in text:
                self.errors.append(text[text.find("<PRE>"):text.find("</PRE>")])
            elif response.status != 200 or not text.rstrip().lower().endswith("</html>"):
                self.errors.append("%s %s: HTTP %d, %d bytes" % (method, query, response.status, len(text)))
        return text

    def client(self, number):
        rng = random.Random(number)
        placed = 0
        while not self.stop.is_set():
            choice = rng.random()
            if choice < 0.4:
                item = "load-%d-%d" % (number, placed)
                placed += 1
                text = self.request("POST", "Action=ADD", {
                    "Category": "Boats", "Item": item, "Name": "loader %d" % number, "Email": "l@example.org",
                    "Phone": "555", "Price": "1", "Password": "pw", "Desc": "x" * rng.randrange(0, 2000)})
                if "Your Ad has been Entered Successfully!" in text:
                    with self.lock:
                        self.confirmed.append(item)
            elif choice < 0.7:
                self.request("GET", "Action=ShowAll")
            else:
                self.request("POST", "Action=Getedit", {"Name": "loader %d" % rng.randrange(0, 8)})


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ads", type=int, default=100000)
    parser.add_argument("--clients", type=int, default=6)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--port", type=int, default=0, help="default: a free one")
    args = parser.parse_args()
    if not shutil.which("lighttpd"):
        print("qbadmin_under_load: lighttpd is missing (apt-get install lighttpd)")
        sys.exit(1 if os.environ.get("CI", "") not in ("", "false") else 77)
    qbadmin = os.path.join(args.build, "qbadmin")
    work = tempfile.mkdtemp(prefix="qbadmin-load-")
    site, port = os.path.join(work, "site"), args.port or free_port()
    subprocess.run([os.path.join(ROOT, "scripts/lighttpd-site"), "--dir", site, "--port", str(port), "--program",
                    os.path.join(args.build, "qbcgi"), "--banners", "n", "--fresh"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([sys.executable, os.path.join(ROOT, "bench/make_store.py"), os.path.join(site, "qb.db"),
                    str(args.ads)], check=True)
    db = sqlite3.connect(os.path.join(site, "qb.db"))
    db.execute("UPDATE QB SET Expire = '2000-01-01' WHERE ID % 333 = 0")
    db.commit()
    db.close()
    lighttpd = subprocess.Popen(["lighttpd", "-D", "-f", os.path.join(site, "lighttpd.conf")])
    failures = []

    def qb(*argv, site_dir=site, stdin=None):
        started = time.monotonic()
        done = subprocess.run([qbadmin, "--site", site_dir, *argv], input=stdin, capture_output=True)
        seconds = time.monotonic() - started
        last = (done.stdout.decode(errors="replace").strip().splitlines() or [""])[-1]
        print("%-46s %6.2f s  exit %d  %s" % (" ".join(argv)[-46:], seconds, done.returncode, last[:60]))
        if done.returncode != 0:
            failures.append("%s: exit %d: %s" % (" ".join(argv), done.returncode, done.stderr.decode()[-300:]))
        return done

    try:
        load = Load(port, args.clients)
        for _ in range(50):
            try:
                load.request("GET", "Action=ShowAll")  # the first request adds the store's indexes
                break
            except OSError:
                time.sleep(0.1)
        load.latencies.clear()
        for t in load.threads:
            t.start()
        time.sleep(2)
        export_csv, backup_db = os.path.join(work, "export.csv"), os.path.join(work, "backup.db")
        middle = str(args.ads // 2)
        qb("check")
        qb("stats")
        qb("list", "--category", "3", "--format", "csv")
        qb("list", "--seller", "Marta Quayside")
        qb("list", "--expired", "--format", "json")
        qb("show", middle)
        qb("password", middle, "--random")
        qb("password", str(args.ads // 3), stdin=b"newpw\n")
        qb("delete", "--seller", "Marta Quayside", "--yes")
        qb("delete", "1", "2", "3")
        qb("delete", "--address", "192.168.7.7", stdin=b"y\n")
        qb("purge")
        qb("export", export_csv)
        qb("backup", backup_db)
        qb("import", "--renumber", export_csv)
        time.sleep(2)
        load.stop.set()
        for t in load.threads:
            t.join()
        lat = sorted(load.latencies)
        print("load: %d requests, %d placed ads confirmed, %d error pages, latency median %.3f s, "
              "99%% %.3f s, max %.3f s" % (len(lat), len(load.confirmed), len(load.errors), lat[len(lat) // 2],
                                           lat[int(len(lat) * 0.99)], lat[-1]))
        failures += ["error page: " + e for e in load.errors[:5]]
        db = sqlite3.connect(os.path.join(site, "qb.db"))
        stored = {row[0] for row in db.execute("SELECT Item FROM QB WHERE Item LIKE 'load-%'")}
        lost = [item for item in load.confirmed if item not in stored]
        if lost:
            failures.append("%d confirmed ads are not in the store, %s among them" % (len(lost), lost[0]))
        db.close()
    finally:
        lighttpd.terminate()
        lighttpd.wait()

    # The round trip on the quiet store: export, import into a new site, compare.
    copy = os.path.join(work, "copy")
    os.mkdir(copy)
    for name in ("qbcgi.cfg", "cat.lst"):
        with open(os.path.join(site, name), "rb") as src, open(os.path.join(copy, name), "wb") as dst:
            dst.write(src.read())
    final_csv = os.path.join(work, "final.csv")
    qb("export", final_csv)
    qb("import", final_csv, site_dir=copy)
    qb("check", site_dir=copy)
    db = sqlite3.connect(os.path.join(site, "qb.db"))
    db.execute("ATTACH ? AS copy", (os.path.join(copy, "qb.db"),))
    rows = db.execute("SELECT count(*) FROM QB").fetchone()[0]
    differ = db.execute("SELECT (SELECT count(*) FROM (SELECT * FROM main.QB EXCEPT SELECT * FROM copy.QB)) + "
                        "(SELECT count(*) FROM (SELECT * FROM copy.QB EXCEPT SELECT * FROM main.QB))").fetchone()[0]
    print("round trip: %d rows, %d differ" % (rows, differ))
    if differ:
        failures.append("export and import changed %d rows" % differ)
    for failure in failures:
        print("FAILED:", failure)
    if failures:
        print("work directory, kept:", work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

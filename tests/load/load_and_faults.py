#!/usr/bin/env python3
"""Load and fault test: 8 clients place, list, update and delete ads through lighttpd while a CGI
process of the site is SIGKILLed every 0.1 s. Then every confirmed ad must be stored with its last
confirmed price (or be gone once its delete was confirmed), no ad stored that was refused with an
error page or never placed, no error page speak of a locked or busy store, no more responses be
cut than processes killed nor any go unanswered, PRAGMA integrity_check say ok, and lighttpd's log
hold no sanitizer report.

  load_and_faults.py --program PATH/TO/qbcgi [--duration S (default $QB_LOAD_SECONDS, else 45)]

Exits 77 (skipped) when lighttpd is missing, unless CI is set.
"""
import argparse, collections, contextlib, http.client, os, random, re, shutil, signal, socket
import sqlite3, subprocess, sys, tempfile, threading, time, urllib.parse, urllib.request

CATEGORIES = ["Vehicles", "Boats", "Real Estate", "Jobs", "Electronics", "Furniture", "Pets", "Miscellaneous"]
COUNTS, LOCK, ERRORS, FAILURES = collections.Counter(), threading.Lock(), [], []


def request(port, query, form=None):
    """One request, a POST when there is a form; returns (kind, text), kind one of page, error, cut, unanswered."""
    text, kind = "", "cut"
    try:  # 60 s: far beyond the store's 15 s lock wait
        with urllib.request.urlopen("http://127.0.0.1:%d/qbcgi.exe?%s" % (port, query),
                                    form and urllib.parse.urlencode(form).encode(), timeout=60) as response:
            text = response.read().decode("latin-1")
    except (OSError, http.client.HTTPException) as e:  # no answer in time, or refused, reset, not 200, cut short
        kind = "unanswered" if isinstance(e, TimeoutError) else "cut"
    error = re.search(r"internal error has occurred:\r\n<PRE>(.*?)</PRE>", text, re.S)
    if text.rstrip().lower().endswith("</html>"):
        kind = "error" if error else "page"
    with LOCK:
        COUNTS.update(["requests", kind])
        ERRORS.extend([error.group(1)] if error else [])
    return kind, text


def client(n, run, port, deadline, ads):
    """Places, lists, updates and deletes its own ads, and notes in `ads` what it was told of each."""
    rng, seller, pw = random.Random(n), "loader %s %d" % (run, n), "pw%d" % n

    def send(query, form, confirmation):  # True: confirmed, False: refused with an error page, None: cut
        kind, text = request(port, query, form)
        if kind == "page" and confirmation not in text:
            FAILURES.append("%s of %s gave another page: %s" % (query, form["Item"], text[:300]))
        return {"page": confirmation in text or None, "error": False}.get(kind)

    while time.monotonic() < deadline and not FAILURES:
        action, form = rng.choices("PLUD", [35, 30, 20, 15])[0], dict(Category=rng.choice(CATEGORIES), Phone="5")
        if action == "P":
            item = "ad-%s-%d-%d" % (run, n, len(ads))
            ad = ads[item] = {"placed": None, "prices": {"0"}, "deleted": None}
            form.update(Item=item, Price="0", Name=seller, Password=pw, Desc="x" * rng.randrange(9999))
            ad["placed"] = send("Action=ADD", form, seller + " , Your Ad has been Entered Successfully!")
        elif action == "L":
            category = rng.randrange(1, 10)
            request(port, "Action=List&Cat=%d" % category if category < 9 else "Action=ShowAll")
        else:  # update or delete one of its ads that should be stored, found by seller name
            listing = request(port, "Action=Getedit", {"Name": seller})[1]
            live = [(ad_id, item) for ad_id, item in re.findall(r'\?Action=Getpw&ID=(\d+)">([^<]*)</a>', listing)
                    if ads[item]["placed"] and ads[item]["deleted"] is None]
            if not live:
                continue
            (form["ID"], item), price = rng.choice(live), str(rng.randrange(1, 1000000))
            ad = ads[item]
            form.update(pw=pw, Item=item, Price=price, Desc="new")
            if action == "U":
                confirmed = send("Action=Update", form, item + "</i></font></h1><h1>was Updated successfully")
                ad["prices"] = {price} if confirmed else ad["prices"] | {price}
            else:
                ad["deleted"] = send("Action=Delete", form, item + "</i></font> was deleted successfully") or "maybe"


def killer(server, deadline):
    """Every 0.1 s, SIGKILLs one of the server's children, its CGI processes (not a helper one of them started)."""
    rng = random.Random(99)
    while time.monotonic() < deadline:
        time.sleep(0.1)
        with open("/proc/%d/task/%d/children" % (server, server)) as f:
            pids = [int(pid) for pid in f.read().split()]
        with LOCK, contextlib.suppress(ProcessLookupError, IndexError):
            os.kill(rng.choice(pids), signal.SIGKILL)
            COUNTS["killed"] += 1


def store_problems(db_path, ads):
    """Compares the store with what the clients were told."""
    with contextlib.closing(sqlite3.connect(db_path, timeout=30)) as conn:
        problems = [] if conn.execute("PRAGMA integrity_check").fetchall() == [("ok",)] else ["integrity_check failed"]
        stored = collections.defaultdict(list)
        for item, price in conn.execute("SELECT Item, Price FROM QB"):
            stored[item].append(price)
    for item, ad in ads.items():
        prices = stored.pop(item, [])
        if len(prices) > 1 or (prices and ad["placed"] is False):
            problems.append("%s is stored %d times (placing confirmed: %s)" % (item, len(prices), ad["placed"]))
        if ad["placed"] and ad["deleted"] != "maybe":  # else cut midway: either outcome is right
            COUNTS["ads checked"] += 1
            COUNTS["ads lost"] += not prices and not ad["deleted"]
            # lost, back after its delete was confirmed, or with a price never confirmed
            if bool(prices) == bool(ad["deleted"]) or (prices and prices[0] not in ad["prices"]):
                problems.append("%s: stored %s, deleted %s, prices %s" % (item, prices, ad["deleted"], ad["prices"]))
    return problems + ["%s is stored but no client placed it" % item for item in stored]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--duration", type=float, default=float(os.environ.get("QB_LOAD_SECONDS", "45")))
    args = parser.parse_args()
    lighttpd = os.environ.get("LIGHTTPD") or shutil.which("lighttpd") or "/usr/sbin/lighttpd"
    if not os.access(lighttpd, os.X_OK):
        print("load_and_faults: lighttpd is missing (apt-get install lighttpd)")
        return 1 if os.environ.get("CI", "") not in ("", "false") else 77
    work = tempfile.mkdtemp(prefix="qbload.")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port, site, log_path = s.getsockname()[1], os.path.join(work, "site"), os.path.join(work, "lighttpd.log")
    conf = subprocess.run([os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lighttpd-site"),
                           "--dir", site, "--port", str(port), "--program", os.path.abspath(args.program),
                           "--banners", "n", "--fresh"], check=True, capture_output=True, text=True).stdout.strip()
    with open(log_path, "wb") as log:
        server = subprocess.Popen([lighttpd, "-D", "-f", conf], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10  # wait for the server; its first page also creates the store
        while request(port, "Action=ShowAll")[0] != "page" and server.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        COUNTS.clear()
        ads, deadline, run = {}, time.monotonic() + args.duration, "%x" % int(time.time())
        threads = [threading.Thread(target=client, args=(n, run, port, deadline, ads), daemon=True) for n in range(8)]
        threads.append(threading.Thread(target=killer, args=(server.pid, deadline), daemon=True))
        for thread in threads:
            thread.start()
        for thread in threads:  # a request in flight may wait out the lock wait and the client's timeout
            thread.join(timeout=max(0.0, deadline - time.monotonic()) + 90)
    finally:
        server.terminate()
        server.wait()
    with open(log_path, "rb") as f:
        reports = len(re.findall(rb"ERROR: (?:Address|Leak)Sanitizer|runtime error:", f.read()))
    locking = [e for e in ERRORS if re.search("locked|busy", e, re.I)]
    failures = FAILURES + store_problems(os.path.join(site, "qb.db"), ads)[:20] + [message for failed, message in [
        (any(t.is_alive() for t in threads), "a client did not stop in time"),
        (locking, "%d error pages speak of a locked or busy store" % len(locking)),
        (COUNTS["unanswered"], "%d requests got no answer" % COUNTS["unanswered"]),
        (COUNTS["cut"] > COUNTS["killed"], "%(cut)d responses were cut but only %(killed)d processes killed" % COUNTS),
        (reports, "lighttpd's log holds %d sanitizer reports" % reports),
        (not COUNTS["killed"] or not COUNTS["ads checked"], "nothing was killed or no ad was confirmed")] if failed]
    print("".join("error page: %s\n" % e for e in ERRORS[:5]) + "".join("FAILED: %s\n" % f for f in failures), end="")
    print("load_and_faults: %.0f s: %s" % (args.duration, ", ".join("%s %d" % kv for kv in sorted(COUNTS.items()))))
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    print("load_and_faults: " + ("FAILED; site and lighttpd log kept in " + work if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Load and fault test: 8 clients place, list and delete ads through lighttpd while a CGI process of the site
(with --resident, every 0.5 s, one of its two resident processes, which lighttpd starts again) is SIGKILLed every
0.1 s; then the store must hold exactly the ads confirmed and not deleted (either way for those cut midway), no
error page speak of a locked or busy store, every request be answered, the store be intact and lighttpd's log hold
no sanitizer report. Exits 77 (skipped) when lighttpd is missing, unless CI is set.
  load_and_faults.py PATH/TO/qbcgi [--resident]     (runs for $QB_LOAD_SECONDS, else 45 seconds)
"""
import collections, contextlib, os, random, re, shutil, signal, socket, sqlite3, subprocess, sys
import tempfile, threading, time, urllib.parse, urllib.request

COUNTS, LOCK, ERRORS = collections.Counter(), threading.Lock(), []


def request(port, query, form=None):
    """One request, a POST when there is a form; returns (kind, text), kind page, error, cut or unanswered."""
    text, kind = "", "cut"
    try:  # 60 s: far beyond the store's 15 s wait for its turn to write
        with urllib.request.urlopen("http://127.0.0.1:%d/qbcgi.exe?%s" % (port, query),
                                    form and urllib.parse.urlencode(form).encode(), timeout=60) as response:
            text = response.read().decode("latin-1")
    except OSError as e:  # no answer in time; or refused, reset, not 200 or cut short: a killed process
        kind = "unanswered" if isinstance(e, TimeoutError) else "cut"
    error = re.search(r"internal error has occurred:\r\n<PRE>(.*?)</PRE>", text, re.S)
    if text.rstrip().lower().endswith("</html>"):
        kind = "error" if error else "page"
    with LOCK:
        COUNTS.update(["requests", kind])
        ERRORS.extend([error.group(1)] if error else [])
    return kind, text


def client(n, port, deadline, ads):
    """Places and deletes its own ads; notes in `ads` what it was told: True confirmed, False refused, None cut."""
    rng, seller, pw = random.Random(n), "loader %d" % n, "pw%d" % n
    while time.monotonic() < deadline:
        action = rng.choices("PLD", [45, 35, 20])[0]
        if action == "P":
            item = "ad-%d-%d" % (n, len(ads))
            form = dict(Item=item, Name=seller, Password=pw, Category="Boats", Desc="x" * rng.randrange(9999))
            kind, text = request(port, "Action=ADD", form)
            ads[item] = {"placed": "Entered Successfully" in text if kind == "page" else
                         {"error": False}.get(kind), "deleted": None}
        elif action == "L":
            request(port, "Action=List&Cat=%d" % rng.randrange(1, 9))
        else:  # delete one of its ads that should be stored, found by seller name
            live = [(ad_id, item) for ad_id, item in re.findall(
                r'\?Action=Getpw&ID=(\d+)">([^<]*)</a>', request(port, "Action=Getedit", {"Name": seller})[1])
                if ads[item]["placed"] and ads[item]["deleted"] is None]
            if live:
                ad_id, item = rng.choice(live)
                kind, text = request(port, "Action=Delete", dict(ID=ad_id, pw=pw, Item=item))
                ads[item]["deleted"] = "was deleted successfully" in text or ("maybe" if kind == "cut" else None)


def killer(server, deadline, every):
    """Every `every` s, SIGKILLs one of the server's children: its CGI or resident processes."""
    rng = random.Random(99)
    while time.monotonic() < deadline:
        time.sleep(every)
        with open("/proc/%d/task/%d/children" % (server, server)) as f, LOCK, \
                contextlib.suppress(IndexError, ProcessLookupError):
            os.kill(rng.choice([int(pid) for pid in f.read().split()]), signal.SIGKILL)
            COUNTS["killed"] += 1


def store_problems(db_path, ads):
    """Compares the store with what the clients were told."""
    with contextlib.closing(sqlite3.connect(db_path, timeout=30)) as conn:
        problems = [] if conn.execute("PRAGMA integrity_check").fetchall() == [("ok",)] else ["integrity_check failed"]
        stored = collections.Counter(item for (item,) in conn.execute("SELECT Item FROM QB"))
    for item, ad in ads.items():
        copies = stored.pop(item, 0)
        if ad["deleted"] == "maybe":  # a delete cut midway may have gone either way
            continue
        if ad["placed"]:
            COUNTS["ads checked"] += 1
            if copies != (0 if ad["deleted"] else 1):
                problems.append("%s: stored %d times, delete confirmed: %s" % (item, copies, ad["deleted"]))
        elif copies > (ad["placed"] is None):
            problems.append("%s is stored %d times (placing confirmed: %s)" % (item, copies, ad["placed"]))
    return problems + ["%s is stored but no client placed it" % item for item in stored]


def main():
    program, duration = os.path.abspath(sys.argv[1]), float(os.environ.get("QB_LOAD_SECONDS", "45"))
    lighttpd = os.environ.get("LIGHTTPD") or shutil.which("lighttpd") or "/usr/sbin/lighttpd"
    if not os.access(lighttpd, os.X_OK):
        print("load_and_faults: lighttpd is missing (apt-get install lighttpd)")
        return 1 if os.environ.get("CI", "") not in ("", "false") else 77
    work = tempfile.mkdtemp(prefix="qbload.")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port, site, log_path = s.getsockname()[1], os.path.join(work, "site"), os.path.join(work, "lighttpd.log")
    conf = subprocess.check_output([os.path.join(os.path.dirname(__file__), "../../scripts/lighttpd-site"), "--dir", site,
                                    "--port", str(port), "--program", program, "--fresh", *sys.argv[2:]], text=True)
    with open(log_path, "wb") as log:
        server = subprocess.Popen([lighttpd, "-D", "-f", conf.strip()], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 10  # wait for the server; its first page also creates the store
        while request(port, "Action=ShowAll")[0] != "page" and server.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        COUNTS.clear()
        ads, deadline = {}, time.monotonic() + duration
        threads = [threading.Thread(target=client, args=(n, port, deadline, ads), daemon=True) for n in range(8)]
        threads.append(threading.Thread(target=killer, args=(server.pid, deadline, 0.5 if sys.argv[2:] else 0.1), daemon=True))
        for thread in threads:
            thread.start()
        for thread in threads:  # a request in flight may wait out its turn and the client's timeout
            thread.join(timeout=max(0.0, deadline - time.monotonic()) + 90)
    finally:
        server.terminate()
        server.wait()
    with open(log_path, "rb") as f:
        reports = len(re.findall(rb"ERROR: (?:Address|Leak)Sanitizer|runtime error:", f.read()))
    locking = [e for e in ERRORS if re.search("locked|busy", e, re.I)]
    failures = store_problems(os.path.join(site, "qb.db"), ads)[:20] + [message for failed, message in [
        (any(t.is_alive() for t in threads), "a client did not stop in time"),
        (locking, "%d error pages speak of a locked or busy store" % len(locking)),
        (COUNTS["unanswered"], "%d requests got no answer" % COUNTS["unanswered"]),
        (reports, "lighttpd's log holds %d sanitizer reports" % reports),
        (not COUNTS["killed"] or not COUNTS["ads checked"], "nothing was killed or no ad was confirmed")] if failed]
    print("".join("error page: %s\n" % e for e in ERRORS[:5]) + "".join("FAILED: %s\n" % f for f in failures) +
          "load_and_faults: %.0f s: %s\n" % (duration, ", ".join("%s %d" % kv for kv in sorted(COUNTS.items()))) +
          "load_and_faults: " + ("FAILED; site and lighttpd log kept in " + work if failures else "passed"))
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

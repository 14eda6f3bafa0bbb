#!/usr/bin/env python3
"""Load and fault test: 8 clients place, list, update and delete ads through lighttpd while a CGI process of the site
(with --resident, every 0.5 s, one of its two resident processes, which lighttpd starts again) is SIGKILLed every
0.1 s; then the store must hold exactly the ads confirmed and not deleted (either way for those cut midway), no
error page speak of a locked or busy store, every request be answered, the store be intact and lighttpd's log hold
no sanitizer report. With --postgres the store is in a PostgreSQL cluster of the test's own, whose server restarts
midway instead: every request must get a page or the error page, that only during the restart, and one did. With
--crowd 32 clients work, nothing killed, and every request must get a page. Exits 77 (skipped) when lighttpd (or
PostgreSQL) is missing, unless CI is set.
  load_and_faults.py PATH/TO/qbcgi [--resident] [--postgres | --crowd]    (runs $QB_LOAD_SECONDS, else 45 seconds)
"""
import collections, contextlib, glob, math, os, random, re, shutil, signal, socket, sqlite3, subprocess, sys
import tempfile, threading, time, urllib.parse, urllib.request

COUNTS, LOCK, ERRORS, TIMES = collections.Counter(), threading.Lock(), [], []  # TIMES: (start, end, kind)
CUTS = []  # how each cut answer ended, for the report
STOP = threading.Event()  # ends the clients before their deadline
LIGHTTPD = os.environ.get("LIGHTTPD") or shutil.which("lighttpd") or "/usr/sbin/lighttpd"


def request(port, query, form=None):
    """One request, a POST when there is a form; returns (kind, text), kind page, error, cut or unanswered."""
    text, kind, start = "", "cut", time.monotonic()
    try:  # 60 s: far beyond the store's 15 s wait for its turn to write
        with urllib.request.urlopen("http://127.0.0.1:%d/qbcgi.exe?%s" % (port, query),
                                    form and urllib.parse.urlencode(form).encode(), timeout=60) as response:
            text = response.read().decode("latin-1")
    except OSError as e:  # no answer in time; or refused, reset, not 200 or cut short: a killed process
        kind, text = "unanswered" if isinstance(e, TimeoutError) else "cut", repr(e)
    error = re.search(r"internal error has occurred:\r\n<PRE>(.*?)</PRE>", text, re.S)
    if text.rstrip().lower().endswith("</html>"):
        kind = "error" if error else "page"
    with LOCK:
        if kind == "cut":
            took = time.monotonic() - start
            CUTS.append("%s after %.1f s: %d bytes ending %r" % (query, took, len(text), text[-120:]))
        COUNTS.update(["requests", kind])
        ERRORS.extend([error.group(1)] if error else [])
        TIMES.append((start, time.monotonic(), kind))
    return kind, text


def client(n, port, deadline, ads):
    """Places, updates and deletes its own ads; notes in `ads` what it was told of each Item: placed True
    (confirmed), False (refused) or None (cut), deleted (or updated to another Item) True, None or "maybe" (cut)."""
    rng, seller, pw = random.Random(n), "loader %d" % n, "pw%d" % n
    while time.monotonic() < deadline and not STOP.is_set():
        action = rng.choices("PLDU", [40, 30, 15, 15])[0]
        if action == "P":
            item = "ad-%d-%d" % (n, len(ads))
            form = dict(Item=item, Name=seller, Password=pw, Category="Boats", Desc="x" * rng.randrange(9999))
            kind, text = request(port, "Action=ADD", form)
            ads[item] = {"placed": "Entered Successfully" in text if kind == "page" else
                         {"error": False}.get(kind), "deleted": None}
        elif action == "L":
            request(port, "Action=List&Cat=%d" % rng.randrange(1, 9))
        else:  # delete one of its ads that should be stored, found by seller name, or give it a new Item
            live = [(ad_id, item) for ad_id, item in re.findall(
                r'\?Action=Getpw&ID=(\d+)">([^<]*)</a>', request(port, "Action=Getedit", {"Name": seller})[1])
                if ads[item]["placed"] and ads[item]["deleted"] is None]
            if live and action == "D":
                ad_id, item = rng.choice(live)
                kind, text = request(port, "Action=Delete", dict(ID=ad_id, pw=pw, Item=item))
                ads[item]["deleted"] = "was deleted successfully" in text or ("maybe" if kind == "cut" else None)
            elif live:
                ad_id, item = rng.choice(live)
                form = dict(ID=ad_id, pw=pw, Item=item + "u", Category="Pets", Desc="y" * rng.randrange(9999))
                kind, text = request(port, "Action=Update", form)
                done = "was Updated successfully" in text or ("maybe" if kind == "cut" else None)
                ads[item]["deleted"] = done
                ads[item + "u"] = {"placed": None if done == "maybe" else bool(done), "deleted": None}


def killer(server, deadline, every):
    """Every `every` s, SIGKILLs one of the server's children: its CGI or resident processes."""
    rng = random.Random(99)
    while time.monotonic() < deadline:
        time.sleep(every)
        with open("/proc/%d/task/%d/children" % (server, server)) as f, LOCK, \
                contextlib.suppress(IndexError, ProcessLookupError):
            os.kill(rng.choice([int(pid) for pid in f.read().split()]), signal.SIGKILL)
            COUNTS["killed"] += 1


def restarter(ctl, deadline, window):
    """Halfway to the deadline, restarts the PostgreSQL server; notes when the restart began and ended."""
    time.sleep((deadline - time.monotonic()) / 2)
    window.append(time.monotonic())
    subprocess.run(ctl + ["-m", "fast", "-w", "restart"], check=True, stdout=subprocess.DEVNULL)
    window.append(time.monotonic())


def store_problems(db_path, ads, psql=None):
    """Compares the store (qb.db, or the PostgreSQL database psql reaches) with what the clients were told."""
    if psql:
        problems = []
        stored = collections.Counter(subprocess.run(psql + ["-Atc", "SELECT encode(item, 'escape') FROM qb"],
                                                    stdout=subprocess.PIPE, text=True).stdout.splitlines())
    else:
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


def serve(program, work, resident=False, prepare=None):
    """Lays out work/site, runs prepare(site), serves it with lighttpd; returns (server, port, site, log)."""
    os.makedirs(work, exist_ok=True)
    with socket.socket() as s:
        s.bind(("127.0.0.1", int(os.environ.get("QB_PORT", "0"))))  # $QB_PORT, or a free port
        port, site, log_path = s.getsockname()[1], os.path.join(work, "site"), os.path.join(work, "lighttpd.log")
    conf = subprocess.check_output([os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts",
                                                 "lighttpd-site"), "--dir", site, "--port", str(port), "--program",
                                    program, "--fresh", *["--resident"] * resident], text=True)
    if prepare:
        prepare(site)
    # Its clients place far more ads than an address may place in an hour: the
    # operator exempts their address, as the site's own tool does it.
    subprocess.run([os.path.join(os.path.dirname(program), "qbadmin"), "--site", site, "limits", "--exempt",
                    "127.0.0.1"], check=True, stdout=subprocess.DEVNULL)
    with open(log_path, "wb") as log:
        server = subprocess.Popen([LIGHTTPD, "-D", "-f", conf.strip()], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    deadline = time.monotonic() + 10  # its first page also creates the store, or adds its indexes
    while request(port, "Action=ShowAll")[0] != "page" and server.poll() is None and time.monotonic() < deadline:
        time.sleep(0.1)
    with LOCK:  # refusals before lighttpd listens are not answers of the load
        COUNTS.clear()
        del TIMES[:], ERRORS[:], CUTS[:]
    return server, port, site, log_path


def main():
    program, duration = os.path.abspath(sys.argv[1]), float(os.environ.get("QB_LOAD_SECONDS", "45"))
    resident, postgres, crowd = "--resident" in sys.argv[2:], "--postgres" in sys.argv[2:], "--crowd" in sys.argv[2:]
    pg_bin = (sorted(glob.glob("/usr/lib/postgresql/*/bin")) or [""])[-1]
    if not os.access(LIGHTTPD, os.X_OK) or (postgres and not pg_bin):
        print("load_and_faults: lighttpd or PostgreSQL is missing (apt-get install lighttpd postgresql)")
        return 1 if os.environ.get("CI", "") not in ("", "false") else 77
    work, here = tempfile.mkdtemp(prefix="qbload."), os.path.dirname(os.path.abspath(__file__))
    pg, window = os.path.join(work, "pg"), []

    def use_postgres(site):  # a cluster of its own, whose server runs as nobody when the test runs as root
        os.chmod(work, 0o755)
        subprocess.run([os.path.join(here, "../support/test_postgres.sh"), "start", pg], check=True)
        with open(os.path.join(site, "qbcgi.cfg"), "a") as f:
            f.write("host=%s user=qb dbname=postgres\n" % pg)
    server, port, site, log_path = serve(program, work, resident, use_postgres if postgres else None)
    try:
        ads, deadline = {}, time.monotonic() + duration
        threads = [threading.Thread(target=client, args=(n, port, deadline, ads), daemon=True)
                   for n in range(32 if crowd else 8)]
        ctl = ["runuser", "-u", "nobody", "--"] * (os.getuid() == 0) + [pg_bin + "/pg_ctl", "-D", pg + "/data"]
        threads += [] if crowd else [
            threading.Thread(target=restarter, args=(ctl, deadline, window), daemon=True) if postgres else
            threading.Thread(target=killer, args=(server.pid, deadline, 0.5 if resident else 0.1), daemon=True)]
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
    failures = [message for failed, message in [
        (any(t.is_alive() for t in threads), "a client did not stop in time"),
        (locking, "%d error pages speak of a locked or busy store" % len(locking)),
        (COUNTS["unanswered"], "%d requests got no answer" % COUNTS["unanswered"]),
        (reports, "lighttpd's log holds %d sanitizer reports" % reports)] if failed]
    if postgres:  # every request got a page or the error page, the error page only while the server restarted
        failures += store_problems(None, ads, [pg_bin + "/psql", "-X", "host=%s user=qb dbname=postgres" % pg])[:20]
        began, ended = window if len(window) == 2 else (math.inf, math.inf)
        before = [kind for start, end, kind in TIMES if end < began]
        after = [kind for start, end, kind in TIMES if start > ended]
        failures += [message for failed, message in [
            (COUNTS["cut"], "%d requests got neither a page nor the error page" % COUNTS["cut"]),
            (COUNTS["error"] == before.count("error") + after.count("error"), "no restart, or no request met it"),
            ("error" in before + after, "%d error pages while the server was up" % (before + after).count("error")),
            ("page" not in after, "no page after the restart")] if failed]
        if failures:
            shutil.copy(os.path.join(pg, "server.log"), work)
        subprocess.run([os.path.join(here, "../support/test_postgres.sh"), "stop", pg])
    else:
        failures += store_problems(os.path.join(site, "qb.db"), ads)[:20]
        failures += ["nothing was killed"] * (not COUNTS["killed"] and not crowd)
        failures += ["%d error pages, %d answers cut" % (COUNTS["error"], COUNTS["cut"])] * bool(
            crowd and COUNTS["error"] + COUNTS["cut"])
    failures += ["no ad was confirmed"] * (not COUNTS["ads checked"])
    print("".join("error page: %s\n" % e for e in ERRORS[:5]) + "".join("cut: %s\n" % c for c in CUTS[:5]) +
          "".join("FAILED: %s\n" % f for f in failures) +
          "load_and_faults: %.0f s: %s\n" % (duration, ", ".join("%s %d" % kv for kv in sorted(COUNTS.items()))) +
          "load_and_faults: " + ("FAILED; site and logs kept in " + work if failures else "passed"))
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

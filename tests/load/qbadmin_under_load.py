#!/usr/bin/env python3
"""Runs every qbadmin command on a large site while load_and_faults.py's clients work through lighttpd. Exits 1
when a command does not exit 0, a request gets the error page or no page, an ad whose placing or change was
confirmed is not stored, or the final store exported and imported into a new store differs (the work directory is
then kept); 77 (skipped) without lighttpd, unless CI is set.   qbadmin_under_load.py PATH/TO/BUILD [--ads 100000]
"""
import os, sqlite3, shutil, subprocess, sys, tempfile, threading, time

from load_and_faults import COUNTS, CUTS, ERRORS, LIGHTTPD, STOP, client, serve

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def main():
    build = os.path.abspath(sys.argv[1])
    ads_made = int(sys.argv[sys.argv.index("--ads") + 1]) if "--ads" in sys.argv else 100000
    if not os.access(LIGHTTPD, os.X_OK):
        print("qbadmin_under_load: lighttpd is missing (apt-get install lighttpd)")
        return 1 if os.environ.get("CI", "") not in ("", "false") else 77
    work, failures, ads = tempfile.mkdtemp(prefix="qbadmin-load-"), [], {}
    site, copy = os.path.join(work, "site"), os.path.join(work, "copy")

    def make_store(site):  # 1 ad in 333 expired, for the purge
        subprocess.run([sys.executable, os.path.join(ROOT, "bench/make_store.py"), os.path.join(site, "qb.db"),
                        str(ads_made)], check=True)
        with sqlite3.connect(os.path.join(site, "qb.db")) as db:
            db.execute("UPDATE QB SET Expire = '2000-01-01' WHERE ID % 333 = 0")

    def qb(*argv, site_dir=site, stdin=None):
        started = time.monotonic()
        done = subprocess.run([os.path.join(build, "qbadmin"), "--site", site_dir, *argv], input=stdin,
                              capture_output=True)
        last = (done.stdout.decode(errors="replace").strip().splitlines() or [""])[-1][:60]
        print("%-46s %6.2f s  exit %d  %s" % (" ".join(argv)[-46:], time.monotonic() - started, done.returncode, last))
        if done.returncode != 0:
            failures.append("%s: exit %d: %s" % (" ".join(argv), done.returncode, done.stderr.decode()[-300:]))

    server, port, site, _ = serve(os.path.join(build, "qbcgi"), work, prepare=make_store)
    clients = [threading.Thread(target=client, args=(n, port, float("inf"), ads)) for n in range(6)]
    try:
        for t in clients:
            t.start()
        time.sleep(2)
        export_csv, middle, marta = os.path.join(work, "export.csv"), str(ads_made // 2), "Marta Quayside"
        for argv in [["check"], ["stats"], ["list", "--category", "3", "--format", "csv"], ["list", "--seller", marta],
                     ["list", "--expired", "--format", "json"], ["show", middle], ["password", middle, "--random"],
                     ["delete", "--seller", marta, "--yes"], ["delete", "1", "2", "3"], ["purge"],
                     ["export", export_csv], ["backup", os.path.join(work, "backup.db")],
                     ["import", "--renumber", export_csv]]:
            qb(*argv)
        qb("password", str(ads_made // 3), stdin=b"newpw\n")
        qb("delete", "--address", "192.168.7.7", stdin=b"y\n")
        time.sleep(2)
    finally:
        STOP.set()
        for t in clients:
            t.join()
        server.terminate()
        server.wait()
    with sqlite3.connect(os.path.join(site, "qb.db")) as db:
        stored = {item for (item,) in db.execute("SELECT Item FROM QB")}
    failures += ["%s: confirmed, not stored" % item for item, ad in ads.items()
                 if ad["placed"] and ad["deleted"] is None and item not in stored][:5]
    failures += ["%d error pages (%s), %d answers cut %s" % (COUNTS["error"], ERRORS[:1], COUNTS["cut"],
                                                             CUTS[:3])] * bool(
        COUNTS["error"] + COUNTS["cut"] + COUNTS["unanswered"])
    failures += ["no ad was confirmed"] * (not any(ad["placed"] for ad in ads.values()))
    print("clients: " + ", ".join("%s %d" % kv for kv in sorted(COUNTS.items())))

    # The round trip on the quiet store: export, import into a new site, compare.
    os.mkdir(copy)
    for name in ("qbcgi.cfg", "cat.lst", "qbban.cfg"):
        shutil.copy(os.path.join(site, name), copy)
    qb("export", os.path.join(work, "final.csv"))
    qb("import", os.path.join(work, "final.csv"), site_dir=copy)
    qb("check", site_dir=copy)
    with sqlite3.connect(os.path.join(site, "qb.db")) as db:
        db.execute("ATTACH ? AS copy", (os.path.join(copy, "qb.db"),))
        differ = db.execute("SELECT (SELECT count(*) FROM (SELECT * FROM main.QB EXCEPT SELECT * FROM copy.QB)) + "
                            "(SELECT count(*) FROM (SELECT * FROM copy.QB EXCEPT SELECT * FROM main.QB))").fetchone()[0]
    failures += ["export and import changed %d rows" % differ] * bool(differ)
    print("".join("FAILED: %s\n" % f for f in failures) + ("work directory kept: " + work if failures else "passed"))
    if not failures:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

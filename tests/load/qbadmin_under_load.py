#!/usr/bin/env python3
"""Runs every qbadmin command on a large site while clients place and edit ads through lighttpd.

Clients place ads, and sellers place, look up, update and delete their own (as in writer_flood.py), while each
command runs once. Category pages are left out of the load, since they purge and the purge command is to find
the expired ads (1 in 333). Exits 1 when a command does not exit 0, the clients' work fails as writer_flood.py
checks it (an error page, a confirmed change not stored), or the final store exported and imported into a new
store differs (the work directory is then kept); exits 77 (skipped) without lighttpd, unless CI is set.
    qbadmin_under_load.py [--ads 100000] [--clients 6] [--build DIR] [--port N]
"""
import argparse, os, shutil, sqlite3, subprocess, sys, tempfile, threading, time

from writer_flood import ROOT, Flood, free_port, problems, run_threads, served, skip_without_lighttpd


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--ads", type=int, default=100000)
    parser.add_argument("--clients", type=int, default=6)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--port", type=int, default=0, help="default: a free one")
    args = parser.parse_args()
    skip_without_lighttpd("qbadmin_under_load")
    qbadmin = os.path.join(args.build, "qbadmin")
    work = tempfile.mkdtemp(prefix="qbadmin-load-")
    site, port, failures = os.path.join(work, "site"), args.port or free_port(), []

    def make_store(site):
        subprocess.run([sys.executable, os.path.join(ROOT, "bench/make_store.py"), os.path.join(site, "qb.db"),
                        str(args.ads)], check=True)
        with sqlite3.connect(os.path.join(site, "qb.db")) as db:
            db.execute("UPDATE QB SET Expire = '2000-01-01' WHERE ID % 333 = 0")

    def qb(*argv, site_dir=site, stdin=None):
        started = time.monotonic()
        done = subprocess.run([qbadmin, "--site", site_dir, *argv], input=stdin, capture_output=True)
        last = (done.stdout.decode(errors="replace").strip().splitlines() or [""])[-1]
        print("%-46s %6.2f s  exit %d  %s" % (" ".join(argv)[-46:], time.monotonic() - started, done.returncode,
                                               last[:60]))
        if done.returncode != 0:
            failures.append("%s: exit %d: %s" % (" ".join(argv), done.returncode, done.stderr.decode()[-300:]))

    with served(os.path.join(args.build, "qbcgi"), site, port, make_store):
        flood = Flood(port, float("inf"))
        clients = threading.Thread(target=run_threads, args=(
            [threading.Thread(target=flood.placer, args=(n,)) for n in range(args.clients - args.clients // 2)] +
            [threading.Thread(target=flood.editor, args=(n,)) for n in range(args.clients // 2)],))
        clients.start()
        time.sleep(2)
        export_csv, backup_db, middle = os.path.join(work, "export.csv"), os.path.join(work, "backup.db"), args.ads // 2
        for argv, stdin in [(["check"], None), (["stats"], None), (["list", "--category", "3", "--format", "csv"], None),
                            (["list", "--seller", "Marta Quayside"], None), (["list", "--expired", "--format", "json"], None),
                            (["show", str(middle)], None), (["password", str(middle), "--random"], None),
                            (["password", str(args.ads // 3)], b"newpw\n"),
                            (["delete", "--seller", "Marta Quayside", "--yes"], None), (["delete", "1", "2", "3"], None),
                            (["delete", "--address", "192.168.7.7"], b"y\n"), (["purge"], None),
                            (["export", export_csv], None), (["backup", backup_db], None),
                            (["import", "--renumber", export_csv], None)]:
            qb(*argv, stdin=stdin)
        time.sleep(2)
        flood.deadline = 0
        clients.join()
    failures += problems(flood, os.path.join(site, "qb.db"))
    print("clients: " + ", ".join("%s %d" % kv for kv in sorted(flood.counts.items())))

    # The round trip on the quiet store: export, import into a new site, compare.
    copy, final_csv = os.path.join(work, "copy"), os.path.join(work, "final.csv")
    os.mkdir(copy)
    for name in ("qbcgi.cfg", "cat.lst"):
        shutil.copy(os.path.join(site, name), copy)
    qb("export", final_csv)
    qb("import", final_csv, site_dir=copy)
    qb("check", site_dir=copy)
    with sqlite3.connect(os.path.join(site, "qb.db")) as db:
        db.execute("ATTACH ? AS copy", (os.path.join(copy, "qb.db"),))
        differ = db.execute("SELECT (SELECT count(*) FROM (SELECT * FROM main.QB EXCEPT SELECT * FROM copy.QB)) + "
                            "(SELECT count(*) FROM (SELECT * FROM copy.QB EXCEPT SELECT * FROM main.QB))").fetchone()[0]
    failures += ["export and import changed %d rows" % differ] if differ else []
    for failure in failures:
        print("FAILED:", failure)
    if failures:
        print("work directory, kept:", work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

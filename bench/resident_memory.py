#!/usr/bin/env python3
"""Memory of the resident program over many requests: serves a site with the program resident behind
lighttpd (eight processes), sends it N requests of mixed pages (main page, category index and listing, all
ads, new-ad form, seller lookup, edit page, placing an ad, a wrong password, error pages) from two clients,
and prints the resident set size (VmRSS) of each program process every tenth of the way. The first part
of the way fills SQLite's page cache (2 MiB at most per process) as the store grows; the run fails when a
request gets no page, or when a process's RSS grows by more than 256 KiB over the second half.

    bench/resident_memory.py PATH/TO/qbcgi [REQUESTS]     (default 100000)
"""
import http.client, os, shutil, socket, subprocess, sys, tempfile, threading, time, urllib.parse

PAGES = [
    ("GET", "action=Main", None), ("GET", "action=Show", None), ("GET", "Action=List&Cat=2", None),
    ("GET", "action=ShowAll", None), ("GET", "action=NewItem", None),
    ("POST", "Action=Getedit", "Name=Memory+Tester"), ("POST", "Action=Edit", "ID=1&pw=memory"),
    ("POST", "Action=Edit", "ID=1&pw=wrong"), ("GET", "Action=List&Cat=9", None), ("GET", "action=Main&x=%", None),
]
ADD = ("POST", "Action=ADD", urllib.parse.urlencode(dict(
    Item="Memory test", Name="Memory Tester", Password="memory", Category="Boats", Desc="x" * 2000)))


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def client(port, count, offset, failures):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    for i in range(count):
        method, query, body = ADD if (i + offset) % 50 == 0 else PAGES[(i + offset) % len(PAGES)]
        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body else {}
        conn.request(method, "/qbcgi.exe?" + query, body, headers)
        text = conn.getresponse().read()
        if not text.rstrip().lower().endswith(b"</html>"):
            failures.append("%s %s: %r" % (method, query, text[-200:]))


def main():
    program, total = os.path.abspath(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    work = tempfile.mkdtemp(prefix="qbmemory.")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    site = os.path.join(work, "site")
    conf = subprocess.check_output([os.path.join(os.path.dirname(__file__), "../scripts/lighttpd-site"), "--dir", site,
                                    "--port", str(port), "--program", program, "--fresh", "--resident"], text=True)
    server = subprocess.Popen(["lighttpd", "-D", "-f", conf.strip()], stdin=subprocess.DEVNULL,
                              stderr=open(os.path.join(work, "lighttpd.log"), "wb"))
    failures, rows = [], []
    try:
        time.sleep(1)
        client(port, 1, 0, failures)  # the first ad, which the edit page shows
        pids = [int(p) for p in subprocess.check_output(["pgrep", "-f", os.path.join(site, "qbcgi.exe")]).split()]
        step = total // 10
        for tenth in range(11):
            rows.append((tenth * step, [rss_kib(pid) for pid in pids]))
            if tenth == 10:
                break
            threads = [threading.Thread(target=client, args=(port, step // 2, tenth * step + k, failures))
                       for k in range(2)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
    finally:
        server.terminate()
        server.wait()
    print("requests | " + " | ".join("RSS KiB, process %d" % (i + 1) for i in range(len(rows[0][1]))))
    for done, sizes in rows:
        print("%d | %s" % (done, " | ".join(str(s) for s in sizes)))
    growth = [end - half for end, half in zip(rows[-1][1], rows[5][1])]
    print("growth over the second half, KiB: %s" % growth)
    for f in failures[:5]:
        print("FAILED: " + f)
    ok = not failures and all(g <= 256 for g in growth)
    print("resident_memory: " + ("passed" if ok else "FAILED; work kept in " + work))
    if ok:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

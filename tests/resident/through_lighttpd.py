#!/usr/bin/env python3
"""The program resident behind lighttpd (the processes it starts) writes the pages it writes as CGI, error page
included, and logs; a store replaced, deleted or made read-only under it is found by the next request as a new
process would find it; a listing is answered while writers wait for the store; nothing but the program and the
banner images is served from the site directory; large bodies, read or not, are read to their end before the
connection closes, so lighttpd logs no broken connection. Exits 77 (skipped) without lighttpd, unless CI is set.
Usage: through_lighttpd.py QBCGI"""
import concurrent.futures, contextlib, grp, http.client, os, pwd, shutil, socket, sqlite3, struct, subprocess, sys
import tempfile, time, urllib.error, urllib.parse, urllib.request

FAILURES = []
check = lambda what, ok: ok or FAILURES.append(what)  # noqa: E731


def fetch(port, query, form=None):
    data = form and urllib.parse.urlencode(form).encode()
    with urllib.request.urlopen("http://127.0.0.1:%d/qbcgi.exe?%s" % (port, query), data, timeout=30) as response:
        return response.read()


def status(port, name):
    try:
        return urllib.request.urlopen("http://127.0.0.1:%d/%s" % (port, name), timeout=30).status
    except urllib.error.HTTPError as error:
        return error.code


def large(port, method, body):
    """A request with a large body; true when the page came (a refusal for the ADD, the main page for the PUT)."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    try:
        conn.request(method, "/qbcgi.exe?action=Main", body, {"Content-Type": "application/x-www-form-urlencoded"})
        return b"</HTML>" in conn.getresponse().read().upper()
    except (OSError, http.client.HTTPException):
        return False
    finally:
        conn.close()


def as_cgi(site, query):
    """The page the program writes as a CGI process on a file (where an error page replaces what came before)."""
    env = dict(REQUEST_METHOD="GET", QUERY_STRING=query, SCRIPT_NAME="/qbcgi.exe", REMOTE_ADDR="127.0.0.1")
    with tempfile.TemporaryFile() as out:
        subprocess.run([os.path.join(site, "qbcgi.exe")], env=env, stdout=out, stderr=subprocess.DEVNULL, check=True)
        return os.pread(out.fileno(), 1 << 20, 0).split(b"\n\n", 1)[1]


def main():
    lighttpd = os.environ.get("LIGHTTPD") or shutil.which("lighttpd") or "/usr/sbin/lighttpd"
    if not os.access(lighttpd, os.X_OK):
        print("through_lighttpd: lighttpd is missing (apt-get install lighttpd)")
        return 1 if os.environ.get("CI", "") not in ("", "false") else 77
    work = tempfile.mkdtemp(prefix="qbresident.")
    site, store = os.path.join(work, "site"), os.path.join(work, "site", "qb.db")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    conf = subprocess.check_output([os.path.join(os.path.dirname(__file__), "../../scripts/lighttpd-site"), "--dir", site,
                                    "--port", str(port), "--program", os.path.abspath(sys.argv[1]), "--fresh",
                                    "--banners", "n", "--resident"], text=True).strip()
    if os.getuid() == 0:  # a web server's user, to whom a read-only file is read-only
        nobody = pwd.getpwnam("nobody")
        os.chmod(work, 0o755)
        for path in [site] + [os.path.join(site, f) for f in os.listdir(site)]:
            os.chown(path, nobody.pw_uid, nobody.pw_gid)
        with open(conf, "a") as f:
            f.write('server.username = "nobody"\nserver.groupname = "%s"\n' % grp.getgrgid(nobody.pw_gid).gr_name)
    server = subprocess.Popen([lighttpd, "-D", "-f", conf], stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    ad = dict(Item="Blue kayak", Name="Ann", Password="pw1", Category="Boats", Desc="Fast")
    try:
        deadline = time.monotonic() + 10  # until lighttpd listens
        while socket.socket().connect_ex(("127.0.0.1", port)) and time.monotonic() < deadline:
            time.sleep(0.1)
        check("the main page differs from the CGI one", fetch(port, "action=Main") == as_cgi(site, "action=Main"))
        check("an ad was not placed", b"Entered Successfully" in fetch(port, "Action=ADD", ad))
        check("the ad is not listed", b"Blue kayak" in fetch(port, "Action=List&Cat=2"))
        check("the error page differs", fetch(port, "Action=List&Cat=9") == as_cgi(site, "Action=List&Cat=9"))
        # Another store takes the place of the one the processes have open; then none is there; then a read-only one.
        with contextlib.closing(sqlite3.connect(shutil.copy(store, store + ".new"))) as other, other:
            other.execute("UPDATE QB SET Item = 'Red canoe'")
        os.replace(store + ".new", store)
        pages = [fetch(port, "action=ShowAll") for _ in range(2)]  # both processes, most likely
        check("the replaced store is not the one read", all(b"Red canoe" in p and b"Blue kayak" not in p for p in pages))
        os.remove(store)
        check("a deleted store is still read", b"Red canoe" not in fetch(port, "action=ShowAll") and os.path.exists(store))
        os.chmod(store, 0o444)
        check("a read-only store took an ad", b"attempt to write a readonly database" in fetch(port, "Action=ADD", ad))
        os.chmod(store, 0o644)
        check("a writable store again took no ad", b"Entered Successfully" in fetch(port, "Action=ADD", ad))
        # Four writers wait for the store another connection holds for writing (as an import does): each holds a
        # process until its turn, and a listing must still be answered by another.
        tickets = lambda: struct.unpack("=Q", open(store + ".lock", "rb").read(8))[0]  # noqa: E731
        with contextlib.closing(sqlite3.connect(store, isolation_level=None)) as holder, \
                concurrent.futures.ThreadPoolExecutor(4) as pool:
            holder.execute("BEGIN IMMEDIATE")
            first, deadline = tickets(), time.monotonic() + 5
            placing = [pool.submit(fetch, port, "Action=ADD", ad) for _ in range(4)]
            while tickets() < first + 4 and time.monotonic() < deadline:  # until all four have queued
                time.sleep(0.05)
            start = time.monotonic()
            check("a listing waited behind writers", b"Blue kayak" in fetch(port, "Action=List&Cat=2") and
                  time.monotonic() - start < 3)
            holder.execute("ROLLBACK")
        check("a waiting writer placed no ad", all(b"Entered Successfully" in p.result() for p in placing))
        stray = ("ads.csv", "qb.db.bak", "qbcgi.cfg.bak", "qbcgi.cfg~", "cat.lst.orig", "a.save", ".a.swp", "a.part")
        for name in stray:
            open(os.path.join(site, name), "w").close()
        check("a file left in the site is served", all(status(port, name) == 403 for name in stray + ("qb.db",)))
        check("a banner image is not served", status(port, "banners/harbour.svg") == 200)
        # An ADD whose description is far too long (refused; its body read whole) and a PUT the page does not read.
        calls = [("POST", b"Action=ADD&Password=pw&Desc=" + b"d" * 500000), ("PUT", b"x" * 500000)] * 40
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            check("a large request got no page", all(pool.map(lambda call: large(port, *call), calls)))
        # A page that goes out in several records of the largest size, and a part of one.
        with contextlib.closing(sqlite3.connect(store)) as db, db:
            db.execute("UPDATE QB SET Desc = ?", ("waves " * 25000,))
        page = fetch(port, "action=ShowAll")
        check("a page of several records differs", len(page) > 3 * 65535 and page == as_cgi(site, "action=ShowAll"))
    finally:
        server.terminate()
        log = server.communicate(timeout=30)[1].decode(errors="replace")
    check("the error page was not logged", "error 9: Subscript out of range: there is no category 9" in log)
    check("a connection closed with the request unread", "perhaps the gw process died" not in log)
    print(log + "".join("FAILED: %s\n" % f for f in FAILURES) +
          "through_lighttpd: " + ("FAILED; site kept in " + work if FAILURES else "passed"))
    FAILURES or shutil.rmtree(work, ignore_errors=True)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())

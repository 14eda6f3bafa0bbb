#!/usr/bin/env python3
"""The program resident behind lighttpd (fastcgi.server, two processes it starts): its pages are byte for byte
those the program writes as CGI, error page included, and a store replaced, deleted or made read-only under
the running processes is found by the next request as a new process would find it. Exits 77 (skipped) when
lighttpd is missing, unless CI is set.
  through_lighttpd.py PATH/TO/qbcgi
"""
import grp, os, pwd, shutil, socket, subprocess, sys, tempfile, time, urllib.error, urllib.parse, urllib.request

FAILURES = []


def check(what, ok):
    if not ok:
        FAILURES.append(what)


def fetch(port, query, form=None):
    """The page lighttpd answers, as bytes (an error page comes with status 200 too)."""
    data = form and urllib.parse.urlencode(form).encode()
    with urllib.request.urlopen("http://127.0.0.1:%d/qbcgi.exe?%s" % (port, query), data, timeout=30) as response:
        return response.read()


def as_cgi(site, query, form=None):
    """The page body the program writes for the same request run as a CGI process, on a file as a held response."""
    body = urllib.parse.urlencode(form or {}).encode()
    env = dict(REQUEST_METHOD="POST" if form else "GET", QUERY_STRING=query, SCRIPT_NAME="/qbcgi.exe",
               REMOTE_ADDR="127.0.0.1", CONTENT_TYPE="application/x-www-form-urlencoded", CONTENT_LENGTH=str(len(body)))
    with tempfile.TemporaryFile() as out:
        subprocess.run([os.path.join(site, "qbcgi.exe")], input=body, env=env, stdout=out, stderr=subprocess.DEVNULL,
                       check=True)
        out.seek(0)
        return out.read().split(b"\n\n", 1)[1]


def main():
    program = os.path.abspath(sys.argv[1])
    lighttpd = os.environ.get("LIGHTTPD") or shutil.which("lighttpd") or "/usr/sbin/lighttpd"
    if not os.access(lighttpd, os.X_OK):
        print("through_lighttpd: lighttpd is missing (apt-get install lighttpd)")
        return 1 if os.environ.get("CI", "") not in ("", "false") else 77
    work = tempfile.mkdtemp(prefix="qbresident.")
    site, spare = os.path.join(work, "site"), os.path.join(work, "spare")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    lay_out = [os.path.join(os.path.dirname(__file__), "../../scripts/lighttpd-site"), "--port", str(port),
               "--program", program, "--fresh", "--banners", "n"]
    conf = subprocess.check_output(lay_out + ["--dir", site, "--resident"], text=True).strip()
    subprocess.check_output(lay_out + ["--dir", spare])
    if os.getuid() == 0:  # a web server's user, to whom a read-only file is read-only
        nobody = pwd.getpwnam("nobody")
        os.chmod(work, 0o755)
        for path in [site] + [os.path.join(site, f) for f in os.listdir(site)]:
            os.chown(path, nobody.pw_uid, nobody.pw_gid)
        with open(conf, "a") as f:
            f.write('server.username = "nobody"\nserver.groupname = "%s"\n' % grp.getgrgid(nobody.pw_gid).gr_name)
    server = subprocess.Popen([lighttpd, "-D", "-f", conf], stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        main_page = None
        for _ in range(100):
            try:
                main_page = fetch(port, "action=Main")
                break
            except OSError:
                time.sleep(0.1)
        check("the main page differs from the CGI one", main_page == as_cgi(site, "action=Main"))
        ad = dict(Item="Blue kayak", Name="Ann", Password="pw1", Category="Boats", Desc="Fast")
        check("an ad was not placed", b"Entered Successfully" in fetch(port, "Action=ADD", ad))
        check("the ad is not listed", b"Blue kayak" in fetch(port, "Action=List&Cat=2"))
        check("the error page differs from the CGI one",
              fetch(port, "Action=List&Cat=9") == as_cgi(site, "Action=List&Cat=9"))
        # Another store takes the place of the one the processes have open, then none is there.
        as_cgi(spare, "Action=ADD", dict(ad, Item="Red canoe"))
        shutil.copy(os.path.join(spare, "qb.db"), os.path.join(site, "qb.db.new"))
        os.replace(os.path.join(site, "qb.db.new"), os.path.join(site, "qb.db"))
        for _ in range(2):  # both processes
            page = fetch(port, "action=ShowAll")
            check("the replaced store is not the one read", b"Red canoe" in page and b"Blue kayak" not in page)
        os.remove(os.path.join(site, "qb.db"))
        for _ in range(2):
            check("a deleted store is still read", b"Red canoe" not in fetch(port, "action=ShowAll"))
        check("no new store was made", os.path.exists(os.path.join(site, "qb.db")))
        os.chmod(os.path.join(site, "qb.db"), 0o444)
        for _ in range(2):
            check("an ad was placed in a read-only store",
                  b"attempt to write a readonly database" in fetch(port, "Action=ADD", ad))
        os.chmod(os.path.join(site, "qb.db"), 0o644)
        check("a writable store again took no ad", b"Entered Successfully" in fetch(port, "Action=ADD", ad))
    finally:
        server.terminate()
        log = server.communicate(timeout=30)[1].decode(errors="replace")
    check("the error page was not logged", "error 9: Subscript out of range: there is no category 9" in log)
    print(log + "".join("FAILED: %s\n" % f for f in FAILURES) +
          "through_lighttpd: " + ("FAILED; site kept in " + work if FAILURES else "passed"))
    if not FAILURES:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())

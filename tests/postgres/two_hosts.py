#!/usr/bin/env python3
"""Two web hosts, one store: two sites whose qbcgi.cfg name the same PostgreSQL database, served by two lighttpd
instances (A runs the program as CGI, B resident). An ad placed on A is found, unlocked, updated and deleted on B,
and A sees each change; wrong passwords tried on both count toward one guessing limit. Exits 77 (skipped) without
lighttpd or PostgreSQL, unless CI is set.  Usage: two_hosts.py QBCGI CONNINFO  (a cluster that user qb may use)"""
import glob, os, re, shutil, subprocess, sys, tempfile, urllib.parse, urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "load"))
from load_and_faults import serve  # noqa: E402

FAILURES = []
check = lambda what, ok: ok or FAILURES.append(what)  # noqa: E731


def fetch(port, query, form=None):
    data = form and urllib.parse.urlencode(form).encode()
    with urllib.request.urlopen("http://127.0.0.1:%d/qbcgi.exe?%s" % (port, query), data, timeout=30) as response:
        return response.read().decode("latin-1")


def seller_ads(port, name):
    return dict((item, ad_id) for ad_id, item in re.findall(r'\?Action=Getpw&ID=(\d+)">([^<]*)</a>',
                                                            fetch(port, "Action=Getedit", {"Name": name})))


def main():
    lighttpd = os.environ.get("LIGHTTPD") or shutil.which("lighttpd") or "/usr/sbin/lighttpd"
    psql = (sorted(glob.glob("/usr/lib/postgresql/*/bin/psql")) or [""])[-1]
    if not os.access(lighttpd, os.X_OK) or not psql:
        print("two_hosts: lighttpd or PostgreSQL is missing (apt-get install lighttpd postgresql)")
        return 1 if os.environ.get("CI", "") not in ("", "false") else 77
    subprocess.run([psql, "-X", "-q", "-v", "ON_ERROR_STOP=1", sys.argv[2], "-c",
                    "SET client_min_messages = warning; DROP SCHEMA IF EXISTS two_hosts CASCADE; CREATE SCHEMA two_hosts"], check=True)
    work, servers = tempfile.mkdtemp(prefix="qbtwohosts."), []
    try:
        def shared_store(site):  # the seventh value of qbcgi.cfg
            with open(os.path.join(site, "qbcgi.cfg"), "a") as f:
                f.write("%s options='-c search_path=two_hosts'\n" % sys.argv[2])
        for name, resident in [("a", False), ("b", True)]:  # the load test's sites
            servers.append(serve(os.path.abspath(sys.argv[1]), os.path.join(work, name), resident, shared_store))
        a, b = [port for _, port, *_ in servers]
        ad = dict(Item="Green canoe", Name="Two Hosts Ann", Password="Pw1", Category="Boats", Desc="Seats two",
                  Email="ann@example.org", Phone="555-0101", Price="300")
        check("A did not place the ad", "Entered Successfully" in fetch(a, "Action=ADD", ad))
        check("B does not list the ad in its category", "Green canoe" in fetch(b, "Action=List&Cat=2"))
        ad_id = seller_ads(b, " two hosts ann").get("Green canoe")
        check("B does not find the ad by its seller", ad_id)
        form = fetch(b, "Action=Getpw&ID=%s" % ad_id)
        check("B's password form is not for the ad", 'name="ID" Value="%s"' % ad_id in form and
              "127.0.0.1:%d/qbcgi.exe?Action=Edit" % b in form)
        edit = fetch(b, "Action=Edit", {"ID": ad_id, "pw": "pw1"})
        check("B's edit page lacks the ad", all('value="%s"' % ad[k] in edit for k in ("Item", "Email", "Phone")) and
              ">Seats two</textarea>" in edit)
        update = dict(ad, Item="Red canoe", Desc="Seats three", ID=ad_id, pw="pw1")
        check("B did not update the ad", "was Updated successfully" in fetch(b, "Action=Update", update))
        listed = fetch(a, "Action=List&Cat=2")
        check("A does not list the update", "Red canoe" in listed and "Seats three" in listed and
              "Green canoe" not in listed)
        check("B did not delete the ad", "was deleted successfully" in
              fetch(b, "Action=Delete", {"ID": ad_id, "pw": "PW1", "Item": "Red canoe"}))
        check("A still lists the deleted ad", "Red canoe" not in fetch(a, "Action=List&Cat=2") and
              not seller_ads(a, "Two Hosts Ann"))
        # Wrong passwords: three on A, then two on B make five from this address; the right one is then refused
        # on both hosts.
        check("A did not place the second ad", "Entered Successfully" in fetch(a, "Action=ADD", dict(ad, Item="Oar")))
        oar = seller_ads(a, "Two Hosts Ann").get("Oar")
        tries = [fetch(host, "Action=Edit", {"ID": oar, "pw": "wrong%d" % n}) for n, host in enumerate([a, a, a, b, b])]
        check("a wrong password was not refused as such", all("Invalid Password!" in t for t in tries))
        for host, name in [(b, "B"), (a, "A")]:
            page = fetch(host, "Action=Edit", {"ID": oar, "pw": "pw1"})
            check("%s unlocked the ad after five wrong passwords on both hosts" % name,
                  "Too many wrong passwords" in page and "value=\"Oar\"" not in page)
    finally:
        for server, *_ in servers:
            server.terminate()
            server.wait(timeout=30)
    logs = [open(os.path.join(work, name, "lighttpd.log"), errors="replace").read() for name in "ab"]
    print("".join(logs) + "".join("FAILED: %s\n" % f for f in FAILURES) +
          "two_hosts: " + ("FAILED; sites kept in " + work if FAILURES else "passed"))
    FAILURES or shutil.rmtree(work, ignore_errors=True)
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())

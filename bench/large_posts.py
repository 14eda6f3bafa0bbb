#!/usr/bin/env python3
"""Large request bodies to the resident program behind lighttpd and nginx, and libfcgi's cgi-fcgi.

A web server that is still sending a request when the program closes the connection logs an error
(lighttpd: "perhaps the gw process died", nginx: "Connection reset by peer" or "Broken pipe"), and
cgi-fcgi ends with EPIPE (exit 32). This sends --count requests, half of them an Action=ADD whose
description is far beyond its limit (the page refuses it; the body is read whole) and half a GET of
the main page sent as PUT with a body the page never reads (lighttpd refuses a GET with a body),
each of --size bytes, through lighttpd (which starts two resident processes) and through nginx (two
processes spawn-fcgi starts on a unix socket), each on a fresh site, and counts those log lines and
the answers that were not the expected page.
Then it runs cgi-fcgi --cgi-fcgi times against the nginx site's socket (GETs of the main page and
small POSTs) and counts its exit codes.

    bench/large_posts.py [--program build/qbcgi] [--count 600] [--size 1000000] [--port 18510]

nginx refuses bodies over 1 MiB unless told otherwise, so --size stays below that. Needs lighttpd,
nginx, spawn-fcgi and cgi-fcgi (libfcgi-bin). Exits 1 when any such log line, failed answer or
non-zero exit was seen.
"""
import argparse, collections, concurrent.futures, http.client, os, pwd, re, shutil, subprocess, sys
import tempfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LOG_LINES = re.compile(rb"perhaps the gw process died|Connection reset by peer|Broken pipe|reset by peer", re.I)


def request(port, kind, size):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    try:
        if kind == "add":
            body = b"Action=ADD&Name=Ann&Password=pw&Desc=" + b"d" * (size - 37)
            conn.request("POST", "/qbcgi.exe", body, {"Content-Type": "application/x-www-form-urlencoded"})
            expected = b"Description"
        else:
            conn.request("PUT" if size else "GET", "/qbcgi.exe?action=Main", b"x" * size,
                         {"Content-Type": "text/plain"})
            expected = b"</HTML>"
        response = conn.getresponse()
        return response.status == 200 and expected in response.read()
    except (OSError, http.client.HTTPException):
        return False
    finally:
        conn.close()


def wait_for(port):
    for _ in range(100):
        if request(port, "put", 0):
            return
        time.sleep(0.1)


def flood(port, count, size):
    kinds = ["add", "put"] * (count // 2)
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        return collections.Counter(pool.map(lambda k: request(port, k, size), kinds))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "qbcgi"))
    parser.add_argument("--count", type=int, default=600)
    parser.add_argument("--size", type=int, default=1000000)
    parser.add_argument("--cgi-fcgi", type=int, default=600)
    parser.add_argument("--port", type=int, default=18510, help="lighttpd's; nginx takes the next one")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="qb-large-")
    user = [] if os.getuid() else ["-u", "nobody", "-g", "nogroup"]  # spawn-fcgi runs nothing as root
    results, failed = {}, False

    site = os.path.join(work, "lighttpd-site")
    conf = subprocess.check_output([os.path.join(ROOT, "scripts", "lighttpd-site"), "--dir", site, "--port",
                                    str(args.port), "--program", os.path.abspath(args.program), "--banners", "n",
                                    "--fresh", "--resident"], text=True).strip()
    log_path = os.path.join(work, "lighttpd.log")
    with open(log_path, "wb") as log:
        server = subprocess.Popen(["lighttpd", "-D", "-f", conf], stderr=log, stdin=subprocess.DEVNULL)
    try:
        wait_for(args.port)
        results["lighttpd"] = flood(args.port, args.count, args.size)
    finally:
        server.terminate()
        server.wait()
    results["lighttpd"]["log lines"] = len(LOG_LINES.findall(open(log_path, "rb").read()))

    site, port = os.path.join(work, "nginx-site"), args.port + 1
    subprocess.check_output([os.path.join(ROOT, "scripts", "lighttpd-site"), "--dir", site, "--port", str(port),
                             "--program", os.path.abspath(args.program), "--banners", "n", "--fresh"])
    if user:
        os.chmod(work, 0o755)
        nobody = pwd.getpwnam("nobody")
        for path in [site] + [os.path.join(site, f) for f in os.listdir(site)]:
            os.chown(path, nobody.pw_uid, nobody.pw_gid)
    sock, pid_file, nginx_log = (os.path.join(work, f) for f in ("qbcgi.sock", "qbcgi.pid", "nginx-error.log"))
    subprocess.run(["spawn-fcgi", "-s", sock, "-M", "0666", "-F", "2", "-P", pid_file] + user +
                   ["--", os.path.join(site, "qbcgi.exe")], check=True, capture_output=True)
    with open(os.path.join(work, "nginx.conf"), "w") as f:
        f.write("daemon off; pid %s/nginx.pid; error_log %s; events {}\nhttp {\n access_log off;\n"
                " client_body_temp_path %s/body; fastcgi_temp_path %s/fastcgi;\n"
                " server { listen 127.0.0.1:%d; root %s;\n"
                "  location = /qbcgi.exe { include /etc/nginx/fastcgi.conf; fastcgi_pass unix:%s; } }\n}\n"
                % (work, nginx_log, work, work, port, site, sock))
    server = subprocess.Popen(["nginx", "-p", work, "-c", os.path.join(work, "nginx.conf")], stdin=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        wait_for(port)
        results["nginx"] = flood(port, args.count, args.size)
        # cgi-fcgi as a web server would run it for a CGI request, on the same resident processes.
        exits = collections.Counter()
        env = dict(SCRIPT_NAME="/qbcgi.exe", REMOTE_ADDR="127.0.0.1", CONTENT_TYPE="application/x-www-form-urlencoded")
        for i in range(args.cgi_fcgi):
            body = b"" if i % 2 else b"Action=Getpw&ID=" + b"7" * 20000
            call = dict(env, REQUEST_METHOD="POST" if body else "GET", QUERY_STRING="" if body else "action=Main",
                        CONTENT_LENGTH=str(len(body)))
            run = subprocess.run(["cgi-fcgi", "-bind", "-connect", sock], input=body, env=call, capture_output=True)
            exits["exit %d" % run.returncode] += 1
        results["cgi-fcgi"] = exits
    finally:
        server.terminate()
        server.wait()
        for pid in open(pid_file).read().split():
            os.kill(int(pid), 15)
    results["nginx"]["log lines"] = len(LOG_LINES.findall(open(nginx_log, "rb").read()))

    for name, counts in results.items():
        print("%-9s %s" % (name, ", ".join("%s %d" % (k if isinstance(k, str) else ("page" if k else "failed"), n)
                                          for k, n in sorted(counts.items(), key=str))))
        failed |= bool(counts["log lines"] or counts[False] or sum(n for k, n in counts.items() if k not in
                                                                   (True, "log lines", "exit 0")))
    if failed:
        print("FAILED; logs kept in", work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

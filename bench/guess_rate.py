#!/usr/bin/env python3
"""Measures how fast passwords can be guessed through lighttpd.

Lays out a fresh site with scripts/lighttpd-site, places one ad, then posts
wrong passwords to its edit form from several clients for a while, every
guess from the same address, and prints how many were tested (answered
"Invalid Password!") and how many refused.

    bench/guess_rate.py --program build/qbcgi [--seconds 10] [--clients 8]
"""
import argparse, http.client, os, shutil, socket, subprocess, tempfile, threading, time

here = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def post(port, query, body):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    conn.request("POST", "/qbcgi.exe?" + query, body,
                 {"Content-Type": "application/x-www-form-urlencoded"})
    text = conn.getresponse().read().decode("latin-1")
    conn.close()
    return text


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--seconds", type=float, default=10)
    ap.add_argument("--clients", type=int, default=8)
    args = ap.parse_args()

    site = tempfile.mkdtemp(prefix="qb-guess-")
    port = free_port()
    conf = subprocess.run([os.path.join(here, "..", "scripts", "lighttpd-site"), "--dir", site,
                           "--port", str(port), "--program", args.program, "--fresh"],
                          check=True, capture_output=True, text=True).stdout.strip()
    server = subprocess.Popen(["lighttpd", "-D", "-f", conf])
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), 0.1).close()
                break
            except OSError:
                time.sleep(0.05)
        post(port, "Action=ADD", "Item=Boat&Name=Sam&Password=ZZZZZZ&Category=Boats")
        counts = {"tested": 0, "refused": 0, "other": 0}
        lock = threading.Lock()
        end = time.monotonic() + args.seconds

        def client(n):
            i = 0
            while time.monotonic() < end:
                page = post(port, "Action=Edit", "ID=1&pw=G%d%05d" % (n, i))
                i += 1
                kind = ("tested" if "Invalid Password!" in page else
                        "refused" if "Too many wrong passwords" in page else "other")
                with lock:
                    counts[kind] += 1

        threads = [threading.Thread(target=client, args=(n,)) for n in range(args.clients)]
        start = time.monotonic()
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        spent = time.monotonic() - start
        print("%.1f s, %d clients: %d passwords tested (%.1f/s), %d refused (%.1f/s), %d other"
              % (spent, args.clients, counts["tested"], counts["tested"] / spent,
                 counts["refused"], counts["refused"] / spent, counts["other"]))
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(site, ignore_errors=True)


if __name__ == "__main__":
    main()

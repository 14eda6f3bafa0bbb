#!/usr/bin/env python3
"""The PostgreSQL bench's helpers and report (called by bench/postgres).

    pg_report.py copy-rows STORE.db
        writes every ad of a bench SQLite store as COPY text for PostgreSQL's
        table qb (texts as bytea in hex, Expire as a date, NULL as \\N).
    pg_report.py digest STORE.db
        prints "COUNT MD5" of the store's ads; digest-sql prints the query
        that computes the same in PostgreSQL, so that the copy is checked
        byte for byte.
    pg_report.py check CASEFILE
        runs every case once and checks it gives the page or rows it should.
    pg_report.py report OUTDIR RESULTS.md PROGRAM ADS
        writes the section "PostgreSQL (N ads)" into RESULTS.md, replacing
        the section if it is there and leaving the rest as it is, and prints
        the section.
"""
import datetime
import hashlib
import os
import re
import sqlite3
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report  # noqa: E402  bench/report.py: case files, the driver's and wrk's figures

# Page, what it is, and its floor on each store ("hello" or a store floor).
PAGES = [
    ("main", "main page", "hello"),
    ("list", "category listing, 50 ads", "floor_list"),
    ("showall", "SHOWALL, first 100 ads", "floor_all"),
    ("getedit", "seller lookup, 5 ads", "floor_seller"),
    ("edit", "edit page, 1 ad", "floor_id"),
    ("add", "ADD (one durable insert)", "hello"),
]
# Pages that never open the store.
NO_STORE = {"main"}
# ADD reads nothing: on PostgreSQL its floor is the connection alone.
PG_FLOORS = {"add": "floor_connect"}
FLOORS = [
    ("floor_list", "category query, 50 rows"),
    ("floor_all", "SHOWALL query, first 100 rows written"),
    ("floor_seller", "seller query, 5 rows"),
    ("floor_id", "one row by ID"),
]
WRK_PAGES = ["main", "list", "showall", "getedit", "edit"]
COLUMNS = ["ID", "Item", "Name", "Email", "Price", "Desc", "Phone", "Category", "Expire", "Date", "Password",
           "RemoteHost", "RemoteAddr", "RemoteUser"]


def store_rows(path):
    db = sqlite3.connect(path)
    db.text_factory = bytes
    try:
        yield from db.execute("SELECT %s FROM QB ORDER BY ID" % ", ".join('"%s"' % c for c in COLUMNS))
    finally:
        db.close()


def as_bytes(value):
    return value if isinstance(value, bytes) else str(value).encode()


def copy_rows(path):
    out = sys.stdout.buffer
    for row in store_rows(path):
        fields = [str(row[0]).encode()]
        for name, value in zip(COLUMNS[1:], row[1:]):
            if value is None:
                fields.append(b"\\N")
            elif name == "Expire":
                fields.append(as_bytes(value))
            else:
                fields.append(b"\\\\x" + as_bytes(value).hex().encode())
        out.write(b"\t".join(fields) + b"\n")


def digest(path):
    """count, then the MD5 of the rows' MD5s in ID order; each row is its ID,
    then every column as hex ("N" for NULL; Expire as its date text),
    separated by commas, as bench/postgres asks PostgreSQL for it."""
    whole, count = hashlib.md5(), 0
    for row in store_rows(path):
        fields = [str(row[0])]
        for name, value in zip(COLUMNS[1:], row[1:]):
            if value is None:
                fields.append("N")
            elif name == "Expire":
                fields.append(as_bytes(value).decode())
            else:
                fields.append(as_bytes(value).hex())
        whole.update(hashlib.md5(",".join(fields).encode()).hexdigest().encode())
        count += 1
    print("%d %s" % (count, whole.hexdigest()))


def digest_sql():
    fields = ["id::text"]
    for name in COLUMNS[1:]:
        column = '"%s"' % name.lower() if name in ("Desc", "Date") else name.lower()
        value = "to_char(%s, 'YYYY-MM-DD')" % column if name == "Expire" else "encode(%s, 'hex')" % column
        fields.append("coalesce(%s, 'N')" % value)
    print("SELECT count(*) || ' ' || md5(string_agg(md5(concat_ws(',', %s)), '' ORDER BY id)) FROM qb"
          % ", ".join(fields))


def check(casefile):
    """The connection floors must give their one row; everything else is
    checked as bench/run checks its cases."""
    others, problems = [], []
    for case in report.read_cases(casefile):
        if case[0].startswith("floor_connect"):
            out = report.run_case(*case[1:])
            if not out.startswith("Content-type") or out.count("\r\n") - 1 != 1:
                problems.append("%s: not one row: %r" % (case[0], out[:200]))
        else:
            others.append(case)
    if problems:
        sys.exit("bench check failed:\n  " + "\n  ".join(problems))
    with tempfile.NamedTemporaryFile("w", suffix=".tsv") as f:
        f.write("".join("\t".join(c) + "\n" for c in others))
        f.flush()
        report.check(f.name)


# ---------------------------------------------------------------- report

def first_word(path):
    try:
        return open(path).read().split()[0]
    except (OSError, IndexError):
        return "?"


def first_line(path):
    try:
        return open(path).readline().strip()
    except OSError:
        return ""


def results_tables(text):
    """The 100,000-ad req/s of bench/run's two lighttpd tables in RESULTS.md,
    by page title: {"cgi": {...}, "resident": {...}}, and the run's date."""
    found = {"cgi": {}, "resident": {}}
    section = None
    column = None
    for line in text.splitlines():
        if line.startswith("## "):
            section = ("cgi" if line.startswith("## Through lighttpd") else
                       "resident" if line.startswith("## Resident") else None)
            column = None
            continue
        if section is None or not line.startswith("|"):
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if cells[0] == "page":
            column = cells.index("req/s 100,000") if "req/s 100,000" in cells else None
        elif column is not None and len(cells) > column and re.fullmatch(r"[\d.]+", cells[column]):
            found[section][cells[0]] = float(cells[column])
    date = re.search(r"^- date: (.+)$", text, re.M)
    return found, date.group(1).strip() if date else "?"


def replace_section(text, title, section):
    """text with the section headed `title` replaced by `section` (up to the
    next "## " heading); a new section goes before the levers, or at the end."""
    lines = text.splitlines()
    start = next((i for i, line in enumerate(lines) if line.strip() == title), None)
    if start is not None:
        end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("## ")), len(lines))
    else:
        start = end = next((i for i, line in enumerate(lines) if line.startswith("## Levers")), len(lines))
    new = lines[:start] + section.rstrip("\n").splitlines() + [""] + lines[end:]
    return "\n".join(new).rstrip("\n") + "\n"


def us(x):
    return "%.0f" % x


def pct(part, whole):
    return "%.0f%%" % (100.0 * part / whole)


def build_section(outdir, results_text, program, ads):
    cgi = report.read_cgi(os.path.join(outdir, "cgi.tsv"))
    wrk = report.read_wrk(outdir)
    pooled = "floor_connect@pgbouncer" in cgi
    big = format(ads, ",")
    hello = cgi["hello"]
    direct_connect = cgi["floor_connect@pg"]

    def case(name):
        return cgi.get(name)

    def floor_of(page, floor, store):
        return hello if floor == "hello" else cgi["%s@%s" % (floor, store)]

    title = "## PostgreSQL (%s ads)" % big
    lines = [title, ""]
    lines += ["Written by `bench/postgres` from one run (which `bench/run` starts at its end); every figure in "
              "this section comes from that run, those quoted from the sections above excepted, which say so.",
              ""]
    # The date and commit are the run's (the report may be written again
    # from its figures later).
    for line in report.machine_lines(program):
        if line.startswith("- date:") and os.path.exists(os.path.join(outdir, "loadavg-start")):
            when = datetime.datetime.fromtimestamp(os.path.getmtime(os.path.join(outdir, "loadavg-start")))
            line = "- date: %s" % when.strftime("%Y-%m-%d %H:%M")
        elif line.startswith("- build:") and first_line(os.path.join(outdir, "commit")):
            line = re.sub(r"commit [^,]+,", "commit %s," % first_line(os.path.join(outdir, "commit")), line)
        lines.append(line)
    lines.append("- PostgreSQL: %s, a cluster of the bench's own on a unix socket (fsync on, "
                 "max_connections 200, the rest as initdb writes them), %s ads copied from the SQLite store and checked byte "
                 "for byte" % (first_line(os.path.join(outdir, "postgres-version")) or "?", big))
    if pooled:
        lines.append("- pgbouncer: %s, on a unix socket, `pool_mode = transaction`, `auth_type = trust`, "
                     "`default_pool_size = 20`, otherwise as installed" % (
                         first_line(os.path.join(outdir, "pgbouncer-version")) or "?"))
    lines.append("- load average (1 min) before the run: %s; at its end: %s" % (
        first_word(os.path.join(outdir, "loadavg-start")), first_word(os.path.join(outdir, "loadavg-end"))))
    slow = sorted(name for name, f in cgi.items() if f["n"] < hello["n"])
    lines.append("- CGI samples: %d per case, all cases interleaved (ADD apart, after the others), as in the "
                 "tables above" % hello["n"] + (
                     "; %s took a tenth of a second or more each and ran apart, %d samples each" % (
                         ", ".join(slow), min(cgi[n]["n"] for n in slow)) if slow else ""))
    lines.append("")

    # What a connection costs.
    lines += ["### What a connection costs a CGI request", "",
              "A static C program linked with the same libpq archive as the board (`bench/pg_floor.c`) "
              "connects with the site's connection string, runs `SELECT 1`, writes the row and disconnects. "
              "Elapsed time of the whole process in µs; CPU is the process's own (user + system), which leaves "
              "out the server's side: PostgreSQL starts a backend process for every connection.", ""]
    lines += ["| case | mean | median | p90 | CPU mean | mean over hello |", "|---|---:|---:|---:|---:|---:|"]
    rows = [("hello CGI (static C, one write)", hello),
            ("connect, SELECT 1, disconnect", direct_connect)]
    if pooled:
        rows.append(("the same through pgbouncer", cgi["floor_connect@pgbouncer"]))
    for name, f in rows:
        lines.append("| %s | %s | %s | %s | %s | %s |" % (
            name, us(f["mean"]), us(f["median"]), us(f["p90"]), us(f["cpu"]),
            "" if f is hello else "+" + us(f["mean"] - hello["mean"])))
    lines.append("")

    # The pages.
    lines += ["### Pages as CGI processes", "",
              "Mean / median of the whole process in µs. Each store's floor is the hello CGI for the pages "
              "that read no ads (the main page does not open the store) and for ADD, and otherwise the "
              "static C program that runs the page's own query on that store (`bench/store_floor.c`, "
              "`bench/pg_floor.c`); a PostgreSQL floor includes its connection.", ""]
    head = "| page | SQLite | PostgreSQL | PG − SQLite | PG / SQLite | PG floor | PG / floor |"
    sep = "|---|---:|---:|---:|---:|---:|---:|"
    if pooled:
        head += " pgbouncer | pgbouncer saves |"
        sep += "---:|---:|"
    lines += [head + " bytes |", sep + "---:|"]
    for page, what, floor in PAGES:
        lite, pg = case("%s@sqlite" % page), case("%s@pg" % page)
        if lite is None or pg is None:
            continue
        fl = floor_of(page, PG_FLOORS.get(page, floor), "pg")
        row = "| %s | %s / %s | %s / %s | %+.0f | %.2fx | %s | %.2fx |" % (
            what, us(lite["mean"]), us(lite["median"]), us(pg["mean"]), us(pg["median"]),
            pg["mean"] - lite["mean"], pg["mean"] / lite["mean"], us(fl["mean"]), pg["mean"] / fl["mean"])
        if pooled:
            pb = case("%s@pgbouncer" % page)
            saves = ("(no store)" if page in NO_STORE else
                     "%.0f (%s)" % (pg["mean"] - pb["mean"], pct(pg["mean"] - pb["mean"], pg["mean"])))
            row += " %s / %s | %s |" % (us(pb["mean"]), us(pb["median"]), saves)
        lines.append(row + " %d |" % pg["bytes"])
    lines += ["", "The floors, mean / median µs (the PostgreSQL floor less the connection floor is what its "
              "query costs on a connection already made):", ""]
    lines += ["| query | SQLite floor | PostgreSQL floor | PG floor − connect floor | bytes written |",
              "|---|---:|---:|---:|---:|"]
    for floor, what in FLOORS:
        lite, pg = cgi["%s@sqlite" % floor], cgi["%s@pg" % floor]
        lines.append("| %s | %s / %s | %s / %s | %s | %d |" % (
            what, us(lite["mean"]), us(lite["median"]), us(pg["mean"]), us(pg["median"]),
            us(pg["mean"] - direct_connect["mean"]), pg["bytes"]))
    lines.append("")

    # Through lighttpd.
    recorded, recorded_date = results_tables(results_text)
    titles = {p: t for p, t, _ in PAGES}

    def wrk_cells(key):
        e = wrk.get(key) or {}
        if e.get("rps") is None:
            return "?", "?", e.get("errors", 0)
        if not e["rps"]:
            return "0", "none finished", e.get("errors", 0)
        rps = "%.0f" % e["rps"]
        lat = " / ".join("%.2f" % e[p] if p in e else "?" for p in ("p50", "p90", "p99"))
        return rps, lat, e.get("errors", 0)

    lines += ["### Through lighttpd with wrk (127.0.0.1, -t2 -c4)", "",
              "Requests per second, the program as CGI; the sites loaded in turn, page by page. Latency "
              "percentiles p50 / p90 / p99 in ms. The SQLite column of bench/run is its %s-ad figure from "
              "the table above (run of %s)." % (big, recorded_date), ""]
    head = "| page | SQLite, bench/run | SQLite | PostgreSQL | PG latency |"
    sep = "|---|---:|---:|---:|---:|"
    if pooled:
        head += " pgbouncer | pgbouncer latency |"
        sep += "---:|---:|"
    lines += [head + " errors |", sep + "---:|"]
    for page in WRK_PAGES:
        lite, _, e1 = wrk_cells("%s@sqlite" % page)
        pg, pg_lat, e2 = wrk_cells("%s@pg" % page)
        old = recorded["cgi"].get(titles[page])
        row = "| %s | %s | %s | %s | %s |" % (titles[page], "%.0f" % old if old else "", lite, pg, pg_lat)
        errors = e1 + e2
        if pooled:
            pb, pb_lat, e3 = wrk_cells("%s@pgbouncer" % page)
            row += " %s | %s |" % (pb, pb_lat)
            errors += e3
        lines.append(row + " %d |" % errors)
    lines += ["", "Resident (FastCGI, eight processes lighttpd starts, each keeping its connection), requests "
              "per second:", ""]
    lines += ["| page | SQLite, bench/run | SQLite | PostgreSQL | PG / SQLite | PG latency | errors |",
              "|---|---:|---:|---:|---:|---:|---:|"]
    for page in WRK_PAGES:
        lite, _, e1 = wrk_cells("resident_%s@sqlite" % page)
        pg, pg_lat, e2 = wrk_cells("resident_%s@pg" % page)
        old = recorded["resident"].get(titles[page])
        ratio = ("%.2fx" % (float(pg) / float(lite))) if lite not in ("?", "0") and pg != "?" else "?"
        lines.append("| %s | %s | %s | %s | %s | %s | %d |" % (
            titles[page], "%.0f" % old if old else "", lite, pg, ratio, pg_lat, e1 + e2))
    lines.append("")

    if pooled:
        lines += pgbouncer_lines(outdir)
    lines += ["### Reading", ""] + reading(cgi, wrk, recorded, pooled)
    return "\n".join(lines) + "\n"


def pgbouncer_lines(outdir):
    steps = {}
    try:
        for line in open(os.path.join(outdir, "pgbouncer-options.tsv")):
            key, page, shown = (line.rstrip("\n").split("\t") + ["", ""])[:3]
            steps[key] = (page, shown)
    except OSError:
        return []

    def page_text(key):
        page, _ = steps.get(key, ("?", ""))
        return "the page" if page == "page" else "an error page (%s)" % page

    return [
        "### pgbouncer and the board's connections", "",
        "The board sends no settings when it connects; its write lock is `BEGIN`, a `lock_timeout` of 15 s "
        "for that transaction where none is set, `pg_advisory_xact_lock(...)` ... `COMMIT`, one transaction, "
        "and every statement runs unnamed (no prepared statement outlives its transaction), so transaction "
        "pooling keeps the lock, its time limit and the statements on one server connection. Checked in "
        "this run through pgbouncer as installed: the category listing gets %s." % page_text("plain"),
        "",
    ]


def reading(cgi, wrk, recorded, pooled):
    hello = cgi["hello"]
    connect = cgi["floor_connect@pg"]
    cost = connect["mean"] - hello["mean"]
    out = ["- **A connection** costs a CGI request %.0f µs (the connect floor's mean %.0f µs against the "
           "hello CGI's %.0f µs; medians %.0f against %.0f): of it, %.0f µs of CPU in the process itself "
           "(libpq's start-up and the login), the rest waits for the server, which starts a backend for "
           "the connection." % (cost, connect["mean"], hello["mean"], connect["median"], hello["median"],
                                connect["cpu"] - hello["cpu"])]
    if pooled:
        pb = cgi["floor_connect@pgbouncer"]
        out.append("- **Through pgbouncer** the same costs %.0f µs over the hello CGI (%.0f µs): pooling "
                   "saves %.0f µs a request, %s of the connection's cost." % (
                       pb["mean"] - hello["mean"], pb["mean"], connect["mean"] - pb["mean"],
                       pct(connect["mean"] - pb["mean"], cost)))
    for page, what, floor in PAGES:
        lite, pg = cgi.get("%s@sqlite" % page), cgi.get("%s@pg" % page)
        if lite is None or pg is None:
            continue
        floor = PG_FLOORS.get(page, floor)
        fl = hello if floor == "hello" else cgi["%s@pg" % floor]
        text = "- %s: %.0f µs on PostgreSQL against %.0f µs on SQLite (%+.0f µs, %.2fx); %.2fx of its " \
               "PostgreSQL floor (%s, %.0f µs)" % (
                   what[0].upper() + what[1:], pg["mean"], lite["mean"], pg["mean"] - lite["mean"],
                   pg["mean"] / lite["mean"], pg["mean"] / fl["mean"],
                   {"hello": "the hello CGI", "floor_connect": "a connection alone"}.get(
                       floor, "its query on a new connection"), fl["mean"])
        if pooled and page not in NO_STORE:
            pb = cgi["%s@pgbouncer" % page]
            text += "; through pgbouncer %.0f µs (%+.0f µs, %.2fx of SQLite's)" % (
                pb["mean"], pb["mean"] - pg["mean"], pb["mean"] / lite["mean"])
        out.append(text + ".")
    if pooled:
        # What pooling saves on each page that reads the store, against what
        # it saves on the connection alone.
        short = {"list": "listing", "getedit": "seller lookup", "edit": "edit page", "add": "ADD"}
        saved = [(short[page], cgi["%s@pg" % page]["mean"] - cgi["%s@pgbouncer" % page]["mean"])
                 for page in short if "%s@pg" % page in cgi and "%s@pgbouncer" % page in cgi]
        conn_saved = connect["mean"] - cgi["floor_connect@pgbouncer"]["mean"]
        queries = [(what, cgi["%s@pg" % f]["mean"] - connect["mean"])
                   for f, what in (("floor_list", "category"), ("floor_seller", "seller"), ("floor_id", "by ID"))]
        if saved and min(x for _, x in saved) > conn_saved:
            out.append("- pgbouncer saves more on each page that reads the store (%s) than on the connection "
                       "alone (%.0f µs), most likely because a new backend also loads the catalog entries of "
                       "every table and function the first time it uses them, which a pooled server connection "
                       "has done long before: on a new connection the floors' queries take %s beyond "
                       "the connection." % ("; ".join("%s %.0f µs" % item for item in saved), conn_saved,
                                        ", ".join("%.0f µs (%s)" % (x, what) for what, x in queries)))
    main_pg, main_lite = cgi.get("main@pg"), cgi.get("main@sqlite")
    if main_pg and main_lite:
        out.append("- The main page opens no store: the same program does the same work on both sites, so "
                   "its two figures (%+.0f µs apart) show how far two cases of equal work drift apart in this "
                   "run." % (main_pg["mean"] - main_lite["mean"]))
    served = []
    for page in WRK_PAGES:
        figures = [(wrk.get("%s@%s" % (page, store)) or {}).get("rps") for store in ("sqlite", "pg", "pgbouncer")]
        if figures[0] and figures[1] is not None:
            served.append("%s %.0f on PostgreSQL%s against %.0f on SQLite" % (
                dict((p, t) for p, t, _ in PAGES)[page], figures[1],
                " (%.0f through pgbouncer)" % figures[2] if pooled and figures[2] is not None else "", figures[0]))
    if served:
        out.append("- **Through lighttpd as CGI**, requests per second: " + "; ".join(served) + ".")
    res = []
    for page in WRK_PAGES:
        lite = (wrk.get("resident_%s@sqlite" % page) or {}).get("rps")
        pg = (wrk.get("resident_%s@pg" % page) or {}).get("rps")
        title = dict((p, t) for p, t, _ in PAGES)[page]
        old = recorded["resident"].get(title)
        if lite and pg:
            res.append("%s %.0f against %.0f (%.2fx%s)" % (title, pg, lite, pg / lite,
                                                          "; bench/run's figure %.0f" % old if old else ""))
    if res:
        out.append("- **Resident**, requests per second, PostgreSQL against SQLite in this run: " +
                   "; ".join(res) + ".")
    return out


def write_report(outdir, results_path, program, ads):
    ads = int(ads)
    text = open(results_path).read() if os.path.exists(results_path) else "# Bench results\n"
    section = build_section(outdir, text, program, ads)
    with open(results_path, "w") as f:
        f.write(replace_section(text, "## PostgreSQL (%s ads)" % format(ads, ","), section))
    print(section)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "copy-rows":
        copy_rows(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "digest":
        digest(sys.argv[2])
    elif len(sys.argv) == 2 and sys.argv[1] == "digest-sql":
        digest_sql()
    elif len(sys.argv) == 3 and sys.argv[1] == "check":
        check(sys.argv[2])
    elif len(sys.argv) == 6 and sys.argv[1] == "report":
        write_report(*sys.argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()

/* The floor for pages that read ads from PostgreSQL: a static C program,
 * linked against the same libpq archive as the board, that connects with its
 * site's connection string (the seventh value of qbcgi.cfg), runs one
 * statement as the board runs it (text of the board's PostgreSQL queries,
 * values bound as binary bytea, rows asked for in binary form), writes every
 * row it got, all columns, in one write, and disconnects.
 *
 * Like the board it finds its site from the path it was started by. The
 * statement comes from QUERY_STRING, "MODE:VALUE" with "+" for a blank:
 *   connect:     SELECT 1: what a connection costs, nothing else
 *   list:NAME    the category listing's query, from the first ad
 *   all:         the SHOWALL query: every row it returns is fetched, the
 *                first 100 are written (the page shows 100)
 *   seller:NAME  the seller lookup's query
 *   id:N         the edit page's query for one ad
 */
#include <libpq-fe.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kByteaOid = 17, kInt8Oid = 20, kDateOid = 1082, kBinary = 1 };

static char page[1 << 20];
static size_t used;

static void Append(const char* text, size_t n) {
  if (used + n > sizeof page) n = sizeof page - used;
  memcpy(page + used, text, n);
  used += n;
}

static int Fail(PGconn* conn, const char* what) {
  used = 0;
  Append("Status: 500\n\n", 13);
  Append(what, strlen(what));
  const char* msg = conn ? PQerrorMessage(conn) : "";
  Append(msg, strlen(msg));
  ssize_t n = write(1, page, used);
  (void)n;
  return 1;
}

static int64_t BigEndian(const char* bytes, int length) {
  uint64_t value = 0;
  for (int i = 0; i < length; ++i) value = value << 8 | (unsigned char)bytes[i];
  const int unused = 64 - 8 * length;
  return unused == 0 ? (int64_t)value : (int64_t)(value << unused) >> unused;
}

/* A binary date (days from 2000-01-01) as YYYY-MM-DD. */
static int DateText(int64_t days, char* out, size_t size) {
  int64_t z = days + 10957 + 719468; /* days from 0000-03-01 */
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2);
  return snprintf(out, size, "%04lld-%02lld-%02lld", (long long)y, (long long)m, (long long)d);
}

/* The seventh line of the site's qbcgi.cfg, without its line end. */
static int ReadServer(const char* dir, char* out, size_t size) {
  char path[4096 + 16];
  snprintf(path, sizeof path, "%s/qbcgi.cfg", dir);
  FILE* f = fopen(path, "r");
  if (!f) return 0;
  char line[2048];
  int n = 0, found = 0;
  while (fgets(line, sizeof line, f)) {
    if (++n == 7) {
      line[strcspn(line, "\r\n")] = '\0';
      snprintf(out, size, "%s", line);
      found = line[0] != '\0';
      break;
    }
  }
  fclose(f);
  return found;
}

int main(int argc, char** argv) {
  (void)argc;
  char dir[4096];
  const char* slash = strrchr(argv[0], '/');
  snprintf(dir, sizeof dir, "%.*s", slash ? (int)(slash - argv[0]) : 1, slash ? argv[0] : ".");
  char server[2048];
  if (!ReadServer(dir, server, sizeof server)) return Fail(NULL, "qbcgi.cfg names no PostgreSQL server");

  char query[512];
  const char* q = getenv("QUERY_STRING");
  snprintf(query, sizeof query, "%s", q ? q : "connect:");
  for (char* p = query; *p; ++p) {
    if (*p == '+') *p = ' ';
  }
  char* value = strchr(query, ':');
  if (value)
    *value++ = '\0';
  else
    value = query + strlen(query);

  /* The texts of the board's PostgreSQL queries (storage/postgres/pg_statements.cpp). */
  const char* sql = "SELECT 1";
  int params = 0, limit = -1;
  const char* values[2] = {value, ""};
  int lengths[2] = {(int)strlen(value), 0};
  const int formats[2] = {kBinary, kBinary};
  const Oid types[2] = {kByteaOid, kByteaOid};
  if (strcmp(query, "list") == 0) {
    sql =
        "SELECT * FROM qb WHERE qb_fold(category) ~ qb_like($1) "
        "AND id > coalesce(qb_id($2), 0) ORDER BY id LIMIT 101";
    params = 2; /* the listing's start is empty: from the first ad */
  } else if (strcmp(query, "all") == 0) {
    sql = "SELECT * FROM qb ORDER BY id LIMIT 101";
    limit = 100;
  } else if (strcmp(query, "seller") == 0) {
    sql = "SELECT * FROM qb WHERE qb_fold(btrim(name, ' '::bytea)) = qb_fold(btrim($1, ' '::bytea)) ORDER BY id";
    params = 1;
  } else if (strcmp(query, "id") == 0) {
    sql = "SELECT * FROM qb WHERE id = qb_id($1)";
    params = 1;
  } else if (strcmp(query, "connect") != 0) {
    return Fail(NULL, "unknown mode");
  }

  PGconn* conn = PQconnectdb(server);
  if (PQstatus(conn) != CONNECTION_OK) return Fail(conn, "connect: ");
  PGresult* result = PQexecParams(conn, sql, params, types, values, lengths, formats, kBinary);
  if (PQresultStatus(result) != PGRES_TUPLES_OK) return Fail(conn, "query: ");

  Append("Content-type: text/html\n\n\r\n", 27);
  const int rows = PQntuples(result), columns = PQnfields(result);
  for (int r = 0; r < rows && r != limit; ++r) {
    for (int c = 0; c < columns; ++c) {
      if (!PQgetisnull(result, r, c)) {
        const char* v = PQgetvalue(result, r, c);
        const int n = PQgetlength(result, r, c);
        const Oid type = PQftype(result, c);
        char text[32];
        if (type == kDateOid) {
          Append(text, (size_t)DateText(BigEndian(v, n), text, sizeof text));
        } else if (type != kByteaOid) { /* id, or SELECT 1's int4 */
          Append(text, (size_t)snprintf(text, sizeof text, "%lld", (long long)BigEndian(v, n)));
        } else {
          Append(v, (size_t)n);
        }
      }
      Append(c + 1 < columns ? "\t" : "\r\n", c + 1 < columns ? 1 : 2);
    }
  }
  PQclear(result);
  PQfinish(conn);

  size_t done = 0;
  while (done < used) {
    ssize_t n = write(1, page + done, used - done);
    if (n <= 0) return 1;
    done += (size_t)n;
  }
  return 0;
}

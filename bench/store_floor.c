/* The floor for pages that read ads: a static C program, linked against the
 * same SQLite library as the board, that opens its site's qb.db as the board
 * does (read-write, no per-connection mutex, busy timeout of 10 s, the store
 * version read), runs one indexed query and writes every row it found, all
 * columns, in one write.
 *
 * Like the board it finds its site from the path it was started by. The
 * query comes from QUERY_STRING, "MODE:VALUE" with "+" for a blank:
 *   list:NAME    SELECT * FROM QB WHERE Category LIKE NAME   (category listing)
 *   all:         SELECT * FROM QB: 100 rows and a look at the next (SHOWALL)
 *   seller:NAME  SELECT * FROM QB WHERE trim(Name) = NAME COLLATE NOCASE
 *   id:N         SELECT * FROM QB WHERE ID = N                (edit page)
 */
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char page[1 << 20];
static size_t used;

static void Append(const char* text, size_t n) {
  if (used + n > sizeof page) n = sizeof page - used;
  memcpy(page + used, text, n);
  used += n;
}

static int Fail(sqlite3* db, const char* what) {
  used = 0;
  Append("Status: 500\n\n", 13);
  Append(what, strlen(what));
  const char* msg = db ? sqlite3_errmsg(db) : "";
  Append(msg, strlen(msg));
  ssize_t n = write(1, page, used);
  (void)n;
  return 1;
}

int main(int argc, char** argv) {
  (void)argc;
  char path[4096];
  const char* slash = strrchr(argv[0], '/');
  if (slash) {
    snprintf(path, sizeof path, "%.*s/qb.db", (int)(slash - argv[0]), argv[0]);
  } else {
    snprintf(path, sizeof path, "qb.db");
  }

  char query[512];
  const char* q = getenv("QUERY_STRING");
  snprintf(query, sizeof query, "%s", q ? q : "list:Miscellaneous");
  for (char* p = query; *p; ++p) {
    if (*p == '+') *p = ' ';
  }
  char* value = strchr(query, ':');
  if (value)
    *value++ = '\0';
  else
    value = query + strlen(query);

  const char* sql = "SELECT * FROM QB WHERE Category LIKE ?1";
  int limit = -1;
  if (strcmp(query, "all") == 0) {
    sql = "SELECT * FROM QB";
    limit = 100;
  } else if (strcmp(query, "seller") == 0) {
    sql = "SELECT * FROM QB WHERE trim(Name) = ?1 COLLATE NOCASE";
  } else if (strcmp(query, "id") == 0) {
    sql = "SELECT * FROM QB WHERE ID = ?1";
  }

  sqlite3* db = NULL;
  if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, NULL) != SQLITE_OK) {
    return Fail(db, "open: ");
  }
  sqlite3_busy_timeout(db, 10000);
  sqlite3_stmt* stmt = NULL;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, NULL) != SQLITE_OK || sqlite3_step(stmt) != SQLITE_ROW) {
    return Fail(db, "user_version: ");
  }
  sqlite3_finalize(stmt);

  if (sqlite3_prepare_v2(db, sql, -1, &stmt, NULL) != SQLITE_OK) return Fail(db, "prepare: ");
  if (strcmp(query, "id") == 0) {
    sqlite3_bind_int64(stmt, 1, atoll(value));
  } else if (strcmp(query, "all") != 0) {
    sqlite3_bind_text(stmt, 1, value, -1, SQLITE_STATIC);
  }

  Append("Content-type: text/html\n\n\r\n", 27);
  int rc;
  int rows = 0;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW && rows != limit) {
    const int columns = sqlite3_column_count(stmt);
    for (int i = 0; i < columns; ++i) {
      const char* text = (const char*)sqlite3_column_text(stmt, i);
      if (text) Append(text, (size_t)sqlite3_column_bytes(stmt, i));
      Append(i + 1 < columns ? "\t" : "\r\n", i + 1 < columns ? 1 : 2);
    }
    ++rows;
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(db, "step: ");
  sqlite3_finalize(stmt);
  sqlite3_close(db);

  size_t done = 0;
  while (done < used) {
    ssize_t n = write(1, page + done, used - done);
    if (n <= 0) return 1;
    done += (size_t)n;
  }
  return 0;
}

/* Stand-ins for the libpq functions the board calls, for a bench build only
 * (cmake -DQB_BENCH_WITHOUT_POSTGRES=ON): the static program is then linked
 * without libpq and OpenSSL, everything else as usual, so that the bench can
 * show what the 5 MB of them cost every CGI request. Every connection fails
 * ("not built in"); such a program must never serve a site. */
#include <stddef.h>

#define RETURNS_NOTHING(name) \
  long name(void) { return 0; }
RETURNS_NOTHING(PQclear)
RETURNS_NOTHING(PQcmdStatus)
RETURNS_NOTHING(PQcmdTuples)
RETURNS_NOTHING(PQconnectdbParams)
RETURNS_NOTHING(PQconninfoFree)
RETURNS_NOTHING(PQconninfoParse)
RETURNS_NOTHING(PQconsumeInput)
RETURNS_NOTHING(PQenterPipelineMode)
RETURNS_NOTHING(PQexitPipelineMode)
RETURNS_NOTHING(PQfinish)
RETURNS_NOTHING(PQflush)
RETURNS_NOTHING(PQfname)
RETURNS_NOTHING(PQfreemem)
RETURNS_NOTHING(PQftype)
RETURNS_NOTHING(PQgetResult)
RETURNS_NOTHING(PQgetisnull)
RETURNS_NOTHING(PQgetlength)
RETURNS_NOTHING(PQgetvalue)
RETURNS_NOTHING(PQisBusy)
RETURNS_NOTHING(PQnfields)
RETURNS_NOTHING(PQntuples)
RETURNS_NOTHING(PQpipelineSync)
RETURNS_NOTHING(PQresultErrorField)
RETURNS_NOTHING(PQresultStatus)
RETURNS_NOTHING(PQsendQuery)
RETURNS_NOTHING(PQsendQueryParams)
RETURNS_NOTHING(PQsetnonblocking)
RETURNS_NOTHING(PQtransactionStatus)

/* A connection that is never made: CONNECTION_BAD, no socket. */
int PQstatus(const void* conn) {
  (void)conn;
  return 1;
}
int PQsocket(const void* conn) {
  (void)conn;
  return -1;
}
const char* PQerrorMessage(const void* conn) {
  (void)conn;
  return "this bench build has no PostgreSQL client\n";
}

// The program: started by a web server as CGI it answers one request and
// exits; started by a FastCGI process manager it stays resident and answers
// request after request. Command-line arguments are ignored (some web
// servers pass words of the query string as arguments); only the path the
// program was started by is used, to find its site and to name it in links.
#include <cstdlib>

#include "gateway/program_location.h"
#include "program/run_main.h"
#include "resident/fastcgi_front_end.h"

int main(int /*argc*/, char** argv) {
  qb::ProgramLocation location = qb::LocateProgram(argv[0]);
  if (qb::StartedAsFastCgi()) return qb::ServeFastCgi(std::move(location), qb::RunMain);
  qb::Host host(std::move(location), false);
  qb::Request req(
      host, qb::ReadBodyFrom(0), [](const char* name) { return static_cast<const char*>(std::getenv(name)); }, 1);
  qb::RunMain(req);
  // The whole response is written, and no store transaction can be open
  // here (every statement commits or rolls back on its own, and the schema
  // set-up ends its transaction either way), so closing the store's file,
  // which the kernel does at exit, is all SQLite would still do. What is
  // left is memory. Walking the destructors to free it (SQLite's caches and
  // statements above all) costs a page that reads the store some 4-6% of its
  // time (bench/levers.md), so the process ends here.
  std::_Exit(0);
}

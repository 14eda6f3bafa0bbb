// The CGI program: one request per process. Command-line arguments are
// ignored (some web servers pass words of the query string as arguments);
// only the path the program was started by is used, to find its site.
#include <cstdlib>

#include "gateway/program_location.h"
#include "gateway/run_main.h"

int main(int /*argc*/, char** argv) {
  qb::ProgramLocation location = qb::LocateProgram(argv[0]);
  qb::Request req(location.directory, location.name, 0, 1,
                  [](const char* name) { return static_cast<const char*>(std::getenv(name)); });
  qb::RunMain(req);
  return 0;
}

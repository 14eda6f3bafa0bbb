#include "gateway/program_location.h"

#include <fcntl.h>
#include <unistd.h>
#include <climits>

namespace qb {

namespace {

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

// The path buffers live in these helpers, which the usual start (an
// absolute path) never calls, so they do not deepen every request's stack.
std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

ProgramLocation Split(const std::string& path) {
  std::size_t slash = path.rfind('/');
  ProgramLocation location;
  location.directory = slash == 0 ? std::string("/") : path.substr(0, slash);
  location.file = path.substr(slash + 1);
  return location;
}

}  // namespace

ProgramLocation LocateProgram(const char* argv0) {
  std::string started = argv0 ? argv0 : "";
  if (!started.empty()) {
    std::string path = started;
    if (path.front() != '/') path = CurrentDirectory() + "/" + path;
    // Checked with the effective IDs (AT_EACCESS), as the site's files are
    // then opened: plain access() checks with the real ones, for which the
    // kernel sets up a copy of the process's credentials on every call.
    if (::faccessat(AT_FDCWD, path.c_str(), F_OK, AT_EACCESS) == 0) return Split(path);
  }
  std::string executable = ExecutablePath();
  if (!executable.empty()) return Split(executable);
  return ProgramLocation{CurrentDirectory(), "qbcgi.exe"};
}

}  // namespace qb

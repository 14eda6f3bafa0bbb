#pragma once
#include <string>

namespace qb {

struct ProgramLocation {
  std::string directory;  // where the site's data files lie
  std::string file;       // the program's file name, as it was started
};

// The directory and name of the file the web server executed, from the path
// it was started by (resolved against the working directory when relative;
// a bare name, as Apache gives, means the working directory), falling back to
// /proc/self/exe. Symbolic links are not followed, so a link to the program
// serves the site of the directory the link is in.
ProgramLocation LocateProgram(const char* argv0);

}  // namespace qb

#pragma once
// Runs the real CGI program the way a web server does: in a temporary site
// directory, with a clean environment, the body on standard input, and
// standard output to a regular file or to a pipe.
#include <sys/types.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qbtest {

struct SiteFiles {
  std::string config = "admin@example.com\n30\nhttp://example.com/cgi-bin\nhttp://example.com/\nN\n#FFFFCC\n";
  std::string categories = "Cars\nBoats\nHouses\nJobs\nPets\nMusic\nComputers\nOther\n";
  std::string banners;  // qbban.cfg; not written when empty
};

// A site directory with the program linked in as qbcgi.exe; removed with
// everything in it when the object goes.
class TempSite {
 public:
  explicit TempSite(const SiteFiles& files = SiteFiles());
  ~TempSite();
  TempSite(const TempSite&) = delete;
  TempSite& operator=(const TempSite&) = delete;

  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& file) const { return dir_ + "/" + file; }
  std::string ProgramPath() const { return Path("qbcgi.exe"); }
  void WriteFile(const std::string& name, const std::string& content) const;
  std::string ReadFile(const std::string& name) const;
  void RemoveFile(const std::string& name) const;

 private:
  std::string dir_;
};

enum class Output { kFile, kPipe };

struct CgiRequest {
  std::map<std::string, std::string> env;
  std::string body;
  std::vector<std::string> args;  // extra command-line words
  // When set, the program runs as this user and group (the caller must be
  // root), as a web server runs CGI programs as an unprivileged user.
  std::optional<std::pair<uid_t, gid_t>> user;
};

struct CgiResult {
  std::string output;
  int exitCode = -1;   // -1 when it did not exit normally
};

CgiResult RunCgi(const std::string& programPath, const CgiRequest& request, Output output);

// Shorthands: a GET with `query`, a form POST of `body` to `query`.
CgiRequest Get(const std::string& query);
CgiRequest Post(const std::string& query, const std::string& body);

// Form-encodes a value the way a browser does.
std::string FormEncode(const std::string& value);
// A form body: the fields in order, each value form-encoded.
std::string FormBody(std::initializer_list<std::pair<std::string, std::string>> fields);

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

}  // namespace qbtest

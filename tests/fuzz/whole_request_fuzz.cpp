// Fuzzes whole requests, run in-process against a scratch site whose files
// come from the input too:
//   METHOD \n QUERY \n CONTENT_LENGTH \n CONTENT_TYPE \n STORE \n body \f qbcgi.cfg \f cat.lst \f qbban.cfg
// "-" leaves a variable unset, CONTENT_LENGTH "*" is the body's length, STORE
// "-" means no qb.db yet (else three ads, the third expired), and a site file
// left empty keeps its default. Every run starts from the same files. The
// response must be empty, a page, an error page or a not-found page, complete,
// and must not report an exception that no error routine expected.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>

#include "gateway/request.h"
#include "gateway/run_main.h"

namespace {

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;
const char* const kFiles[] = {"qbcgi.cfg", "cat.lst", "qbban.cfg"};
const char* const kDefaults[] = {"admin@example.com\n30\nhttp://example.com/cgi-bin\nhttp://example.com/\nY\n#FFFFCC\n",
                                 "Cars\nBoats\nHouses\nJobs\nPets\nMusic\nComputers\nOther\n",
                                 "2\nimg/one.png\nhttp://one.example/\nimg/two.png\nhttp://two.example/\n"};
constexpr qb::CivilDate kToday{2026, 3, 14};  // fixed, so that a failing input fails again

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "whole request: %s\n", what.c_str());
  std::abort();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  if (!std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()))) Fail("cannot write");
}

std::string_view Cut(std::string_view& input, char at) {
  const std::string_view part = input.substr(0, input.find(at));
  input.remove_prefix(std::min(part.size() + 1, input.size()));
  return part;
}

// Runs the request that `input` describes on the site in `dir` on the day `today`.
std::string Run(const std::string& dir, std::string_view input, qb::CivilDate today) {
  Environment env{{"SCRIPT_NAME", "/cgi-bin/qbcgi.exe"}, {"REMOTE_ADDR", "127.0.0.1"}};
  for (const char* name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH", "CONTENT_TYPE"}) {
    if (const std::string_view value = Cut(input, '\n'); value != "-") env[name] = value;
  }
  if (Cut(input, '\n') == "-") fs::remove(dir + "/qb.db");
  const std::string_view body = Cut(input, '\f');
  if (auto it = env.find("CONTENT_LENGTH"); it != env.end() && it->second == "*") it->second = std::to_string(body.size());
  for (int i = 0; i < 3; ++i) {
    const std::string_view file = Cut(input, '\f');
    WriteFile(dir + "/" + kFiles[i], file.empty() ? kDefaults[i] : file);
  }
  const int in = ::memfd_create("in", MFD_CLOEXEC), out = ::memfd_create("out", MFD_CLOEXEC);
  if (::pwrite(in, body.data(), body.size(), 0) != ssize_t(body.size())) Fail("memfd failed");
  {
    qb::Request req(dir, "qbcgi", in, out, [&env](const char* n) { return env.contains(n) ? env.at(n).c_str() : nullptr; });
    req.today = [today] { return today; };
    qb::RunMain(req);
  }
  std::string response(std::size_t(::lseek(out, 0, SEEK_END)), '\0');
  if (::pread(out, response.data(), response.size(), 0) != ssize_t(response.size())) Fail("cannot read");
  ::close(in), ::close(out);
  return response;
}

// The scratch site (in memory where /dev/shm exists) with its starting store
// kept as start.db: ads 1 and 2 (passwords secret and pw), and ad 3, expired
// by kToday, which a category listing purges.
struct Site {
  std::string dir = fs::exists("/dev/shm") ? "/dev/shm/qbfuzz-XXXXXX" : "/tmp/qbfuzz-XXXXXX";
  Site() {
    if (::mkdtemp(dir.data()) == nullptr) Fail("cannot make a scratch directory");
    for (const auto& [ad, day] : {std::pair<std::string, qb::CivilDate>{"Cars&Item=Red+bike&Name=Ann&Password=secret", kToday},
                                  {"Boats&Item=Canoe&Name=Bob&Password=pw&Price=120", kToday},
                                  {"Cars&Item=Old+lamp&Name=Ann&Password=x", {2025, 1, 1}}}) {
      if (!Run(dir, "POST\nAction=ADD\n*\n-\n\nCategory=" + ad, day).starts_with("Content-type")) Fail("no starting ad");
    }
    fs::rename(dir + "/qb.db", dir + "/start.db");
  }
  ~Site() { fs::remove_all(dir); }
};

void CheckResponse(const std::string& r) {
  const bool known = r.starts_with("Content-type: text/html\n\n\r\n") || r.starts_with("Status: 404 Not Found") ||
                     r.starts_with("Status: 200 OK\r\nContent-type: text/html\n\n\r\n<HTML>\r\n");
  const bool complete = r.ends_with("</body></html>\r\n") || r.ends_with("</BODY></HTML>\r\n");
  const std::string ends = r.substr(0, 200) + "\n...\n" + r.substr(r.size() - std::min<std::size_t>(r.size(), 200));
  if (!r.empty() && !(known && complete)) Fail("an unknown or incomplete response:\n" + ends);
  if (r.find("<PRE>Internal error") != r.npos) Fail("an unexpected exception: " + r.substr(0, 2000));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Site site;
  fs::remove(site.dir + "/qb.db-journal");
  fs::copy_file(site.dir + "/start.db", site.dir + "/qb.db", fs::copy_options::overwrite_existing);
  CheckResponse(Run(site.dir, std::string_view(reinterpret_cast<const char*>(data), size), kToday));
  return 0;
}

// Fuzzes whole requests, run in-process against a scratch site. The input is
// a few lines and a body:
//
//   line 1  REQUEST_METHOD   ("-" leaves it unset)
//   line 2  QUERY_STRING
//   line 3  CONTENT_LENGTH   ("*" is the body's length, "-" leaves it unset)
//   line 4  CONTENT_TYPE     ("-" leaves it unset)
//   line 5  the site: "0" (default) a store with three ads, "1" the same with
//           banners on, "2" no store yet
//   rest    the body, on standard input
//
// Missing lines are empty. Every run gets a new Request and a site reset to
// the same files, so nothing one run does is seen by the next; the output
// goes to a memory file. Each response must be empty, a page, or an error
// page, and must be complete: a violation aborts the run.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "gateway/request.h"
#include "gateway/run_main.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "whole request: %s\n", what.c_str());
  std::abort();
}

// The day every run takes as today, so that a failing input fails again.
constexpr qb::CivilDate kToday{2026, 3, 14};

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) Fail("write failed");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string ReadAll(int fd) {
  std::string bytes;
  char chunk[65536];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.append(chunk, static_cast<std::size_t>(n));
  return bytes;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot write " + path);
  WriteAll(fd, bytes);
  ::close(fd);
}

// A memory file used as the request's input or output, emptied for each run.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
    if (fd_ < 0) Fail("memfd_create failed");
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  int Fd() const { return fd_; }
  void Reset(std::string_view content) const {
    if (::ftruncate(fd_, 0) != 0) Fail("ftruncate failed");
    ::lseek(fd_, 0, SEEK_SET);
    WriteAll(fd_, content);
    ::lseek(fd_, 0, SEEK_SET);
  }

 private:
  int fd_;
};

using Environment = std::map<std::string, std::string>;

// Runs one request of the site in `siteDir` with `env` and `body` on the day
// `today`; returns the response.
std::string RunRequest(const std::string& siteDir, const Environment& env, std::string_view body,
                       const MemoryFile& in, const MemoryFile& out, qb::CivilDate today = kToday) {
  in.Reset(body);
  out.Reset({});
  {
    qb::Request req(siteDir, "qbcgi", in.Fd(), out.Fd(), [&env](const char* name) -> const char* {
      const auto it = env.find(name);
      return it == env.end() ? nullptr : it->second.c_str();
    });
    req.today = [today] { return today; };
    qb::RunMain(req);
  }
  return ReadAll(out.Fd());
}

Environment PostEnvironment(const std::string& query, std::string_view body) {
  return {{"REQUEST_METHOD", "POST"},
          {"QUERY_STRING", query},
          {"CONTENT_LENGTH", std::to_string(body.size())},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
          {"SCRIPT_NAME", "/cgi-bin/qbcgi.exe"}};
}

// Two scratch sites (banners off and on) and the store every run starts from:
// ads 1 and 2 (passwords SECRET and PW), and ad 3, expired, which a category
// listing purges.
class Sites {
 public:
  Sites() : in_("qbfuzz-in"), out_("qbfuzz-out") {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/qbfuzz-site.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch directory");
    root_ = pattern;
    for (const bool banners : {false, true}) {
      const std::string dir = Dir(banners);
      std::filesystem::create_directory(dir);
      WriteFile(dir + "/qbcgi.cfg", std::string("admin@example.com\n30\nhttp://example.com/cgi-bin\n"
                                                "http://example.com/\n") +
                                        (banners ? "Y" : "N") + "\n#FFFFCC\n");
      WriteFile(dir + "/cat.lst", "Cars\nBoats\nHouses\nJobs\nPets\nMusic\nComputers\nOther\n");
      WriteFile(dir + "/qbban.cfg", "2\nimg/one.png\nhttp://one.example/\nimg/two.png\nhttp://two.example/\n");
    }
    MakeStore();
  }
  ~Sites() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::string Dir(bool banners) const { return root_ + (banners ? "/banners" : "/plain"); }

  // Lays the store of `dir` out afresh: the three ads, or no file at all.
  void ResetStore(const std::string& dir, bool withAds) const {
    for (const char* name : {"/qb.db", "/qb.db-journal"}) ::unlink((dir + name).c_str());
    if (withAds) WriteFile(dir + "/qb.db", store_);
  }

  const MemoryFile& In() const { return in_; }
  const MemoryFile& Out() const { return out_; }

 private:
  void MakeStore() {
    const std::string dir = Dir(false);
    ResetStore(dir, false);
    // The third is placed long ago (ExpireDays is 30), so it has expired by
    // kToday.
    const std::pair<std::string_view, qb::CivilDate> ads[] = {
        {"Category=Cars&Item=Red+bike&Name=Ann&Password=secret&Desc=Fast", kToday},
        {"Category=Boats&Item=Canoe&Name=Bob&Password=pw&Price=120", kToday},
        {"Category=Cars&Item=Old+lamp&Name=Ann&Password=x", qb::CivilDate{2025, 1, 1}}};
    for (const auto& [ad, day] : ads) {
      const std::string page = RunRequest(dir, PostEnvironment("Action=ADD", ad), ad, in_, out_, day);
      if (!page.starts_with("Content-type: text/html\n\n")) Fail("placing a starting ad failed: " + page);
    }
    int fd = ::open((dir + "/qb.db").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("no starting store");
    store_ = ReadAll(fd);
    ::close(fd);
  }

  std::string root_;
  MemoryFile in_;
  MemoryFile out_;
  std::string store_;
};

// The next line of `input` (without its LF), consumed.
std::string_view NextLine(std::string_view& input) {
  const std::size_t lf = input.find('\n');
  const std::string_view line = input.substr(0, lf);
  input.remove_prefix(lf == std::string_view::npos ? input.size() : lf + 1);
  return line;
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  text.remove_prefix(text.size() - tail.size());
  for (std::size_t i = 0; i < tail.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != tail[i]) return false;
  }
  return true;
}

void CheckResponse(const std::string& response) {
  if (response.empty()) return;
  const bool page = response.starts_with("Content-type: text/html\n\n\r\n");
  const bool errorPage = response.starts_with("Status: 200 OK\r\nContent-type: text/html\n\n\r\n<HTML>\r\n");
  if (!page && !errorPage) Fail("a response that is neither a page nor an error page: " + response.substr(0, 200));
  if (!EndsWithIgnoringCase(response, "</body></html>\r\n")) {
    Fail("an incomplete response, ending: " + response.substr(response.size() - std::min<std::size_t>(200, response.size())));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Sites sites;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view method = NextLine(input);
  const std::string_view query = NextLine(input);
  const std::string_view length = NextLine(input);
  const std::string_view type = NextLine(input);
  const std::string_view site = NextLine(input);
  const std::string_view body = input;

  Environment env{{"SCRIPT_NAME", "/cgi-bin/qbcgi.exe"}, {"REMOTE_ADDR", "127.0.0.1"},
                  {"QUERY_STRING", std::string(query)}};
  if (method != "-") env["REQUEST_METHOD"] = method;
  if (length == "*") {
    env["CONTENT_LENGTH"] = std::to_string(body.size());
  } else if (length != "-") {
    env["CONTENT_LENGTH"] = length;
  }
  if (type != "-") env["CONTENT_TYPE"] = type;

  const bool banners = site == "1";
  const std::string dir = sites.Dir(banners);
  sites.ResetStore(dir, site != "2");
  CheckResponse(RunRequest(dir, env, body, sites.In(), sites.Out()));
  return 0;
}

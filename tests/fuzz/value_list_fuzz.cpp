// Fuzzes the value-list reader and the three site files read through it.
// The input is read as a list of texts, as a list of numbers, and, written to
// a scratch site as qbcgi.cfg, cat.lst and qbban.cfg, by the settings,
// category and banner loaders. Every read must end: each value consumes at
// least one byte, so a list of n bytes holds at most n + 1 values before the
// reader reports its end. The only errors allowed are the end of the list and
// a number out of range (and, for the banner list, too many banners).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "gateway/qb_error.h"
#include "gateway/request.h"
#include "gateway/site_config.h"
#include "gateway/value_list_reader.h"
#include "postdata/site_lists.h"

namespace {

[[noreturn]] void Violation(const char* what) {
  std::fprintf(stderr, "value list: %s\n", what);
  std::abort();
}

void ExpectOneOf(const qb::QbError& e, std::initializer_list<std::int32_t> allowed) {
  for (std::int32_t n : allowed) {
    if (e.Number() == n) return;
  }
  std::fprintf(stderr, "value list: unexpected error %d: %s\n", e.Number(), e.what());
  std::abort();
}

void ReadAllTexts(const std::string& content) {
  qb::ValueListReader reader(content, "fuzz.lst");
  for (std::size_t count = 0;; ++count) {
    if (count > content.size() + 1) Violation("more values than bytes: the reader does not advance");
    try {
      if (reader.NextText().size() > content.size()) Violation("a value longer than the list");
    } catch (const qb::QbError& e) {
      ExpectOneOf(e, {qb::kErrPastEndOfFile});
      return;
    }
  }
}

void ReadAllNumbers(const std::string& content) {
  qb::ValueListReader reader(content, "fuzz.lst");
  for (std::size_t count = 0;; ++count) {
    if (count > content.size() + 1) Violation("more numbers than bytes: the reader does not advance");
    try {
      reader.NextNumber();
    } catch (const qb::QbError& e) {
      ExpectOneOf(e, {qb::kErrPastEndOfFile, qb::kErrOverflow});
      if (e.Number() == qb::kErrPastEndOfFile) return;
    }
  }
}

void CheckLeadingNumber(std::string_view text) {
  for (const auto& [min, max] : {std::pair<std::int64_t, std::int64_t>{-32768, 32767},
                                 {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()}}) {
    bool overflow = true;
    const std::int64_t n = qb::LeadingNumber(text, min, max, overflow);
    if (overflow ? n != 0 : (n < min || n > max)) Violation("LeadingNumber left its range");
  }
}

// A scratch site directory, on a memory file system when there is one, removed
// at exit.
class ScratchSite {
 public:
  ScratchSite() {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/qbfuzz-list.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Violation("cannot make a scratch directory");
    dir_ = pattern;
  }
  ~ScratchSite() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& Dir() const { return dir_; }
  void Write(const char* name, const std::string& content) const {
    const std::string path = dir_ + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Violation("cannot write a site file");
    const bool whole = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    if (!whole) Violation("short write of a site file");
  }

 private:
  std::string dir_;
};

void LoadSiteFiles(const std::string& content) {
  static const ScratchSite site;
  for (const char* name : {"qbcgi.cfg", "cat.lst", "qbban.cfg"}) site.Write(name, content);
  qb::Request req(site.Dir(), "qbcgi", -1, -1, nullptr);
  try {
    qb::LoadSiteConfig(site.Dir(), req.config);
    if (req.config.ScriptUrl.empty() || req.config.ScriptUrl.back() != '/') Violation("ScriptUrl without its '/'");
  } catch (const qb::QbError& e) {
    ExpectOneOf(e, {qb::kErrPastEndOfFile, qb::kErrOverflow});
  }
  try {
    qb::LoadCategoryList(req);
  } catch (const qb::QbError& e) {
    ExpectOneOf(e, {qb::kErrPastEndOfFile});
  }
  try {
    qb::LoadBannerList(req);
    if (req.BannerCount < 0 || req.BannerCount > 10) Violation("a banner count outside 0 to 10 was accepted");
  } catch (const qb::QbError& e) {
    ExpectOneOf(e, {qb::kErrPastEndOfFile, qb::kErrOverflow, qb::kErrSubscript});
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  ReadAllTexts(content);
  ReadAllNumbers(content);
  CheckLeadingNumber(content);
  LoadSiteFiles(content);
  return 0;
}

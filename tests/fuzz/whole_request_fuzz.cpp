// Fuzzes whole requests, run in-process on the tests' scratch site, whose
// files come from the input too:
//   METHOD \n QUERY \n CONTENT_LENGTH \n CONTENT_TYPE \n STORE \n body \f qbcgi.cfg \f cat.lst \f qbban.cfg
// "-" leaves a variable unset, CONTENT_LENGTH "*" is the body's length, STORE
// "-" means no qb.db yet, and a site file left empty keeps its default.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "support/harness.h"

namespace {

const char* const kFiles[] = {"qbcgi.cfg", "cat.lst", "qbban.cfg"};
const char* const kDefaults[] = {"admin@example.com\n30\nhttp://example.com/cgi-bin\nhttp://example.com/\nY\n#FFFFCC\n",
                                 qbtest::kCategories,
                                 "2\nimg/one.png\nhttp://one.example/\nimg/two.png\nhttp://two.example/\n"};

std::string_view Cut(std::string_view& input, char at) {
  const std::string_view part = input.substr(0, input.find(at));
  input.remove_prefix(std::min(part.size() + 1, input.size()));
  return part;
}

// The site, with its starting store kept as start.db: ads 1 and 2
// (passwords secret and pw) and ad 3, expired, which a listing purges.
struct StartingSite : qbtest::Site {
  StartingSite() {
    Seed({});
    Seed({.Item = "Canoe", .Name = "Bob", .Price = "120", .Category = "Boats", .Password = "PW"});
    Seed({.Item = "Old lamp", .Expire = "2025-01-01"});
    qbtest::RunRequest(*this, qbtest::Get("action=ShowAll"));  // brings the schema up to date
    std::filesystem::rename(Path("qb.db"), Path("start.db"));
  }
};

// A page, an error page or a not-found page, complete, and no unexpected
// exception's page unless the input (a site file) holds its text.
void CheckResponse(const std::string& r, std::string_view input) {
  const bool known = r.starts_with("Content-type: text/html\n\n\r\n") || r.starts_with("Status: 404 Not Found") ||
                     r.starts_with("Status: 200 OK\r\nContent-type: text/html\n\n\r\n<HTML>\r\n");
  const bool complete = r.ends_with("</body></html>\r\n") || r.ends_with("</BODY></HTML>\r\n");
  const std::string ends = r.substr(0, 200) + "\n...\n" + r.substr(r.size() - std::min<std::size_t>(r.size(), 200));
  const char* fault = !(known && complete) ? "an unknown or incomplete response"
                      : r.find("Internal error") != r.npos && input.find("Internal error") == input.npos
                          ? "an unexpected exception"
                          : nullptr;
  if (fault) std::fprintf(stderr, "whole request: %s:\n%s\n", fault, ends.c_str()), std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const StartingSite site;
  const std::string_view whole(reinterpret_cast<const char*>(data), size);
  std::string_view input = whole;
  qbtest::Call call{{{"SCRIPT_NAME", "/cgi-bin/qbcgi.exe"}, {"REMOTE_ADDR", "127.0.0.1"}}, ""};
  for (const char* name : {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH", "CONTENT_TYPE"}) {
    if (const std::string_view value = Cut(input, '\n'); value != "-") call.env[name] = value;
  }
  std::filesystem::remove(site.Path("qb.db-journal"));
  std::filesystem::remove(site.Path("qb.db"));
  if (Cut(input, '\n') != "-") std::filesystem::copy_file(site.Path("start.db"), site.Path("qb.db"));
  call.body = Cut(input, '\f');
  if (auto it = call.env.find("CONTENT_LENGTH"); it != call.env.end() && it->second == "*") {
    it->second = std::to_string(call.body.size());
  }
  for (int i = 0; i < 3; ++i) {
    const std::string_view file = Cut(input, '\f');
    site.Write(kFiles[i], file.empty() ? kDefaults[i] : std::string(file));
  }
  CheckResponse(qbtest::RunRequest(site, call), whole);
  return 0;
}

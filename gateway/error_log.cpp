#include "gateway/error_log.h"

#include <unistd.h>

#include <cstdio>

#include "gateway/request.h"

namespace qb {
namespace {

// The action comes from the request: a visitor may send any length.
constexpr std::size_t kMaxActionBytes = 64;

void AppendEscaped(std::string& line, std::string_view text) {
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else if (c == '\t') {
      line += "\\t";
    } else if (c == '\\') {
      line += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      line += escaped;
    } else {
      line += ch;
    }
  }
}

}  // namespace

std::string LogLine(std::time_t when, std::string_view action, std::string_view what) {
  std::tm utc{};
  char time[32] = "-";
  if (gmtime_r(&when, &utc) != nullptr) std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string line = std::string(time) + " qbcgi: action ";
  if (action.empty()) {
    line += '-';
  } else {
    AppendEscaped(line, action.substr(0, kMaxActionBytes));
    if (action.size() > kMaxActionBytes) line += "...";
  }
  line += ": ";
  AppendEscaped(line, what);
  line += '\n';
  return line;
}

void LogForRequest(const CgiRequest& req, std::string_view what) {
  try {
    const std::string line = LogLine(std::time(nullptr), req.ActionName, what);
    if (req.log.write) {
      req.log.write(line);
      return;
    }
    // One write, so lines of concurrent requests do not interleave.
    for (std::size_t done = 0; done < line.size();) {
      const ssize_t n = ::write(req.log.fd, line.data() + done, line.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  } catch (...) {  // the page matters more than its log line
  }
}

void LogErrorPage(const CgiRequest& req, std::int32_t number, const std::string& description) {
  try {
    LogForRequest(req, "error " + std::to_string(number) + ": " + description);
  } catch (...) {  // the page matters more than its log line
  }
}

}  // namespace qb

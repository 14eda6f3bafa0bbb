#pragma once
// The error log: every error page the program sends is also reported as one
// line on standard error, which web servers keep in their error log, so the
// operator learns of failures that visitors only see.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace qb {

struct CgiRequest;

// Where a process's log lines go: descriptor `fd` (standard error, the web
// server's error log), unless `write` is set: a resident process sends the
// line to the web server with the request, as FastCGI's error stream.
struct LogTarget {
  int fd = 2;
  std::function<void(std::string_view line)> write;
};

// "<UTC time> qbcgi: action <ActionName or ->: <what>" and LF. Control bytes
// and backslashes in the action and in `what` are escaped (\n, \r, \t, \\,
// \xHH), so a line is always one line.
std::string LogLine(std::time_t when, std::string_view action, std::string_view what);

// Writes the line of `what` for `req` to its log target in one write; never
// fails.
void LogForRequest(const CgiRequest& req, std::string_view what);

// The line for an error page: "error <number>: <description>".
void LogErrorPage(const CgiRequest& req, std::int32_t number, const std::string& description);

}  // namespace qb

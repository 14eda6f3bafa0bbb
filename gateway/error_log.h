#pragma once
// The error log: every error page the program sends is also reported as one
// line on standard error, which web servers keep in their error log, so the
// operator learns of failures that visitors only see.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "gateway/request.h"

namespace qb {

// "<UTC time> qbcgi: action <ActionName or ->: <what>" and LF. Control bytes
// and backslashes in the action and in `what` are escaped (\n, \r, \t, \\,
// \xHH), so a line is always one line.
std::string LogLine(std::time_t when, std::string_view action, std::string_view what);

// Writes the line of `what` for `req` to req.logFd in one write (or hands
// it to req.writeLog); never fails.
void LogForRequest(const Request& req, std::string_view what);

// The line for an error page: "error <number>: <description>".
void LogErrorPage(const Request& req, std::int32_t number, const std::string& description);

}  // namespace qb

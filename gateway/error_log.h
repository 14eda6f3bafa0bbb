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

// "<UTC time> qbcgi: action <ActionName or ->: error <number>: <description>"
// and LF. Control bytes and backslashes in the action and description are
// escaped (\n, \r, \t, \\, \xHH), so a line is always one line.
std::string ErrorLogLine(std::time_t when, std::string_view action, std::int32_t number,
                         std::string_view description);

// Writes the line for an error page of `req` to req.logFd in one write;
// never fails.
void LogErrorPage(const Request& req, std::int32_t number, const std::string& description);

}  // namespace qb

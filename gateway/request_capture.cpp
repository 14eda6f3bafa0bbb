#include "gateway/request_capture.h"

#include <unistd.h>
#include <cerrno>
#include <limits>
#include <string>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "gateway/value_list_reader.h"

namespace qb {

void LoadCgiEnvironment(CgiRequest& req) {
  auto get = [&req](const char* name) {
    const char* value = req.env ? req.env(name) : nullptr;
    return std::string(value ? value : "");
  };
  CgiEnvironment& c = req.cgi;
  c.HTTP_ACCEPT = get("HTTP_ACCEPT");
  c.AUTH_TYPE = get("AUTH_TYPE");
  c.CONTENT_LENGTH = get("CONTENT_LENGTH");
  c.CONTENT_TYPE = get("CONTENT_TYPE");
  c.GATEWAY_INTERFACE = get("GATEWAY_INTERFACE");
  c.PATH_INFO = get("PATH_INFO");
  c.PATH_TRANSLATED = get("PATH_TRANSLATED");
  c.QUERY_STRING = get("QUERY_STRING");
  c.HTTP_REFERER = get("HTTP_REFERER");
  c.REMOTE_ADDR = get("REMOTE_ADDR");
  c.REMOTE_HOST = get("REMOTE_HOST");
  c.REMOTE_IDENT = get("REMOTE_IDENT");
  c.REMOTE_USER = get("REMOTE_USER");
  c.REQUEST_METHOD = get("REQUEST_METHOD");
  c.SCRIPT_NAME = get("SCRIPT_NAME");
  c.SERVER_SOFTWARE = get("SERVER_SOFTWARE");
  c.SERVER_NAME = get("SERVER_NAME");
  c.SERVER_PORT = get("SERVER_PORT");
  c.SERVER_PROTOCOL = get("SERVER_PROTOCOL");
  c.HTTP_USER_AGENT = get("HTTP_USER_AGENT");

  bool overflow = false;
  std::int64_t length = LeadingNumber(c.CONTENT_LENGTH, std::numeric_limits<std::int32_t>::min(),
                                      std::numeric_limits<std::int32_t>::max(), overflow);
  if (overflow) throw QbError(kErrOverflow, "Overflow: CONTENT_LENGTH is too large");
  req.ContentLength = static_cast<std::int32_t>(length);
  req.form.Reset();
}

void ReadFormData(CgiRequest& req) {
  if (req.cgi.REQUEST_METHOD == "POST") {
    if (req.ContentLength < 0) {
      throw QbError(kErrInvalidArgument, "Invalid procedure call or argument: CONTENT_LENGTH is negative");
    }
    if (req.ContentLength > kMaxContentLength) {
      throw QbError(kErrOutOfMemory, "Out of memory: the request body is larger than 16 MiB");
    }
    std::string& body = req.FormBody;
    body.resize(static_cast<std::size_t>(req.ContentLength));
    std::size_t got = 0;
    // A pipe delivers what has arrived so far; read until the announced
    // length is in or the input ends. A failed read ends the body.
    while (got < body.size()) {
      const long n = req.readBody(body.data() + got, body.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    body.resize(got);
    if (ContainsIgnoreCase(req.cgi.CONTENT_TYPE, "www-form-urlencoded")) req.form.ParsePairs(body);
  }
  req.form.ParsePairs(req.cgi.QUERY_STRING);
}

void RequireWholeBody(const CgiRequest& req) {
  if (req.cgi.REQUEST_METHOD != "POST" || req.ContentLength <= 0) return;
  const auto announced = static_cast<std::size_t>(req.ContentLength);
  if (req.FormBody.size() < announced) {
    throw QbError(kErrPastEndOfFile, "Input past end of file: the request body ended after " +
                                         std::to_string(req.FormBody.size()) + " of the " + std::to_string(announced) +
                                         " bytes announced");
  }
}

}  // namespace qb

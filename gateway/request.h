#pragma once
// What the CGI gateway knows of one request: the captured CGI values, the
// body and its decoded form fields, the action it names, the response
// writer and the text of its error. Nothing here outlives the request; the
// application's Request (postdata/request.h) builds on it.
#include <cstdint>
#include <functional>
#include <string>

#include <unistd.h>

#include "gateway/cgi_environment.h"
#include "gateway/error_log.h"
#include "gateway/form_data.h"
#include "gateway/response_writer.h"

namespace qb {

// Reads up to `size` bytes of the request body into `into`: the number read,
// 0 at the body's end, or -1 with errno set (EINTR: try again).
using BodyReader = std::function<long(char* into, std::size_t size)>;

// The body read from descriptor `fd`, as a CGI process gets it.
inline BodyReader ReadBodyFrom(int fd) {
  return [fd](char* into, std::size_t size) { return static_cast<long>(::read(fd, into, size)); };
}

struct CgiRequest {
  // The response written to `outputFd` as it is made.
  CgiRequest(BodyReader body, EnvLookup environment, const LogTarget& logTo, int outputFd)
      : readBody(std::move(body)), env(std::move(environment)), log(logTo), out(outputFd) {}
  // The response held whole (out.Held()), as a resident process sends it.
  CgiRequest(BodyReader body, EnvLookup environment, const LogTarget& logTo, HoldWhole)
      : readBody(std::move(body)), env(std::move(environment)), log(logTo), out(HoldWhole{}) {}

  BodyReader readBody;
  EnvLookup env;
  const LogTarget& log;  // where its error pages are logged

  CgiEnvironment cgi;
  std::int32_t ContentLength = 0;
  std::string FormBody;
  FormPairs form;
  std::string ActionName;
  std::string ErrorText;
  ResponseWriter out;

  std::string GetFormValue(std::string_view name) const { return form.GetFormValue(name); }
};

}  // namespace qb

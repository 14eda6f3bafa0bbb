#pragma once
// Capture of the CGI/1.1 request: the environment variables, the announced
// body length and the body itself.
#include <cstdint>
#include <functional>
#include <string>

namespace qb {

struct CgiEnvironment {
  std::string HTTP_ACCEPT;
  std::string AUTH_TYPE;
  std::string CONTENT_LENGTH;
  std::string CONTENT_TYPE;
  std::string GATEWAY_INTERFACE;
  std::string PATH_INFO;
  std::string PATH_TRANSLATED;
  std::string QUERY_STRING;
  std::string HTTP_REFERER;
  std::string REMOTE_ADDR;
  std::string REMOTE_HOST;
  std::string REMOTE_IDENT;
  std::string REMOTE_USER;
  std::string REQUEST_METHOD;
  std::string SCRIPT_NAME;
  std::string SERVER_SOFTWARE;
  std::string SERVER_NAME;
  std::string SERVER_PORT;
  std::string SERVER_PROTOCOL;
  std::string HTTP_USER_AGENT;
};

// Looks up one environment variable; null when it is not set.
using EnvLookup = std::function<const char*(const char* name)>;

// The largest body a POST may announce; a longer one is refused before
// anything is read.
inline constexpr std::int64_t kMaxContentLength = 16 * 1024 * 1024;

}  // namespace qb

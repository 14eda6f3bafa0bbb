#include "resident/fastcgi_front_end.h"

#include <fastcgi.h>
#include <fcgiapp.h>
#include <malloc.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace qb {

namespace {

// Signals that stop the process are held back while a request is answered,
// so that the process only ends between requests, never halfway through a
// page or a change to the store.
class StopSignalsHeld {
 public:
  StopSignalsHeld() {
    sigemptyset(&stops_);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops_, signal);
    ::sigprocmask(SIG_BLOCK, &stops_, nullptr);
  }
  ~StopSignalsHeld() { ::sigprocmask(SIG_UNBLOCK, &stops_, nullptr); }
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
  sigset_t stops_;
};

// Writes all of `parts` (`size` bytes in all), going on after short writes;
// false when the connection fails.
bool WriteAll(int fd, iovec* parts, int count, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::writev(fd, parts, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    size -= static_cast<std::size_t>(n);
    // A short write: skip what went out, in whichever part it ended.
    for (std::size_t written = static_cast<std::size_t>(n); written > 0; ++parts, --count) {
      const std::size_t done = std::min(parts->iov_len, written);
      parts->iov_base = static_cast<char*>(parts->iov_base) + done;
      parts->iov_len -= done;
      written -= done;
      if (parts->iov_len > 0) break;
    }
  }
  return true;
}

// Sends `response` as the request's standard output in records of up to
// 64 KiB, all in one write: the library's own stream writes 8 KiB records,
// which costs a 72 KiB listing nine writes and as many wake-ups of the web
// server. The library then ends the stream and the request as usual. A
// failed connection loses the rest, as a CGI program's failed write does.
//
// A page that fits the library's own 8 KiB stream buffer (the main page, a
// form, an error page) is handed to that stream instead: the library then
// sends it with the records that end the request in one write.
void SendResponse(const FCGX_Request& fcgi, std::string_view response) {
  constexpr std::size_t kLibraryBuffered = 8 * 1024 - 64;  // room left for the record headers
  if (response.size() <= kLibraryBuffered) {
    FCGX_PutStr(response.data(), static_cast<int>(response.size()), fcgi.out);
    return;
  }
  // Up to 2 MiB a write; the largest page (the list of all ads) is 150 KB.
  constexpr std::size_t kRecordsAWrite = 32;
  while (!response.empty()) {
    unsigned char headers[kRecordsAWrite][FCGI_HEADER_LEN] = {};  // no padding, the reserved byte 0
    iovec parts[2 * kRecordsAWrite];
    std::size_t records = 0, size = 0;
    for (; records < kRecordsAWrite && !response.empty(); ++records) {
      const std::size_t length = std::min<std::size_t>(response.size(), FCGI_MAX_LENGTH);
      unsigned char* const header = headers[records];
      header[0] = FCGI_VERSION_1;
      header[1] = FCGI_STDOUT;
      header[2] = static_cast<unsigned char>(fcgi.requestId >> 8);
      header[3] = static_cast<unsigned char>(fcgi.requestId);
      header[4] = static_cast<unsigned char>(length >> 8);
      header[5] = static_cast<unsigned char>(length);
      parts[2 * records] = {header, FCGI_HEADER_LEN};
      parts[2 * records + 1] = {const_cast<char*>(response.data()), length};
      size += FCGI_HEADER_LEN + length;
      response.remove_prefix(length);
    }
    if (!WriteAll(fcgi.ipcFd, parts, static_cast<int>(2 * records), size)) return;
  }
}

// Reads and drops what is left of the request's input: the part of the body
// the page did not read (a body it refused unread, a body sent with a GET or
// PUT) and the record that ends it. A web server still sending that when the
// connection is closed finds it broken, logs an error ("perhaps the gw
// process died", "connection reset by peer") and may end the response
// early; libfcgi's cgi-fcgi ends with EPIPE. At most the body limit, read for
// at most kDropTime; a web server that sends more, or more slowly, finds the
// connection closed as before.
void DropUnreadInput(FCGX_Request& fcgi) {
  constexpr auto kDropTime = std::chrono::seconds(1);
  if (FCGX_HasSeenEOF(fcgi.in) != 0 || FCGX_GetError(fcgi.in) != 0) return;
  const auto deadline = std::chrono::steady_clock::now() + kDropTime;
  char dropped[16 * 1024];  // libfcgi reads the socket 8 KiB at a time
  bool timed = false;
  // One byte beyond the limit, to find the end of a body as long as the limit.
  for (std::int64_t left = kMaxContentLength + 1; left > 0;) {
    // Each read waits at most until the deadline (libfcgi reads the socket
    // blocking; a read that times out ends the stream with an error).
    const auto wait =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (wait.count() <= 0) break;
    const timeval limit{static_cast<time_t>(wait.count() / 1000000), static_cast<suseconds_t>(wait.count() % 1000000)};
    if (::setsockopt(fcgi.ipcFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0) timed = true;
    const int n = FCGX_GetStr(dropped, static_cast<int>(std::min<std::int64_t>(left, sizeof dropped)), fcgi.in);
    if (n <= 0 || FCGX_HasSeenEOF(fcgi.in) != 0) break;  // the end, an error, or a timeout
    left -= n;
  }
  // A connection the web server keeps for its next request waits without limit again.
  if (timed && fcgi.keepConnection) {
    const timeval none{};
    ::setsockopt(fcgi.ipcFd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);
  }
}

// The request's parameters, read once into a table of names and values:
// the library's own lookup compares the name asked for with every
// parameter in turn, and a request asks for some twenty of them. Names are
// compared by length first. The table is reused from request to request.
class ParameterTable {
 public:
  void Read(char** envp) {
    params_.clear();
    for (char** at = envp; at != nullptr && *at != nullptr; ++at) {
      const char* equals = std::strchr(*at, '=');
      if (equals != nullptr)
        params_.push_back({std::string_view(*at, static_cast<std::size_t>(equals - *at)), equals + 1});
    }
  }
  // The value of the first parameter called `name`, as the library's lookup
  // gives it; null when there is none.
  const char* Find(const char* name) const {
    const std::string_view wanted(name);
    for (const auto& [param, value] : params_) {
      if (param == wanted) return value;
    }
    return nullptr;
  }

 private:
  std::vector<std::pair<std::string_view, const char*>> params_;
};

// Whether the socket the process was given is a unix-domain one.
bool ListensOnUnixSocket() {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  return ::getsockname(0, reinterpret_cast<sockaddr*>(&address), &size) == 0 && address.ss_family == AF_UNIX;
}

}  // namespace

bool StartedAsFastCgi() {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  errno = 0;
  return ::getpeername(0, reinterpret_cast<sockaddr*>(&peer), &size) != 0 && errno == ENOTCONN;
}

int ServeFastCgi(ProgramLocation location, void (*answer)(Request& req)) {
  if (FCGX_Init() != 0) return 1;
  // A web server that goes away before it has read a page must not end the
  // process: the write fails, and the next request is served.
  ::signal(SIGPIPE, SIG_IGN);
  // Every request allocates and frees its page and its buffers. The C
  // library would hand the top of the heap back to the kernel after each and
  // take it again, zeroed, with page faults, for the next: it keeps up to
  // 4 MiB instead, more than any page needs. Blocks of 1 MiB or more (a large
  // request body) are mapped apart and returned as soon as they are freed, so
  // a process does not keep the memory of its largest request.
  ::mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024);
  ::mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
  FCGX_Request fcgi;
  if (FCGX_InitRequest(&fcgi, 0, 0) != 0) return 1;
  Host host(std::move(location), true);
  host.log.write = [&fcgi](std::string_view line) {
    FCGX_PutStr(line.data(), static_cast<int>(line.size()), fcgi.err);
  };
  // The library ends a connection by shutting down its own side and waiting
  // for the web server to close the other, so that on TCP unread input left
  // behind cannot make the kernel reset the connection and lose the end of
  // the response. A unix-domain socket delivers all that was sent before it
  // reports a reset, so there the wait (a second wake-up of this process
  // for every request) is skipped: the connection is simply closed.
  const bool closeAtOnce = ListensOnUnixSocket();
  ParameterTable params;
  while (FCGX_Accept_r(&fcgi) >= 0) {
    StopSignalsHeld held;
    params.Read(fcgi.envp);
    {
      Request req(
          host,
          [&fcgi](char* into, std::size_t size) {
            return static_cast<long>(FCGX_GetStr(into, static_cast<int>(size), fcgi.in));
          },
          [&params](const char* name) { return params.Find(name); }, HoldWhole{});
      answer(req);
      SendResponse(fcgi, req.out.Held());
    }
    DropUnreadInput(fcgi);
    if (closeAtOnce) FCGX_Detach(&fcgi);
    FCGX_Finish_r(&fcgi);
  }
  return 0;
}

}  // namespace qb

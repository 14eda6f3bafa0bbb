#include "resident/fastcgi_front_end.h"

#include <fcgiapp.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>

#include "gateway/request.h"
#include "gateway/run_main.h"
#include "storage/kept_store.h"

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

}  // namespace

bool StartedAsFastCgi() {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  errno = 0;
  return ::getpeername(0, reinterpret_cast<sockaddr*>(&peer), &size) != 0 && errno == ENOTCONN;
}

int ServeFastCgi(const ProgramLocation& location) {
  if (FCGX_Init() != 0) return 1;
  // A web server that goes away before it has read a page must not end the
  // process: the write fails, and the next request is served.
  ::signal(SIGPIPE, SIG_IGN);
  FCGX_Request fcgi;
  if (FCGX_InitRequest(&fcgi, 0, 0) != 0) return 1;
  KeptStore store;
  while (FCGX_Accept_r(&fcgi) >= 0) {
    StopSignalsHeld held;
    {
      Request req(
          location.directory, location.file,
          [&fcgi](char* into, std::size_t size) {
            return static_cast<long>(FCGX_GetStr(into, static_cast<int>(size), fcgi.in));
          },
          [&fcgi](const char* name) { return static_cast<const char*>(FCGX_GetParam(name, fcgi.envp)); }, &store);
      RunMain(req);
      const std::string_view response = req.out.Held();
      FCGX_PutStr(response.data(), static_cast<int>(response.size()), fcgi.out);
    }
    FCGX_Finish_r(&fcgi);
  }
  return 0;
}

}  // namespace qb

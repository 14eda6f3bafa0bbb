#pragma once
// The resident front end: the program started by a FastCGI process manager
// (lighttpd's fastcgi.server, spawn-fcgi, Apache's mod_fcgid, a systemd
// socket unit) answers request after request on the socket it was given.
#include "gateway/program_location.h"
#include "postdata/request.h"

namespace qb {

// Whether standard input is a listening socket, which is how a FastCGI
// process manager starts its application; a CGI process has a pipe, a file
// or nothing there.
bool StartedAsFastCgi();

// Accepts requests until the socket is closed or the process is told to
// stop, and has `answer` answer each; returns the process's exit status.
//
// What lives how long:
// - the process: its Host, which this function owns: `location` (the site's
//   directory and the program's name) and the store connection;
// - the site: settings, categories and banners, kept by the Host while
//   their files are unchanged, so a change is seen by the very next request;
// - the request: a fresh Request, with its CGI values, form and held
//   response, made for every request and gone before the next is accepted.
int ServeFastCgi(ProgramLocation location, void (*answer)(Request& req));

}  // namespace qb

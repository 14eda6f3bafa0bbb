#pragma once
#include "postdata/request.h"

namespace qb {

// The application, once the site and the request are read: completes the
// script address and runs the handler of the requested action, which writes
// the whole page. An action it does not know gets a not-found page. A
// failure during a handler's store work gets the error page the action table
// names for it; every other failure passes on to the caller's error routine.
void RunApplication(Request& req);

}  // namespace qb

#pragma once
#include "gateway/request.h"

namespace qb {

// The application: loads the category and banner lists, completes the script
// address, and runs the handler of the requested action, which writes the
// whole page. An action it does not know gets an empty response. Errors of
// the handlers end in the application error page; when its database slots
// cannot all be closed the error passes on to the caller's error routine.
void RunApplication(Request& req);

}  // namespace qb

#pragma once
#include "postdata/request.h"

namespace qb {

// One whole request: the site (read, or kept by a resident host while its
// files are unchanged), request capture, the application. Every error that
// the application does not answer itself ends here, in the start-up error
// routine, which writes the gateway error page. All output is written when
// it returns.
void RunMain(Request& req);

}  // namespace qb

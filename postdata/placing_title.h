#pragma once
#include "postdata/request.h"

namespace qb {

// "<html><head><title>...Enter New Add</title></head><body bgcolor="...">",
// the title line of the new-ad form and of the pages that answer it.
void SendPlacingTitleLine(Request& req);

}  // namespace qb

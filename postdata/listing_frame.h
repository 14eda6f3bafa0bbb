#pragma once
// The top and bottom that the two listings share.
#include "postdata/request.h"

namespace qb {

// Header, title line `title`, notice comment, body line and, when banners
// are enabled, the banner block.
void SendListingTop(Request& req, const char* title);
// `firstLine`, the navigation bar, the centred footer notice and the closer.
void SendListingBottom(Request& req, const char* firstLine);

}  // namespace qb

#pragma once
// A short page in the board's look that tells the visitor why his request
// was not carried out: a heading, one line of explanation, the navigation bar.
#include <initializer_list>

#include "postdata/request.h"

namespace qb {

// Writes the page after whatever header lines the caller sent (a status line,
// say), starting with the content-type header. `title` ends the title line;
// `message` is one line, its pieces as SendLine takes them.
void SendNoticePage(Request& req, const char* title, const char* heading, std::initializer_list<Piece> message);

}  // namespace qb

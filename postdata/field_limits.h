#pragma once
// How long the fields of an ad may be. The forms cap each text box by its
// maxlength in characters; the store takes as many bytes as four times that
// (the longest UTF-8 character), and a description of at most 64 KiB. Longer
// fields come only from hand-made requests, and the board refuses them, so
// that no listing page grows beyond reason. Ads stored before still show.
#include <initializer_list>

#include "postdata/request.h"

namespace qb {

// When one of the named form fields is longer than the forms allow, writes a
// page that names it and refuses the ad, and returns true; the caller then
// stores nothing. Fields: Item, Name, Email, Phone, Price, Password, Desc.
bool RefuseOverlongField(Request& req, std::initializer_list<const char*> fields);

}  // namespace qb

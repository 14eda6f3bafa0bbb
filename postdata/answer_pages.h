#pragma once
// The short answer pages of the seller's edit flow: the password refused
// (wrong, or too many wrong ones tried), updated, deleted.
#include "postdata/password_test.h"
#include "postdata/request.h"

namespace qb {

// The first lines of the short answer pages (invalid password, updated,
// deleted): header, title line with the site's colour, notice comment.
void SendAnswerPageTop(Request& req);

// The page for a password that did not unlock the ad.
void SendRefusalPage(Request& req, const PasswordTest& test);

}  // namespace qb

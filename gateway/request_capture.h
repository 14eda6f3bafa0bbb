#pragma once
#include "gateway/request.h"

namespace qb {

// Fills req.cgi from the environment, reads ContentLength from
// CONTENT_LENGTH (its leading decimal number; beyond 32 bits raises
// kErrOverflow) and resets the form fields.
void LoadCgiEnvironment(CgiRequest& req);

// For a POST (method written exactly "POST") reads the body until
// ContentLength bytes have arrived or the input ends, and decodes it when the
// content type says www-form-urlencoded; then decodes the query string.
// A negative length raises kErrInvalidArgument, one above kMaxContentLength
// kErrOutOfMemory, both before anything is read.
void ReadFormData(CgiRequest& req);

// Raises kErrPastEndOfFile when a POST body ended before the length it
// announced: its client went away mid-upload, or the web server gave up on
// it. The body then holds only the front of the form, so a handler that
// stores what the form holds calls this first and stores nothing. Pages
// that store nothing take the body as it arrived.
void RequireWholeBody(const CgiRequest& req);

}  // namespace qb

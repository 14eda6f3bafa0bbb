#pragma once
#include <string>
#include <string_view>

namespace qb {

// `text` as a form field's value in a link's query: ASCII letters, digits
// and "-._*" as they are, blanks as "+", every other byte as %XX; the form
// decoder gives back the very bytes.
std::string FormEncode(std::string_view text);

}  // namespace qb

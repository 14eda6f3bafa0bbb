#pragma once
#include <string>
#include <string_view>

namespace qb {

// Removes leading and trailing blanks (spaces only, as typed into a form).
std::string Trim(std::string_view text);
// Upper-cases ASCII letters; other bytes (accented letters in any encoding)
// are left as they are.
std::string AsciiUpper(std::string_view text);
// `text` as a form field's value in a link's query: ASCII letters, digits
// and "-._*" as they are, blanks as "+", every other byte as %XX; the form
// decoder gives back the very bytes.
std::string FormEncode(std::string_view text);

}  // namespace qb

#pragma once
// Byte-level text helpers that know only ASCII: letter case and blanks. Bytes
// outside ASCII (accented letters in any encoding) are left as they are.
#include <string>
#include <string_view>

namespace qb {

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
// Equal when ASCII letters are compared without regard to case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Whether `needle` occurs in `haystack`, ASCII letters compared without
// regard to case.
bool ContainsIgnoreCase(std::string_view haystack, std::string_view needle);

// Removes leading and trailing blanks (spaces only, as typed into a form).
std::string Trim(std::string_view text);

}  // namespace qb

#include "gateway/ascii_text.h"

#include <algorithm>

namespace qb {

namespace {

bool SameLetter(char a, char b) { return AsciiLower(a) == AsciiLower(b); }

}  // namespace

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) { return std::ranges::equal(a, b, SameLetter); }

bool ContainsIgnoreCase(std::string_view haystack, std::string_view needle) {
  // std::search, not std::ranges::search: clang 14 cannot compile the latter
  // with GCC 12's library.
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), SameLetter) != haystack.end() ||
         needle.empty();
}

std::string Trim(std::string_view text) {
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::string();
  std::size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(start, end - start + 1));
}

}  // namespace qb

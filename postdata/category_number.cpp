#include "postdata/category_number.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "gateway/qb_error.h"

namespace qb {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// [+-] digits [. digits] [e [+-] digits], at least one digit before the
// exponent.
bool IsDecimalNumber(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == t.size();
}

}  // namespace

std::int16_t CategoryNumber(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (!IsDecimalNumber(text)) {
    throw QbError(kErrTypeMismatch,
                  "Type mismatch: the category number \"" + std::string(text.substr(0, 40)) + "\" is not a number");
  }
  double value = std::nearbyint(std::strtod(std::string(text).c_str(), nullptr));  // halves to even
  if (!(value >= -32768.0 && value <= 32767.0)) {
    throw QbError(kErrOverflow, "Overflow: the category number is out of range");
  }
  return static_cast<std::int16_t>(value);
}

}  // namespace qb

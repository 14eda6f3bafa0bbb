#pragma once
#include <cstdint>
#include <string_view>

namespace qb {

// The category number a listing request names in "Cat": a decimal number,
// blanks around it allowed, rounded to the nearest whole number with halves
// going to the even neighbour. An empty text or one that is no number raises
// kErrTypeMismatch; a number outside the 16-bit range kErrOverflow.
std::int16_t CategoryNumber(std::string_view text);

}  // namespace qb

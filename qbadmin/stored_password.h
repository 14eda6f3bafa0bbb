#pragma once
// Whether a seller can ever type an ad's stored password. The edit flow
// trims blanks off both the stored and the typed password and upper-cases
// the typed one (ASCII letters only), so a stored password matches some
// typed text exactly when, trimmed, it holds no lower-case ASCII letter.
// A stored password that is null, empty or only blanks matches nothing by
// design: placing refuses it today, but older stores hold such ads.
#include <optional>
#include <string>

namespace qb::admin {

enum class StoredPassword {
  kTypable,    // some typed text unlocks the ad
  kNone,       // null, empty or blank: the ad unlocks for no one
  kUntypable,  // lower-case letters, which no typed text can match
};

StoredPassword ClassifyPassword(const std::optional<std::string>& password);

}  // namespace qb::admin

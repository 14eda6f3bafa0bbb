#include "qbadmin/stored_password.h"

#include <algorithm>

#include "gateway/ascii_text.h"

namespace qb::admin {

StoredPassword ClassifyPassword(const std::optional<std::string>& password) {
  if (!password || Trim(*password).empty()) return StoredPassword::kNone;
  const bool lower = std::ranges::any_of(*password, [](char c) { return c >= 'a' && c <= 'z'; });
  return lower ? StoredPassword::kUntypable : StoredPassword::kTypable;
}

}  // namespace qb::admin

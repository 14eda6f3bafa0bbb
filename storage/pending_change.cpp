#include "storage/pending_change.h"

#include <algorithm>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "storage/ad_record.h"

namespace qb {

void PendingChange::Set(std::string_view name, std::string_view value) {
  if (mode_ == Mode::kNone) throw QbError(kErrInvalidArgument, "SetField without AddNew or Edit");
  const auto it = std::ranges::find_if(kAdColumns, [&](std::string_view c) { return EqualsIgnoreCase(c, name); });
  if (it == kAdColumns.end()) throw QbError(kErrItemNotFound, "Field " + std::string(name) + " not found");
  const int column = static_cast<int>(it - kAdColumns.begin());
  if (column == 0) throw QbError(kErrInvalidArgument, "Field ID cannot be set: the store numbers the ads");
  const auto same = std::ranges::find_if(fields_, [&](const auto& field) { return field.first == column; });
  if (same != fields_.end()) {
    same->second = value;
  } else {
    fields_.emplace_back(column, value);
  }
}

std::pair<PendingChange::Mode, PendingChange::Fields> PendingChange::Finish() {
  if (mode_ == Mode::kNone) throw QbError(kErrInvalidArgument, "Update without AddNew or Edit");
  std::pair<Mode, Fields> change{std::exchange(mode_, Mode::kNone), std::move(fields_)};
  fields_.clear();
  return change;
}

}  // namespace qb

#pragma once
// The change a recordset is making, on either store, between AddNew or Edit
// and Update: which kind of change, and the new text of each ad column given
// so far (given twice, the last text wins).
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb {

class PendingChange {
 public:
  enum class Mode { kNone, kAdding, kEditing };
  // Ad columns (their index in kAdColumns) with their new text, in the order
  // first given.
  using Fields = std::vector<std::pair<int, std::string>>;

  // Starts a change afresh (kNone: no change).
  void Start(Mode mode) {
    mode_ = mode;
    fields_.clear();
  }
  Mode Current() const { return mode_; }
  // Gives the ad column `name` (matched without regard to case) its new
  // text. Raises kErrInvalidArgument with no change started or for ID, which
  // the store numbers, and kErrItemNotFound for a name no column has.
  void Set(std::string_view name, std::string_view value);
  // Ends the change and gives its kind and fields; raises
  // kErrInvalidArgument when none was started.
  std::pair<Mode, Fields> Finish();

 private:
  Mode mode_ = Mode::kNone;
  Fields fields_;
};

}  // namespace qb

#include "postdata/field_limits.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "postdata/notice_page.h"

namespace qb {
namespace {

struct FieldLimit {
  std::string_view field;
  const char* label;      // as the forms name the field
  std::size_t maxLength;  // the form's maxlength; 0 for the description
};

constexpr FieldLimit kLimits[] = {
    {"Item", "Item", 100},           {"Name", "Your Name", 50},   {"Email", "Your Email Address", 100},
    {"Phone", "Your Phone", 12},     {"Price", "Item Price", 20}, {"Password", "Item Password", 8},
    {"Desc", "Item Description", 0},
};

constexpr std::size_t kBytesPerCharacter = 4;
constexpr std::size_t kDescriptionBytes = 64 * 1024;

}  // namespace

bool RefuseOverlongField(Request& req, std::initializer_list<const char*> fields) {
  for (const char* field : fields) {
    for (const FieldLimit& limit : kLimits) {
      if (limit.field != field) continue;
      const std::size_t bytes = limit.maxLength > 0 ? limit.maxLength * kBytesPerCharacter : kDescriptionBytes;
      if (req.GetFormValue(field).size() <= bytes) continue;
      const std::string allowed =
          limit.maxLength > 0 ? std::to_string(limit.maxLength) + " characters" : "64 KB of text";
      SendNoticePage(req, "Ad Not Saved", "- Your Ad was not saved! -",
                     {"<center>The field <b>", Trusted{limit.label}, "</b> is too long: it may hold at most ",
                      Trusted{allowed}, ". Please go back, shorten it and send the Ad again.</center>"});
      return true;
    }
  }
  return false;
}

}  // namespace qb

#pragma once
// Reader of the value-list format shared by qbcgi.cfg, cat.lst and qbban.cfg:
// a stream of values, each a quoted text (which may hold commas) or a text
// running to the next comma or line end (CR, LF or CR LF). Blanks before a
// value are skipped, blanks after an unquoted value are dropped, and a blank
// line is an empty value. One value per line is the usual layout.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/file_stamp.h"

namespace qb {

class ValueListReader {
 public:
  // Reads the whole file, without the UTF-8 byte-order mark it may start
  // with, and adds what the file was to `stamps` when given (which costs the
  // file's status, one more system call). A missing or unreadable file
  // raises kErrFileNotFound naming `displayName`.
  static ValueListReader FromFile(const std::string& path, const std::string& displayName,
                                  std::vector<FileStamp>* stamps = nullptr);
  ValueListReader(std::string content, std::string displayName);

  // The next value as text. Asking when no value is left raises
  // kErrPastEndOfFile naming the file.
  std::string NextText();
  // The next value as a whole number: its leading decimal number (sign,
  // digits, fraction) rounded half to even; text that is no number gives 0; a
  // number beyond the 32-bit range raises kErrOverflow.
  std::int32_t NextNumber();
  // Whether another value follows (an optional one may be asked for).
  bool HasMore() const { return pos_ < content_.size(); }

 private:
  std::string content_;
  std::string displayName_;
  std::size_t pos_ = 0;
};

// The leading decimal number of `text` (blanks before it allowed), rounded
// half to even; 0 when the text does not begin with a number. Sets
// `overflow` when the number lies outside [min, max].
std::int64_t LeadingNumber(std::string_view text, std::int64_t min, std::int64_t max, bool& overflow);

}  // namespace qb

#pragma once
// Decoded form fields of a request: the body's fields first, then the query
// string's, looked up by name without regard to letter case.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

struct FormPair {
  std::string FieldName;
  std::string FieldValue;
};

// The list of fields, numbered from 1; entry 0 is always present, empty and
// never matched. Each "=" of an encoded text reserves one entry, and entries
// the decoder does not reach stay empty. Lookups count entries with a 16-bit
// counter, so a request with more than 32767 entries cannot be looked up:
// beyond that limit entries are counted but not kept.
class FormPairs {
 public:
  static constexpr std::size_t kMaxEntry = 32767;

  FormPairs() { Reset(); }
  void Reset();
  // Appends the fields of one encoded text (raises kErrUrlDecode on a bad
  // escape).
  void ParsePairs(std::string_view text);
  // The value of the named field, several values joined with ";", or "".
  // Raises kErrOverflow when the list has more entries than a lookup can
  // count.
  std::string GetFormValue(std::string_view name) const;

  std::size_t LastEntry() const { return lastEntry_; }
  // Entry i (0 to LastEntry()); entries beyond the kept ones read as empty.
  const FormPair& Entry(std::size_t i) const;

 private:
  std::vector<FormPair> entries_;
  std::size_t lastEntry_ = 0;
};

// Decodes one form-encoded name or value: "+" becomes a blank, then each "%"
// with the (at most two) hexadecimal digits after it becomes that byte. A
// decoded "%" is never decoded again. A "%" without a following hexadecimal
// digit raises kErrUrlDecode ("Invalid data passed to UrlDecode() function.").
std::string UrlDecode(std::string_view text);

}  // namespace qb

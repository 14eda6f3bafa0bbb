// Fuzzes the form decoder: UrlDecode, FormPairs::ParsePairs and
// GetFormValue. Besides running without a crash or a sanitizer report, every
// input must keep the decoder's rules:
//   - UrlDecode either succeeds or raises kErrUrlDecode, and never lengthens
//     its text;
//   - any byte string, escaped byte by byte, decodes back to itself;
//   - ParsePairs reserves one entry per "=" of the texts it was given;
//   - GetFormValue raises kErrOverflow exactly when there are more entries
//     than a lookup can count, and otherwise finds the first entry's value
//     first.
// The input is split at its first LF: the body before it, the query string
// after it, decoded in that order as a request does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateway/form_data.h"
#include "gateway/qb_error.h"

namespace {

[[noreturn]] void Violation(const char* what) {
  std::fprintf(stderr, "form decoder: %s\n", what);
  std::abort();
}

void ExpectDecodeError(const qb::QbError& e) {
  if (e.Number() != qb::kErrUrlDecode) Violation("a decoding failure raised another error number");
}

std::string EscapeEveryByte(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

void CheckUrlDecode(std::string_view text) {
  try {
    const std::string decoded = qb::UrlDecode(text);
    if (decoded.size() > text.size()) Violation("UrlDecode made its text longer");
    if (text.find('%') == std::string_view::npos) {
      std::string plain(text);
      std::replace(plain.begin(), plain.end(), '+', ' ');
      if (decoded != plain) Violation("text without escapes changed beyond its plus signs");
    }
  } catch (const qb::QbError& e) {
    ExpectDecodeError(e);
  }
  if (qb::UrlDecode(EscapeEveryByte(text)) != text) Violation("escaped bytes did not decode to themselves");
}

void CheckPairs(std::string_view body, std::string_view query) {
  qb::FormPairs pairs;
  try {
    pairs.ParsePairs(body);
    pairs.ParsePairs(query);
  } catch (const qb::QbError& e) {
    ExpectDecodeError(e);
    return;
  }
  const auto equalsSigns = [](std::string_view t) { return static_cast<std::size_t>(std::count(t.begin(), t.end(), '=')); };
  if (pairs.LastEntry() != equalsSigns(body) + equalsSigns(query)) Violation("entry count is not the count of '='");

  const bool countable = pairs.LastEntry() <= qb::FormPairs::kMaxEntry;
  const std::string firstName = pairs.Entry(1).FieldName;
  for (std::string_view name : {std::string_view("Action"), std::string_view(""), std::string_view(firstName)}) {
    try {
      const std::string value = pairs.GetFormValue(name);
      if (!countable) Violation("a lookup counted more entries than it can");
      if (name == firstName && pairs.LastEntry() >= 1 && !value.starts_with(pairs.Entry(1).FieldValue)) {
        Violation("the first entry's value does not come first");
      }
    } catch (const qb::QbError& e) {
      if (countable || e.Number() != qb::kErrOverflow) Violation("a lookup failed without overflowing");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckUrlDecode(input);
  const std::size_t lf = input.find('\n');
  if (lf == std::string_view::npos) {
    CheckPairs(input, {});
  } else {
    CheckPairs(input.substr(0, lf), input.substr(lf + 1));
  }
  return 0;
}

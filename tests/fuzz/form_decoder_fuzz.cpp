// Fuzzes the form decoder on a body, then after its first LF a query string,
// decoded in that order as a request does; the rules are the checks below.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateway/form_data.h"
#include "gateway/qb_error.h"

static void Check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "form decoder: %s\n", what), std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string escaped;
  for (unsigned char c : input) escaped += {'%', "0123456789abcdef"[c >> 4], "0123456789ABCDEF"[c & 15]};
  Check(qb::UrlDecode(escaped) == input, "escaped bytes did not decode to themselves");

  qb::FormPairs pairs;
  try {
    const std::string decoded = qb::UrlDecode(input);
    Check(decoded.size() <= input.size(), "UrlDecode made its text longer");
    std::string plain(input);
    std::replace(plain.begin(), plain.end(), '+', ' ');
    Check(input.find('%') != input.npos || decoded == plain, "text without escapes changed beyond its plus signs");
    const std::size_t lf = std::min(input.find('\n'), input.size());
    pairs.ParsePairs(input.substr(0, lf));
    pairs.ParsePairs(input.substr(std::min(lf + 1, input.size())));
  } catch (const qb::QbError& e) {
    Check(e.Number() == qb::kErrUrlDecode, "a decoding failure raised another error number");
    return 0;
  }
  Check(pairs.LastEntry() == std::size_t(std::count(input.begin(), input.end(), '=')), "entries are not one per '='");
  const bool countable = pairs.LastEntry() <= qb::FormPairs::kMaxEntry;
  for (const std::string& name : {std::string("Action"), pairs.Entry(1).FieldName}) {
    try {
      const std::string value = pairs.GetFormValue(name);
      Check(countable, "a lookup counted more entries than it can");
      Check(name != pairs.Entry(1).FieldName || value.starts_with(pairs.Entry(1).FieldValue),
            "the first entry's value does not come first");
    } catch (const qb::QbError& e) {
      Check(!countable && e.Number() == qb::kErrOverflow, "a lookup failed without overflowing");
    }
  }
  return 0;
}

#include "gateway/form_data.h"

#include <algorithm>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"

namespace qb {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      // One or two hexadecimal digits; only at the very end may there be one.
      std::size_t available = std::min<std::size_t>(2, text.size() - i - 1);
      if (available == 0) throw QbError(kErrUrlDecode, "Invalid data passed to UrlDecode() function.");
      int value = 0;
      for (std::size_t k = 1; k <= available; ++k) {
        int digit = HexValue(text[i + k]);
        if (digit < 0) throw QbError(kErrUrlDecode, "Invalid data passed to UrlDecode() function.");
        value = value * 16 + digit;
      }
      out += static_cast<char>(value);
      i += available;
    } else {
      out += c;
    }
  }
  return out;
}

void FormPairs::Reset() {
  entries_.assign(1, FormPair{});
  lastEntry_ = 0;
}

void FormPairs::ParsePairs(std::string_view text) {
  std::size_t n = static_cast<std::size_t>(std::count(text.begin(), text.end(), '='));
  if (n == 0) return;
  std::size_t first = lastEntry_ + 1;
  lastEntry_ += n;
  std::size_t i = first;
  std::size_t s = 0;
  while (i <= lastEntry_) {
    std::size_t eq = text.find('=', s);
    if (eq == std::string_view::npos) break;
    std::size_t amp = text.find('&', eq + 1);
    if (amp == std::string_view::npos) amp = text.size();
    // Every name and value is decoded, so a bad escape anywhere fails the
    // request, but only the entries a lookup can reach are kept.
    FormPair pair{UrlDecode(text.substr(s, eq - s)), UrlDecode(text.substr(eq + 1, amp - eq - 1))};
    if (i <= kMaxEntry) {
      if (entries_.size() <= i) entries_.resize(i + 1);
      entries_[i] = std::move(pair);
    }
    s = amp + 1;
    ++i;
  }
}

const FormPair& FormPairs::Entry(std::size_t i) const {
  static const FormPair kEmpty;
  return i < entries_.size() ? entries_[i] : kEmpty;
}

std::string FormPairs::GetFormValue(std::string_view name) const {
  if (lastEntry_ > kMaxEntry) {
    throw QbError(kErrOverflow, "Overflow: the request has more than 32767 form fields");
  }
  std::string result;
  const std::size_t kept = std::min(lastEntry_ + 1, entries_.size());
  for (std::size_t i = 1; i < kept; ++i) {
    const FormPair& pair = entries_[i];
    if (!EqualsIgnoreCase(pair.FieldName, name)) continue;
    if (result.empty()) {
      result = pair.FieldValue;
    } else {
      result += ';';
      result += pair.FieldValue;
    }
  }
  return result;
}

}  // namespace qb

#include "gateway/html_escape.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qb {

namespace {

constexpr std::array<bool, 256> kMarkup = [] {
  std::array<bool, 256> markup{};
  for (unsigned char c : {'&', '<', '>', '"', '\''}) markup[c] = true;
  return markup;
}();

// The first of & < > " ' at or after `p`, or `end`. Pages are mostly plain
// text (a listing escapes some 100 KB of ad text), so the scan looks at 16
// bytes at a time where the processor allows.
const char* FindMarkup(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i quot = _mm_set1_epi8('"');
  const __m128i apos = _mm_set1_epi8('\'');
  while (end - p >= 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, amp), _mm_cmpeq_epi8(chunk, lt)),
                                  _mm_or_si128(_mm_cmpeq_epi8(chunk, gt), _mm_cmpeq_epi8(chunk, quot))),
                     _mm_cmpeq_epi8(chunk, apos));
    const int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p != end && !kMarkup[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

}  // namespace

void AppendHtmlEscaped(std::string& out, std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    const char* const next = FindMarkup(p, end);
    out.append(p, static_cast<std::size_t>(next - p));
    if (next == end) return;
    switch (*next) {
      case '&': out.append("&amp;"); break;
      case '<': out.append("&lt;"); break;
      case '>': out.append("&gt;"); break;
      case '"': out.append("&quot;"); break;
      default: out.append("&#39;"); break;
    }
    p = next + 1;
  }
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendHtmlEscaped(out, text);
  return out;
}

}  // namespace qb

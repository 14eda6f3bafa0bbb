#include "gateway/html_escape.h"

#include <array>
#include <cstdint>
#include <cstring>

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

// Writes the entity for the markup character `c` at `out`; returns its end.
char* CopyEntity(char* out, char c) {
  switch (c) {
    case '&': std::memcpy(out, "&amp;", 5); return out + 5;
    case '<': std::memcpy(out, "&lt;", 4); return out + 4;
    case '>': std::memcpy(out, "&gt;", 4); return out + 4;
    case '"': std::memcpy(out, "&quot;", 6); return out + 6;
    default: std::memcpy(out, "&#39;", 5); return out + 5;
  }
}

// Copies `n` (< 16) bytes without a call: two overlapping moves of a fixed
// width cover any length.
inline void CopyShort(char* out, const char* in, std::size_t n) {
  if (n >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, in, 8);
    std::memcpy(&tail, in + n - 8, 8);
    std::memcpy(out, &head, 8);
    std::memcpy(out + n - 8, &tail, 8);
  } else if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, in, 4);
    std::memcpy(&tail, in + n - 4, 4);
    std::memcpy(out, &head, 4);
    std::memcpy(out + n - 4, &tail, 4);
  } else {
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
  }
}

#if defined(__SSE2__)
// One bit for each byte of `chunk` that is one of & < > " ': & (0x26) and
// ' (0x27) are the bytes that read 0x27 with bit 0 set, < (0x3c) and > (0x3e)
// those that read 0x3c with bit 1 cleared.
inline unsigned MarkupMask(__m128i chunk) {
  const __m128i ampOrApos = _mm_cmpeq_epi8(_mm_or_si128(chunk, _mm_set1_epi8(0x01)), _mm_set1_epi8(0x27));
  const __m128i angle = _mm_cmpeq_epi8(_mm_and_si128(chunk, _mm_set1_epi8(~0x02)), _mm_set1_epi8(0x3c));
  const __m128i quot = _mm_cmpeq_epi8(chunk, _mm_set1_epi8('"'));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(ampOrApos, angle), quot)));
}
#endif

}  // namespace

// Pages are mostly plain text (a listing escapes some 60 KB of ad text in
// hundreds of short fields), so the text is copied and checked 16 bytes at a
// time in one pass where the processor allows, and a short rest is checked
// at once in a zero-padded block (NUL is not markup).
char* CopyHtmlEscaped(char* out, std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
#if defined(__SSE2__)
  if (text.size() >= 16) {
    for (const char* const last = end - 16; p <= last;) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), chunk);
      const unsigned mask = MarkupMask(chunk);
      if (mask == 0) {
        p += 16;
        out += 16;
        continue;
      }
      const int clean = __builtin_ctz(mask);
      out = CopyEntity(out + clean, p[clean]);
      p += clean + 1;
    }
  }
  const auto rest = static_cast<std::size_t>(end - p);
  if (rest == 0) return out;
  alignas(16) char block[16] = {};
  CopyShort(block, p, rest);
  if (MarkupMask(_mm_load_si128(reinterpret_cast<const __m128i*>(block))) == 0) {
    CopyShort(out, p, rest);
    return out + rest;
  }
#endif
  for (; p != end; ++p) {
    if (kMarkup[static_cast<unsigned char>(*p)]) {
      out = CopyEntity(out, *p);
    } else {
      *out++ = *p;
    }
  }
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out(text.size() * kMostEscapedPerByte, '\0');
  out.resize(static_cast<std::size_t>(CopyHtmlEscaped(out.data(), text) - out.data()));
  return out;
}

}  // namespace qb

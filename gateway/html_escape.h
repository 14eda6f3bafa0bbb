#pragma once
// HTML escaping of request and store text written into pages.
#include <cstddef>
#include <string>
#include <string_view>

namespace qb {

// & < > " ' are replaced by &amp; &lt; &gt; &quot; &#39;: a byte of text
// takes at most this many bytes escaped.
constexpr std::size_t kMostEscapedPerByte = 6;

// Writes `text` escaped at `out`, which has room for kMostEscapedPerByte
// bytes per byte of text; returns the end of what it wrote. Text without
// markup characters is copied unchanged.
char* CopyHtmlEscaped(char* out, std::string_view text);
// `text` escaped, as a string of its own.
std::string HtmlEscape(std::string_view text);

}  // namespace qb

#pragma once
// HTML escaping of request and store text written into pages.
#include <string>
#include <string_view>

namespace qb {

// Appends `text` to `out` with & < > " ' replaced by &amp; &lt; &gt; &quot;
// &#39;. Text without those characters is appended unchanged.
void AppendHtmlEscaped(std::string& out, std::string_view text);
std::string HtmlEscape(std::string_view text);

}  // namespace qb

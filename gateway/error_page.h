#pragma once
#include <cstdint>
#include <string>

#include "gateway/request.h"
#include "gateway/site_config.h"

namespace qb {

// "<description> Error Number = <number>", the number with a leading blank
// when it is 0 or positive.
std::string BuildErrorText(const std::string& description, std::int32_t number);

// The gateway error page, showing req.ErrorText and the administrator's
// address of `config`: rewinds the output, writes the page and cuts the
// output after it, so on a regular file it replaces everything the request
// wrote. Never fails.
void SendErrorPage(CgiRequest& req, const SiteConfig& config);

// The lines the two error pages share, from "<HTML>" to the administrator's
// address; `errorText` is escaped.
void SendErrorPageBody(CgiRequest& req, const SiteConfig& config, const std::string& errorText);

// Small print naming the product and its publisher; shared by every page that
// carries it.
inline constexpr char kFooterNoticeText[] = "&quot;Quaybill/32-HTML&quot; classified ads &copy; the Quaybill project";

}  // namespace qb

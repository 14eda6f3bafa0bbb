#pragma once
// How the tool shows ads: an aligned table and a field-per-line text for
// people, JSON for other programs (CSV is in ad_csv.h).
//
// Text meant for a terminal shows control bytes escaped (\n, \t, \xHH), so
// that an ad cannot move the cursor or recolour the operator's screen. JSON
// must be UTF-8: bytes that are not (text typed in a Latin-1 page, say) are
// replaced by U+FFFD there; the CSV export keeps them exactly.
#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "storage/ad_maintenance.h"

namespace qb::admin {

// `text` with control bytes escaped, cut to `maxWidth` characters ("..."
// marks a cut); 0 means no limit.
std::string DisplayText(std::string_view text, std::size_t maxWidth = 0);

// A count with its noun: "1 ad", "2 ads" (plural by an added "s").
std::string Counted(long long count, std::string_view noun);

// Rows of cells under a header, each column as wide as its widest cell.
void WriteTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);

// Every column of the ad, a null column as JSON null.
nlohmann::ordered_json AdJson(const maintenance::AdRow& ad);
// JSON text; invalid UTF-8 is replaced rather than refused.
std::string JsonText(const nlohmann::ordered_json& value, int indent = -1);

// Every column of the ad, one "Name: value" line each.
void WriteAdFields(std::ostream& out, const maintenance::AdRow& ad);

}  // namespace qb::admin

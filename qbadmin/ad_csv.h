#pragma once
// Ads as CSV (RFC 4180): a header row of the column names, then one record
// per ad, records ending in CR LF. A field is quoted when it holds a comma, a
// double quote (written twice), CR, LF or NUL, and when it is empty text; a
// column that holds no value (NULL) is an empty unquoted field, as in
// PostgreSQL's CSV. Every other byte, 8-bit and NUL bytes included, is
// written as stored, so an export read back gives the very same rows.
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "storage/ad_maintenance.h"

namespace qb::admin {

void WriteCsvHeader(std::ostream& out);
void WriteCsvAd(std::ostream& out, const maintenance::AdRow& ad);

// A CSV record read back with the line it starts on (for messages).
struct CsvAd {
  maintenance::AdRow ad;
  long line = 0;
};
// Reads the ads of a whole file. The header must name every column of the
// table once, in any order and letter case; each record must have as many
// fields. A fault raises QbError naming `fileName` and the line.
std::vector<CsvAd> ReadCsvAds(std::string_view text, const std::string& fileName);

}  // namespace qb::admin

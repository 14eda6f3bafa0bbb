#pragma once
#include "postdata/request.h"
#include "storage/database.h"

namespace qb {

// The seven lines that show one ad in the listings: item, price, date,
// seller, e-mail link, phone and description, each value escaped. The
// all-ads listing writes its item line with two blanks after "<td".
enum class AdTableForm { kCategory, kAllAds };
void SendAdTable(Request& req, const Recordset& ad, AdTableForm form);

}  // namespace qb

#pragma once
#include "postdata/request.h"
#include "storage/database.h"

namespace qb {

// The seven lines that show one ad in the listings: item, price, date,
// seller, e-mail link, phone and description, each value escaped. The
// all-ads listing writes its item line with two blanks after "<td".
enum class AdTableForm { kCategory, kAllAds };
// Where those fields lie in a result: looked up once, before its rows.
struct AdTableColumns {
  explicit AdTableColumns(const Recordset& ads);
  int item, price, date, name, email, phone, desc;
};
void SendAdTable(Request& req, const Recordset& ad, const AdTableColumns& columns, AdTableForm form);

}  // namespace qb

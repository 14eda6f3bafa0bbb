#include "postdata/database_slots.h"

namespace qb {

void DatabaseSlots::CloseFilled() {
  if (recordset) recordset->Close();
  if (database) database->Close();
  if (queryDef) queryDef->Close();
}

}  // namespace qb

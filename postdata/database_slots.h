#pragma once
// The request's three database slots: the current recordset, the open
// database and the current query. Handlers fill them; the application error
// routine closes what they hold, so that a failed request gives its store
// connection back as a finished one does.
#include <memory>

#include "storage/database.h"

namespace qb {

struct DatabaseSlots {
  std::unique_ptr<Recordset> recordset;
  std::unique_ptr<Database> database;
  std::unique_ptr<QueryDef> queryDef;

  // Closes the recordset, the database and the query, in that order, skipping
  // empty slots; raises as Close does (kErrObjectClosed for an object closed
  // before), leaving the slots after it as they are.
  void CloseFilled();
};

}  // namespace qb

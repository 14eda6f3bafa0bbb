#pragma once
// The request's three database slots: the current recordset, the open
// database and the current query. Handlers fill them; the application error
// routine closes them in that order, and a close that fails (an empty slot or
// an object already closed) raises QbError, which sends the request to the
// gateway error page instead of the application error page.
#include <memory>

#include "storage/database.h"

namespace qb {

struct DatabaseSlots {
  std::unique_ptr<Recordset> recordset;
  std::unique_ptr<Database> database;
  std::unique_ptr<QueryDef> queryDef;

  void CloseRecordset();  // raises kErrObjectNotSet when empty
  void CloseDatabase();
  void CloseQueryDef();
};

}  // namespace qb

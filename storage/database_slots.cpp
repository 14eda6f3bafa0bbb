#include "storage/database_slots.h"

#include <string>

#include "gateway/qb_error.h"

namespace qb {
namespace {

// Closes the object in `slot`, which stays there (closed) afterwards.
template <typename T>
void CloseSlot(const std::unique_ptr<T>& slot, const char* what) {
  if (!slot) throw QbError(kErrObjectNotSet, std::string("Object variable not set (no open ") + what + ")");
  slot->Close();
}

}  // namespace

void DatabaseSlots::CloseRecordset() { CloseSlot(recordset, "recordset"); }
void DatabaseSlots::CloseDatabase() { CloseSlot(database, "database"); }
void DatabaseSlots::CloseQueryDef() { CloseSlot(queryDef, "query"); }

}  // namespace qb

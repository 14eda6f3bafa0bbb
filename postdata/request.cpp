#include "postdata/request.h"

#include "gateway/qb_error.h"

namespace qb {

namespace {

void Require(const Action* action, StoreUse use, const char* what) {
  if (action == nullptr || action->store < use) {
    throw QbError(kErrInternal, std::string("Internal error: the action ") + std::string(action ? action->name : "-") +
                                    " does not declare that it " + what);
  }
}

}  // namespace

std::unique_ptr<Database> Request::OpenStore() const {
  Require(action, StoreUse::kReads, "uses the store");
  return Database::Open(StoreLocation{site->DatabasePath(), site->config.StoreConnection, host.storeWaits},
                        host.Kept());
}

WriteTransaction Request::BeginWrite() const {
  Require(action, StoreUse::kWrites, "writes");
  return WriteTransaction(*slots.database);
}

}  // namespace qb

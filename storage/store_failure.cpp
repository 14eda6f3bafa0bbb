#include "storage/store_failure.h"

namespace qb {

std::int32_t StoreFailureNumber(StoreFailure kind) {
  switch (kind) {
    case StoreFailure::kFailed: return 3001;
    case StoreFailure::kPermissionDenied: return 3003;
    case StoreFailure::kAborted: return 3004;
    case StoreFailure::kBusy: return 3005;
    case StoreFailure::kLocked: return 3006;
    case StoreFailure::kOutOfMemory: return 3007;
    case StoreFailure::kReadOnly: return 3008;
    case StoreFailure::kInterrupted: return 3009;
    case StoreFailure::kIoError: return 3010;
    case StoreFailure::kCorrupt: return 3011;
    case StoreFailure::kFull: return 3013;
    case StoreFailure::kCannotOpen: return 3014;
    case StoreFailure::kLockProtocol: return 3015;
    case StoreFailure::kSchemaChanged: return 3017;
    case StoreFailure::kTooBig: return 3018;
    case StoreFailure::kConstraint: return 3019;
    case StoreFailure::kTypeMismatch: return 3020;
    case StoreFailure::kMisuse: return 3021;
    case StoreFailure::kParameterRange: return 3025;
    case StoreFailure::kNotAStore: return 3026;
  }
  return 3001;  // not reached: every kind has its row above
}

QbError StoreError(StoreFailure kind, const std::string& description) {
  return QbError(StoreFailureNumber(kind), description);
}

bool IsStoreFailure(const QbError& error, StoreFailure kind) { return error.Number() == StoreFailureNumber(kind); }

}  // namespace qb

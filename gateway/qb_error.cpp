#include "gateway/qb_error.h"

#include <new>

namespace qb {

QbError AsQbError(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const QbError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return QbError(kErrOutOfMemory, "Out of memory");
  } catch (const std::length_error&) {
    return QbError(kErrOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    return QbError(kErrInternal, std::string("Internal error: ") + e.what());
  } catch (...) {
    return QbError(kErrInternal, "Internal error");
  }
}

}  // namespace qb

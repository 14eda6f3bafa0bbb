// The listings: one category with the expiry purge, and all ads.
#include "gateway/qb_error.h"
#include "postdata/handlers.h"

namespace qb {

void CategoryListing(Request&) { throw QbError(kErrInternal, "Category listings are not available yet"); }
void AllAdsListing(Request&) { throw QbError(kErrInternal, "The list of all ads is not available yet"); }

}  // namespace qb

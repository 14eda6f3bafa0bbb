#pragma once
// What outlives the requests of one process: where the program and its site
// lie, the clock, where the log goes, how long the store's server is waited
// on and, in a resident process, the store connection and the site kept
// from one request to the next. A CGI process makes one for its one request.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "gateway/error_log.h"
#include "gateway/program_location.h"
#include "gateway/site.h"
#include "postdata/kept_pages.h"
#include "storage/ad_dates.h"
#include "storage/database.h"
#include "storage/kept_store.h"

namespace qb {

class Host {
 public:
  // `resident`: a process that answers request after request, and keeps
  // what they can share.
  Host(ProgramLocation location, bool resident) : program(std::move(location)), resident_(resident) {}
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const ProgramLocation program;  // the site's directory and the program's file name
  LogTarget log;
  // Today's local date; tests may replace it.
  std::function<CivilDate()> today = LocalToday;
  // The time now in whole seconds since 1970; tests may replace it.
  std::function<std::int64_t()> now = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  // How long the store's database server is waited on; tests shorten it.
  ServerWaits storeWaits;

  // The store connection kept between requests; null in a CGI process,
  // which opens the store afresh.
  KeptStore* Kept() { return resident_ ? &keptStore_ : nullptr; }
  // The pages kept between requests; null in a CGI process, which answers
  // one request and gains nothing from keeping its page.
  KeptPages* Pages() { return resident_ ? &keptPages_ : nullptr; }
  // The site a request before read, while none of its files has changed;
  // null when it must be read (always in a CGI process).
  std::shared_ptr<const Site> UnchangedSite() const {
    return keptSite_ && keptSite_->Unchanged() ? keptSite_ : nullptr;
  }
  // Keeps `site`, read whole, for the next requests of a resident process,
  // unless one of its files had changed within the second before it was read.
  void KeepSite(std::shared_ptr<const Site> site) {
    if (resident_) keptSite_ = site->Settled() ? std::move(site) : nullptr;
  }

 private:
  bool resident_;
  KeptStore keptStore_;
  KeptPages keptPages_;
  std::shared_ptr<const Site> keptSite_;
};

}  // namespace qb

#pragma once
// Pages a resident process keeps from one request to the next while what
// they were made from stays the same: the site read from its files, today's
// date and the store (its StoreStamp), and the request's own inputs (the
// page's key). A kept page is the part of a response that depends on
// nothing else; the caller writes the rest (the header, the banner drawn for
// each request) fresh around it.
//
// Few pages are kept and none large, so that a process's memory stays the
// same whatever requests it is sent; the page used longest ago makes room.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/site.h"
#include "storage/ad_dates.h"
#include "storage/database.h"

namespace qb {

// Which page, asked for with which inputs.
struct PageKey {
  char kind = 0;              // the page: a letter of the handler's choosing
  std::int16_t category = 0;  // the category, if the page has one
  std::string_view start;     // where in the ads the page starts, as asked
  friend bool operator==(const PageKey&, const PageKey&) = default;
};

// What a page was made from besides its key.
struct PageBasis {
  std::shared_ptr<const Site> site;  // held, so that a later site is never taken for it
  CivilDate today;
  StoreStamp store;
  friend bool operator==(const PageBasis&, const PageBasis&) = default;
};

class KeptPages {
 public:
  static constexpr std::size_t kMaxPages = 16;
  static constexpr std::size_t kMaxPageSize = 512 * 1024;
  static constexpr std::size_t kMaxStartSize = 32;

  KeptPages() = default;
  KeptPages(const KeptPages&) = delete;
  KeptPages& operator=(const KeptPages&) = delete;

  // The page kept for `key` made from `basis`, valid until the next call of
  // Keep; null when there is none.
  const std::string* Find(const PageKey& key, const PageBasis& basis);
  // Keeps `page` for `key` made from `basis`, dropping every page made from
  // another basis (they can no longer be asked for) and, when all places are
  // taken, the page used longest ago. A key too long to be worth keeping
  // and a page too large are not kept.
  void Keep(const PageKey& key, const PageBasis& basis, std::string_view page);

  // Whether the store had no expired ad left on `today` when it was last
  // seen with `store`'s stamp; Purged records that it had none.
  bool PurgedFor(const CivilDate& today, const StoreStamp& store) const {
    return purged_ && purged_->today == today && purged_->store == store;
  }
  void Purged(const CivilDate& today, const StoreStamp& store) { purged_ = Purge{today, store}; }

 private:
  struct Entry {
    char kind;
    std::int16_t category;
    std::string start;
    PageBasis basis;
    std::string page;
    std::uint64_t used;  // when it was last found or kept, in calls
  };
  struct Purge {
    CivilDate today;
    StoreStamp store;
  };
  std::vector<Entry> pages_;
  std::uint64_t calls_ = 0;
  std::optional<Purge> purged_;
};

}  // namespace qb

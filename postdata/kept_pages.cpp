#include "postdata/kept_pages.h"

#include <algorithm>
#include <utility>

namespace qb {

const std::string* KeptPages::Find(const PageKey& key, const PageBasis& basis) {
  for (Entry& entry : pages_) {
    if (PageKey{entry.kind, entry.category, entry.start} == key && entry.basis == basis) {
      entry.used = ++calls_;
      return &entry.page;
    }
  }
  return nullptr;
}

void KeptPages::Keep(const PageKey& key, const PageBasis& basis, std::string_view page) {
  if (key.start.size() > kMaxStartSize || page.size() > kMaxPageSize) return;
  std::erase_if(pages_, [&](const Entry& entry) {
    return !(entry.basis == basis) || PageKey{entry.kind, entry.category, entry.start} == key;
  });
  if (pages_.size() >= kMaxPages) {
    pages_.erase(std::ranges::min_element(pages_, {}, &Entry::used));
  }
  pages_.push_back(Entry{key.kind, key.category, std::string(key.start), basis, std::string(page), ++calls_});
}

}  // namespace qb

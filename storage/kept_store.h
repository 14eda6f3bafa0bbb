#pragma once
// The store connection a resident process keeps from one request to the
// next, so that a request neither connects to its store nor reads its schema
// again. What is kept, and when it is still good, is the store's own affair:
// each store keeps its own kind of KeptConnection here (a SQLite connection
// with its prepared queries, a PostgreSQL server connection), which the
// store opened on this object takes back and gives back again.
//
// A request takes the connection when it opens the store and gives it back
// when it closes it, with no statement running, no transaction open and no
// lock held.
#include <memory>
#include <utility>

namespace qb {

// What one kind of store keeps between requests; closed when destroyed.
class KeptConnection {
 public:
  virtual ~KeptConnection() = default;
  KeptConnection(const KeptConnection&) = delete;
  KeptConnection& operator=(const KeptConnection&) = delete;

 protected:
  KeptConnection() = default;
};

class KeptStore {
 public:
  KeptStore() = default;
  KeptStore(const KeptStore&) = delete;
  KeptStore& operator=(const KeptStore&) = delete;

  // What a store of kind `Kept` keeps here, or null when what is kept here
  // (if anything) is another kind's.
  template <class Kept>
  Kept* Find() const {
    return dynamic_cast<Kept*>(kept_.get());
  }
  // What a store of kind `Kept` keeps here, made empty when there is none
  // (closing what another kind of store kept: a site that changed its store
  // leaves nothing open on the one it left).
  template <class Kept>
  Kept& Use() {
    if (Kept* kept = Find<Kept>()) return *kept;
    auto made = std::make_unique<Kept>();
    Kept& kept = *made;
    kept_ = std::move(made);
    return kept;
  }

 private:
  std::unique_ptr<KeptConnection> kept_;
};

}  // namespace qb

#pragma once
// Writers of the store take their turns in the order they come.
//
// SQLite's write lock is no queue: a writer that finds it taken can only
// sleep and try again, so a crowd of waiting writers spends both cores on
// retries, and one that has waited long is no likelier to win than one that
// just came. Nor is a kernel file lock a queue: a newcomer may take a lock
// that was just released before the woken waiter runs.
//
// So writers queue in a lock file beside the store (the store's path and
// ".lock"), as in a ticket queue: its first eight bytes, mapped into every
// writer, count the tickets drawn; a writer draws the next number n, locks
// byte n of its own (an open-file-description lock, so that connections in
// one process queue apart), and sleeps in the kernel until byte n - 1, its
// predecessor's, is unlocked. Giving the turn unlocks byte n, which wakes
// exactly the next writer and no one else. The kernel unlocks the bytes of a
// process that dies, so a killed request holds up no one. Two writers are
// let through at once (the predecessor is ticket n - kAtOnce), so that the
// next one is already awake when SQLite's lock comes free.
//
// The queue only spares SQLite's lock a crowd; SQLite's lock still keeps
// writers apart. Where the lock file cannot be opened for writing or created
// (a read-only site), or the wait cannot be timed, writers wait for SQLite's
// lock alone, as readers always do.
#include <chrono>
#include <cstdint>
#include <string>

namespace qb {

class WriteTurn {
 public:
  // How many writers may be past the queue at once. More than one, so that
  // the next writer is already awake and trying SQLite's lock when the one
  // before it commits, instead of first waiting for a core once the turn is
  // handed on; few, since every one past the queue polls SQLite's lock: with
  // 200 writers through lighttpd, 16 at once gave 10% fewer ads a second
  // than 2, and 1, 2 and 8 were alike within the spread between runs.
  static constexpr std::uint64_t kAtOnce = 2;

  explicit WriteTurn(std::string lockPath) : lockPath_(std::move(lockPath)) {}
  ~WriteTurn();
  WriteTurn(const WriteTurn&) = delete;
  WriteTurn& operator=(const WriteTurn&) = delete;

  // Queues for this connection's turn and waits until it comes or `deadline`
  // passes; true when the turn is held.
  bool Take(std::chrono::steady_clock::time_point deadline);
  // Takes the turn only when no other writer holds one or waits for one;
  // never waits. True also where there is no queue (SQLite's lock decides).
  bool TakeIfIdle();
  // Lets the next writer go. Harmless when the turn is not held.
  void Give() noexcept;
  bool Held() const { return held_; }

 private:
  bool OpenQueue();
  std::string lockPath_;
  int fd_ = -1;
  std::uint64_t* drawn_ = nullptr;  // the mapped ticket count
  bool unusable_ = false;           // no lock file to queue in: do without
  bool held_ = false;
  std::uint64_t ticket_ = 0;
};

}  // namespace qb

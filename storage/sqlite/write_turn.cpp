#include "storage/sqlite/write_turn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

// Older C libraries name the thread a timer signals only by its field.
#ifndef sigev_notify_thread_id
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace qb {
namespace {

using Clock = std::chrono::steady_clock;

// Ticket n is byte kFirstTicketByte + n of the lock file; the ticket count
// lies before them, in the file's first bytes.
constexpr off_t kFirstTicketByte = 4096;

// The signal that ends a wait at its deadline. Its handler does nothing: the
// signal is only there to interrupt the wait. It is the first real-time
// signal, which nothing else in the process uses: SIGALRM belongs to alarm()
// and setitimer(), and a handler of ours on it, installed for good and
// without SA_RESTART, would turn another user's timer into failed system
// calls (a fuzzer's timeout alarm broke a file copy that way).
int WakeSignal() { return SIGRTMIN; }

void Wake(int) {}

// Locks (F_WRLCK), tests by locking (F_RDLCK) or unlocks (F_UNLCK) the byte
// of ticket `ticket`, waiting with F_OFD_SETLKW or not with F_OFD_SETLK.
int TicketLock(int fd, int command, short type, std::uint64_t ticket) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kFirstTicketByte + static_cast<off_t>(ticket & 0x3fffffffffffffffULL);
  lock.l_len = 1;
  return ::fcntl(fd, command, &lock);
}

// Sleeps until the byte of `ticket` is free, or `deadline` passes (false). A
// timer aimed at this thread interrupts the wait at the deadline; it repeats
// every 50 ms in case it fired just before the wait began.
bool WaitForRelease(int fd, std::uint64_t ticket, Clock::time_point deadline) {
  if (TicketLock(fd, F_OFD_SETLK, F_RDLCK, ticket) == 0) {
    TicketLock(fd, F_OFD_SETLK, F_UNLCK, ticket);
    return true;
  }
  // Installed, never taken back: another thread may be waiting too, and a
  // restored default action would end the process at its timer.
  struct sigaction wake {};
  wake.sa_handler = Wake;
  sigemptyset(&wake.sa_mask);
  wake.sa_flags = 0;  // no SA_RESTART: the signal must end the wait
  if (::sigaction(WakeSignal(), &wake, nullptr) != 0) return false;
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = WakeSignal();
  event.sigev_notify_thread_id = ::gettid();
  timer_t timer{};
  if (::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) return false;

  bool free = false;
  const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
  itimerspec timing{};
  timing.it_value.tv_sec = static_cast<time_t>(left / 1000000000);
  timing.it_value.tv_nsec = static_cast<long>(left % 1000000000);
  timing.it_interval.tv_nsec = 50 * 1000 * 1000;
  if (left > 0 && ::timer_settime(timer, 0, &timing, nullptr) == 0) {
    while (!free) {
      if (TicketLock(fd, F_OFD_SETLKW, F_RDLCK, ticket) == 0) {
        TicketLock(fd, F_OFD_SETLK, F_UNLCK, ticket);
        free = true;
      } else if (errno != EINTR || Clock::now() >= deadline) {
        break;
      }
    }
  }
  ::timer_delete(timer);
  return free;
}

}  // namespace

WriteTurn::~WriteTurn() {
  if (drawn_ != nullptr) ::munmap(drawn_, sizeof *drawn_);
  if (fd_ >= 0) ::close(fd_);  // also gives the turn back
}

bool WriteTurn::OpenQueue() {
  if (fd_ >= 0 || unusable_) return fd_ >= 0;
  unusable_ = true;
  const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) return false;
  // A new file is lengthened to hold the count; lengthening never changes a
  // count another process has already written.
  struct stat st {};
  void* map = MAP_FAILED;
  if (::fstat(fd, &st) == 0 &&
      (st.st_size >= static_cast<off_t>(sizeof *drawn_) || ::ftruncate(fd, sizeof *drawn_) == 0)) {
    map = ::mmap(nullptr, sizeof *drawn_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  if (map == MAP_FAILED) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  drawn_ = static_cast<std::uint64_t*>(map);
  unusable_ = false;
  return true;
}

bool WriteTurn::Take(Clock::time_point deadline) {
  if (held_ || !OpenQueue()) return held_;
  ticket_ = std::atomic_ref<std::uint64_t>(*drawn_).fetch_add(1);
  if (TicketLock(fd_, F_OFD_SETLK, F_WRLCK, ticket_) != 0) return false;
  // A predecessor that gave up, or died, has unlocked its byte too: the wait
  // then ends early, and SQLite's lock still keeps the two writers apart.
  if (WaitForRelease(fd_, ticket_ - kAtOnce, deadline)) {
    held_ = true;
  } else {
    TicketLock(fd_, F_OFD_SETLK, F_UNLCK, ticket_);
  }
  return held_;
}

bool WriteTurn::TakeIfIdle() {
  if (held_ || !OpenQueue()) return true;
  ticket_ = std::atomic_ref<std::uint64_t>(*drawn_).fetch_add(1);
  if (TicketLock(fd_, F_OFD_SETLK, F_WRLCK, ticket_) != 0) return false;
  // Every ticket that could still be past the queue, or about to be, is free.
  held_ = true;
  for (std::uint64_t back = 1; back <= kAtOnce && held_; ++back) {
    held_ = TicketLock(fd_, F_OFD_SETLK, F_RDLCK, ticket_ - back) == 0;
    if (held_) TicketLock(fd_, F_OFD_SETLK, F_UNLCK, ticket_ - back);
  }
  // A writer that drew the next ticket meanwhile waits for this one's byte.
  if (!held_) TicketLock(fd_, F_OFD_SETLK, F_UNLCK, ticket_);
  return held_;
}

void WriteTurn::Give() noexcept {
  if (!held_) return;
  TicketLock(fd_, F_OFD_SETLK, F_UNLCK, ticket_);
  held_ = false;
}

}  // namespace qb

#include "ipc_sync.h"

#include <algorithm>

#include "ipc_print.h"

namespace ipc {

namespace {

// A broadcast posts the semaphore once per waiting thread. The count lives in shared memory, so
// a corrupted value must not make a broadcast post for minutes: no real channel has more
// waiting threads than this.
constexpr std::int32_t kMaxWakeups = 1 << 16;

constexpr unsigned kWaitFailed = 0xFFFFFFFFu;

// How long a spin lock may stay held before a waiter takes it over (see spin_lock::lock).
constexpr std::uint64_t kSpinLockTakeOverMs = 1000;

}  // namespace

unsigned back_off(unsigned k) {
  if (k < 4) return k + 1;
  if (k < 16) {
    os::cpu_pause();
    return k + 1;
  }
  if (k < 32) {
    os::yield_thread();
    return k + 1;
  }
  os::sleep_ms(1);
  return k;
}

void spin_lock::lock() {
  std::uint64_t start = 0;
  for (unsigned k = 0; __atomic_exchange_n(word_, 1u, __ATOMIC_ACQUIRE) != 0;) {
    k = back_off(k);
    if (k < 32) continue;  // still spinning or yielding: not yet worth a clock read
    // Holders keep the word for a few instructions. A word that stays set this long belongs to a
    // process that died inside the section, or was written by a faulty peer; waiting for it would
    // block every user of the segment for good. The word holds 1 from our exchange: it is ours.
    const std::uint64_t now = os::monotonic_ms();
    if (start == 0) start = now;
    if (now - start >= kSpinLockTakeOverMs) {
      log_line("spin lock held for %u ms, taken over\n", static_cast<unsigned>(now - start));
      return;
    }
  }
}

void spin_lock::unlock() { __atomic_store_n(word_, 0u, __ATOMIC_RELEASE); }

// --- named_mutex ----------------------------------------------------------------------------

bool named_mutex::open(const char* name) {
  close();
  h_ = os::mutex_open(name);
  if (h_ == nullptr) {
    error_line("fail CreateMutex[%lu]: %s\n", os::last_error(), name);
    return false;
  }
  return true;
}

bool named_mutex::lock(std::uint32_t tm) {
  if (h_ == nullptr) {
    error_line("fail WaitForSingleObject[%lu]: 0x%08X\n", 9ul /* EBADF */, kWaitFailed);
    return false;
  }
  for (;;) {
    switch (os::mutex_lock(h_, tm)) {
      case os::wait_result::acquired:
        return true;
      case os::wait_result::timeout:
        return false;
      case os::wait_result::abandoned:
        log_line("fail WaitForSingleObject[%lu]: WAIT_ABANDONED, try again.\n", os::last_error());
        if (!os::mutex_unlock(h_)) {
          error_line("fail ReleaseMutex[%lu]\n", os::last_error());
          return false;
        }
        break;
      case os::wait_result::failed:
        error_line("fail WaitForSingleObject[%lu]: 0x%08X\n", os::last_error(), kWaitFailed);
        return false;
    }
  }
}

bool named_mutex::unlock() {
  if (h_ == nullptr || !os::mutex_unlock(h_)) {
    error_line("fail ReleaseMutex[%lu]\n", h_ == nullptr ? 9ul : os::last_error());
    return false;
  }
  return true;
}

void named_mutex::close() {
  os::mutex_close(h_);
  h_ = nullptr;
}

// --- named_semaphore ------------------------------------------------------------------------

bool named_semaphore::open(const char* name, std::uint32_t count) {
  close();
  h_ = os::semaphore_open(name, count);
  if (h_ == nullptr) {
    error_line("fail CreateSemaphore[%lu]: %s\n", os::last_error(), name);
    return false;
  }
  return true;
}

bool named_semaphore::post(std::uint32_t count) {
  if (h_ == nullptr || !os::semaphore_post(h_, count)) {
    error_line("fail ReleaseSemaphore[%lu]\n", h_ == nullptr ? 9ul : os::last_error());
    return false;
  }
  return true;
}

void named_semaphore::close() {
  os::semaphore_close(h_);
  h_ = nullptr;
}

// --- named_condition ------------------------------------------------------------------------

bool named_condition::open(const char* name) {
  close();
  std::string n(name == nullptr ? "" : name);
  if (!sem_.open(("_cond_sem_" + n).c_str(), 0)) return false;
  if (!lock_.open(("_cond_lock_" + n).c_str())) {
    sem_.close();
    return false;
  }
  if (!shm_.acquire(("_cond_shm_" + n).c_str(), sizeof(std::int32_t)) ||
      shm_.size() < sizeof(std::int32_t)) {
    shm_.release();
    lock_.close();
    sem_.close();
    return false;
  }
  counter_ = static_cast<std::int32_t*>(shm_.get());
  return true;
}

bool named_condition::wait(named_mutex& m, std::uint32_t tm) {
  if (counter_ == nullptr || !lock_.lock()) return false;
  std::int32_t waiting = __atomic_load_n(counter_, __ATOMIC_RELAXED);
  __atomic_store_n(counter_, waiting < 0 ? 1 : waiting + 1, __ATOMIC_RELAXED);
  const std::uint32_t ticket = os::semaphore_ticket(sem_.native());
  lock_.unlock();

  os::wait_result r = os::unlock_and_wait(m.native(), sem_.native(), ticket, tm);
  bool relocked = m.lock();
  bool signalled = r == os::wait_result::acquired;
  if (!signalled && lock_.lock()) {
    __atomic_store_n(counter_, __atomic_load_n(counter_, __ATOMIC_RELAXED) - 1, __ATOMIC_RELAXED);
    lock_.unlock();
  }
  return signalled && relocked;
}

bool named_condition::broadcast(named_mutex&) {
  if (counter_ == nullptr || !lock_.lock()) return false;
  bool posted = false;
  std::int32_t waiting = __atomic_load_n(counter_, __ATOMIC_RELAXED);
  if (waiting >= 1) {
    posted = sem_.post(static_cast<std::uint32_t>(std::min(waiting, kMaxWakeups)));
    __atomic_store_n(counter_, 0, __ATOMIC_RELAXED);
  }
  return lock_.unlock() && posted;
}

void named_condition::wake_all_unlocked() {
  if (counter_ == nullptr || sem_.native() == nullptr) return;
  std::int32_t waiting = __atomic_load_n(counter_, __ATOMIC_ACQUIRE);
  if (waiting >= 1) os::semaphore_post(sem_.native(), static_cast<std::uint32_t>(std::min(waiting, kMaxWakeups)));
}

void named_condition::close() {
  counter_ = nullptr;
  sem_.close();
  lock_.close();
  shm_.release();
}

// --- waiter ---------------------------------------------------------------------------------

bool waiter::open(const char* name) {
  close();
  quit_.store(false, std::memory_order_release);
  std::string n(name == nullptr ? "" : name);
  if (!cond_.open(("_waiter_cond_" + n).c_str())) return false;
  if (!lock_.open(("_waiter_lock_" + n).c_str())) {
    cond_.close();
    return false;
  }
  return true;
}

bool waiter::broadcast() {
  if (!valid()) return false;
  // A barrier against a waiter that has tested its predicate but not yet started to wait.
  if (lock_.lock()) lock_.unlock();
  return cond_.broadcast(lock_);
}

bool waiter::stop_waiting() {
  quit_.store(true, std::memory_order_release);
  return broadcast();
}

void waiter::close() {
  cond_.close();
  lock_.close();
}

}  // namespace ipc

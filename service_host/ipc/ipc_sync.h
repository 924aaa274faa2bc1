// Named synchronisation objects shared between processes, and the spin-loop helpers.
//
//  named_mutex      a named mutex (no prefix); a lock whose previous owner died succeeds after
//                   the "WAIT_ABANDONED" log line.
//  named_semaphore  a named counting semaphore (maximum count 2147483647).
//  named_condition  for a name C: the semaphore "_cond_sem_" + C, the mutex "_cond_lock_" + C and
//                   the 4-byte segment "_cond_shm_" + C holding the signed count of waiters.
//  waiter           for a name W: the condition "_waiter_cond_" + W, the mutex "_waiter_lock_" + W
//                   and a process-local quit flag.
//  spin_lock        one 32-bit word in shared memory, 0 free and 1 held. A word held for a second
//                   (its holder died inside the section, or a peer wrote it) is taken over.
//  back_off         the retry policy of every spin loop.
//
// Time-outs are in milliseconds; kInfinite waits without limit. Every object may be used from
// any thread; one object must not be opened or closed while another thread uses it.
#ifndef KOVA_IPC_SYNC_H
#define KOVA_IPC_SYNC_H

#include <atomic>
#include <cstdint>
#include <string>

#include "ipc_os.h"
#include "shm.h"

namespace ipc {

constexpr std::uint32_t kInfinite = os::kInfinite;

// One step of a spin loop's back-off for retry counter `k`; returns the counter to use next:
// 0-3 retry at once, 4-15 pause the processor, 16-31 yield the time slice, 32+ sleep 1 ms.
unsigned back_off(unsigned k);

// A spin lock over a 32-bit word that lives in shared memory.
class spin_lock {
 public:
  explicit spin_lock(void* word) : word_(static_cast<std::uint32_t*>(word)) {}
  void lock();
  void unlock();

 private:
  std::uint32_t* word_;
};

class named_mutex {
 public:
  named_mutex() = default;
  ~named_mutex() { close(); }
  named_mutex(const named_mutex&) = delete;
  named_mutex& operator=(const named_mutex&) = delete;

  bool open(const char* name);
  bool valid() const { return h_ != nullptr; }
  bool lock(std::uint32_t tm = kInfinite);
  bool unlock();
  void close();
  os::mutex* native() const { return h_; }

 private:
  os::mutex* h_ = nullptr;
};

class named_semaphore {
 public:
  named_semaphore() = default;
  ~named_semaphore() { close(); }
  named_semaphore(const named_semaphore&) = delete;
  named_semaphore& operator=(const named_semaphore&) = delete;

  bool open(const char* name, std::uint32_t count = 0);
  bool valid() const { return h_ != nullptr; }
  bool post(std::uint32_t count);
  void close();
  os::semaphore* native() const { return h_; }

 private:
  os::semaphore* h_ = nullptr;
};

class named_condition {
 public:
  named_condition() = default;
  ~named_condition() { close(); }
  named_condition(const named_condition&) = delete;
  named_condition& operator=(const named_condition&) = delete;

  bool open(const char* name);
  bool valid() const { return counter_ != nullptr; }
  // The caller holds `m`; it is released while waiting and held again on return.
  bool wait(named_mutex& m, std::uint32_t tm = kInfinite);
  // Wakes every thread waiting now; false when nobody was waiting.
  bool broadcast(named_mutex& m);
  // Wakes the threads waiting now without taking any lock, for code that may run in a signal
  // handler. The count of waiters is left as it is: a later broadcast wakes them once more,
  // which their predicates absorb.
  void wake_all_unlocked();
  void close();

 private:
  named_semaphore sem_;
  named_mutex lock_;
  shm::handle shm_;
  std::int32_t* counter_ = nullptr;
};

class waiter {
 public:
  waiter() = default;
  ~waiter() { close(); }
  waiter(const waiter&) = delete;
  waiter& operator=(const waiter&) = delete;

  bool open(const char* name);
  bool valid() const { return cond_.valid() && lock_.valid(); }

  // Waits, each wait at most `tm`, while `pred()` is true and the quit flag is clear; `pred` runs
  // with the waiter's mutex held. True when the loop ended, false when a wait failed or timed out.
  template <typename Pred>
  bool wait_while(Pred&& pred, std::uint32_t tm = kInfinite) {
    if (!valid() || !lock_.lock()) return false;
    while (!quit_.load(std::memory_order_acquire) && pred()) {
      if (!cond_.wait(lock_, tm)) {
        lock_.unlock();
        return false;
      }
    }
    lock_.unlock();
    return true;
  }

  bool broadcast();
  // broadcast() without locks, for a signal handler (see named_condition::wake_all_unlocked).
  void wake_all_unlocked() { cond_.wake_all_unlocked(); }
  // Sets the quit flag and wakes every waiter of this name.
  bool stop_waiting();
  // Clears the quit flag again, so that waits block after a stop_waiting.
  void resume() { quit_.store(false, std::memory_order_release); }
  void close();

 private:
  named_condition cond_;
  named_mutex lock_;
  std::atomic<bool> quit_{false};
};

}  // namespace ipc

#endif  // KOVA_IPC_SYNC_H

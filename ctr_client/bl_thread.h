// Threads, timer thread, lock-with-event and the bounded event queue of the controller client.
#ifndef KOVA_CTR_BL_THREAD_H
#define KOVA_CTR_BL_THREAD_H

#include <atomic>
#include <cstdint>

#include "platform.h"

namespace ctr {

// The body of a thread: run() receives the id of the BL_Thread that calls it.
class BL_IThread {
 public:
  virtual int run(int threadId) = 0;

 protected:
  ~BL_IThread() = default;
};

// One OS thread that calls its owner's run() with its id. Ids come from a process-wide counter
// that starts at 1000, so the first thread is 1001. The OS handle is not kept: whoever owns the
// body learns of its end through a running flag that the body clears as its very last step.
class BL_Thread {
 public:
  BL_Thread(BL_IThread* owner, int threadId);
  virtual ~BL_Thread();
  BL_Thread(const BL_Thread&) = delete;
  BL_Thread& operator=(const BL_Thread&) = delete;

  bool Start();
  int ThreadId() const { return m_threadId; }

  static int NextThreadId();
  // True on a thread started by a BL_Thread (the library's own threads).
  static bool IsLibraryThread();

 private:
  static void Entry(void* self);

  BL_IThread* m_pOwner;
  int m_threadId;
};

class BL_TimerProc {
 public:
  virtual ~BL_TimerProc() = default;
  virtual int OnTimer(int /*timerId*/) { return 0; }
};

// Calls its BL_TimerProc every interval until stopped. Timer ids come from their own counter,
// also starting at 1000.
class BL_TimerThread : public BL_IThread {
 public:
  BL_TimerThread(BL_TimerProc* proc, int intervalMs);
  int run(int threadId) override;
  virtual ~BL_TimerThread();
  BL_TimerThread(const BL_TimerThread&) = delete;
  BL_TimerThread& operator=(const BL_TimerThread&) = delete;

  bool Start();
  void SignalStop() { m_stopEvent.Set(); }
  bool IsRunning() const { return m_running.load() != 0; }
  int TimerId() const { return m_timerId; }

 private:
  BL_Thread* m_pThread;
  BL_TimerProc* m_pProc;
  int m_intervalMs;
  int m_threadId;
  ManualResetEvent m_stopEvent;
  std::atomic<int> m_running;
  int m_timerId;
};

// A lock with a manual-reset event.
class Bl_SynVar {
 public:
  Bl_SynVar() = default;
  virtual ~Bl_SynVar() = default;
  Bl_SynVar(const Bl_SynVar&) = delete;
  Bl_SynVar& operator=(const Bl_SynVar&) = delete;

  ManualResetEvent m_event;
  CriticalSection m_cs;
};

// An event for the connection thread.
struct EventMsg {
  enum Code : int32_t { kConnect = 1, kExit = 2 };
  int32_t code;
  int32_t reserved;
};

// A bounded first-in-first-out queue of owned pointers. Its event is signalled exactly while the
// queue holds something.
template <typename T>
class Bl_QueueFast {
 public:
  explicit Bl_QueueFast(int capacity)
      : m_capacity(capacity), m_count(0), m_head(0), m_tail(0), m_slots(new T*[capacity]()), m_pSyn(new Bl_SynVar) {}

  virtual ~Bl_QueueFast() {
    while (m_count > 0) {
      delete m_slots[m_head];
      m_head = (m_head + 1) % m_capacity;
      --m_count;
    }
    delete m_pSyn;
    delete[] m_slots;
  }

  Bl_QueueFast(const Bl_QueueFast&) = delete;
  Bl_QueueFast& operator=(const Bl_QueueFast&) = delete;

  // Takes ownership of `item` when it returns true; false when the queue is full.
  bool Post(T* item) {
    ScopedLock hold(m_pSyn->m_cs);
    if (m_count == m_capacity) return false;
    m_slots[m_tail] = item;
    m_tail = (m_tail + 1) % m_capacity;
    ++m_count;
    m_pSyn->m_event.Set();
    return true;
  }

  // Waits for the oldest item and hands it over.
  T* Take() {
    for (;;) {
      m_pSyn->m_event.Wait(-1);
      ScopedLock hold(m_pSyn->m_cs);
      if (m_count == 0) continue;
      T* item = m_slots[m_head];
      m_slots[m_head] = nullptr;
      m_head = (m_head + 1) % m_capacity;
      if (--m_count == 0) m_pSyn->m_event.Reset();
      return item;
    }
  }

 private:
  int m_capacity;
  int m_count;
  int m_head;
  int m_tail;
  T** m_slots;
  Bl_SynVar* m_pSyn;
};

}  // namespace ctr

#endif  // KOVA_CTR_BL_THREAD_H

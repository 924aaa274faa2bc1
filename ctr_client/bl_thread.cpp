#include "bl_thread.h"

#include "client_log.h"

namespace ctr {

namespace {
std::atomic<int> g_threadIdCounter{1000};
std::atomic<int> g_timerIdCounter{1000};
thread_local bool t_libraryThread = false;
}  // namespace

BL_Thread::BL_Thread(BL_IThread* owner, int threadId) : m_pOwner(owner), m_threadId(threadId) {}

BL_Thread::~BL_Thread() = default;

bool BL_Thread::Start() { return ThreadStartDetached(&BL_Thread::Entry, this); }

int BL_Thread::NextThreadId() { return ++g_threadIdCounter; }

bool BL_Thread::IsLibraryThread() { return t_libraryThread; }

void BL_Thread::Entry(void* self) {
  // Copy what the thread needs first: the BL_Thread may be destroyed as soon as run() has ended.
  auto* thread = static_cast<BL_Thread*>(self);
  BL_IThread* owner = thread->m_pOwner;
  int threadId = thread->m_threadId;
  t_libraryThread = true;
  owner->run(threadId);
}

BL_TimerThread::BL_TimerThread(BL_TimerProc* proc, int intervalMs)
    : m_pThread(nullptr),
      m_pProc(proc),
      m_intervalMs(intervalMs),
      m_threadId(BL_Thread::NextThreadId()),
      m_running(0),
      m_timerId(++g_timerIdCounter) {
  m_pThread = new BL_Thread(this, m_threadId);
}

BL_TimerThread::~BL_TimerThread() {
  m_running.store(0);
  delete m_pThread;
}

bool BL_TimerThread::Start() {
  m_running.store(1);
  if (!m_pThread->Start()) {
    m_running.store(0);
    return false;
  }
  return true;
}

int BL_TimerThread::run(int /*threadId*/) {
  while (!m_stopEvent.Wait(m_intervalMs)) m_pProc->OnTimer(m_timerId);
  PrintLine("TimerThread is sign out\n");
  m_running.store(0);  // last touch of this object: the owner may destroy it from here on
  return 0;
}

}  // namespace ctr

// The controller client's operating-system seam: sockets, threads, locks, events, sleeping, tick
// counts, thread and process ids and the local time. platform_posix.cpp implements it for Linux;
// a Windows build supplies its own implementation of the same declarations. No other file of the
// library includes a socket or thread header.
//
// Sockets are 32-bit descriptors; 0 stands for "no socket" throughout the library, so a socket
// that would get descriptor 0 is moved to another number. Functions that report failure return -1
// and leave the reason in SocketLastError().
#ifndef KOVA_CTR_PLATFORM_H
#define KOVA_CTR_PLATFORM_H

#include <cstdint>

namespace ctr {

enum class WaitResult { kReady, kTimeout, kError };

// Brings up the socket layer once per process (the Windows build starts Windows Sockets 2.2).
void NetStartup();

// A TCP/IPv4 socket in blocking mode, or -1.
int SocketCreateTcp();
void SocketClose(int s);
// Ends both directions without releasing the descriptor: wakes a thread blocked on the socket.
void SocketShutdown(int s);
int SocketSetNoDelay(int s, bool on);
int SocketSetSendBuffer(int s, int bytes);
int SocketSetRecvBuffer(int s, int bytes);
int SocketSetSendTimeout(int s, int milliseconds);
int SocketSetNonBlocking(int s, bool on);
// Starts connecting a non-blocking socket: 0 when connected or under way, else the error code.
int SocketConnectStart(int s, uint32_t addressNetworkOrder, uint16_t port);
// Waits for the socket to become writable (kReady) or readable (kReady, also at end of stream).
WaitResult SocketWaitWritable(int s, long timeoutMicroseconds);
WaitResult SocketWaitReadable(int s, long timeoutMicroseconds);
// The error pending on the socket (the result of a non-blocking connect), 0 when none.
int SocketPendingError(int s);
// One send call; never raises a signal when the peer has gone. Bytes sent, or -1.
int SocketSend(int s, const void* data, int length);
// One receive call. Bytes received, 0 when the peer closed (the last error is then 0), or -1.
int SocketRecv(int s, void* buffer, int length);
int SocketLastError();
// True for the errors after which a receive is simply repeated (would block, interrupted).
bool SocketErrorIsRetry(int error);
// Dotted-decimal IPv4 text to an address in network byte order; 0xFFFFFFFF when it does not convert.
uint32_t InetAddr(const char* text);

// Starts a thread whose handle is not kept. False when the thread could not be started.
bool ThreadStartDetached(void (*entry)(void*), void* argument);
void SleepMs(unsigned milliseconds);
// Milliseconds of a monotonic clock, cut to 32 bits.
uint32_t TickCountMs();
uint32_t CurrentThreadId();
int32_t CurrentProcessId();

struct LocalTime {
  int year;    // e.g. 2024
  int month;   // 1 to 12
  int day;     // 1 to 31
  int hour;    // 0 to 23
  int minute;
  int second;
};
LocalTime LocalTimeNow();

// A non-recursive lock.
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  struct Impl;
  Impl* m_impl;
};

// Holds a CriticalSection for the life of a scope.
class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
  ~ScopedLock() { m_cs.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& m_cs;
};

// An event that stays signalled from Set until Reset, releasing every waiter meanwhile.
class ManualResetEvent {
 public:
  ManualResetEvent();
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;
  void Set();
  void Reset();
  // True when signalled, false when the time ran out; a negative time waits without limit.
  bool Wait(int timeoutMs);

 private:
  struct Impl;
  Impl* m_impl;
};

}  // namespace ctr

#endif  // KOVA_CTR_PLATFORM_H

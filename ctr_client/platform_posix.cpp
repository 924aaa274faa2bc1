// Linux implementation of the controller client's operating-system seam (platform.h).
#include "platform.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ctr {

namespace {

int SetIntOption(int s, int level, int name, int value) {
  return setsockopt(s, level, name, &value, sizeof(value)) == 0 ? 0 : -1;
}

// poll() rather than select(): a host process may hold descriptors beyond FD_SETSIZE.
WaitResult WaitFor(int s, short events, long timeoutMicroseconds) {
  pollfd p{};
  p.fd = s;
  p.events = events;
  int timeoutMs = static_cast<int>((timeoutMicroseconds + 999) / 1000);
  int r = poll(&p, 1, timeoutMs);
  if (r > 0) return WaitResult::kReady;
  if (r == 0 || errno == EINTR) return WaitResult::kTimeout;
  return WaitResult::kError;
}

struct ThreadStart {
  void (*entry)(void*);
  void* argument;
};

void* ThreadMain(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.entry(start.argument);
  return nullptr;
}

}  // namespace

void NetStartup() {}

int SocketCreateTcp() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s == 0) {
    // Descriptor 0 is free only when the host closed its standard input; 0 means "no socket" here.
    int moved = fcntl(s, F_DUPFD_CLOEXEC, 1);
    close(s);
    s = moved;
  }
  return s < 0 ? -1 : s;
}

void SocketClose(int s) { close(s); }

void SocketShutdown(int s) { shutdown(s, SHUT_RDWR); }

int SocketSetNoDelay(int s, bool on) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }

int SocketSetSendBuffer(int s, int bytes) { return SetIntOption(s, SOL_SOCKET, SO_SNDBUF, bytes); }

int SocketSetRecvBuffer(int s, int bytes) { return SetIntOption(s, SOL_SOCKET, SO_RCVBUF, bytes); }

int SocketSetSendTimeout(int s, int milliseconds) {
  timeval tv{};
  tv.tv_sec = milliseconds / 1000;
  tv.tv_usec = (milliseconds % 1000) * 1000;
  return setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) == 0 ? 0 : -1;
}

int SocketSetNonBlocking(int s, bool on) {
  int flags = fcntl(s, F_GETFL, 0);
  if (flags < 0) return -1;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(s, F_SETFL, flags) == 0 ? 0 : -1;
}

int SocketConnectStart(int s, uint32_t addressNetworkOrder, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = addressNetworkOrder;
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) return 0;
  return (errno == EINPROGRESS || errno == EINTR) ? 0 : errno;
}

WaitResult SocketWaitWritable(int s, long timeoutMicroseconds) {
  return WaitFor(s, POLLOUT, timeoutMicroseconds);
}

WaitResult SocketWaitReadable(int s, long timeoutMicroseconds) {
  return WaitFor(s, POLLIN, timeoutMicroseconds);
}

int SocketPendingError(int s) {
  int error = 0;
  socklen_t length = sizeof(error);
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

int SocketSend(int s, const void* data, int length) {
  ssize_t r;
  do {
    r = send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (r < 0 && errno == EINTR);
  return static_cast<int>(r);
}

int SocketRecv(int s, void* buffer, int length) {
  ssize_t r = recv(s, buffer, static_cast<size_t>(length), 0);
  if (r == 0) errno = 0;
  return static_cast<int>(r);
}

int SocketLastError() { return errno; }

bool SocketErrorIsRetry(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

uint32_t InetAddr(const char* text) {
  in_addr address{};
  if (text == nullptr || inet_pton(AF_INET, text, &address) != 1) return 0xFFFFFFFFu;
  return address.s_addr;
}

bool ThreadStartDetached(void (*entry)(void*), void* argument) {
  auto* start = new ThreadStart{entry, argument};
  pthread_t thread;
  if (pthread_create(&thread, nullptr, ThreadMain, start) != 0) {
    delete start;
    return false;
  }
  pthread_detach(thread);
  return true;
}

void SleepMs(unsigned milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint32_t TickCountMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

int32_t CurrentProcessId() { return static_cast<int32_t>(getpid()); }

LocalTime LocalTimeNow() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

struct CriticalSection::Impl {
  std::mutex mutex;
};

CriticalSection::CriticalSection() : m_impl(new Impl) {}
CriticalSection::~CriticalSection() { delete m_impl; }
void CriticalSection::Enter() { m_impl->mutex.lock(); }
void CriticalSection::Leave() { m_impl->mutex.unlock(); }

struct ManualResetEvent::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
};

ManualResetEvent::ManualResetEvent() : m_impl(new Impl) {}
ManualResetEvent::~ManualResetEvent() { delete m_impl; }

void ManualResetEvent::Set() {
  std::lock_guard<std::mutex> hold(m_impl->mutex);
  m_impl->signalled = true;
  m_impl->changed.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> hold(m_impl->mutex);
  m_impl->signalled = false;
}

bool ManualResetEvent::Wait(int timeoutMs) {
  std::unique_lock<std::mutex> hold(m_impl->mutex);
  if (timeoutMs < 0) {
    m_impl->changed.wait(hold, [this] { return m_impl->signalled; });
    return true;
  }
  return m_impl->changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return m_impl->signalled; });
}

}  // namespace ctr

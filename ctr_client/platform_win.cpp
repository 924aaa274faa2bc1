// Windows implementation of the controller client's operating-system seam (platform.h): Windows
// Sockets 2.2, Windows threads, critical sections and manual-reset events.
//
// Socket handles are kept in the library's 32-bit socket numbers: Windows hands out small handle
// values (multiples of four, never 0), which fit.
#include "platform.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <process.h>

#include <ctime>

namespace ctr {

namespace {

SOCKET AsSocket(int s) { return static_cast<SOCKET>(static_cast<unsigned int>(s)); }

int SetIntOption(int s, int level, int name, int value) {
  return setsockopt(AsSocket(s), level, name, reinterpret_cast<const char*>(&value), sizeof(value)) == 0 ? 0 : -1;
}

// select() with one socket: Windows' fd_set is a list of handles, not a bit set, so any handle
// value fits. Only readability or writability ends the wait: a refused non-blocking connect is
// reported in the exception set, which is not watched, so such an attempt ends as the time-out.
WaitResult WaitFor(int s, bool forWrite, long timeoutMicroseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(AsSocket(s), &set);
  timeval tv;
  tv.tv_sec = timeoutMicroseconds / 1000000;
  tv.tv_usec = timeoutMicroseconds % 1000000;
  const int r = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
  if (r == SOCKET_ERROR) return WSAGetLastError() == WSAEINTR ? WaitResult::kTimeout : WaitResult::kError;
  return r > 0 ? WaitResult::kReady : WaitResult::kTimeout;
}

struct ThreadStart {
  void (*entry)(void*);
  void* argument;
};

unsigned __stdcall ThreadMain(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.entry(start.argument);
  return 0;
}

}  // namespace

void NetStartup() {
  // Once per process; the layer stays up until the process ends.
  static const int s_started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  (void)s_started;
}

int SocketCreateTcp() {
  // Overlapped like socket()'s own, without which the send time-out does not apply; not inherited
  // by child processes of the host.
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return -1;
  if (s > 0x7FFFFFFFu) {
    // Not expressible as the library's socket number; never seen in practice.
    closesocket(s);
    WSASetLastError(WSAEMFILE);
    return -1;
  }
  return static_cast<int>(s);
}

void SocketClose(int s) { closesocket(AsSocket(s)); }

void SocketShutdown(int s) { shutdown(AsSocket(s), SD_BOTH); }

int SocketSetNoDelay(int s, bool on) { return SetIntOption(s, IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0); }

int SocketSetSendBuffer(int s, int bytes) { return SetIntOption(s, SOL_SOCKET, SO_SNDBUF, bytes); }

int SocketSetRecvBuffer(int s, int bytes) { return SetIntOption(s, SOL_SOCKET, SO_RCVBUF, bytes); }

// Windows takes the send time-out as a DWORD of milliseconds.
int SocketSetSendTimeout(int s, int milliseconds) { return SetIntOption(s, SOL_SOCKET, SO_SNDTIMEO, milliseconds); }

int SocketSetNonBlocking(int s, bool on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(AsSocket(s), FIONBIO, &mode) == 0 ? 0 : -1;
}

int SocketConnectStart(int s, uint32_t addressNetworkOrder, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = addressNetworkOrder;
  if (connect(AsSocket(s), reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) return 0;
  const int error = WSAGetLastError();
  return (error == WSAEWOULDBLOCK || error == WSAEINTR) ? 0 : error;
}

WaitResult SocketWaitWritable(int s, long timeoutMicroseconds) { return WaitFor(s, true, timeoutMicroseconds); }

WaitResult SocketWaitReadable(int s, long timeoutMicroseconds) { return WaitFor(s, false, timeoutMicroseconds); }

int SocketPendingError(int s) {
  int error = 0;
  int length = sizeof(error);
  if (getsockopt(AsSocket(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return WSAGetLastError();
  }
  return error;
}

// Windows sockets raise no signal when the peer has gone.
int SocketSend(int s, const void* data, int length) {
  const int r = send(AsSocket(s), static_cast<const char*>(data), length, 0);
  return r == SOCKET_ERROR ? -1 : r;
}

int SocketRecv(int s, void* buffer, int length) {
  const int r = recv(AsSocket(s), static_cast<char*>(buffer), length, 0);
  if (r == 0) WSASetLastError(0);
  return r == SOCKET_ERROR ? -1 : r;
}

int SocketLastError() { return WSAGetLastError(); }

bool SocketErrorIsRetry(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR; }

uint32_t InetAddr(const char* text) {
  in_addr address{};
  if (text == nullptr || inet_pton(AF_INET, text, &address) != 1) return 0xFFFFFFFFu;
  return address.s_addr;
}

bool ThreadStartDetached(void (*entry)(void*), void* argument) {
  auto* start = new ThreadStart{entry, argument};
  const uintptr_t thread = _beginthreadex(nullptr, 0, &ThreadMain, start, 0, nullptr);
  if (thread == 0) {
    delete start;
    return false;
  }
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

void SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

uint32_t TickCountMs() { return GetTickCount(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

int32_t CurrentProcessId() { return static_cast<int32_t>(GetCurrentProcessId()); }

LocalTime LocalTimeNow() {
  SYSTEMTIME local;
  GetLocalTime(&local);
  return LocalTime{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

struct CriticalSection::Impl {
  CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : m_impl(new Impl) { InitializeCriticalSection(&m_impl->section); }
CriticalSection::~CriticalSection() {
  DeleteCriticalSection(&m_impl->section);
  delete m_impl;
}
void CriticalSection::Enter() { EnterCriticalSection(&m_impl->section); }
void CriticalSection::Leave() { LeaveCriticalSection(&m_impl->section); }

struct ManualResetEvent::Impl {
  HANDLE event;
};

ManualResetEvent::ManualResetEvent() : m_impl(new Impl{CreateEventW(nullptr, TRUE, FALSE, nullptr)}) {}
ManualResetEvent::~ManualResetEvent() {
  if (m_impl->event != nullptr) CloseHandle(m_impl->event);
  delete m_impl;
}

void ManualResetEvent::Set() { SetEvent(m_impl->event); }

void ManualResetEvent::Reset() { ResetEvent(m_impl->event); }

bool ManualResetEvent::Wait(int timeoutMs) {
  const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return WaitForSingleObject(m_impl->event, limit) == WAIT_OBJECT_0;
}

}  // namespace ctr

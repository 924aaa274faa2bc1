#include "tcp_client.h"

#include <new>

#include "client_log.h"
#include "platform.h"

namespace ctr {

TcpClient::TcpClient()
    : m_onMessage(nullptr),
      m_onStatus(nullptr),
      m_user(nullptr),
      m_pConThread(nullptr),
      m_pRecvThread(nullptr),
      m_pTimer(nullptr),
      m_pQueue(nullptr),
      m_conThreadId(0),
      m_recvThreadId(0),
      m_timerId(0),
      m_socket(0),
      m_port(0),
      m_serverAddress(0),
      m_stop(0),
      m_state(kNotConnected),
      m_clientType(0),
      m_assignedId(0),
      m_conRunning(0),
      m_recvRunning(0),
      m_recvSocket(0),
      m_closeRecvSocket(false) {
  ClientLog::Create(ClientLog::TodayFileName().c_str());
  m_pQueue = new Bl_QueueFast<EventMsg>(kEventQueueCapacity);
  NetStartup();
}

TcpClient::~TcpClient() {
  // Wait for the connection and receive threads. The receive loop sees the stop flag within
  // 800 ms, unless a frame's bytes stopped arriving in the middle of a read: then the socket is
  // shut down, which ends the read.
  const uint32_t begin = TickCountMs();
  bool nudged = false;
  while (m_conRunning.load() != 0 || m_recvRunning.load() != 0) {
    SleepMs(20);
    if (!nudged && m_recvRunning.load() != 0 && TickCountMs() - begin > 1000) {
      ScopedLock hold(m_socketLock);
      if (m_recvSocket != 0) SocketShutdown(m_recvSocket);
      nudged = true;
    }
  }
  delete m_pConThread;
  delete m_pRecvThread;
  delete m_pTimer;
  delete m_pQueue;
  if (m_closeRecvSocket && m_recvSocket != 0) SocketClose(m_recvSocket);
  if (m_socket.load() != 0) SocketClose(m_socket.load());
}

bool TcpClient::Start(const char* ip, unsigned short port, int clientType, ClientMessageCallback onMessage,
                      ClientStatusCallback onStatus, void* user) {
  m_onMessage = onMessage;
  m_onStatus = onStatus;
  m_user = user;
  m_port = port;
  m_serverAddress = InetAddr(ip);
  m_clientType = clientType;

  if (!StartOwnThread(&m_pConThread, &m_conThreadId, &m_conRunning)) return false;
  if (!StartOwnThread(&m_pRecvThread, &m_recvThreadId, &m_recvRunning)) return false;
  m_pTimer = new BL_TimerThread(this, kHeartbeatIntervalMs);
  m_timerId = m_pTimer->TimerId();
  if (!m_pTimer->Start()) return false;

  // 102 goes out before the first connect event is queued, so that it always precedes the 100 of
  // the connection thread.
  ReportStatus(CTR_STATUS_DISCONNECTED);
  PostEvent(EventMsg::kConnect);
  return true;
}

bool TcpClient::StartOwnThread(BL_Thread** thread, int* threadId, std::atomic<int>* running) {
  *threadId = BL_Thread::NextThreadId();
  *thread = new BL_Thread(this, *threadId);
  running->store(1);
  if ((*thread)->Start()) return true;
  running->store(0);
  return false;
}

void TcpClient::Stop() {
  m_stop.store(1);
  if (m_pTimer != nullptr) {
    m_pTimer->SignalStop();
    while (m_pTimer->IsRunning()) SleepMs(10);
  }
  PrintLine("TimerThread::Stop after!\n");
  // The exit event must not be lost to a full queue: the connection thread drains it meanwhile.
  while (m_conRunning.load() != 0) {
    auto* exitEvent = new EventMsg{EventMsg::kExit, 0};
    if (m_pQueue->Post(exitEvent)) break;
    delete exitEvent;
    SleepMs(10);
  }
}

int TcpClient::run(int threadId) {
  if (threadId == m_conThreadId) return ConnectionLoop();
  if (threadId == m_recvThreadId) return ReceiveLoop();
  return 0;
}

void TcpClient::PostEvent(int code) {
  auto* event = new EventMsg{code, 0};
  if (!m_pQueue->Post(event)) delete event;  // five events wait already: this one is dropped
}

void TcpClient::ReportStatus(int status) {
  if (m_onStatus != nullptr) m_onStatus(status, m_user);
}

int TcpClient::ConnectionLoop() {
  LogLine(kLevelInfo, "ConThread is started");
  for (;;) {
    EventMsg* event = m_pQueue->Take();
    const int code = event->code;
    delete event;
    if (code == EventMsg::kExit) break;
    // Once stopping, a connect event still queued is of no use.
    if (code != EventMsg::kConnect || m_stop.load() != 0) continue;

    m_state.store(kConnecting);
    RetireSocket();
    const int socket = ConnectServer();
    if (socket <= 0) {
      m_state.store(kNotConnected);
      PrintLine("Control client connect server is failed\n");
      SleepMs(kReconnectDelayMs);
      PostEvent(EventMsg::kConnect);
      ReportStatus(CTR_STATUS_DISCONNECTED);
    } else {
      PublishSocket(socket);
      // Reported once the socket is in place and registered, so that a send made on this status
      // is accepted and follows the registration frame.
      ReportStatus(CTR_STATUS_CONNECTED);
    }
  }
  LogLine(kLevelInfo, "ConThread is exit");
  m_conRunning.store(0);  // last touch of this object
  return 0;
}

int TcpClient::ConnectServer() {
  if (m_serverAddress == 0 || m_port <= 0) return -1;
  m_state.store(kNotConnected);

  const int s = SocketCreateTcp();
  if (s < 0) {
    PrintLine("socket create is failed!\n");
    return -1;
  }
  SocketSetNoDelay(s, true);
  if (SocketSetSendBuffer(s, kSocketBufferBytes) != 0) {
    PrintLine("set socket sendbuffsize is failed\n");
    SocketClose(s);
    return -1;
  }
  if (SocketSetRecvBuffer(s, kSocketBufferBytes) != 0) {
    PrintLine("set socket recvbuffsize is failed\n");
    SocketClose(s);
    return -1;
  }
  if (SocketSetSendTimeout(s, kSendTimeoutMs) != 0) {
    SocketClose(s);
    PrintLine("Set socket send time out error\n");
    return -1;
  }
  if (SocketSetNonBlocking(s, true) != 0) {
    SocketClose(s);
    PrintLine("Set socket ioctl open error\n");
    return -1;
  }

  // A connect that fails at once (an address that cannot be reached from here) is a failed
  // attempt; otherwise writability ends the wait, and the socket's pending error tells a refused
  // connection from an established one.
  int error = SocketConnectStart(s, m_serverAddress, static_cast<uint16_t>(m_port));
  WaitResult waited = WaitResult::kError;
  if (error == 0) {
    waited = SocketWaitWritable(s, kConnectWaitMicroseconds);
    if (waited == WaitResult::kReady) {
      error = SocketPendingError(s);
      if (error != 0) waited = WaitResult::kError;
    } else {
      error = SocketLastError();
    }
  }

  if (waited == WaitResult::kTimeout) {
    PrintLine("connect timeout! %d\n", error);
    LogLine(kLevelInfo, "client connect server time out! error=%d", error);
    SocketClose(s);
    return -1;
  }
  if (waited == WaitResult::kError) {
    PrintLine("connect failed!\n");
    LogLine(kLevelInfo, "client connect server failed! error=%d", error);
    SocketClose(s);
    return -1;
  }
  PrintLine("connect success!\n");
  if (SocketSetNonBlocking(s, false) != 0) PrintLine("Set socket ioctl close error\n");
  PrintLine("connect server succeed %d\n", s);
  LogLine(kLevelInfo, "client connect server succeed");
  return s;
}

void TcpClient::PublishSocket(int socket) {
  ScopedLock sending(m_sendLock.m_cs);
  {
    ScopedLock hold(m_socketLock);
    m_socket.store(socket);
  }
  m_state.store(kConnected);
  uint8_t payload[4];
  WriteLittleEndian32(static_cast<uint32_t>(m_clientType), payload);
  CtrMessage registration{CTR_MSG_REGISTER, 4, 0, reinterpret_cast<char*>(payload)};
  WriteMessage(socket, 0, registration);
}

void TcpClient::RetireSocket() {
  int socket;
  {
    ScopedLock hold(m_socketLock);
    socket = m_socket.load();
    if (socket == 0) return;
    SocketShutdown(socket);  // wakes a writer or reader blocked on it
  }
  ScopedLock sending(m_sendLock.m_cs);
  ScopedLock hold(m_socketLock);
  if (m_socket.load() != socket) return;  // the receive thread dropped it meanwhile
  m_socket.store(0);
  if (m_recvSocket == socket) {
    m_closeRecvSocket = true;
  } else {
    SocketClose(socket);
  }
}

int TcpClient::ClaimRecvSocket() {
  ScopedLock hold(m_socketLock);
  m_recvSocket = m_socket.load();
  return m_recvSocket;
}

void TcpClient::ReleaseRecvSocket() {
  ScopedLock hold(m_socketLock);
  if (m_closeRecvSocket) SocketClose(m_recvSocket);
  m_closeRecvSocket = false;
  m_recvSocket = 0;
}

void TcpClient::DropRecvSocket(int socket) {
  // The socket is claimed by this thread, so nobody closes it meanwhile: shutting it down here
  // releases a writer blocked on it before the send lock is taken.
  SocketShutdown(socket);
  ScopedLock sending(m_sendLock.m_cs);
  ScopedLock hold(m_socketLock);
  if (m_socket.load() == socket) m_socket.store(0);
  SocketClose(socket);
  m_closeRecvSocket = false;
  m_recvSocket = 0;
}

int TcpClient::ReceiveLoop() {
  LogLine(kLevelInfo, "RecvThread is started");
  while (m_stop.load() == 0) {
    const int socket = ClaimRecvSocket();
    if (socket == 0) {
      SleepMs(500);
      continue;
    }
    const WaitResult waited = SocketWaitReadable(socket, kReadableWaitMicroseconds);
    if (waited == WaitResult::kTimeout || m_stop.load() != 0) {
      ReleaseRecvSocket();
      continue;
    }
    CtrMessage* message = nullptr;
    bool drop = false;
    if (waited == WaitResult::kError) {
      PrintLine("select error, error=%d\n", SocketLastError());
      drop = true;
    } else {
      // A whole message of length 0 (no payload) ends the connection as a failed read does.
      drop = ReadFrame(socket, m_reassembly, &message) < 0 || (message != nullptr && message->length <= 0);
    }
    if (drop) {
      DropRecvSocket(socket);
      // A message cut by the loss can never be completed on a later connection.
      m_reassembly.Reset();
    } else {
      ReleaseRecvSocket();
      if (message != nullptr) HandleMessage(*message);
    }
    if (message != nullptr) {
      delete[] message->data;
      delete message;
    }
  }
  LogLine(kLevelInfo, "RecvThread is exit");
  m_recvRunning.store(0);  // last touch of this object
  return 0;
}

void TcpClient::HandleMessage(const CtrMessage& message) {
  if (message.type == CTR_MSG_ASSIGN_ID) {
    m_assignedId.store(static_cast<int32_t>(ReadLittleEndian32(reinterpret_cast<const uint8_t*>(message.data))));
  } else if (message.type == CTR_MSG_DATA && m_onMessage != nullptr) {
    m_onMessage(message.data, message.length, m_user);
  }
}

int TcpClient::WriteLocked(int type, uint32_t messageId, int32_t assignedId, const char* data, int length) {
  ScopedLock sending(m_sendLock.m_cs);
  CtrMessage message{type, length, messageId, const_cast<char*>(data)};
  return WriteMessage(m_socket.load(), assignedId, message);
}

int TcpClient::SendData(const char* data, int length) {
  return WriteLocked(CTR_MSG_DATA, TickCountMs(), m_assignedId.load(), data, length);
}

int TcpClient::OnTimer(int timerId) {
  if (timerId != m_timerId || m_state.load() != kConnected) return 0;
  const char beat = 0;
  if (WriteLocked(CTR_MSG_HEARTBEAT, TickCountMs(), m_assignedId.load(), &beat, 1) < 0) {
    // 102 first: once the connect event is queued, the connection thread may report 100 at once.
    ReportStatus(CTR_STATUS_DISCONNECTED);
    PostEvent(EventMsg::kConnect);
    return -1;
  }
  return 0;
}

}  // namespace ctr

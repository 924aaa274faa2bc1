// The controller client object: its connection, receive and timer threads, connection policy and
// status reports.
//
// Threads:
//   connection thread  takes events from the queue; connects, registers, retries every 5 s;
//   receive thread     reads frames, reassembles messages, calls the message callback;
//   timer thread       sends a heartbeat every 5000 ms while connected; a failed one reconnects.
//
// Socket ownership. Writers (data messages, registration, heartbeats) use m_socket only while they
// hold the send lock; the receive thread registers the descriptor it reads in m_recvSocket for each
// frame. A descriptor is closed only under m_socketLock, while no writer holds the send lock and no
// read is in progress on it (a close asked for during a read waits until the read ends), so no
// thread ever reads from or writes to a descriptor number that the system has handed out again.
// Lock order: send lock, then socket lock.
#ifndef KOVA_CTR_TCP_CLIENT_H
#define KOVA_CTR_TCP_CLIENT_H

#include <atomic>
#include <cstdint>

#include "bl_thread.h"
#include "ctr_client.h"
#include "ctr_frame.h"

namespace ctr {

constexpr int kHeartbeatIntervalMs = 5000;
constexpr unsigned kReconnectDelayMs = 5000;
constexpr long kConnectWaitMicroseconds = 2 * 1000000L + 900000L;
constexpr long kReadableWaitMicroseconds = 800000L;
constexpr int kSendTimeoutMs = 2500;
constexpr int kSocketBufferBytes = 131072;
constexpr int kEventQueueCapacity = 5;

enum ConnectionState : int { kNotConnected = 0, kConnecting = 1, kConnected = 2 };

class TcpClient : public BL_IThread, public BL_TimerProc {
 public:
  TcpClient();
  ~TcpClient() override;
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  int run(int threadId) override;
  int OnTimer(int timerId) override;

  // Stores the target and the callbacks, starts the three threads, reports 102 and queues the
  // first connection attempt. False when a thread could not be started (the client is then inert).
  bool Start(const char* ip, unsigned short port, int clientType, ClientMessageCallback onMessage,
             ClientStatusCallback onStatus, void* user);
  // Ends the threads; the destructor then waits for them and releases everything.
  void Stop();

  bool HasConnection() const { return m_socket.load() != 0; }
  // Writes one data message under the send lock; the length is checked by the caller.
  int SendData(const char* data, int length);

 private:
  // Creates a BL_Thread running this object under the next thread id and starts it.
  bool StartOwnThread(BL_Thread** thread, int* threadId, std::atomic<int>* running);
  int ConnectionLoop();
  int ReceiveLoop();
  int ConnectServer();
  void HandleMessage(const CtrMessage& message);
  int WriteLocked(int type, uint32_t messageId, int32_t assignedId, const char* data, int length);
  void PostEvent(int code);
  void ReportStatus(int status);

  int ClaimRecvSocket();
  void ReleaseRecvSocket();
  void DropRecvSocket(int socket);
  void RetireSocket();
  void PublishSocket(int socket);

  ClientMessageCallback m_onMessage;
  ClientStatusCallback m_onStatus;
  void* m_user;
  BL_Thread* m_pConThread;
  BL_Thread* m_pRecvThread;
  BL_TimerThread* m_pTimer;
  Bl_QueueFast<EventMsg>* m_pQueue;
  Bl_SynVar m_sendLock;
  int m_conThreadId;
  int m_recvThreadId;
  int m_timerId;
  std::atomic<int> m_socket;
  int m_port;
  uint32_t m_serverAddress;
  std::atomic<int> m_stop;
  std::atomic<int> m_state;
  int m_clientType;
  std::atomic<int32_t> m_assignedId;
  std::atomic<int> m_conRunning;
  std::atomic<int> m_recvRunning;

  CriticalSection m_socketLock;
  int m_recvSocket;        // the descriptor a read is in progress on, 0 when none
  bool m_closeRecvSocket;  // close m_recvSocket once the read ends
  ReassemblyState m_reassembly;
};

}  // namespace ctr

#endif  // KOVA_CTR_TCP_CLIENT_H

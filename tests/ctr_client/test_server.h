// A controller server for tests, on 127.0.0.1 with an ephemeral port. It accepts connections,
// decodes every frame it receives and reports it as an event, reassembles data messages (type 1),
// and on command sends data messages (cut into frames of at most 1024 bytes, as the client does),
// id assignments, raw bytes, closes the current connection or stops listening.
//
// Every socket operation runs on the server's own thread; commands are handed to it and waited
// for. A new connection becomes the current one; older ones stay open and are still read until
// their peer closes them.
#ifndef KOVA_CTR_TEST_SERVER_H
#define KOVA_CTR_TEST_SERVER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ctrtest {

using Bytes = std::vector<uint8_t>;

struct WireFrame {
  uint16_t sequence = 0;
  uint16_t count = 0;
  uint16_t index = 0;
  uint16_t type = 0;
  uint32_t messageId = 0;
  int32_t length = 0;
  int32_t assigned = 0;
  Bytes payload;
  Bytes raw;  // the frame as it came over the wire, header and payload
};

struct ServerEvent {
  enum Kind { kConnect, kFrame, kMessage, kDisconnect, kGarbage };
  Kind kind = kConnect;
  int connection = 0;  // 1 for the first accepted connection, then 2, 3, ...
  WireFrame frame;     // kFrame; for kGarbage the header that could not be taken
  Bytes message;       // kMessage: a whole data message
  std::chrono::steady_clock::time_point at;  // when the server took it
};

// One frame's bytes: the 20-byte little-endian header followed by `payload`. `length` is written
// as given, so that a test can announce a length that differs from the payload.
Bytes EncodeFrame(uint16_t count, uint16_t index, uint16_t type, uint32_t messageId, int32_t length,
                  const Bytes& payload, int32_t assigned = 0);
// The frames of a whole data message, cut as the client cuts them.
Bytes EncodeDataMessage(const Bytes& message, uint32_t messageId);
std::string ToHex(const Bytes& bytes);
// Hexadecimal digits (spaces allowed) to bytes; nullopt for anything else.
std::optional<Bytes> FromHex(const std::string& text);

class TestServer {
 public:
  using Sink = std::function<void(const ServerEvent&)>;

  // With a sink, events are handed to it on the server thread instead of being queued.
  explicit TestServer(Sink sink = nullptr);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // Listens on 127.0.0.1 and an ephemeral port; false on failure.
  bool Start();
  uint16_t Port() const { return m_port; }

  // Commands on the current connection: false when there is none or sending failed.
  bool SendData(const Bytes& message, uint32_t messageId = 1);
  bool SendAssign(int32_t assignedId);
  bool SendRaw(const Bytes& bytes);
  bool DropConnection();
  // Closes the listening socket: later connection attempts are refused. ResumeListening listens on
  // the same port again.
  bool StopListening();
  bool ResumeListening();
  // While paused, nothing is read from any connection (the peer's sends back up).
  bool PauseReading(bool paused);

  // Takes queued events until one matches; nullopt when none did within the time.
  std::optional<ServerEvent> WaitFor(const std::function<bool(const ServerEvent&)>& match, int timeoutMs);
  // Takes every queued event.
  std::vector<ServerEvent> Drain();

 private:
  struct Connection {
    int serial;
    int fd;
    Bytes inbox;
    Bytes assembling;  // type-1 message in progress
    bool assemblingActive = false;
  };

  bool RunOnServerThread(std::function<bool()> task);
  void Loop();
  void ReadFrom(Connection& connection);
  void Close(Connection& connection);
  void Emit(ServerEvent event);
  Connection* Current();
  bool Listen();

  Sink m_sink;
  int m_listenFd = -1;
  uint16_t m_port = 0;
  int m_wakeRead = -1;
  int m_wakeWrite = -1;
  int m_nextSerial = 1;
  bool m_paused = false;
  bool m_quit = false;
  std::vector<Connection> m_connections;
  std::thread m_thread;

  std::mutex m_taskLock;
  std::condition_variable m_taskDone;
  std::deque<std::function<void()>> m_tasks;

  std::mutex m_eventLock;
  std::condition_variable m_eventArrived;
  std::deque<ServerEvent> m_events;
};

}  // namespace ctrtest

#endif  // KOVA_CTR_TEST_SERVER_H

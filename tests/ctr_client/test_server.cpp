#include "test_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>

namespace ctrtest {

namespace {

constexpr int kHeaderSize = 20;
constexpr int kMaxFragment = 1024;

void Put16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool SendAll(int fd, const Bytes& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t r = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    sent += static_cast<size_t>(r);
  }
  return true;
}

}  // namespace

Bytes EncodeFrame(uint16_t count, uint16_t index, uint16_t type, uint32_t messageId, int32_t length,
                  const Bytes& payload, int32_t assigned) {
  Bytes out;
  Put16(out, index);
  Put16(out, count);
  Put16(out, index);
  Put16(out, type);
  Put32(out, messageId);
  Put32(out, static_cast<uint32_t>(length));
  Put32(out, static_cast<uint32_t>(assigned));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

Bytes EncodeDataMessage(const Bytes& message, uint32_t messageId) {
  const size_t count = (message.size() + kMaxFragment - 1) / kMaxFragment;
  Bytes out;
  for (size_t index = 0; index < count; ++index) {
    const size_t begin = index * kMaxFragment;
    const size_t n = std::min<size_t>(kMaxFragment, message.size() - begin);
    Bytes part(message.begin() + static_cast<long>(begin), message.begin() + static_cast<long>(begin + n));
    Bytes frame = EncodeFrame(static_cast<uint16_t>(count), static_cast<uint16_t>(index), 1, messageId,
                              static_cast<int32_t>(n), part);
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

std::string ToHex(const Bytes& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 15]);
  }
  return text;
}

std::optional<Bytes> FromHex(const std::string& text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c == ' ') continue;
    else return std::nullopt;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

TestServer::TestServer(Sink sink) : m_sink(std::move(sink)) {}

TestServer::~TestServer() {
  if (m_thread.joinable()) {
    RunOnServerThread([this] {
      m_quit = true;
      return true;
    });
    m_thread.join();
  }
  for (Connection& c : m_connections) close(c.fd);
  if (m_listenFd >= 0) close(m_listenFd);
  if (m_wakeRead >= 0) close(m_wakeRead);
  if (m_wakeWrite >= 0) close(m_wakeWrite);
}

bool TestServer::Listen() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(m_port);
  socklen_t length = sizeof(address);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return false;
  }
  m_port = ntohs(address.sin_port);
  m_listenFd = fd;
  return true;
}

bool TestServer::Start() {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  m_wakeRead = wake[0];
  m_wakeWrite = wake[1];
  if (!Listen()) return false;
  m_thread = std::thread([this] { Loop(); });
  return true;
}

bool TestServer::RunOnServerThread(std::function<bool()> task) {
  auto done = std::make_shared<std::promise<bool>>();
  std::future<bool> result = done->get_future();
  {
    std::lock_guard<std::mutex> hold(m_taskLock);
    m_tasks.push_back([task, done] { done->set_value(task()); });
  }
  char byte = 1;
  (void)!write(m_wakeWrite, &byte, 1);
  return result.get();
}

TestServer::Connection* TestServer::Current() {
  return m_connections.empty() ? nullptr : &m_connections.back();
}

bool TestServer::SendData(const Bytes& message, uint32_t messageId) {
  return SendRaw(EncodeDataMessage(message, messageId));
}

bool TestServer::SendAssign(int32_t assignedId) {
  Bytes payload;
  Put32(payload, static_cast<uint32_t>(assignedId));
  return SendRaw(EncodeFrame(1, 0, 12, 0, 4, payload));
}

bool TestServer::SendRaw(const Bytes& bytes) {
  return RunOnServerThread([this, &bytes] {
    Connection* c = Current();
    return c != nullptr && SendAll(c->fd, bytes);
  });
}

bool TestServer::DropConnection() {
  return RunOnServerThread([this] {
    Connection* c = Current();
    if (c == nullptr) return false;
    Close(*c);
    return true;
  });
}

bool TestServer::StopListening() {
  return RunOnServerThread([this] {
    if (m_listenFd < 0) return false;
    close(m_listenFd);
    m_listenFd = -1;
    return true;
  });
}

bool TestServer::ResumeListening() {
  return RunOnServerThread([this] { return m_listenFd >= 0 || Listen(); });
}

bool TestServer::PauseReading(bool paused) {
  return RunOnServerThread([this, paused] {
    m_paused = paused;
    return true;
  });
}

void TestServer::Emit(ServerEvent event) {
  event.at = std::chrono::steady_clock::now();
  if (m_sink) {
    m_sink(event);
    return;
  }
  std::lock_guard<std::mutex> hold(m_eventLock);
  m_events.push_back(std::move(event));
  m_eventArrived.notify_all();
}

std::optional<ServerEvent> TestServer::WaitFor(const std::function<bool(const ServerEvent&)>& match,
                                                int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> hold(m_eventLock);
  for (;;) {
    while (!m_events.empty()) {
      ServerEvent event = std::move(m_events.front());
      m_events.pop_front();
      if (match(event)) return event;
    }
    if (m_eventArrived.wait_until(hold, deadline) == std::cv_status::timeout && m_events.empty()) {
      return std::nullopt;
    }
  }
}

std::vector<ServerEvent> TestServer::Drain() {
  std::lock_guard<std::mutex> hold(m_eventLock);
  std::vector<ServerEvent> all(std::make_move_iterator(m_events.begin()), std::make_move_iterator(m_events.end()));
  m_events.clear();
  return all;
}

void TestServer::Close(Connection& connection) {
  close(connection.fd);
  ServerEvent event;
  event.kind = ServerEvent::kDisconnect;
  event.connection = connection.serial;
  const int serial = connection.serial;
  m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                     [serial](const Connection& c) { return c.serial == serial; }),
                      m_connections.end());
  Emit(std::move(event));
}

void TestServer::ReadFrom(Connection& connection) {
  uint8_t chunk[65536];
  ssize_t r = recv(connection.fd, chunk, sizeof(chunk), 0);
  if (r < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (r <= 0) {
    Close(connection);
    return;
  }
  Bytes& in = connection.inbox;
  in.insert(in.end(), chunk, chunk + r);
  size_t used = 0;
  while (in.size() - used >= kHeaderSize) {
    const uint8_t* h = in.data() + used;
    WireFrame frame;
    frame.sequence = Get16(h);
    frame.count = Get16(h + 2);
    frame.index = Get16(h + 4);
    frame.type = Get16(h + 6);
    frame.messageId = Get32(h + 8);
    frame.length = static_cast<int32_t>(Get32(h + 12));
    frame.assigned = static_cast<int32_t>(Get32(h + 16));
    if (frame.length < 0 || frame.length > kMaxFragment) {
      // Nothing after an impossible header can be framed again.
      ServerEvent garbage;
      garbage.kind = ServerEvent::kGarbage;
      garbage.connection = connection.serial;
      frame.raw.assign(h, h + kHeaderSize);
      garbage.frame = std::move(frame);
      Emit(std::move(garbage));
      Close(connection);
      return;
    }
    if (in.size() - used < static_cast<size_t>(kHeaderSize + frame.length)) break;
    frame.raw.assign(h, h + kHeaderSize + frame.length);
    frame.payload.assign(h + kHeaderSize, h + kHeaderSize + frame.length);
    used += kHeaderSize + static_cast<size_t>(frame.length);

    bool complete = false;
    if (frame.type == 1) {
      if (frame.index == 0) {
        connection.assembling.clear();
        connection.assemblingActive = true;
      }
      if (connection.assemblingActive) {
        connection.assembling.insert(connection.assembling.end(), frame.payload.begin(), frame.payload.end());
        complete = frame.index + 1 == frame.count;
      }
    }
    ServerEvent event;
    event.kind = ServerEvent::kFrame;
    event.connection = connection.serial;
    event.frame = frame;
    Emit(std::move(event));
    if (complete) {
      ServerEvent message;
      message.kind = ServerEvent::kMessage;
      message.connection = connection.serial;
      message.frame = std::move(frame);
      message.message = std::move(connection.assembling);
      connection.assembling.clear();
      connection.assemblingActive = false;
      Emit(std::move(message));
    }
  }
  in.erase(in.begin(), in.begin() + static_cast<long>(used));
}

void TestServer::Loop() {
  while (!m_quit) {
    std::vector<pollfd> fds;
    fds.push_back(pollfd{m_wakeRead, POLLIN, 0});
    fds.push_back(pollfd{m_listenFd, POLLIN, 0});  // a negative descriptor is skipped by poll
    std::vector<int> serials;
    if (!m_paused) {
      for (const Connection& c : m_connections) {
        fds.push_back(pollfd{c.fd, POLLIN, 0});
        serials.push_back(c.serial);
      }
    }
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;

    if (fds[0].revents != 0) {
      char drain[64];
      while (read(m_wakeRead, drain, sizeof(drain)) > 0) {
      }
      std::deque<std::function<void()>> tasks;
      {
        std::lock_guard<std::mutex> hold(m_taskLock);
        tasks.swap(m_tasks);
      }
      for (auto& task : tasks) task();
      continue;  // the task may have changed the set of descriptors
    }
    if (m_listenFd >= 0 && fds[1].revents != 0) {
      int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        m_connections.push_back(Connection{m_nextSerial++, fd, {}, {}, false});
        ServerEvent event;
        event.kind = ServerEvent::kConnect;
        event.connection = m_connections.back().serial;
        Emit(std::move(event));
      }
    }
    for (size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      const int serial = serials[i - 2];
      auto it = std::find_if(m_connections.begin(), m_connections.end(),
                             [serial](const Connection& c) { return c.serial == serial; });
      if (it != m_connections.end()) ReadFrom(*it);
    }
  }
}

}  // namespace ctrtest

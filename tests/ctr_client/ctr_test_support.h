// Shared pieces of the controller-client tests: a temporary directory, the driver process that
// hosts the library, and matchers for server events.
#ifndef KOVA_CTR_TEST_SUPPORT_H
#define KOVA_CTR_TEST_SUPPORT_H

#include <climits>
#include <ctime>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_server.h"

namespace ctrtest {

// Sanitizer builds run several times slower (a 64 MiB send under the address sanitizer takes
// seconds), so their bounds are wider.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 3;
#else
constexpr int kSlowdown = 1;
#endif

// Generous bounds: they only keep a broken build from hanging, they do not measure speed.
constexpr int kQuickMs = 5000 * kSlowdown;      // something that happens at once
constexpr int kConnectMs = 10000 * kSlowdown;   // one connection attempt
constexpr int kCycleMs = 15000 * kSlowdown;     // one heartbeat tick or reconnection delay, plus an attempt

// A fresh directory under the system's temporary directory, removed with its content at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// The driver program (client_driver.cpp) with the library loaded, running in its own directory so
// that the log file it writes lands there; under Wine its Windows build.
class Driver : public ChildProcess {
 public:
  explicit Driver(const std::string& workDir);
  // Sends one command and returns the value of its RESULT line; INT_MIN when none came.
  int Call(const std::string& command, int timeoutMs = kConnectMs);
  // Waits for the next status report with this code.
  bool WaitStatus(int code, int timeoutMs);
  // Every status code reported so far, in order.
  std::vector<int> Statuses();
  bool Printed(const std::string& line);
  // Sets the callbacks, creates a client of type 2 for the server and waits until the client
  // reported 100 and the server took its registration frame.
  bool ConnectTo(TestServer& server);
};

// The Wine loader when the tests drive the Windows build (KOVA_WINE), else null. The driver is then
// KOVA_WIN_CTR_DRIVER, a Windows program with ctr_client.dll beside it, run under that loader.
const char* Wine();
std::string PathOfDriver();
std::string PathOfServer();
// The log file's name for the local date at `t`, or now: "BrelClientLog-YYYY-MM-DD.txt".
std::string LogFileNameAt(time_t t);
std::string LogFileNameNow();
std::string ReadFile(const std::string& path);
// Waits for the log file of a run that started when `before` was the name of the day.
std::string ReadLogFile(const std::string& dir, const std::string& before);

bool IsConnect(const ServerEvent& e);
bool IsDisconnect(const ServerEvent& e);
bool IsMessage(const ServerEvent& e);
// A frame of the given message type.
std::function<bool(const ServerEvent&)> FrameOfType(int type);
// A frame of the given connection and type.
std::function<bool(const ServerEvent&)> FrameOn(int connection, int type);

// The frame's bytes as "aa bb cc ..." for readable comparisons.
std::string Spaced(const Bytes& bytes);
// The driver's pattern for "sendlen": byte i is (i * 7 + 3) mod 256.
Bytes Pattern(size_t length);

}  // namespace ctrtest

#endif  // KOVA_CTR_TEST_SUPPORT_H

// The exported functions' results, unreachable servers, the log file, a client's second life in
// the same process, and a connection that backs up until its heartbeat fails. Every scenario runs
// the library in driver processes of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>

#include "ctr_client.h"
#include "ctr_test_support.h"

namespace ctrtest {
namespace {

int CountLines(Driver& driver, const std::string& text) {
  int n = 0;
  for (const std::string& line : driver.Lines()) n += line == text;
  return n;
}

bool LogHas(const std::string& dir, const std::string& day, const std::string& text) {
  return ReadLogFile(dir, day).find(text) != std::string::npos;
}

// Arguments are checked before anything starts; a server that cannot be reached gives one 102 at
// creation and one after every failed attempt, and never 100. Three kinds of unreachable address
// run side by side, so the suite waits for one reconnection delay only.
TEST(CtrClientApi, ArgumentErrorsAndServersThatCannotBeReached) {
  TestServer closed;
  ASSERT_TRUE(closed.Start());
  ASSERT_TRUE(closed.StopListening());  // its port now refuses connections
  const std::string refusedPort = std::to_string(closed.Port());

  struct Target {
    const char* name;
    std::string ip;
    bool attemptsConnect;  // false: the address fails before any socket is made
  };
  const Target targets[] = {{"refused", "127.0.0.1", true}, {"not an address", "host.invalid", true},
                            {"address 0", "0.0.0.0", false}};
  std::vector<TempDir> dirs(3);
  std::vector<std::unique_ptr<Driver>> drivers;
  const std::string day = LogFileNameNow();
  for (size_t i = 0; i < 3; ++i) drivers.push_back(std::make_unique<Driver>(dirs[i].Path()));

  Driver& first = *drivers[0];
  EXPECT_EQ(first.Call("send early"), -1);
  EXPECT_EQ(first.Call("sendnull 4"), -1);
  EXPECT_EQ(first.Call("stop"), -1);
  ASSERT_EQ(first.Call("callbacks"), 0);
  for (const char* bad : {"create - 4000 2", "create 127.0.0.1 0 2", "create 127.0.0.1 4000 0",
                          "create 127.0.0.1 4000 -3"}) {
    EXPECT_EQ(first.Call(bad), -1) << bad;
  }
  EXPECT_TRUE(first.Statuses().empty()) << "nothing starts on an argument error";
  EXPECT_FALSE(std::filesystem::exists(dirs[0].Path() + "/" + day)) << "no client, no log file";

  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(drivers[i]->Call("callbacks"), 0);
    ASSERT_EQ(drivers[i]->Call("create " + targets[i].ip + " " + refusedPort + " 2"), 0) << targets[i].name;
  }
  EXPECT_EQ(first.Call("create 127.0.0.1 " + refusedPort + " 2"), -1) << "one client per process";
  EXPECT_EQ(first.Call("send early"), -1);
  EXPECT_EQ(first.Call("stop"), -1) << "a client without a connection is not stopped";

  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(targets[i].name);
    Driver& d = *drivers[i];
    // The 102 of the creation came before its RESULT line; this one follows the first attempt.
    ASSERT_TRUE(d.WaitStatus(CTR_STATUS_DISCONNECTED, kCycleMs));
    const std::vector<int> statuses = d.Statuses();
    EXPECT_GE(statuses.size(), 2u);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), CTR_STATUS_DISCONNECTED), statuses.size());
    EXPECT_TRUE(d.Printed("Control client connect server is failed"));
    EXPECT_FALSE(d.Printed("connect success!"));
    if (Wine() != nullptr && i == 0) {
      // Windows never reports a refused connection as writable: the attempt ends as the time-out.
      EXPECT_TRUE(d.Printed("connect timeout! 0"));
      EXPECT_FALSE(d.Printed("connect failed!"));
    } else {
      EXPECT_EQ(d.Printed("connect failed!"), targets[i].attemptsConnect);
    }
  }
  if (Wine() != nullptr) {
    EXPECT_TRUE(LogHas(dirs[0].Path(), day, "[INFO] client connect server time out! error=0\r\n"));
  } else {
    EXPECT_TRUE(LogHas(dirs[0].Path(), day, "[INFO] client connect server failed! error=" + std::to_string(ECONNREFUSED) + "\r\n"));
  }
  EXPECT_EQ(first.Call("stop"), -1) << "still retrying";
}

// A status-100 callback may send at once: the socket is in place and the registration went first.
// Then the argument checks of a connected client and the largest message.
TEST(CtrClientApi, SendsFromTheConnectedCallbackAndChecksLengths) {
  TempDir dir;
  TestServer server;
  ASSERT_TRUE(server.Start());
  Driver driver(dir.Path());
  ASSERT_EQ(driver.Call("callbacks"), 0);
  ASSERT_EQ(driver.Call("onconnect send hello"), 2);
  ASSERT_EQ(driver.Call("create 127.0.0.1 " + std::to_string(server.Port()) + " 9"), 0);
  std::optional<std::string> sent = driver.WaitPrefix("CALLBACK send ", kConnectMs);
  ASSERT_TRUE(sent);
  EXPECT_EQ(*sent, "CALLBACK send 25");
  std::optional<ServerEvent> registration = server.WaitFor(FrameOfType(5), kQuickMs);
  ASSERT_TRUE(registration);
  EXPECT_EQ(Spaced(registration->frame.payload), "09 00 00 00");
  std::optional<ServerEvent> hello = server.WaitFor(IsMessage, kQuickMs);
  ASSERT_TRUE(hello);
  EXPECT_EQ(std::string(hello->message.begin(), hello->message.end()), "hello");

  EXPECT_EQ(driver.Call("sendnull 5"), -2);
  EXPECT_EQ(driver.Call("sendlen 0"), -2);
  EXPECT_EQ(driver.Call("sendlen -1"), -2);
  EXPECT_EQ(driver.Call("sendlen 67107841"), -2) << "more than 65535 frames cannot be numbered";

  // 65535 frames: the last one has index 65534; the message arrives whole.
  server.Drain();
  ASSERT_EQ(driver.Call("sendlen 67107840", 60000), 1044);
  std::optional<ServerEvent> largest = server.WaitFor(IsMessage, 60000);
  ASSERT_TRUE(largest);
  EXPECT_EQ(largest->frame.count, 65535);
  EXPECT_EQ(largest->frame.index, 65534);
  EXPECT_EQ(largest->frame.sequence, 65534);
  EXPECT_TRUE(largest->message == Pattern(67107840)) << "the largest message arrives intact";
  EXPECT_EQ(driver.Call("stop"), 0);
}

// Two clients one after the other in one process write into one log file; stopping clears the
// callbacks; a stop asked for from inside a callback is refused instead of waiting for itself.
TEST(CtrClientApi, SecondClientInTheSameProcess) {
  TempDir dir;
  const std::string day = LogFileNameNow();
  TestServer server;
  ASSERT_TRUE(server.Start());
  Driver driver(dir.Path());
  const std::string create = "create 127.0.0.1 " + std::to_string(server.Port()) + " 2";

  ASSERT_EQ(driver.Call("callbacks"), 0);
  ASSERT_EQ(driver.Call("onconnect stop"), 1);
  ASSERT_EQ(driver.Call(create), 0);
  std::optional<std::string> fromCallback = driver.WaitPrefix("CALLBACK stop ", kConnectMs);
  ASSERT_TRUE(fromCallback);
  EXPECT_EQ(*fromCallback, "CALLBACK stop -1");
  ASSERT_TRUE(server.WaitFor(FrameOfType(5), kQuickMs));
  EXPECT_EQ(driver.Call("stop"), 0);
  ASSERT_TRUE(server.WaitFor(IsDisconnect, kQuickMs));

  ASSERT_EQ(driver.Call(create), 0);
  std::optional<ServerEvent> second = server.WaitFor(IsConnect, kConnectMs);
  ASSERT_TRUE(second);
  ASSERT_TRUE(server.WaitFor(FrameOn(second->connection, 5), kQuickMs));
  ASSERT_TRUE(server.SendData({'x'}));
  EXPECT_EQ(driver.Call("send still"), 25);
  ASSERT_TRUE(server.WaitFor(IsMessage, kQuickMs));
  EXPECT_EQ(driver.Call("stop"), 0);
  EXPECT_EQ(driver.Statuses(), std::vector<int>({102, 100})) << "the second client has no callbacks";
  EXPECT_FALSE(driver.WaitPrefix("MESSAGE ", 0));
  EXPECT_EQ(driver.Finish(), 0);

  int logFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    logFiles += entry.path().filename().string().rfind("BrelClientLog-", 0) == 0;
  }
  EXPECT_EQ(logFiles, 1);
  const std::string log = ReadLogFile(dir.Path(), day);
  size_t starts = 0;
  for (size_t at = log.find("ConThread is started"); at != std::string::npos; at = log.find("ConThread is started", at + 1)) {
    ++starts;
  }
  EXPECT_EQ(starts, 2u);
}

// A log file that cannot be opened is reported once; the client works without it.
TEST(CtrClientApi, LogFileThatCannotBeOpened) {
  TempDir dir;
  // A directory under the log file's name (today's and tomorrow's, should midnight pass).
  const time_t now = time(nullptr);
  std::vector<std::string> names;
  for (time_t t : {now, now + 86400}) {
    names.push_back(LogFileNameAt(t));
    std::filesystem::create_directory(dir.Path() + "/" + names.back());
  }
  TestServer server;
  ASSERT_TRUE(server.Start());
  Driver driver(dir.Path());
  ASSERT_TRUE(driver.ConnectTo(server));
  EXPECT_EQ(driver.Call("send works"), 25);
  EXPECT_EQ(driver.Call("stop"), 0);
  EXPECT_EQ(CountLines(driver, "write log:" + names[0] + " error") + CountLines(driver, "write log:" + names[1] + " error"), 1);
}

// The server stops reading: a large send fails on the send time-out, the next heartbeat fails,
// 102 is reported and the connection is made anew. The backed-up socket is closed, not leaked.
TEST(CtrClientApi, BackedUpConnectionIsReplacedAndClosed) {
  TempDir dir;
  TestServer server;
  ASSERT_TRUE(server.Start());
  Driver driver(dir.Path());
  ASSERT_TRUE(driver.ConnectTo(server));
  ASSERT_TRUE(server.PauseReading(true));

  const int result = driver.Call("sendlen 67107840", 60000);
  EXPECT_LE(result, 0);
  EXPECT_NE(result, INT_MIN);
  // The send time-out's error: EAGAIN on Linux, WSAETIMEDOUT (10060) on Windows.
  EXPECT_TRUE(driver.Printed("socket send error, last error=" + std::to_string(Wine() != nullptr ? 10060 : EAGAIN)));
  // A heartbeat still fits while the kernel moves bytes of the failed send on to the paused
  // server; the first one that finds no room at all ends the connection. Allow a few ticks.
  ASSERT_TRUE(driver.WaitStatus(CTR_STATUS_DISCONNECTED, 4 * kCycleMs));
  ASSERT_TRUE(driver.WaitStatus(CTR_STATUS_CONNECTED, kConnectMs));
  if (Wine() == nullptr) {
    EXPECT_EQ(driver.Call("sockets"), 1) << "the replaced socket is closed";  // not countable on Windows
  }

  ASSERT_TRUE(server.PauseReading(false));
  std::optional<ServerEvent> firstGone = server.WaitFor(
      [](const ServerEvent& e) { return IsDisconnect(e) && e.connection == 1; }, 60000);
  EXPECT_TRUE(firstGone) << "the client closed the first connection";
  server.Drain();
  EXPECT_EQ(driver.Call("send after"), 25);
  std::optional<ServerEvent> after = server.WaitFor(IsMessage, kQuickMs);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->connection, 2);
  EXPECT_EQ(driver.Call("stop"), 0);
}

}  // namespace
}  // namespace ctrtest

// Frames the client refuses. Each one ends the connection (the server sees it closed), nothing of
// it reaches the message callback, and the client reconnects at its next heartbeat tick and then
// takes well-formed messages again. The cases run side by side, each with its own server and
// client process, so the suite waits for one heartbeat tick only.
#include <gtest/gtest.h>

#include <memory>

#include "ctr_client.h"
#include "ctr_test_support.h"

namespace ctrtest {
namespace {

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

struct RefusedCase {
  const char* name;
  Bytes bytes;
  bool serverCloses;  // the server closes after sending (a frame cut short)
  const char* logged;  // the error line the log file gets, if any
};

std::vector<RefusedCase> Cases() {
  return {
      {"payload longer than 1024", EncodeFrame(1, 0, 1, 9, 1025, {}), false,
       "recv error, size>max send size"},
      {"type 1500", EncodeFrame(1, 0, 1500, 9, 0, {}), false, nullptr},
      {"fragment count 0", EncodeFrame(0, 0, 1, 9, 3, {1, 2, 3}), false, nullptr},
      {"negative payload length", EncodeFrame(1, 0, 1, 9, -1, {}), false, nullptr},
      {"continuation beyond the first frame's size",
       Concat(EncodeFrame(2, 0, 1, 9, 10, Pattern(10)), EncodeFrame(2, 1, 1, 9, 11, Pattern(11))), false, nullptr},
      {"continuation without a first frame", EncodeFrame(2, 1, 1, 9, 5, Pattern(5)), false, nullptr},
      {"continuation of another message",
       Concat(EncodeFrame(2, 0, 1, 9, 4, Pattern(4)), EncodeFrame(2, 1, 1, 10, 4, Pattern(4))), false, nullptr},
      {"id assignment shorter than 4 bytes", EncodeFrame(1, 0, 12, 0, 2, {7, 0}), false, nullptr},
      {"data message without payload", EncodeFrame(1, 0, 1, 9, 0, {}), false, nullptr},
      {"payload cut short", EncodeFrame(1, 0, 1, 9, 10, Pattern(3)), true, "recv message payload error 0"},
  };
}

struct Scenario {
  RefusedCase refused;
  TempDir dir;
  TestServer server;
  std::unique_ptr<Driver> driver;
};

TEST(CtrClientRefusal, RefusedFrameEndsTheConnectionAndTheClientReconnects) {
  const std::string day = LogFileNameNow();
  std::vector<std::unique_ptr<Scenario>> scenarios;
  for (RefusedCase& c : Cases()) {
    auto s = std::make_unique<Scenario>();
    s->refused = c;
    ASSERT_TRUE(s->server.Start());
    s->driver = std::make_unique<Driver>(s->dir.Path());
    ASSERT_EQ(s->driver->Call("callbacks"), 0);
    ASSERT_EQ(s->driver->Call("create 127.0.0.1 " + std::to_string(s->server.Port()) + " 2"), 0);
    scenarios.push_back(std::move(s));
  }
  for (auto& s : scenarios) {
    SCOPED_TRACE(s->refused.name);
    ASSERT_TRUE(s->server.WaitFor(FrameOfType(5), kConnectMs));
    ASSERT_TRUE(s->server.SendRaw(s->refused.bytes));
    if (s->refused.serverCloses) {
      ASSERT_TRUE(s->server.DropConnection());
    }
  }
  for (auto& s : scenarios) {
    SCOPED_TRACE(s->refused.name);
    std::optional<ServerEvent> gone = s->server.WaitFor(IsDisconnect, kQuickMs);
    ASSERT_TRUE(gone) << "the client ends the connection";
    EXPECT_EQ(gone->connection, 1);
  }
  for (auto& s : scenarios) {
    SCOPED_TRACE(s->refused.name);
    Driver& d = *s->driver;
    std::optional<ServerEvent> back = s->server.WaitFor(IsConnect, kCycleMs);
    ASSERT_TRUE(back) << "the client reconnects";
    ASSERT_TRUE(s->server.WaitFor(FrameOn(back->connection, 5), kQuickMs));
    ASSERT_TRUE(d.WaitStatus(CTR_STATUS_CONNECTED, kQuickMs));
    // A message in two frames, the first of them shorter than the second's share would allow
    // if the refused frame had left anything behind.
    ASSERT_TRUE(s->server.SendData(Pattern(1500), 9));
    std::optional<std::string> message = d.WaitPrefix("MESSAGE ", kQuickMs);
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, "MESSAGE 1500 " + ToHex(Pattern(1500)) + " user=ok");
    EXPECT_EQ(d.Statuses(), std::vector<int>({102, 100, 102, 100}));
    ASSERT_TRUE(d.SendLine("stop"));  // stops run side by side; each waits up to 800 ms
  }
  for (auto& s : scenarios) {
    SCOPED_TRACE(s->refused.name);
    Driver& d = *s->driver;
    EXPECT_EQ(d.WaitPrefix("RESULT stop ", kQuickMs), "RESULT stop 0");
    EXPECT_EQ(d.Finish(), 0);
    int messages = 0;
    for (const std::string& line : d.Lines()) messages += line.rfind("MESSAGE ", 0) == 0;
    EXPECT_EQ(messages, 1) << "nothing of the refused frame reached the callback";
    if (s->refused.logged != nullptr) {
      EXPECT_NE(ReadLogFile(s->dir.Path(), day).find(std::string(s->refused.logged) + "\r\n"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace ctrtest

// One client's whole life against the test server, in one process: creation and status order,
// the registration frame, data messages both ways with their exact frames, the assigned id,
// heartbeats, the server dropping the connection and the reconnection, the stop, and the log file
// that all of it leaves. The real 5000 ms heartbeat paces the story, so it is told once.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "ctr_client.h"
#include "ctr_test_support.h"

namespace ctrtest {
namespace {

const char* const kRegistrationFrame =
    "00 00 01 00 00 00 05 00 00 00 00 00 04 00 00 00 00 00 00 00 02 00 00 00";

// Takes the frames of one data message and checks their headers; returns the joined payloads.
Bytes TakeDataFrames(TestServer& server, size_t length, int32_t assigned) {
  const size_t count = (length + 1023) / 1024;
  Bytes joined;
  uint32_t messageId = 0;
  for (size_t i = 0; i < count; ++i) {
    std::optional<ServerEvent> e = server.WaitFor(FrameOfType(1), kQuickMs);
    if (!e) {
      ADD_FAILURE() << "frame " << i << " of a " << length << "-byte message did not arrive";
      return joined;
    }
    const WireFrame& f = e->frame;
    const size_t expectedLength = std::min<size_t>(1024, length - i * 1024);
    EXPECT_EQ(f.sequence, i);
    EXPECT_EQ(f.count, count);
    EXPECT_EQ(f.index, i);
    EXPECT_EQ(static_cast<size_t>(f.length), expectedLength);
    EXPECT_EQ(f.raw.size(), 20 + expectedLength);
    EXPECT_EQ(f.assigned, assigned);
    if (i == 0) messageId = f.messageId;
    EXPECT_EQ(f.messageId, messageId) << "all frames of a message carry its id";
    joined.insert(joined.end(), f.payload.begin(), f.payload.end());
  }
  return joined;
}

TEST(CtrClientSession, ConnectsTalksReconnectsAndStops) {
  TempDir dir;
  const std::string day = LogFileNameNow();
  TestServer server;
  ASSERT_TRUE(server.Start());
  Driver driver(dir.Path());
  const std::string port = std::to_string(server.Port());

  // Creation: 102 on the caller's thread before CTR_CreateClient returns, then 100.
  ASSERT_EQ(driver.Call("callbacks"), 0);
  ASSERT_EQ(driver.Call("create 127.0.0.1 " + port + " 2"), 0);
  ASSERT_TRUE(driver.WaitStatus(CTR_STATUS_CONNECTED, kConnectMs));
  {
    std::vector<std::string> lines = driver.Lines();
    auto status = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("STATUS", 0) == 0; });
    auto created = std::find(lines.begin(), lines.end(), "RESULT create 0");
    ASSERT_NE(status, lines.end());
    EXPECT_EQ(*status, "STATUS 102 main create=1 user=ok");
    EXPECT_LT(status, created);
    EXPECT_TRUE(driver.Printed("STATUS 100 library create=0 user=ok"));
    EXPECT_TRUE(driver.Printed("connect success!"));
  }

  // The registration frame, byte for byte.
  ASSERT_TRUE(server.WaitFor(IsConnect, kQuickMs));
  std::optional<ServerEvent> registration = server.WaitFor(FrameOfType(5), kQuickMs);
  ASSERT_TRUE(registration);
  EXPECT_EQ(Spaced(registration->frame.raw), kRegistrationFrame);

  // Data to the server: the exact frames and CTR_SendDataToServer's result.
  {
    std::optional<ServerEvent> one;
    ASSERT_EQ(driver.Call("send A"), 21);
    one = server.WaitFor(FrameOfType(1), kQuickMs);
    ASSERT_TRUE(one);
    Bytes raw = one->frame.raw;
    ASSERT_EQ(raw.size(), 21u);
    std::fill(raw.begin() + 8, raw.begin() + 12, 0);  // the message id is a tick count
    EXPECT_EQ(Spaced(raw), "00 00 01 00 00 00 01 00 00 00 00 00 01 00 00 00 00 00 00 00 41");
    ASSERT_TRUE(server.WaitFor(IsMessage, kQuickMs));
  }
  struct Outgoing {
    size_t length;
    int result;  // 20 + the last frame's payload
  };
  for (const Outgoing& c : {Outgoing{5, 25}, Outgoing{1024, 1044}, Outgoing{1025, 21}, Outgoing{2048, 1044},
                            Outgoing{3000, 972}}) {
    SCOPED_TRACE("message of " + std::to_string(c.length) + " bytes");
    ASSERT_EQ(driver.Call("sendlen " + std::to_string(c.length)), c.result);
    EXPECT_EQ(TakeDataFrames(server, c.length, 0), Pattern(c.length));
    std::optional<ServerEvent> whole = server.WaitFor(IsMessage, kQuickMs);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->message, Pattern(c.length));
  }

  // Data from the server reaches the callback whole; frames of other types are dropped quietly.
  ASSERT_TRUE(server.SendRaw(EncodeFrame(1, 0, 77, 5, 3, {1, 2, 3})));
  for (size_t length : {1u, 1024u, 2048u, 3000u}) {
    ASSERT_TRUE(server.SendData(Pattern(length), static_cast<uint32_t>(length)));
    std::optional<std::string> line = driver.WaitPrefix("MESSAGE ", kQuickMs);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "MESSAGE " + std::to_string(length) + " " + ToHex(Pattern(length)) + " user=ok");
  }

  // Id assignment: every later heartbeat and data frame carries 07 00 00 00 at offset 16.
  ASSERT_TRUE(server.SendAssign(7));
  std::optional<ServerEvent> beat = server.WaitFor(
      [](const ServerEvent& e) { return FrameOfType(50)(e) && e.frame.assigned == 7; }, kCycleMs);
  ASSERT_TRUE(beat);
  EXPECT_EQ(beat->frame.count, 1);
  EXPECT_EQ(beat->frame.index, 0);
  EXPECT_EQ(beat->frame.length, 1);
  EXPECT_EQ(beat->frame.raw.size(), 21u);
  EXPECT_EQ(Spaced(Bytes(beat->frame.raw.begin() + 16, beat->frame.raw.begin() + 20)), "07 00 00 00");
  ASSERT_EQ(driver.Call("sendlen 1500"), 20 + 476);
  EXPECT_EQ(TakeDataFrames(server, 1500, 7), Pattern(1500));

  // Heartbeats come every 5000 ms.
  std::optional<ServerEvent> nextBeat = server.WaitFor(FrameOfType(50), kCycleMs);
  ASSERT_TRUE(nextBeat);
  const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(nextBeat->at - beat->at).count();
  EXPECT_GE(gap, 4500);
  EXPECT_LE(gap, 10000);

  // The server drops the connection: 102 at the next heartbeat tick, then 100 and a new
  // registration on a new connection; the assigned id stays.
  ASSERT_TRUE(server.DropConnection());
  ASSERT_TRUE(driver.WaitStatus(CTR_STATUS_DISCONNECTED, kCycleMs));
  ASSERT_TRUE(driver.WaitStatus(CTR_STATUS_CONNECTED, kConnectMs));
  std::optional<ServerEvent> again = server.WaitFor(IsConnect, kQuickMs);
  ASSERT_TRUE(again);
  std::optional<ServerEvent> registrationAgain = server.WaitFor(FrameOn(again->connection, 5), kQuickMs);
  ASSERT_TRUE(registrationAgain);
  EXPECT_EQ(Spaced(registrationAgain->frame.raw), kRegistrationFrame);
  ASSERT_EQ(driver.Call("send again"), 25);
  EXPECT_EQ(TakeDataFrames(server, 5, 7), Bytes({'a', 'g', 'a', 'i', 'n'}));

  // Stop: 0, then -1; the socket is closed with the client.
  EXPECT_EQ(driver.Call("stop"), 0);
  EXPECT_EQ(driver.Call("stop"), -1);
  EXPECT_EQ(driver.Call("send late"), -1);
  if (Wine() == nullptr) {
    EXPECT_EQ(driver.Call("sockets"), 0);  // not countable on Windows
  }
  EXPECT_TRUE(server.WaitFor(IsDisconnect, kQuickMs));
  EXPECT_TRUE(driver.Printed("TimerThread is sign out"));
  EXPECT_TRUE(driver.Printed("TimerThread::Stop after!"));
  EXPECT_EQ(driver.Statuses(), std::vector<int>({102, 100, 102, 100}));

  // Printed lines of the drop, then the log file.
  const std::string receiveError = "recv error ";
  std::vector<std::string> lines = driver.Lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(receiveError, 0) == 0; }));
  // Under Wine the log carries the Windows process id, which the Linux side does not know.
  const std::string pid = Wine() == nullptr ? std::to_string(driver.Pid()) : std::string();
  EXPECT_EQ(driver.Finish(), 0);

  const std::string log = ReadLogFile(dir.Path(), day);
  ASSERT_FALSE(log.empty());
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  const std::regex lineFormat("\\[\\]\\[(\\d+)\\]\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\[\\d+\\]\\[(INFO|ERR)\\] (.*)");
  std::vector<std::string> messages;
  size_t start = 0, end;
  while ((end = log.find("\r\n", start)) != std::string::npos) {
    const std::string line = log.substr(start, end - start);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, lineFormat)) << line;
    if (!m.empty()) {
      if (!pid.empty()) {
        EXPECT_EQ(m[1].str(), pid);
      }
      messages.push_back(m[2].str() + " " + m[3].str());
    }
    start = end + 2;
  }
  EXPECT_EQ(start, log.size()) << "every line ends with CR LF";
  auto count = [&](const std::string& text) { return std::count(messages.begin(), messages.end(), text); };
  EXPECT_EQ(count("INFO ConThread is started"), 1);
  EXPECT_EQ(count("INFO RecvThread is started"), 1);
  EXPECT_EQ(count("INFO client connect server succeed"), 2);
  EXPECT_EQ(count("INFO ConThread is exit"), 1);
  EXPECT_EQ(count("INFO RecvThread is exit"), 1);
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) {
                            return std::regex_match(m, std::regex("ERR Socket \\d+, recv message header error 0"));
                          }),
            1);
}

}  // namespace
}  // namespace ctrtest

// ctr_test_server as a process: its line protocol as tests in other languages use it.
#include <gtest/gtest.h>

#include "ctr_test_support.h"

namespace ctrtest {
namespace {

TEST(CtrTestServerProcess, SpeaksItsLineProtocol) {
  TempDir dir;
  ChildProcess server;
  ASSERT_TRUE(server.Start({PathOfServer()}));
  std::optional<std::string> portLine = server.WaitPrefix("PORT ", kQuickMs);
  ASSERT_TRUE(portLine);
  const std::string port = portLine->substr(5);

  Driver driver(dir.Path());
  ASSERT_EQ(driver.Call("callbacks"), 0);
  ASSERT_EQ(driver.Call("create 127.0.0.1 " + port + " 2"), 0);
  EXPECT_EQ(server.WaitPrefix("{\"event\":\"connect\"", kConnectMs), "{\"event\":\"connect\",\"conn\":1}");
  EXPECT_EQ(server.WaitPrefix("{\"event\":\"frame\"", kQuickMs),
            "{\"event\":\"frame\",\"conn\":1,\"seq\":0,\"count\":1,\"index\":0,\"type\":5,\"msgId\":0,\"len\":4,"
            "\"assigned\":0,\"payloadHex\":\"02000000\"}");
  ASSERT_TRUE(driver.WaitStatus(100, kConnectMs));

  // Commands and their acknowledgements; data reaches the client.
  struct Command {
    std::string line;
    bool ok;
    std::string clientLine;  // what the client prints, if anything
  };
  // The assignment goes before a message: once the client has the message, it has the id too.
  for (const Command& c : {Command{"send hello", true, "MESSAGE 5 68656c6c6f user=ok"}, Command{"assign 7", true, ""},
                           Command{"sendhex 00 01 ff", true, "MESSAGE 3 0001ff user=ok"}, Command{"raw zz", false, ""},
                           Command{"raw 4", false, ""}, Command{"bogus", false, ""}}) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(server.SendLine(c.line));
    const std::string word = c.line.substr(0, c.line.find(' '));
    EXPECT_EQ(server.WaitPrefix("{\"event\":\"ack\"", kQuickMs),
              "{\"event\":\"ack\",\"command\":\"" + word + "\",\"ok\":" + (c.ok ? "true" : "false") + "}");
    if (!c.clientLine.empty()) {
      EXPECT_EQ(driver.WaitPrefix("MESSAGE ", kQuickMs), c.clientLine);
    }
  }

  // A message from the client, with characters that JSON escapes.
  ASSERT_EQ(driver.Call("send a\"b\\c"), 25);
  std::optional<std::string> frame = server.WaitPrefix("{\"event\":\"frame\"", kQuickMs);
  ASSERT_TRUE(frame);
  EXPECT_NE(frame->find("\"type\":1,"), std::string::npos);
  EXPECT_NE(frame->find("\"assigned\":7,"), std::string::npos) << "the assignment reached the client";
  EXPECT_EQ(server.WaitPrefix("{\"event\":\"message\"", kQuickMs),
            "{\"event\":\"message\",\"conn\":1,\"type\":1,\"len\":5,\"text\":\"a\\\"b\\\\c\",\"hex\":\"6122625c63\"}");

  ASSERT_TRUE(server.SendLine("drop"));
  EXPECT_EQ(server.WaitPrefix("{\"event\":\"disconnect\"", kQuickMs), "{\"event\":\"disconnect\",\"conn\":1}");
  EXPECT_EQ(server.WaitPrefix("{\"event\":\"ack\"", kQuickMs), "{\"event\":\"ack\",\"command\":\"drop\",\"ok\":true}");
  ASSERT_TRUE(server.SendLine("refuse"));
  EXPECT_EQ(server.WaitPrefix("{\"event\":\"ack\"", kQuickMs), "{\"event\":\"ack\",\"command\":\"refuse\",\"ok\":true}");

  // The end of its input ends it.
  server.CloseInput();
  EXPECT_EQ(server.Finish(), 0);
  EXPECT_EQ(driver.Finish(), 0);
}

}  // namespace
}  // namespace ctrtest

#include "ctr_test_support.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>


namespace ctrtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ctr_client_test_XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
}

const char* Wine() {
  const char* wine = std::getenv("KOVA_WINE");
  return wine != nullptr && *wine != '\0' ? wine : nullptr;
}

std::string PathOfDriver() {
  if (Wine() == nullptr) return CTR_CLIENT_DRIVER_PATH;
  const char* driver = std::getenv("KOVA_WIN_CTR_DRIVER");
  return driver != nullptr ? driver : "";
}
std::string PathOfServer() { return CTR_TEST_SERVER_PATH; }

Driver::Driver(const std::string& workDir) {
  if (Wine() == nullptr) {
    Start({PathOfDriver()}, workDir);
    return;
  }
  ExpectWindowsLineEnds();
  Start({Wine(), PathOfDriver()}, workDir);
}

int Driver::Call(const std::string& command, int timeoutMs) {
  const std::string word = command.substr(0, command.find(' '));
  const std::string expected = "RESULT " + (word == "sendlen" || word == "sendnull" ? std::string("send") : word) + " ";
  if (!SendLine(command)) return INT_MIN;
  // A status that the library's own threads report while the command runs (a connection made
  // before "create" has returned, a failed heartbeat during a long send) is an event of its own
  // that a later WaitStatus must still find; what the command itself printed is passed over.
  std::optional<std::string> line = WaitPrefix(expected, timeoutMs, [](const std::string& l) {
    return l.rfind("STATUS ", 0) == 0 && l.find(" library ") != std::string::npos;
  });
  if (!line) return INT_MIN;
  return std::atoi(line->c_str() + expected.size());
}

bool Driver::WaitStatus(int code, int timeoutMs) {
  return WaitPrefix("STATUS " + std::to_string(code) + " ", timeoutMs).has_value();
}

std::vector<int> Driver::Statuses() {
  std::vector<int> codes;
  for (const std::string& line : Lines()) {
    if (line.rfind("STATUS ", 0) == 0) codes.push_back(std::atoi(line.c_str() + 7));
  }
  return codes;
}

bool Driver::ConnectTo(TestServer& server) {
  return Call("callbacks") == 0 && Call("create 127.0.0.1 " + std::to_string(server.Port()) + " 2") == 0 &&
         WaitStatus(100, kConnectMs) && server.WaitFor(FrameOfType(5), kQuickMs).has_value();
}

bool Driver::Printed(const std::string& text) {
  for (const std::string& line : Lines()) {
    if (line == text) return true;
  }
  return false;
}

std::string LogFileNameNow() { return LogFileNameAt(time(nullptr)); }

std::string LogFileNameAt(time_t t) {
  tm local{};
  localtime_r(&t, &local);
  char name[64];
  std::snprintf(name, sizeof(name), "BrelClientLog-%04d-%02d-%02d.txt", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string ReadLogFile(const std::string& dir, const std::string& before) {
  // The file is named after the day the client was created: the day before the run or, past
  // midnight, the day after.
  for (const std::string& name : {before, LogFileNameNow()}) {
    if (std::filesystem::exists(dir + "/" + name)) return ReadFile(dir + "/" + name);
  }
  return "";
}

bool IsConnect(const ServerEvent& e) { return e.kind == ServerEvent::kConnect; }
bool IsDisconnect(const ServerEvent& e) { return e.kind == ServerEvent::kDisconnect; }
bool IsMessage(const ServerEvent& e) { return e.kind == ServerEvent::kMessage; }

std::function<bool(const ServerEvent&)> FrameOfType(int type) {
  return [type](const ServerEvent& e) { return e.kind == ServerEvent::kFrame && e.frame.type == type; };
}

std::function<bool(const ServerEvent&)> FrameOn(int connection, int type) {
  return [connection, type](const ServerEvent& e) {
    return e.kind == ServerEvent::kFrame && e.connection == connection && e.frame.type == type;
  };
}

std::string Spaced(const Bytes& bytes) {
  std::string hex = ToHex(bytes), out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out += ' ';
    out += hex.substr(i, 2);
  }
  return out;
}

Bytes Pattern(size_t length) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + 3) & 0xff);
  return bytes;
}

}  // namespace ctrtest

// ctr_test_server: the test controller server as a process, for tests in other languages.
//
// Prints "PORT <n>" once it listens on 127.0.0.1, then one JSON object per line for every event:
//   {"event":"connect","conn":1}
//   {"event":"frame","conn":1,"seq":0,"count":1,"index":0,"type":5,"msgId":0,"len":4,"assigned":0,
//    "payloadHex":"02000000"}
//   {"event":"message","conn":1,"type":1,"len":5,"text":"hello","hex":"68656c6c6f"}
//   {"event":"disconnect","conn":1}
//   {"event":"garbage","conn":1,"headerHex":"..."}     (a header it cannot frame; the connection is closed)
// and {"event":"ack","command":"<word>","ok":true|false} after every command read from stdin:
//   send <text>      a data message with the rest of the line as its bytes
//   sendhex <hex>    a data message with these bytes
//   assign <n>       an id assignment (type 12) carrying n
//   raw <hex>        these bytes as they are
//   drop             close the current connection
//   refuse           stop listening (connection attempts are refused); listen: listen again
//   pause / resume   stop / go on reading from the connections
//   quit             exit
// It exits at the end of its standard input as well, so it never outlives its parent.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "test_server.h"

namespace {

std::mutex g_outLock;

void Emit(const std::string& line) {
  std::lock_guard<std::mutex> hold(g_outLock);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string JsonString(const ctrtest::Bytes& bytes) {
  std::string out = "\"";
  for (uint8_t b : bytes) {
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b < 0x20 || b == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", b);
      out += escaped;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out + "\"";
}

std::string Describe(const ctrtest::ServerEvent& e) {
  using ctrtest::ServerEvent;
  const std::string conn = ",\"conn\":" + std::to_string(e.connection);
  const ctrtest::WireFrame& f = e.frame;
  switch (e.kind) {
    case ServerEvent::kConnect:
      return "{\"event\":\"connect\"" + conn + "}";
    case ServerEvent::kDisconnect:
      return "{\"event\":\"disconnect\"" + conn + "}";
    case ServerEvent::kGarbage:
      return "{\"event\":\"garbage\"" + conn + ",\"headerHex\":\"" + ctrtest::ToHex(f.raw) + "\"}";
    case ServerEvent::kFrame:
      return "{\"event\":\"frame\"" + conn + ",\"seq\":" + std::to_string(f.sequence) +
             ",\"count\":" + std::to_string(f.count) + ",\"index\":" + std::to_string(f.index) +
             ",\"type\":" + std::to_string(f.type) + ",\"msgId\":" + std::to_string(f.messageId) +
             ",\"len\":" + std::to_string(f.length) + ",\"assigned\":" + std::to_string(f.assigned) +
             ",\"payloadHex\":\"" + ctrtest::ToHex(f.payload) + "\"}";
    case ServerEvent::kMessage:
      return "{\"event\":\"message\"" + conn + ",\"type\":1,\"len\":" + std::to_string(e.message.size()) +
             ",\"text\":" + JsonString(e.message) + ",\"hex\":\"" + ctrtest::ToHex(e.message) + "\"}";
  }
  return "{}";
}

bool Execute(ctrtest::TestServer& server, const std::string& word, const std::string& rest) {
  if (word == "send") return server.SendData(ctrtest::Bytes(rest.begin(), rest.end()));
  if (word == "sendhex" || word == "raw") {
    std::optional<ctrtest::Bytes> bytes = ctrtest::FromHex(rest);
    if (!bytes || bytes->empty()) return false;
    return word == "raw" ? server.SendRaw(*bytes) : server.SendData(*bytes);
  }
  if (word == "assign") {
    char* end = nullptr;
    long value = std::strtol(rest.c_str(), &end, 0);
    if (rest.empty() || *end != '\0') return false;
    return server.SendAssign(static_cast<int32_t>(value));
  }
  if (word == "drop") return server.DropConnection();
  if (word == "refuse") return server.StopListening();
  if (word == "listen") return server.ResumeListening();
  if (word == "pause" || word == "resume") return server.PauseReading(word == "pause");
  return false;
}

}  // namespace

int main() {
  ctrtest::TestServer server([](const ctrtest::ServerEvent& e) { Emit(Describe(e)); });
  if (!server.Start()) {
    std::fprintf(stderr, "ctr_test_server: cannot listen on 127.0.0.1\n");
    return 1;
  }
  Emit("PORT " + std::to_string(server.Port()));
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word.empty()) continue;
    if (word == "quit") break;
    const bool ok = Execute(server, word, rest);
    Emit("{\"event\":\"ack\",\"command\":" + JsonString(ctrtest::Bytes(word.begin(), word.end())) +
         ",\"ok\":" + (ok ? "true" : "false") + "}");
  }
  return 0;
}

// ctr_client_driver: a host process for the controller library, driven line by line on stdin, so
// that tests can run every scenario in a fresh process and read what the library prints.
//
// Commands, each answered by "RESULT <command> <value>":
//   callbacks                       CTR_SetClientCallBack with the driver's two callbacks
//   create <ip> <port> <type>       CTR_CreateClient; "-" passes a null ip
//   send <text>                     CTR_SendDataToServer with the rest of the line
//   sendlen <n>                     ... with n bytes of Pattern (byte i is (i * 7 + 3) mod 256)
//   sendnull <n>                    ... with a null pointer and length n
//   stop                            CTR_StopClient
//   sockets                         the number of sockets this process holds (-1 on Windows)
//   onconnect <stop|send <text>>    on every later status 100, call CTR_StopClient or
//                                   CTR_SendDataToServer from inside the callback
//                                   ("CALLBACK stop|send <value>")
//   exit                            leave at once (also at the end of stdin)
// Callbacks print "STATUS <code> <main|library> create=<0|1> user=<ok|bad>" and
// "MESSAGE <length> <hex>"; the library's own lines appear in between.
#ifndef _WIN32
#include <dirent.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "ctr_client.h"

namespace {

std::thread::id g_mainThread;
std::atomic<bool> g_inCreate{false};
std::atomic<int> g_onConnect{0};  // 0 nothing, 1 stop, 2 send
std::string g_onConnectText;
int g_userTag;

void OnStatus(int status, void* user) {
  const bool main = std::this_thread::get_id() == g_mainThread;
  std::printf("STATUS %d %s create=%d user=%s\n", status, main ? "main" : "library", g_inCreate.load() ? 1 : 0,
              user == &g_userTag ? "ok" : "bad");
  std::fflush(stdout);
  if (status != CTR_STATUS_CONNECTED) return;
  if (g_onConnect.load() == 1) {
    std::printf("CALLBACK stop %d\n", CTR_StopClient());
  } else if (g_onConnect.load() == 2) {
    std::vector<char> bytes(g_onConnectText.begin(), g_onConnectText.end());
    std::printf("CALLBACK send %d\n", CTR_SendDataToServer(bytes.data(), static_cast<int>(bytes.size())));
  }
  std::fflush(stdout);
}

void OnMessage(char* data, int length, void* user) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(static_cast<size_t>(length) * 2);
  for (int i = 0; i < length; ++i) {
    const auto b = static_cast<unsigned char>(data[i]);
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  std::printf("MESSAGE %d %s user=%s\n", length, hex.c_str(), user == &g_userTag ? "ok" : "bad");
  std::fflush(stdout);
}

// The sockets this process holds, -1 where they cannot be counted (Windows).
int CountSockets() {
#ifdef _WIN32
  return -1;
#else
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (dirent* entry = readdir(dir)) {
    char target[256];
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = readlink(path.c_str(), target, sizeof(target) - 1);
    if (n > 0 && std::strncmp(target, "socket:", 7) == 0) ++count;
  }
  closedir(dir);
  return count;
#endif
}

void Result(const char* command, int value) {
  std::printf("RESULT %s %d\n", command, value);
  std::fflush(stdout);
}

}  // namespace

int main() {
  g_mainThread = std::this_thread::get_id();
  std::string line;
  while (std::getline(std::cin, line)) {
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "callbacks") {
      Result("callbacks", CTR_SetClientCallBack(OnMessage, OnStatus, &g_userTag));
    } else if (word == "create") {
      char ip[256] = {0};
      unsigned port = 0;
      int type = 0;
      if (std::sscanf(rest.c_str(), "%255s %u %d", ip, &port, &type) != 3) {
        Result("create", -999);
        continue;
      }
      g_inCreate = true;
      const int r = CTR_CreateClient(std::strcmp(ip, "-") == 0 ? nullptr : ip, static_cast<unsigned short>(port), type);
      g_inCreate = false;
      Result("create", r);
    } else if (word == "send") {
      std::vector<char> bytes(rest.begin(), rest.end());
      Result("send", CTR_SendDataToServer(bytes.data(), static_cast<int>(bytes.size())));
    } else if (word == "sendlen") {
      const long n = std::strtol(rest.c_str(), nullptr, 10);
      std::vector<char> bytes(static_cast<size_t>(n > 0 ? n : 1));
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xff);
      Result("send", CTR_SendDataToServer(bytes.data(), static_cast<int>(n)));
    } else if (word == "sendnull") {
      Result("send", CTR_SendDataToServer(nullptr, std::atoi(rest.c_str())));
    } else if (word == "stop") {
      Result("stop", CTR_StopClient());
    } else if (word == "sockets") {
      Result("sockets", CountSockets());
    } else if (word == "onconnect") {
      if (rest == "stop") {
        g_onConnect = 1;
      } else if (rest.rfind("send ", 0) == 0) {
        g_onConnectText = rest.substr(5);
        g_onConnect = 2;
      }
      Result("onconnect", g_onConnect.load());
    } else if (word == "exit") {
      break;
    } else {
      Result("unknown", -999);
    }
  }
  std::fflush(stdout);
  // Leave without running static destructors: a client that cannot be stopped (never connected)
  // still has threads running.
  _exit(0);
}

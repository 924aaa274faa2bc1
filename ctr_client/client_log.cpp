#include "client_log.h"

#include <atomic>
#include <cstdarg>

namespace ctr {

namespace {
std::atomic<ClientLog*> g_log{nullptr};
}

ClientLog::ClientLog(const char* fileName)
    : m_file(nullptr), m_fileName(fileName), m_processId(CurrentProcessId()) {
  // "b": no line-end translation, so each line ends in exactly "\r\n" on every platform.
  m_file = std::fopen(fileName, "ab+");
  if (m_file == nullptr) PrintLine("write log:%s error\n", fileName);
}

int ClientLog::Create(const char* fileName) {
  if (fileName == nullptr) return -1;
  if (g_log.load() != nullptr) return -2;
  g_log.store(new ClientLog(fileName));
  return 0;
}

ClientLog* ClientLog::Instance() { return g_log.load(); }

std::string ClientLog::TodayFileName() {
  LocalTime now = LocalTimeNow();
  char name[64];
  std::snprintf(name, sizeof(name), "BrelClientLog-%04d-%02d-%02d.txt", now.year, now.month, now.day);
  return name;
}

int ClientLog::Write(const char* message, const char* level) {
  LocalTime now = LocalTimeNow();
  char timeText[32];
  std::snprintf(timeText, sizeof(timeText), "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                now.hour, now.minute, now.second);
  uint32_t threadId = CurrentThreadId();

  ScopedLock hold(m_lock);
  if (m_file != nullptr) {
    std::fprintf(m_file, "[%s][%d]%s:[%u][%s] %s\r\n", m_name.c_str(), m_processId, timeText, threadId, level,
                 message);
    std::fflush(m_file);
  }
  return 1;
}

void LogLine(const char* level, const char* format, ...) {
  ClientLog* log = ClientLog::Instance();
  if (log == nullptr) return;
  char message[kLogMessageBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  log->Write(message, level);
}

void PrintLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

}  // namespace ctr

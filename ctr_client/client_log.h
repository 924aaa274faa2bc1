// The client log: one plain-text file per process run, named after the local date when the first
// client was created, in the current directory. Every thread of the library writes through the
// one ClientLog object; each line is written and flushed whole under the object's lock:
//
//   [<name>][<pid>]YYYY-MM-DD hh:mm:ss:[<thread id>][<level>] <message>\r\n
//
// The object is created once and never destroyed, so it outlives every client and stays valid
// for threads that still write while the process ends.
#ifndef KOVA_CTR_CLIENT_LOG_H
#define KOVA_CTR_CLIENT_LOG_H

#include <cstdio>
#include <string>

#include "platform.h"

namespace ctr {

constexpr const char* kLevelInfo = "INFO";
constexpr const char* kLevelError = "ERR";
// Messages are formatted into buffers of this size: at most 127 characters reach the log.
constexpr int kLogMessageBufferSize = 128;

class ClientLog {
 public:
  // Creates the process's log object: -1 for a missing name, -2 when it exists already, else 0
  // (also when the file could not be opened; the object then writes nothing).
  static int Create(const char* fileName);
  // The process's log object, or null before the first Create.
  static ClientLog* Instance();
  // The file name for today: "BrelClientLog-YYYY-MM-DD.txt".
  static std::string TodayFileName();

  // Appends one line when the file is open. Always 1.
  int Write(const char* message, const char* level);

 private:
  explicit ClientLog(const char* fileName);

  FILE* m_file;
  std::string m_fileName;
  std::string m_name;
  int32_t m_processId;
  CriticalSection m_lock;
};

// Formats are checked as the C99 printf family (gnu_printf), which MinGW provides too; Clang
// knows that family only as "printf".
#if defined(__clang__)
#define CTR_PRINTF_FORMAT printf
#else
#define CTR_PRINTF_FORMAT gnu_printf
#endif
// Formats a message into a 128-byte buffer and writes it through the log object, if there is one.
void LogLine(const char* level, const char* format, ...) __attribute__((format(CTR_PRINTF_FORMAT, 2, 3)));
// Prints a line on standard output and flushes it, so a reader on a pipe sees it at once.
void PrintLine(const char* format, ...) __attribute__((format(CTR_PRINTF_FORMAT, 1, 2)));

}  // namespace ctr

#endif  // KOVA_CTR_CLIENT_LOG_H

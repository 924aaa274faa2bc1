// The two output streams of the IPC layer: error lines go to standard error, log lines to
// standard output, each written in one piece and flushed at once.
#ifndef KOVA_IPC_PRINT_H
#define KOVA_IPC_PRINT_H

namespace ipc {

void error_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ipc

#endif  // KOVA_IPC_PRINT_H

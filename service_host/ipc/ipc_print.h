// The two output streams of the IPC layer: error lines go to standard error, log lines to
// standard output, each written in one piece and flushed at once. The formats are checked as the
// C99 printf family (gnu_printf), which MinGW's C runtime provides too (__USE_MINGW_ANSI_STDIO).
#ifndef KOVA_IPC_PRINT_H
#define KOVA_IPC_PRINT_H

// Clang knows the C99 family only as "printf"; GCC (and so MinGW) checks it as "gnu_printf".
#if defined(__clang__)
#define KOVA_IPC_PRINTF_FORMAT printf
#else
#define KOVA_IPC_PRINTF_FORMAT gnu_printf
#endif

namespace ipc {

void error_line(const char* fmt, ...) __attribute__((format(KOVA_IPC_PRINTF_FORMAT, 1, 2)));
void log_line(const char* fmt, ...) __attribute__((format(KOVA_IPC_PRINTF_FORMAT, 1, 2)));

}  // namespace ipc

#endif  // KOVA_IPC_PRINT_H

// Windows build of the host's process facilities: the parent is a process handle inherited from
// it, and the fatal-error filter is the process's top-level exception filter, which receives the
// exception code itself.
#include "HostProcess.h"

#include <windows.h>

#include <atomic>

// --- Parent process ---------------------------------------------------------------------------

ParentProcess::ParentProcess(int64_t handle) {
    // Only a positive value can be a handle of another process: 0 is none, and -1 and -2 are the
    // pseudo-handles of this very process and thread, which would never signal its end.
    if (handle > 0) handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(handle));
}

bool ParentProcess::WaitEnded(int timeoutMs) {
    if (handle_ == nullptr) return true;
    // Any result but the time-out: the parent has ended, or the handle cannot be waited on.
    return WaitForSingleObject(static_cast<HANDLE>(handle_), static_cast<DWORD>(timeoutMs)) != WAIT_TIMEOUT;
}

void ParentProcess::Close() {
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

// --- Fatal-error filter -------------------------------------------------------------------------

namespace {

// Room kept on every thread's stack for the filter after a stack overflow.
constexpr ULONG kStackGuaranteeBytes = 64 * 1024;
// The filter sends two notices with a 100 ms limit each and stops the capture; past this limit the
// watchdog ends the process.
constexpr DWORD kFilterTimeLimitMs = 5000;

FatalErrorFilter g_filter = nullptr;
// The thread that runs the filter; 0 while no fatal error is being handled.
std::atomic<DWORD> g_filterThread{0};
// Set when the filter starts; the watchdog thread, started with the filter's installation (a
// crashed process may not manage to start a thread), then ends the process after the time limit.
HANDLE g_filterStarted = nullptr;

DWORD WINAPI Watchdog(void*) {
    WaitForSingleObject(g_filterStarted, INFINITE);
    Sleep(kFilterTimeLimitMs);
    TerminateProcess(GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
    return 0;
}

LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* exception) {
    const DWORD self = GetCurrentThreadId();
    DWORD running = 0;
    if (!g_filterThread.compare_exchange_strong(running, self)) {
        // A fault inside the filter itself ends the process at once; a fault on another thread
        // waits for the first report, whose end (or the time limit) ends the process.
        if (running == self) return EXCEPTION_EXECUTE_HANDLER;
        Sleep(INFINITE);
    }
    if (g_filterStarted != nullptr) SetEvent(g_filterStarted);
    if (g_filter != nullptr && exception != nullptr && exception->ExceptionRecord != nullptr) {
        g_filter(exception->ExceptionRecord->ExceptionCode);
    }
    // The system's default handling ends the process with the exception's code.
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallFatalErrorFilter(FatalErrorFilter filter) {
    if (g_filter != nullptr) return;
    g_filter = filter;
    ULONG guarantee = kStackGuaranteeBytes;
    SetThreadStackGuarantee(&guarantee);
    g_filterStarted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (g_filterStarted != nullptr) {
        if (HANDLE watchdog = CreateThread(nullptr, 64 * 1024, Watchdog, nullptr, 0, nullptr)) CloseHandle(watchdog);
    }
    SetUnhandledExceptionFilter(TopLevelFilter);
}

FatalErrorThreadScope::FatalErrorThreadScope() {
    ULONG guarantee = kStackGuaranteeBytes;
    SetThreadStackGuarantee(&guarantee);
}

FatalErrorThreadScope::~FatalErrorThreadScope() = default;

// --- Console and time -----------------------------------------------------------------------------

void HostWriteLineFromFilter(const char* text, const uint32_t* number) {
    char line[256];
    // The line end of the console streams' text mode.
    const size_t length = FormatFilterLine(line, sizeof(line), text, number, "\r\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
}

void HostMarkDpiAware() { SetProcessDPIAware(); }

// Writes to a pipe whose reader went away fail with an error on Windows; nothing ends the process.
void HostKeepRunningWithoutOutput() {}

void HostSleepMs(unsigned ms) { Sleep(ms); }

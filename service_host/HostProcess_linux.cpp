// Linux build of the host's process facilities: the parent is watched through a pidfd, and the
// fatal-error filter runs from a handler of the fatal signals on an alternate signal stack.
#include "HostProcess.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstddef>

// --- Parent process ---------------------------------------------------------------------------

ParentProcess::ParentProcess(int64_t handle) {
    // Only a positive process id names one process; 0 and negative values would name groups.
    if (handle <= 0 || handle > INT_MAX) return;
    const long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(handle), 0u);
    fd_ = fd < 0 ? -1 : static_cast<int>(fd);
}

bool ParentProcess::WaitEnded(int timeoutMs) {
    if (fd_ < 0) return true;
    pollfd watch{fd_, POLLIN, 0};
    const int ready = poll(&watch, 1, timeoutMs);
    if (ready == 0) return false;
    if (ready < 0) return errno != EINTR;
    // Readable once the process has ended; an error or hang-up means it cannot be waited on.
    return true;
}

void ParentProcess::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

// --- Fatal-error filter -------------------------------------------------------------------------

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
// Room for the filter's own calls, including the SDK's stop of the capture.
constexpr size_t kAlternateStackSize = 256 * 1024;
// The filter sends two notices with a 100 ms limit each and stops the capture; past this limit
// SIGALRM, with its default action, ends the process.
constexpr unsigned kFilterTimeLimitSeconds = 5;

FatalErrorFilter g_filter = nullptr;
// The thread that runs the filter; 0 while no fatal error is being handled.
std::atomic<pid_t> g_filterThread{0};

uint32_t ExceptionCodeOf(int signal) {
    switch (signal) {
        case SIGSEGV:
        case SIGBUS:
            return kExceptionAccessViolation;
        case SIGILL:
            return kExceptionIllegalInstruction;
        case SIGFPE:
            return kExceptionIntDivideByZero;
        default:
            return kExceptionFatalAppExit;
    }
}

void* MapAlternateStack() {
    void* stack = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK,
                       -1, 0);
    if (stack == MAP_FAILED) return nullptr;
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = kAlternateStackSize;
    if (sigaltstack(&alternate, nullptr) != 0) {
        munmap(stack, kAlternateStackSize);
        return nullptr;
    }
    return stack;
}

// The signal is blocked while its handler runs, so the raised copy stays pending and is delivered,
// with the default action, when the handler returns. A fault re-executed after the return ends
// the process the same way.
void EndWithDefaultAction(int signal) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signal, &byDefault, nullptr);
    raise(signal);
}

void ArmTimeLimit() {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(SIGALRM, &byDefault, nullptr);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    alarm(kFilterTimeLimitSeconds);
}

void OnFatalSignal(int signal, siginfo_t*, void*) {
    const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
    pid_t running = 0;
    if (!g_filterThread.compare_exchange_strong(running, self)) {
        // A fatal error inside the filter itself: end at once.
        if (running == self) {
            EndWithDefaultAction(signal);
            return;
        }
        // Another thread is reporting its error and ends the process when done (or its time
        // limit does); this thread must not end it earlier.
        for (;;) pause();
    }
    ArmTimeLimit();
    if (g_filter != nullptr) g_filter(ExceptionCodeOf(signal));
    EndWithDefaultAction(signal);
}

}  // namespace

void InstallFatalErrorFilter(FatalErrorFilter filter) {
    if (g_filter != nullptr) return;
    g_filter = filter;
    MapAlternateStack();  // the calling thread's, kept for the life of the process
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A second fatal signal on the same thread while the filter runs ends the process at once.
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals) sigaddset(&action.sa_mask, signal);
    for (int signal : kFatalSignals) sigaction(signal, &action, nullptr);
}

FatalErrorThreadScope::FatalErrorThreadScope() : stack_(MapAlternateStack()) {}

FatalErrorThreadScope::~FatalErrorThreadScope() {
    if (stack_ == nullptr) return;
    stack_t disabled{};
    disabled.ss_flags = SS_DISABLE;
    sigaltstack(&disabled, nullptr);
    munmap(stack_, kAlternateStackSize);
}

// --- Console and time -----------------------------------------------------------------------------

void HostWriteLineFromFilter(const char* text, const uint32_t* number) {
    char line[256];
    size_t length = 0;
    constexpr size_t kRoomForNumberAndEnd = 12;
    for (const char* p = text; p != nullptr && *p != '\0' && length < sizeof(line) - kRoomForNumberAndEnd; ++p) {
        line[length++] = *p;
    }
    if (number != nullptr) {
        char digits[10];
        size_t count = 0;
        uint32_t value = *number;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0) line[length++] = digits[--count];
    }
    line[length++] = '\n';
    for (size_t written = 0; written < length;) {
        const ssize_t n = write(STDOUT_FILENO, line + written, length - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}

void HostKeepRunningWithoutOutput() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void HostSleepMs(unsigned ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

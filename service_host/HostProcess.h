// Process facilities of the screen-capture host, one implementation per operating system
// (HostProcess_linux.cpp here): watching the parent process, the fatal-error filter, and the
// console line that the filter writes.
#ifndef KOVA_HOST_PROCESS_H
#define KOVA_HOST_PROCESS_H

#include <cstdint>

// Exception codes handed to the fatal-error filter. The Linux build maps its fatal signals onto
// the codes of the matching Windows exceptions:
//   SIGSEGV, SIGBUS  kExceptionAccessViolation    0xC0000005 (EXCEPTION_ACCESS_VIOLATION)
//   SIGILL           kExceptionIllegalInstruction 0xC000001D
//   SIGFPE           kExceptionIntDivideByZero    0xC0000094
//   SIGABRT          kExceptionFatalAppExit       0x40000015 (what abort() ends with on Windows)
constexpr uint32_t kExceptionAccessViolation = 0xC0000005u;
constexpr uint32_t kExceptionIllegalInstruction = 0xC000001Du;
constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094u;
constexpr uint32_t kExceptionFatalAppExit = 0x40000015u;

// The parent process named on the command line (its process id on Linux, a handle valid in this
// process on Windows). A parent that cannot be opened counts as ended.
class ParentProcess {
public:
    explicit ParentProcess(int64_t handle);
    ~ParentProcess() { Close(); }
    ParentProcess(const ParentProcess&) = delete;
    ParentProcess& operator=(const ParentProcess&) = delete;

    // Waits at most `timeoutMs` milliseconds; true when the parent has ended or cannot be waited
    // on, false when it still runs.
    bool WaitEnded(int timeoutMs);
    // Must not overtake a WaitEnded in progress on another thread.
    void Close();

private:
    int fd_ = -1;
};

// The filter runs on the thread that met the fatal error, with the error's exception code. It may
// do only what is safe in a signal handler: no allocation, no lock that the faulting thread might
// hold, console lines through HostWriteLineFromFilter. When it returns, the process ends by the
// system's default handling of the error. A hard time limit ends the process should the filter
// hang.
using FatalErrorFilter = void (*)(uint32_t code);
void InstallFatalErrorFilter(FatalErrorFilter filter);

// Lets the fatal-error filter run on the calling thread even after a stack overflow (an alternate
// signal stack on Linux) for as long as the object lives. Install one at the top of every thread
// the host starts; the main thread gets its own from InstallFatalErrorFilter.
class FatalErrorThreadScope {
public:
    FatalErrorThreadScope();
    ~FatalErrorThreadScope();
    FatalErrorThreadScope(const FatalErrorThreadScope&) = delete;
    FatalErrorThreadScope& operator=(const FatalErrorThreadScope&) = delete;

private:
    void* stack_ = nullptr;
};

// One console line for the fatal-error filter: `text`, then `number` in decimal unless it is null,
// then the line end, written to standard output with a single write and nothing allocated.
void HostWriteLineFromFilter(const char* text, const uint32_t* number = nullptr);

// Console lines written after the reader of the host's output went away (a parent that ends
// closes its end of the pipe) fail quietly instead of ending the process: the host still has to
// stop the capture then.
void HostKeepRunningWithoutOutput();

// Pauses the calling thread.
void HostSleepMs(unsigned ms);

#endif  // KOVA_HOST_PROCESS_H

// Helpers for the service-host tests: run the built host as a child process with its standard
// output and standard error captured separately and a time-out, scratch directories, file access
// and ".zzz" fixtures made with zlib's compress.
//
// The same tests run the Windows build of the host under Wine when KOVA_WINE names the Wine loader
// and KOVA_WIN_HOST_DIR the directory of kova_service_host.exe: programs ending in ".exe" are then
// started through the loader, and the C runtime's text-mode "\r\n" line ends on the Windows
// standard streams are read as "\n".
#ifndef KOVA_HOST_TEST_SUPPORT_H
#define KOVA_HOST_TEST_SUPPORT_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace hosttest {

namespace fs = std::filesystem;

struct ProcessResult {
    std::string out;
    std::string err;
    int exitCode = -1;  // -1 when the child did not exit normally
    bool timedOut = false;
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif

struct ProcessOptions {
    std::string cwd;                           // empty: the test's own
    std::map<std::string, std::string> env;    // added to (or replacing in) the test's environment
    int timeoutSeconds = 30;
    size_t addressSpaceLimit = 0;              // bytes; 0: none; not applied under Wine
};

inline long long MonotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The Wine loader when the tests drive the Windows build, else null.
inline const char* Wine() {
    const char* wine = getenv("KOVA_WINE");
    return wine != nullptr && *wine != '\0' ? wine : nullptr;
}

inline bool UnderWine() { return Wine() != nullptr; }

inline bool IsWindowsProgram(const std::string& program) {
    return UnderWine() && program.size() > 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
}

// "\r\n" -> "\n": what a Windows C runtime writes for each "\n" on a text-mode stream.
inline std::string UnixLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(text[i]);
    }
    return out;
}

// A started child process: its id and the reading ends of its standard output and error.
struct SpawnedProcess {
    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
};

// Starts `program` with exactly `argv` as its argument vector (argv may be empty, or name another
// argument 0 than the program path). A Windows program runs under Wine, which makes the program
// path its argument 0 whatever argv says.
inline SpawnedProcess SpawnProcess(const std::string& requestedProgram, const std::vector<std::string>& requestedArgv,
                                   const ProcessOptions& options = {}) {
    const bool windows = IsWindowsProgram(requestedProgram);
    std::string program = requestedProgram;
    std::vector<std::string> argv = requestedArgv;
    if (windows) {
        program = Wine();
        argv = {program, requestedProgram};
        if (!requestedArgv.empty()) argv.insert(argv.end(), requestedArgv.begin() + 1, requestedArgv.end());
    }
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (options.env.count(name) == 0) envStrings.push_back(entry);
    }
    for (const auto& [name, value] : options.env) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = argv;
    std::vector<char*> args;
    for (std::string& arg : argStrings) args.push_back(arg.data());
    args.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        // Wine reserves most of the address space as it starts, so a Windows program runs uncapped;
        // a sanitizer build of the host reserves terabytes of shadow memory at start and cannot run
        // under the cap either (its allocator reports any oversized allocation by itself instead).
        if (options.addressSpaceLimit != 0 && !windows && !kSanitizedBuild) {
            rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
        }
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    return SpawnedProcess{pid, outPipe[0], errPipe[0]};
}

// Appends what the child writes to `out` and `err` until both streams are closed (a descriptor is
// closed and set to -1 at its end), `enough()` holds, or the monotonic `deadlineMs` passes. True
// unless the deadline passed first.
template <typename Enough>
bool ReadProcessOutput(SpawnedProcess& process, std::string& out, std::string& err, long long deadlineMs,
                       Enough enough) {
    int* fds[2] = {&process.outFd, &process.errFd};
    std::string* sinks[2] = {&out, &err};
    while (!enough() && (process.outFd >= 0 || process.errFd >= 0)) {
        long long left = deadlineMs - MonotonicMs();
        if (left <= 0) return false;
        pollfd watch[2] = {{process.outFd, POLLIN, 0}, {process.errFd, POLLIN, 0}};
        if (poll(watch, 2, static_cast<int>(left)) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (watch[i].fd < 0 || watch[i].revents == 0) continue;
            char buffer[4096];
            ssize_t n = read(watch[i].fd, buffer, sizeof(buffer));
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(watch[i].fd);
                *fds[i] = -1;
            }
        }
    }
    return true;
}

inline void CloseProcessOutput(SpawnedProcess& process) {
    for (int* fd : {&process.outFd, &process.errFd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

// Runs `program` with exactly `argv` as its argument vector to its end. A child still running at
// the time-out is killed.
inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& argv,
                                const ProcessOptions& options = {}) {
    SpawnedProcess process = SpawnProcess(program, argv, options);
    ProcessResult result;
    const long long deadline = MonotonicMs() + options.timeoutSeconds * 1000LL;
    if (!ReadProcessOutput(process, result.out, result.err, deadline, [] { return false; })) {
        result.timedOut = true;
        kill(process.pid, SIGKILL);
    }
    CloseProcessOutput(process);
    int status = 0;
    while (waitpid(process.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (IsWindowsProgram(program)) {
        result.out = UnixLineEnds(result.out);
        result.err = UnixLineEnds(result.err);
    }
    return result;
}

inline std::string HostDir() {
    const char* variable = UnderWine() ? "KOVA_WIN_HOST_DIR" : "KOVA_HOST_DIR";
    const char* dir = getenv(variable);
    if (dir == nullptr || *dir == '\0') throw std::runtime_error(std::string(variable) + " is not set");
    return dir;
}

inline std::string HostFileName() { return UnderWine() ? "kova_service_host.exe" : "kova_service_host"; }
// The SDK's file name beside the host.
inline std::string SdkFileName() { return UnderWine() ? "kova_sdk.dll" : "libkova_sdk.so"; }

inline std::string HostPath() { return HostDir() + "/" + HostFileName(); }

// The path a program sees as its own: under Wine an absolute Unix path lies on drive Z:, which is
// the Unix root, so "/a/b.exe" is "Z:\a\b.exe".
inline std::string PathAsSeenByHost(const std::string& path) {
    if (!UnderWine()) return path;
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        if (c == '/') c = '\\';
    }
    return windows;
}

// Runs the built host with `args` after the program path.
inline ProcessResult RunHost(const std::vector<std::string>& args, const ProcessOptions& options = {},
                             const std::string& program = HostPath()) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(program, argv, options);
}

// A fresh directory under the system's temporary directory, removed with its content.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kova_host_test_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) throw std::runtime_error("cannot write " + path);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// The file's bytes, or nothing when it does not exist.
inline std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::string LittleEndian32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
}

inline std::string Compress(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string stream(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(stream.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                 static_cast<uLong>(data.size())) != Z_OK) {
        throw std::runtime_error("compress failed");
    }
    stream.resize(size);
    return stream;
}

// One ".zzz" chunk: the little-endian length, then the zlib stream of `data`.
inline std::string ZzzChunk(const std::string& data) {
    std::string stream = Compress(data);
    return LittleEndian32(static_cast<uint32_t>(stream.size())) + stream;
}

// `size` bytes that do not repeat in short runs, so that they compress to a real stream.
inline std::string Pattern(size_t size, unsigned seed) {
    std::string data(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>((x >> 16) & 0xff);
    }
    return data;
}

inline std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0f]);
    }
    return text;
}

}  // namespace hosttest

#endif  // KOVA_HOST_TEST_SUPPORT_H

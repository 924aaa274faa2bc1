// Helpers for the Windows test programs (run under Wine by the Linux tree's ctest): child
// processes with pipes and time-outs, test programs that run themselves as a child in a named
// role, captured standard streams and unique object names.
//
// A test program that has roles uses KOVA_WIN_TEST_MAIN() instead of gtest_main: started as
// "<program> --child <role> <arguments...>" it runs that role and exits with its result.
#ifndef KOVA_WIN_TEST_SUPPORT_H
#define KOVA_WIN_TEST_SUPPORT_H

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace wintest {

// --- Names and paths --------------------------------------------------------------------------

// A name no other test run uses: the process id keeps parallel runs apart.
inline std::string UniqueName(const char* tag) {
    static int counter = 0;
    return std::string("kwt_") + tag + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

inline std::wstring Widen(const std::string& text) {
    std::wstring out;
    for (unsigned char c : text) out.push_back(static_cast<wchar_t>(c));  // ASCII only here
    return out;
}

inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

inline std::wstring SelfPath() {
    wchar_t path[2048] = {0};
    GetModuleFileNameW(nullptr, path, 2047);
    return path;
}

// The directory of this program, with a trailing backslash.
inline std::wstring SelfDir() {
    std::wstring path = SelfPath();
    return path.substr(0, path.rfind(L'\\') + 1);
}

// A quoted command-line argument (the rules CommandLineToArgvW and the C runtime parse).
inline std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

// --- Child processes --------------------------------------------------------------------------

// A running child with pipes on its standard input, output and error. Its output lines are read
// on threads of their own ("\r\n" and "\n" both end a line). A child still running when the object
// goes is terminated.
class Child {
public:
    Child() = default;
    ~Child() {
        Kill();
        CloseInput();
        if (m_outReader.joinable()) m_outReader.join();
        if (m_errReader.joinable()) m_errReader.join();
        if (m_process != nullptr) CloseHandle(m_process);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Starts `program` with `args` after it. The child inherits the pipe ends and every other
    // inheritable handle of this process; starts are serialised so that no child picks up the
    // pipe ends of another.
    bool Start(const std::wstring& program, const std::vector<std::wstring>& args) {
        static std::mutex s_starting;
        std::lock_guard<std::mutex> starting(s_starting);
        SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
        HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
        if (!CreatePipe(&inRead, &inWrite, &sa, 0)) return false;
        if (!CreatePipe(&outRead, &outWrite, &sa, 0)) return false;
        if (!CreatePipe(&errRead, &errWrite, &sa, 0)) return false;
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

        std::wstring commandLine = Quote(program);
        for (const std::wstring& arg : args) commandLine += L" " + Quote(arg);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = inRead;
        si.hStdOutput = outWrite;
        si.hStdError = errWrite;
        PROCESS_INFORMATION pi{};
        BOOL ok = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &si, &pi);
        CloseHandle(inRead);
        CloseHandle(outWrite);
        CloseHandle(errWrite);
        if (!ok) {
            CloseHandle(inWrite);
            CloseHandle(outRead);
            CloseHandle(errRead);
            return false;
        }
        CloseHandle(pi.hThread);
        m_process = pi.hProcess;
        m_processId = pi.dwProcessId;
        m_input = inWrite;
        m_outReader = std::thread([this, outRead] { Read(outRead, m_out); });
        m_errReader = std::thread([this, errRead] { Read(errRead, m_err); });
        return true;
    }

    // Starts this very program in `role`.
    bool StartRole(const std::string& role, const std::vector<std::string>& args = {}) {
        std::vector<std::wstring> wide{L"--child", Widen(role)};
        for (const std::string& a : args) wide.push_back(Widen(a));
        return Start(SelfPath(), wide);
    }

    bool SendLine(const std::string& line) {
        if (m_input == nullptr) return false;
        std::string text = line + "\n";
        DWORD written = 0;
        return WriteFile(m_input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
               written == text.size();
    }

    void CloseInput() {
        if (m_input != nullptr) CloseHandle(m_input);
        m_input = nullptr;
    }

    // The next output line at or after the read position that starts with `prefix`.
    std::optional<std::string> WaitPrefix(const std::string& prefix, int timeoutMs = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock<std::mutex> hold(m_lock);
        for (;;) {
            while (m_position < m_out.lines.size()) {
                const std::string& line = m_out.lines[m_position++];
                if (line.rfind(prefix, 0) == 0) return line;
            }
            if (m_out.ended) return std::nullopt;
            if (m_changed.wait_until(hold, deadline) == std::cv_status::timeout &&
                m_position >= m_out.lines.size()) {
                return std::nullopt;
            }
        }
    }

    // Waits for the end: the exit code, or -1 when the child had to be terminated.
    long Finish(int timeoutMs = 10000) {
        CloseInput();
        if (m_process == nullptr) return -1;
        if (WaitForSingleObject(m_process, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
            Kill();
            m_exitCode = -1;
        } else {
            DWORD code = 0;
            GetExitCodeProcess(m_process, &code);
            m_exitCode = static_cast<long>(code);
        }
        if (m_outReader.joinable()) m_outReader.join();
        if (m_errReader.joinable()) m_errReader.join();
        return m_exitCode;
    }

    void Kill() {
        if (m_process != nullptr && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_process, 255);
            WaitForSingleObject(m_process, 10000);
        }
    }

    // Everything read so far, lines joined with "\n".
    std::string Out() { return Joined(m_out); }
    std::string Err() { return Joined(m_err); }
    std::vector<std::string> OutLines() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_out.lines;
    }
    HANDLE Process() const { return m_process; }
    DWORD ProcessId() const { return m_processId; }

private:
    struct Stream {
        std::vector<std::string> lines;
        bool ended = false;
    };

    void Read(HANDLE pipe, Stream& stream) {
        std::string pending;
        char chunk[4096];
        DWORD n = 0;
        while (ReadFile(pipe, chunk, sizeof(chunk), &n, nullptr) && n > 0) {
            pending.append(chunk, n);
            std::lock_guard<std::mutex> hold(m_lock);
            size_t start = 0, end;
            while ((end = pending.find('\n', start)) != std::string::npos) {
                size_t length = end - start;
                if (length > 0 && pending[end - 1] == '\r') --length;
                stream.lines.push_back(pending.substr(start, length));
                start = end + 1;
            }
            pending.erase(0, start);
            m_changed.notify_all();
        }
        CloseHandle(pipe);
        std::lock_guard<std::mutex> hold(m_lock);
        if (!pending.empty()) stream.lines.push_back(pending);
        stream.ended = true;
        m_changed.notify_all();
    }

    std::string Joined(const Stream& stream) {
        std::lock_guard<std::mutex> hold(m_lock);
        std::string text;
        for (const std::string& line : stream.lines) text += line + "\n";
        return text;
    }

    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
    HANDLE m_input = nullptr;
    std::thread m_outReader;
    std::thread m_errReader;
    std::mutex m_lock;
    std::condition_variable m_changed;
    Stream m_out;
    Stream m_err;
    size_t m_position = 0;
    long m_exitCode = -1;
};

// --- Roles ------------------------------------------------------------------------------------

using Role = std::function<int(const std::vector<std::string>& args)>;

inline std::map<std::string, Role>& Roles() {
    static std::map<std::string, Role> roles;
    return roles;
}

struct RoleRegistration {
    RoleRegistration(const char* name, Role role) { Roles()[name] = std::move(role); }
};

// In a role: one line on standard output, flushed at once, so the parent sees it.
inline void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// In a role: blocks until the parent sends a line or closes the input.
inline std::string AwaitLine() {
    char line[256] = {0};
    if (std::fgets(line, sizeof(line), stdin) == nullptr) return std::string();
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

inline int RunMain(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--child") {
        auto role = Roles().find(argv[2]);
        if (role == Roles().end()) return 99;
        return role->second(std::vector<std::string>(argv + 3, argv + argc));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// --- Captured standard streams ------------------------------------------------------------------

// Captures what this process writes to its C runtime's standard output and error between
// construction and finish(). Text mode is kept, so the captured text holds "\r\n" as written to
// a file; Text() returns it with "\n".
class CapturedOutput {
public:
    CapturedOutput() {
        std::fflush(stdout);
        std::fflush(stderr);
        for (int i = 0; i < 2; ++i) {
            m_saved[i] = _dup(i + 1);
            m_files[i] = std::tmpfile();
            _dup2(_fileno(m_files[i]), i + 1);
        }
    }
    ~CapturedOutput() { Finish(); }

    void Finish() {
        if (m_done) return;
        m_done = true;
        std::fflush(stdout);
        std::fflush(stderr);
        for (int i = 0; i < 2; ++i) {
            _dup2(m_saved[i], i + 1);
            _close(m_saved[i]);
            std::string& text = i == 0 ? m_out : m_err;
            std::fseek(m_files[i], 0, SEEK_SET);
            char buffer[4096];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof(buffer), m_files[i])) > 0) text.append(buffer, n);
            std::fclose(m_files[i]);
            std::string unix;
            for (size_t k = 0; k < text.size(); ++k) {
                if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') continue;
                unix.push_back(text[k]);
            }
            text = unix;
        }
    }
    const std::string& Out() {
        Finish();
        return m_out;
    }
    const std::string& Err() {
        Finish();
        return m_err;
    }

private:
    int m_saved[2];
    FILE* m_files[2];
    bool m_done = false;
    std::string m_out, m_err;
};

// Polls `pred` for up to `ms` milliseconds.
template <typename Pred>
bool Eventually(Pred pred, int ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        Sleep(1);
    }
    return pred();
}

}  // namespace wintest

#define KOVA_WIN_CONCAT_(a, b) a##b
#define KOVA_WIN_CONCAT(a, b) KOVA_WIN_CONCAT_(a, b)
// KOVA_WIN_ROLE("name") { ... return exit code; } with `args` the arguments after the role name.
#define KOVA_WIN_ROLE(name)                                                                         \
    static int KOVA_WIN_CONCAT(RoleBody_, __LINE__)(const std::vector<std::string>& args);           \
    static const wintest::RoleRegistration KOVA_WIN_CONCAT(role_, __LINE__)(                       \
        name, KOVA_WIN_CONCAT(RoleBody_, __LINE__));                                                \
    static int KOVA_WIN_CONCAT(RoleBody_, __LINE__)(const std::vector<std::string>& args)

#define KOVA_WIN_TEST_MAIN()                            \
    int main(int argc, char** argv) { return wintest::RunMain(argc, argv); }

#endif  // KOVA_WIN_TEST_SUPPORT_H

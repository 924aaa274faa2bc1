// `screen_capture` of the built host, run as a process beside the stand-in SDK, with this test as
// its parent on real shared-memory channels: it receives on the log channel, and sends and
// receives on the screen-capture channel, as the application does. The stand-in journals every
// SDK call to a file; KOVA_STANDIN_CRASH_IN makes one call die with a real SIGSEGV.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "HostTestSupport.h"
#include "channel.h"
#include "ipc_test_support.h"

using namespace hosttest;
using nlohmann::json;

namespace {

// Generous bounds for a host that should be done at once; the host itself acts within 100 ms.
constexpr int kQuickMs = 10000;

std::string UniqueSuffix() {
    static int counter = 0;
    return "cap" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

std::string LogChannelName(const std::string& suffix) { return "log_print_ipc_channel" + suffix; }
std::string CaptureChannelName(const std::string& suffix) { return "screen_capture_ipc_channel" + suffix; }

// The 24 bytes of a command record: cmd and code little-endian, 16 zero bytes after them.
std::string CommandRecord(int32_t cmd, uint32_t code) {
    return LittleEndian32(static_cast<uint32_t>(cmd)) + LittleEndian32(code) + std::string(16, '\0');
}

const std::string kHostExceptionNotice = CommandRecord(5, 0xC0000005u);
const std::string kCaptureCrashedNotice = CommandRecord(6, 0xC0000005u);

// The host started in the background, with its output collected as it comes.
class RunningHost {
public:
    RunningHost(const std::vector<std::string>& args, const ProcessOptions& options) {
        std::vector<std::string> argv{HostPath()};
        argv.insert(argv.end(), args.begin(), args.end());
        process_ = SpawnProcess(HostPath(), argv, options);
    }
    ~RunningHost() {
        if (!ended_) {
            kill(process_.pid, SIGKILL);
            Reap();
        }
        CloseProcessOutput(process_);
    }
    RunningHost(const RunningHost&) = delete;
    RunningHost& operator=(const RunningHost&) = delete;

    pid_t pid() const { return process_.pid; }

    // Collects output until it contains `text`; false after `timeoutMs`.
    bool WaitForOutput(const std::string& text, int timeoutMs = kQuickMs) {
        ReadProcessOutput(process_, out_, err_, MonotonicMs() + timeoutMs,
                          [&] { return out_.find(text) != std::string::npos; });
        return out_.find(text) != std::string::npos;
    }

    // Waits for the host to end, killing it after `timeoutMs`; false when it had to be killed.
    bool WaitForEnd(int timeoutMs = kQuickMs) {
        const long long deadline = MonotonicMs() + timeoutMs;
        bool inTime = ReadProcessOutput(process_, out_, err_, deadline, [] { return false; });
        // With its output closed or no longer read, the end shows only in the process status.
        while (inTime && Running()) {
            inTime = MonotonicMs() < deadline;
            usleep(5 * 1000);
        }
        if (!inTime) kill(process_.pid, SIGKILL);
        Reap();
        return inTime;
    }

    // Stops reading the host's output: its later lines meet a closed pipe.
    void CloseOutput() { CloseProcessOutput(process_); }

    // Whether the host still runs, without waiting.
    bool Running() {
        if (ended_) return false;
        if (waitpid(process_.pid, &status_, WNOHANG) == process_.pid) ended_ = true;
        return !ended_;
    }

    // Processor time (user + system) the host has used so far, in clock ticks; -1 when unknown.
    long long CpuTicks() const {
        std::optional<std::string> stat = ReadFile("/proc/" + std::to_string(process_.pid) + "/stat");
        if (!stat) return -1;
        // Fields after the command name in parentheses: state is field 3, utime 14, stime 15.
        std::istringstream fields(stat->substr(stat->rfind(')') + 2));
        std::string field;
        long long ticks = 0;
        for (int number = 3; number <= 15 && fields >> field; ++number) {
            if (number >= 14) ticks += std::stoll(field);
        }
        return ticks;
    }

    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    bool exitedWith(int code) const { return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == code; }
    bool killedBy(int signal) const { return ended_ && WIFSIGNALED(status_) && WTERMSIG(status_) == signal; }

private:
    void Reap() {
        if (ended_) return;
        while (waitpid(process_.pid, &status_, 0) < 0 && errno == EINTR) {
        }
        ended_ = true;
    }

    SpawnedProcess process_;
    std::string out_;
    std::string err_;
    int status_ = 0;
    bool ended_ = false;
};

// A stand-in for the application's process that does nothing until it is killed: its pid is
// handed to the host as the parent to watch.
class StandInParent {
public:
    StandInParent() {
        pid_ = fork();
        if (pid_ == 0) {
            alarm(60);  // never outlives a broken test
            for (;;) pause();
        }
    }
    ~StandInParent() { End(); }
    StandInParent(const StandInParent&) = delete;
    StandInParent& operator=(const StandInParent&) = delete;

    pid_t pid() const { return pid_; }
    void End() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// One run of the host: a unique suffix, a journal in a scratch directory and, unless told
// otherwise, this test connected to both channels as the application connects.
struct CaptureRun {
    enum Parent { kBothChannels, kCaptureChannelOnly, kNoChannels };

    TempDir dir;
    std::string suffix = UniqueSuffix();
    std::string journal = dir / "journal.jsonl";
    ipc::channel log;
    ipc::channel capture;

    explicit CaptureRun(Parent parent = kBothChannels) {
        if (parent == kBothChannels) {
            EXPECT_TRUE(log.connect(LogChannelName(suffix).c_str(), ipc::receiver));
        }
        if (parent != kNoChannels) {
            EXPECT_TRUE(capture.connect(CaptureChannelName(suffix).c_str(), ipc::receiver));
        }
    }

    // A host that died leaves its named objects behind; opening and closing them as the last
    // holder removes them.
    ~CaptureRun() {
        if (!log.valid()) log.connect(LogChannelName(suffix).c_str(), ipc::sender);
        if (!capture.valid()) capture.connect(CaptureChannelName(suffix).c_str(), ipc::sender);
    }

    ProcessOptions Options(const char* crashIn = nullptr) const {
        ProcessOptions options;
        options.env["KOVA_STANDIN_JOURNAL_FILE"] = journal;
        if (crashIn != nullptr) options.env["KOVA_STANDIN_CRASH_IN"] = crashIn;
        return options;
    }

    // The host's arguments: the command word, the suffix, fps, the parent, the screen index, the
    // number of ids and the ids.
    std::vector<std::string> Args(const std::string& fps, const std::string& parent, const std::string& index,
                                  const std::vector<std::string>& ids) const {
        std::vector<std::string> args{"screen_capture", suffix, fps, parent, index, std::to_string(ids.size())};
        args.insert(args.end(), ids.begin(), ids.end());
        return args;
    }

    // The journal as one JSON array of {"op", "args"} entries.
    json Calls() const {
        json calls = json::array();
        std::istringstream lines(ReadFile(journal).value_or(""));
        std::string line;
        while (std::getline(lines, line)) calls.push_back(json::parse(line));
        return calls;
    }

    std::vector<std::string> Ops() const {
        std::vector<std::string> ops;
        for (const json& call : Calls()) ops.push_back(call.at("op"));
        return ops;
    }

    // Sends raw bytes to the host on the screen-capture channel.
    bool SendToHost(const std::string& bytes) { return capture.send(bytes.data(), bytes.size(), 100); }
};

std::string Received(ipc::channel& channel) {
    ipc::message_buffer message = channel.poll_recv();
    return message.empty() ? std::string() : std::string(static_cast<const char*>(message.data()), message.size());
}

// The start call as the stand-in journals it: fps, screen index, ids, their count, the suffix and
// its length.
json StartCall(const json& fps, const json& index, const json& ids, const std::string& suffix) {
    return json{{"op", "StartDesktopCaptureShare"},
                {"args", {fps, index, ids, ids.size(), suffix, suffix.size()}}};
}

const std::vector<std::string> kStoppedOnce = {"CreateKOVAWinClient", "StartDesktopCaptureShare",
                                               "CreateKOVAWinClient", "StopDesktopCaptureShare",
                                               "DestroyKOVAWinClient"};

TEST(HostScreenCapture, StopCommandStopsTheCaptureOnceAndOtherMessagesAreDropped) {
    CaptureRun run;
    const std::string self = std::to_string(getpid());
    RunningHost host(run.Args("15", self, "1", {"11", "-22"}), run.Options());
    ASSERT_TRUE(host.WaitForOutput("sdk_handle:" + self + "\n"));

    // Neither another command nor a message too short to hold one stops the host. A stop acts
    // within 100 ms, so half a second of running after them shows they were dropped; the same
    // half second shows that an idle host does not spin.
    ASSERT_TRUE(run.SendToHost(CommandRecord(5, 0)));
    ASSERT_TRUE(run.SendToHost(std::string("\x04\x00", 2)));
    const long long ticksBefore = host.CpuTicks();
    const long long idleFrom = MonotonicMs();
    usleep(500 * 1000);
    const long long idleMs = MonotonicMs() - idleFrom;
    const long long ticksUsed = host.CpuTicks() - ticksBefore;
    EXPECT_TRUE(host.Running());
    const std::vector<std::string> opsWhileRunning = run.Ops();
    EXPECT_EQ(std::count(opsWhileRunning.begin(), opsWhileRunning.end(), "StopDesktopCaptureShare"), 0);
    // A spinning thread would use about all of that time; an idle host uses next to nothing.
    EXPECT_LT(ticksUsed * 1000 / sysconf(_SC_CLK_TCK), idleMs / 4);

    ASSERT_TRUE(run.SendToHost(CommandRecord(4, 0)));
    ASSERT_TRUE(host.WaitForEnd());
    EXPECT_TRUE(host.exitedWith(0));
    EXPECT_EQ(host.out(),
              "pllexcludedWindowIds[0]:11\n"
              "pllexcludedWindowIds[1]:-22\n"
              "fps:15,screen_capture_index:1,excludedWindowIdsSize:2,sdk_handle:" + self + "\n"
              "th_wait_parent_process thread end.\n");
    EXPECT_EQ(host.err(), "");
    EXPECT_EQ(run.Ops(), kStoppedOnce);
    EXPECT_EQ(run.Calls().at(1), StartCall(15, 1, json::array({11, -22}), run.suffix));
    // Nothing is sent to the parent on a normal stop.
    EXPECT_EQ(Received(run.log), "");
    EXPECT_EQ(Received(run.capture), "");
}

// Numbers are read like atoi/_atoi64: leading blanks, a sign, digits up to the first other
// character, 0 without digits, saturated at the type's limits. The stop command is any message of
// at least 4 bytes whose first int32 is 4, whatever its length.
TEST(HostScreenCapture, ArgumentsAsTheSdkGetsThemAndEveryFormOfTheStopCommand) {
    const std::string self = std::to_string(getpid());
    struct StopCase {
        const char* name;
        std::string fps, parent, index;
        std::vector<std::string> ids;
        std::string stop;
        std::string expectedHead;  // the lines before "th_wait_parent_process thread end."
        json expectedStart;        // fps, index and ids of the start call
    };
    const StopCase cases[] = {
        {"no ids, a 4-byte stop", "30", self, "0", {}, LittleEndian32(4),
         "fps:30,screen_capture_index:0,excludedWindowIdsSize:0,sdk_handle:" + self + "\n",
         {30, 0, json::array()}},
        {"text around the numbers, a 24-byte stop", " +7fps", "  " + self + "x", "abc", {"\t42 ", "-0x10"},
         CommandRecord(4, 0),
         "pllexcludedWindowIds[0]:42\npllexcludedWindowIds[1]:0\n"
         "fps:7,screen_capture_index:0,excludedWindowIdsSize:2,sdk_handle:" + self + "\n",
         {7, 0, json::array({42, 0})}},
        {"values beyond the ranges, a stop from chunk storage", "99999999999", self, "-99999999999",
         {"99999999999999999999", "-99999999999999999999"}, LittleEndian32(4) + std::string(196, 'z'),
         "pllexcludedWindowIds[0]:9223372036854775807\npllexcludedWindowIds[1]:-9223372036854775808\n"
         "fps:2147483647,screen_capture_index:-2147483648,excludedWindowIdsSize:2,sdk_handle:" + self + "\n",
         {2147483647, -2147483648LL, json::array({"9223372036854775807", "-9223372036854775808"})}},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureRun run;
        RunningHost host(run.Args(c.fps, c.parent, c.index, c.ids), run.Options());
        ASSERT_TRUE(host.WaitForOutput("sdk_handle:"));
        ASSERT_TRUE(host.WaitForOutput("\n"));
        ASSERT_TRUE(run.SendToHost(c.stop));
        ASSERT_TRUE(host.WaitForEnd());
        EXPECT_TRUE(host.exitedWith(0));
        EXPECT_EQ(host.out(), c.expectedHead + "th_wait_parent_process thread end.\n");
        EXPECT_EQ(host.err(), "");
        EXPECT_EQ(run.Ops(), kStoppedOnce);
        json start = StartCall(c.expectedStart[0], c.expectedStart[1], c.expectedStart[2], run.suffix);
        EXPECT_EQ(run.Calls().at(1), start);
    }
}

// Whether the host's output is still read or not (a parent that ends closes its end of the pipe),
// the host prints its line, stops the capture once and exits with 0.
TEST(HostScreenCapture, ParentThatEndsStopsTheCaptureOnce) {
    for (bool outputClosed : {false, true}) {
        SCOPED_TRACE(outputClosed ? "output closed" : "output read");
        CaptureRun run;
        StandInParent parent;
        const std::string pid = std::to_string(parent.pid());
        RunningHost host(run.Args("15", pid, "2", {"5"}), run.Options());
        const std::string head = "pllexcludedWindowIds[0]:5\n"
                                 "fps:15,screen_capture_index:2,excludedWindowIdsSize:1,sdk_handle:" + pid + "\n";
        ASSERT_TRUE(host.WaitForOutput(head));
        EXPECT_TRUE(host.Running());
        if (outputClosed) host.CloseOutput();
        parent.End();
        ASSERT_TRUE(host.WaitForEnd());
        EXPECT_TRUE(host.exitedWith(0));
        EXPECT_EQ(host.out(), outputClosed ? head : head + "th_wait_parent_process\nth_wait_parent_process thread end.\n");
        EXPECT_EQ(host.err(), "");
        EXPECT_EQ(run.Ops(), kStoppedOnce);
    }
}

// A parent that cannot be watched counts as ended: the host stops at once. With nobody else on the
// channels, the host's exit is what removes them, so no named object of the suffix remains.
TEST(HostScreenCapture, ParentThatCannotBeWatchedStopsAtOnce) {
    const long long pidMax = std::stoll(ReadFile("/proc/sys/kernel/pid_max").value_or("4194304"));
    for (const std::string& parent : {std::to_string(pidMax + 1), std::string("0"), std::string("-1"),
                                      std::string("none")}) {
        SCOPED_TRACE(parent);
        CaptureRun run(CaptureRun::kNoChannels);
        RunningHost host(run.Args("15", parent, "0", {}), run.Options());
        ASSERT_TRUE(host.WaitForEnd());
        EXPECT_TRUE(host.exitedWith(0));
        const std::string shown = parent == "none" ? "0" : parent;
        EXPECT_EQ(host.out(),
                  "fps:15,screen_capture_index:0,excludedWindowIdsSize:0,sdk_handle:" + shown + "\n"
                  "th_wait_parent_process\n"
                  "th_wait_parent_process thread end.\n");
        EXPECT_EQ(host.err(), "");
        EXPECT_EQ(run.Ops(), kStoppedOnce);
        EXPECT_TRUE(ipc_test::shm_entries(run.suffix).empty());
    }
}

// A fatal error reaches the parent as notice 5 on the log channel and, for an access violation
// with at least one excluded id (more than 7 arguments), as notice 6 on the screen-capture channel
// after the capture was told to stop. The host then dies by the signal itself, and its receiver
// bit on the screen-capture channel is given up, leaving the parent alone there.
TEST(HostScreenCapture, CrashIsReportedToTheParentAndEndsTheProcess) {
    struct CrashCase {
        const char* name;
        const char* crashIn;
        CaptureRun::Parent parent;
        std::vector<std::string> ids;
        bool stopFirst;  // the crash comes on the receive thread's stop
        std::string sendLines;
        std::string logNotice, captureNotice;
        std::vector<std::string> ops;
    };
    const std::vector<std::string> crashOnStart = {"CreateKOVAWinClient", "StartDesktopCaptureShare",
                                                   "CreateKOVAWinClient", "StopDesktopCaptureShare"};
    const CrashCase cases[] = {
        {"crash in the start, one id", "StartDesktopCaptureShare", CaptureRun::kBothChannels, {"9"}, false,
         "enter send_ipc_cmd.channel_send.recv_count:1\nenter send_ipc_cmd.channel_send.recv_count:2\n",
         kHostExceptionNotice, kCaptureCrashedNotice, crashOnStart},
        {"crash in the start, no ids", "StartDesktopCaptureShare", CaptureRun::kBothChannels, {}, false,
         "enter send_ipc_cmd.channel_send.recv_count:1\n", kHostExceptionNotice, "",
         {"CreateKOVAWinClient", "StartDesktopCaptureShare"}},
        {"nobody on the log channel", "StartDesktopCaptureShare", CaptureRun::kCaptureChannelOnly, {"9"}, false,
         "enter send_ipc_cmd.channel_send.recv_count:0\nenter send_ipc_cmd.channel_send.recv_count:2\n", "",
         kCaptureCrashedNotice, crashOnStart},
        {"crash on the receive thread", "DestroyKOVAWinClient", CaptureRun::kBothChannels, {"9"}, true,
         "enter send_ipc_cmd.channel_send.recv_count:1\nenter send_ipc_cmd.channel_send.recv_count:2\n",
         kHostExceptionNotice, kCaptureCrashedNotice,
         {"CreateKOVAWinClient", "StartDesktopCaptureShare", "CreateKOVAWinClient", "StopDesktopCaptureShare",
          "DestroyKOVAWinClient", "CreateKOVAWinClient", "StopDesktopCaptureShare"}},
    };
    // The crashes must not leave core files behind.
    rlimit noCore{0, 0};
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &noCore), 0);
    const std::string self = std::to_string(getpid());
    for (const CrashCase& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureRun run(c.parent);
        RunningHost host(run.Args("15", self, "0", c.ids), run.Options(c.crashIn));
        std::string head;
        for (size_t i = 0; i < c.ids.size(); ++i) head += "pllexcludedWindowIds[" + std::to_string(i) + "]:9\n";
        head += "fps:15,screen_capture_index:0,excludedWindowIdsSize:" + std::to_string(c.ids.size()) +
                ",sdk_handle:" + self + "\n";
        if (c.stopFirst) {
            ASSERT_TRUE(host.WaitForOutput(head));
            ASSERT_TRUE(run.SendToHost(CommandRecord(4, 0)));
        }
        ASSERT_TRUE(host.WaitForEnd());
        EXPECT_TRUE(host.killedBy(SIGSEGV));
        std::string out = host.out();
        if (c.stopFirst) {
            // The receive thread cleared the running flag before it met the error, so the watch
            // thread ends too, printing its last line at some point while the filter runs.
            const std::string watchEnd = "th_wait_parent_process thread end.\n";
            const size_t at = out.find(watchEnd, head.size());
            if (at != std::string::npos) out.erase(at, watchEnd.size());
        }
        EXPECT_EQ(out, head + "unhandle exception occur.\n" + c.sendLines);
        EXPECT_EQ(host.err(), "");
        EXPECT_EQ(run.Ops(), c.ops);
        if (c.parent == CaptureRun::kBothChannels) {
            EXPECT_EQ(Received(run.log), c.logNotice);
        }
        EXPECT_EQ(Received(run.capture), c.captureNotice);
        EXPECT_EQ(Received(run.capture), "");
        EXPECT_EQ(run.capture.recv_count(), 1u);
    }
}

// Missing arguments, a negative id count, no SDK or an SDK without one of the client entries: one
// line at most, exit code 0, and nothing started (no SDK call, no channel).
TEST(HostScreenCapture, NothingStartsWithoutItsArgumentsOrItsSdk) {
    struct RefusalCase {
        const char* name;
        std::vector<std::string> args;  // after the command word and the suffix
        const char* sdk;                // copied beside the host; null: none
        const char* expectedOut;
    };
    const std::string self = std::to_string(getpid());
    const std::string standin = HostDir() + "/libkova_sdk.so";
    const RefusalCase cases[] = {
        {"only the command word and the suffix", {}, standin.c_str(), "screen_capture: not enough arguments\n"},
        {"no id count", {"15", self, "0"}, standin.c_str(), "screen_capture: not enough arguments\n"},
        {"fewer ids than announced", {"15", self, "0", "3", "1", "2"}, standin.c_str(),
         "screen_capture: not enough arguments\n"},
        {"a count far beyond the arguments", {"15", self, "0", "2147483647"}, standin.c_str(),
         "screen_capture: not enough arguments\n"},
        {"a negative id count", {"15", self, "0", "-1"}, standin.c_str(),
         "screen_capture: excludedWindowIdsSize is negative\n"},
        {"no SDK beside the host", {"15", self, "0", "0"}, nullptr, "s_moduleKOVASDK == null\n"},
        {"no client creation entry", {"15", self, "0", "0"}, KOVA_SDK_NO_CREATE_PATH, ""},
        {"no client destruction entry", {"15", self, "0", "0"}, KOVA_SDK_NO_DESTROY_PATH, ""},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir hostDir;
        const std::string host = hostDir / "kova_service_host";
        fs::copy_file(HostPath(), host);
        if (c.sdk != nullptr) fs::copy_file(c.sdk, hostDir / "libkova_sdk.so");
        const std::string suffix = UniqueSuffix();
        std::vector<std::string> args{"screen_capture", suffix};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProcessOptions options;
        options.env["KOVA_STANDIN_JOURNAL_FILE"] = hostDir / "journal.jsonl";
        options.timeoutSeconds = kQuickMs / 1000;
        ProcessResult r = RunHost(args, options, host);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, c.expectedOut);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_FALSE(ReadFile(hostDir / "journal.jsonl").has_value());
        EXPECT_TRUE(ipc_test::shm_entries(suffix).empty());
    }
}

}  // namespace

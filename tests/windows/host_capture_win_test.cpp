// `screen_capture` of kova_service_host.exe with this program as its Windows parent: the host gets
// an inheritable process handle as argument 4, and the parent uses the host's channels through the
// same channel code (it receives on the log channel, and sends and receives on the screen-capture
// channel). The stand-in kova_sdk.dll beside the host journals every SDK call to a file;
// KOVA_STANDIN_CRASH_IN makes one call fault with a real access violation.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "WinTestSupport.h"
#include "channel.h"

using namespace wintest;
using nlohmann::json;

namespace {

constexpr int kQuickMs = 10000;
constexpr uint32_t kAccessViolation = 0xC0000005u;

std::string CommandRecord(int32_t cmd, uint32_t code) {
    std::string bytes(24, '\0');
    std::memcpy(&bytes[0], &cmd, 4);
    std::memcpy(&bytes[4], &code, 4);
    return bytes;
}

std::string Received(ipc::channel& channel) {
    ipc::message_buffer message = channel.poll_recv();
    return message.empty() ? std::string() : std::string(static_cast<const char*>(message.data()), message.size());
}

// The host built beside this program's tree, with the stand-in SDK beside it.
std::wstring HostPath() { return SelfDir() + L"..\\dist\\bin\\kova_service_host.exe"; }

// A handle of `process` that child processes inherit, closed with the object.
class InheritableHandle {
public:
    explicit InheritableHandle(HANDLE process) {
        DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &m_handle, SYNCHRONIZE, TRUE, 0);
    }
    ~InheritableHandle() {
        if (m_handle != nullptr) CloseHandle(m_handle);
    }
    InheritableHandle(const InheritableHandle&) = delete;
    InheritableHandle& operator=(const InheritableHandle&) = delete;
    std::string Value() const { return std::to_string(reinterpret_cast<intptr_t>(m_handle)); }

private:
    HANDLE m_handle = nullptr;
};

// One run of the host: a fresh channel suffix and journal, and this program's ends of the channels.
struct CaptureRun {
    std::string suffix = UniqueName("cap");
    std::string journal;
    ipc::channel log;
    ipc::channel capture;
    Child host;

    explicit CaptureRun(bool logReceiver = true) {
        wchar_t temp[MAX_PATH + 1] = {0};
        GetTempPathW(MAX_PATH, temp);
        journal = Narrow(temp) + suffix + ".jsonl";
        if (logReceiver) log.connect(("log_print_ipc_channel" + suffix).c_str(), ipc::receiver);
        capture.connect(("screen_capture_ipc_channel" + suffix).c_str(), ipc::receiver);
    }
    ~CaptureRun() { DeleteFileA(journal.c_str()); }

    // Starts the host with fps 15, screen index 0 and `ids`; `crashIn` names the SDK call that
    // faults.
    bool Start(const std::string& parent, const std::vector<std::string>& ids, const char* crashIn = nullptr) {
        SetEnvironmentVariableA("KOVA_STANDIN_JOURNAL_FILE", journal.c_str());
        SetEnvironmentVariableA("KOVA_STANDIN_CRASH_IN", crashIn);
        std::vector<std::wstring> args{L"screen_capture", Widen(suffix), L"15", Widen(parent), L"0",
                                       std::to_wstring(ids.size())};
        for (const std::string& id : ids) args.push_back(Widen(id));
        const bool started = host.Start(HostPath(), args);
        SetEnvironmentVariableA("KOVA_STANDIN_CRASH_IN", nullptr);
        return started;
    }

    std::string Head(const std::string& parent, const std::vector<std::string>& ids) const {
        std::string head;
        for (size_t i = 0; i < ids.size(); ++i) head += "pllexcludedWindowIds[" + std::to_string(i) + "]:" + ids[i] + "\n";
        return head + "fps:15,screen_capture_index:0,excludedWindowIdsSize:" + std::to_string(ids.size()) +
               ",sdk_handle:" + parent + "\n";
    }

    std::vector<std::string> Ops() const {
        std::vector<std::string> ops;
        std::ifstream file(journal, std::ios::binary);
        std::string line;
        while (std::getline(file, line)) ops.push_back(json::parse(line).at("op"));
        return ops;
    }

    json StartArgs() const {
        std::ifstream file(journal, std::ios::binary);
        std::string line;
        while (std::getline(file, line)) {
            json call = json::parse(line);
            if (call.at("op") == "StartDesktopCaptureShare") return call.at("args");
        }
        return json();
    }

    bool SendToHost(const std::string& bytes) { return capture.send(bytes.data(), bytes.size(), 100); }
};

const std::vector<std::string> kStoppedOnce = {"CreateKOVAWinClient", "StartDesktopCaptureShare",
                                               "CreateKOVAWinClient", "StopDesktopCaptureShare",
                                               "DestroyKOVAWinClient"};

}  // namespace

// A parent for the host to watch, ended by closing its input.
KOVA_WIN_ROLE("parent") {
    (void)args;
    Say("running");
    AwaitLine();
    return 0;
}

TEST(HostScreenCapture, StopCommandStopsTheCaptureOnceAndOtherMessagesAreDropped) {
    CaptureRun run;
    InheritableHandle self(GetCurrentProcess());
    const std::vector<std::string> ids{"11", "-22"};
    ASSERT_TRUE(run.Start(self.Value(), ids));
    ASSERT_TRUE(run.host.WaitPrefix("fps:"));
    ASSERT_TRUE(run.capture.wait_for_receivers(2, kQuickMs)) << "the host receives on the capture channel";

    // Neither another command nor a message too short to hold one stops the host.
    ASSERT_TRUE(run.SendToHost(CommandRecord(5, 0)));
    ASSERT_TRUE(run.SendToHost(std::string("\x04\x00", 2)));
    EXPECT_EQ(WaitForSingleObject(run.host.Process(), 500), static_cast<DWORD>(WAIT_TIMEOUT));

    ASSERT_TRUE(run.SendToHost(CommandRecord(4, 0)));
    EXPECT_EQ(run.host.Finish(kQuickMs), 0);
    EXPECT_EQ(run.host.Out(), run.Head(self.Value(), ids) + "th_wait_parent_process thread end.\n");
    EXPECT_EQ(run.host.Err(), "");
    EXPECT_EQ(run.Ops(), kStoppedOnce);
    EXPECT_EQ(run.StartArgs(), json({15, 0, {11, -22}, 2, run.suffix, run.suffix.size()}));
    EXPECT_EQ(Received(run.log), "");
    EXPECT_EQ(Received(run.capture), "");
}

// The handle of a parent that ends, and handle values that cannot be waited on (no handle at all,
// and -1, which inside the host would be the host itself): the host stops the capture once.
TEST(HostScreenCapture, ParentThatEndsOrCannotBeWatchedStopsTheCaptureOnce) {
    Child parent;
    ASSERT_TRUE(parent.StartRole("parent"));
    ASSERT_TRUE(parent.WaitPrefix("running"));
    InheritableHandle parentHandle(parent.Process());
    const std::string watched = parentHandle.Value();

    for (const std::string& value : {watched, std::string("0"), std::string("-1")}) {
        SCOPED_TRACE(value);
        CaptureRun run;
        ASSERT_TRUE(run.Start(value, {}));
        ASSERT_TRUE(run.host.WaitPrefix("fps:"));
        if (value == watched) {
            EXPECT_EQ(WaitForSingleObject(run.host.Process(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
            EXPECT_EQ(parent.Finish(), 0);
        }
        EXPECT_EQ(run.host.Finish(kQuickMs), 0);
        EXPECT_EQ(run.host.Out(), run.Head(value, {}) + "th_wait_parent_process\nth_wait_parent_process thread end.\n");
        EXPECT_EQ(run.Ops(), kStoppedOnce);
    }
}

// An access violation in the SDK: notice 5 on the log channel and, with more than seven arguments,
// notice 6 on the screen-capture channel after the capture was told to stop, each carrying the
// exception code; the host then ends by the system's default handling with that code.
TEST(HostScreenCapture, AccessViolationIsReportedToTheParent) {
    struct CrashCase {
        const char* name;
        std::vector<std::string> ids;
        bool logReceiver;
        std::string sendLines;
        std::string logNotice, captureNotice;
        std::vector<std::string> ops;
    };
    const std::vector<std::string> stopped = {"CreateKOVAWinClient", "StartDesktopCaptureShare", "CreateKOVAWinClient",
                                              "StopDesktopCaptureShare"};
    const CrashCase cases[] = {
        {"one id", {"9"}, true,
         "enter send_ipc_cmd.channel_send.recv_count:1\nenter send_ipc_cmd.channel_send.recv_count:2\n",
         CommandRecord(5, kAccessViolation), CommandRecord(6, kAccessViolation), stopped},
        {"no ids", {}, true, "enter send_ipc_cmd.channel_send.recv_count:1\n", CommandRecord(5, kAccessViolation), "",
         {"CreateKOVAWinClient", "StartDesktopCaptureShare"}},
        {"nobody on the log channel", {"9"}, false,
         "enter send_ipc_cmd.channel_send.recv_count:0\nenter send_ipc_cmd.channel_send.recv_count:2\n", "",
         CommandRecord(6, kAccessViolation), stopped},
    };
    InheritableHandle self(GetCurrentProcess());
    for (const CrashCase& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureRun run(c.logReceiver);
        ASSERT_TRUE(run.Start(self.Value(), c.ids, "StartDesktopCaptureShare"));
        EXPECT_EQ(static_cast<uint32_t>(run.host.Finish(kQuickMs)), kAccessViolation);
        EXPECT_EQ(run.host.Out(), run.Head(self.Value(), c.ids) + "unhandle exception occur.\n" + c.sendLines);
        EXPECT_EQ(run.Ops(), c.ops);
        if (c.logReceiver) {
            EXPECT_EQ(Received(run.log), c.logNotice);
        }
        EXPECT_EQ(Received(run.capture), c.captureNotice);
        EXPECT_EQ(Received(run.capture), "");
        EXPECT_EQ(run.capture.recv_count(), 1u) << "the host's receiver is given up";
    }
}

KOVA_WIN_TEST_MAIN()

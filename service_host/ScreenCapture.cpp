// The `screen_capture` command: the host loads the SDK, asks its client to start a screen capture
// with the parent's parameters and then only waits, until the parent sends the stop command over
// the screen-capture channel or the parent process ends. A fatal error is reported to the parent
// over both channels before the process dies.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "DecimalText.h"
#include "HostCommands.h"
#include "HostConsole.h"
#include "HostProcess.h"
#include "HostState.h"
#include "IpcCmd.h"

namespace {

using solvane::kovawin::IKOV_API;

// Argument numbering: 0 the program path, 1 the command word.
constexpr int kArgSuffix = 2;
constexpr int kArgFps = 3;
constexpr int kArgParentHandle = 4;
constexpr int kArgScreenIndex = 5;
constexpr int kArgExcludedCount = 6;
constexpr int kArgFirstExcludedId = 7;

// The longest single wait of either thread: a stop command or the parent's end is acted on
// within about this time, and an idle host wakes only this often.
constexpr int kPollMs = 50;
constexpr uint32_t kNoticeSendTimeoutMs = 100;
// What a channel without a queue reports as its receiver count.
constexpr uint32_t kNoQueue = 0xFFFFFFFFu;

// Cleared at normal process exit before the channel objects are destroyed, so that a fatal error
// during the exit does not reach a destroyed channel.
std::atomic<bool> s_channelsAlive{true};

void MarkChannelsGone() { s_channelsAlive.store(false); }

// Sends `cmd` when anyone receives on `channel` (null: no channel). Safe in the fatal-error filter:
// the line is written without the console stream and the send takes no lock and allocates nothing.
void send_ipc_cmd(ipc::channel* channel, const IpcCmd& cmd) {
    const uint32_t count = channel != nullptr ? channel->recv_count() : kNoQueue;
    HostWriteLineFromFilter("enter send_ipc_cmd.channel_send.recv_count:", &count);
    if (channel != nullptr && channel->valid() && count != 0) {
        channel->send_from_signal_handler(&cmd, sizeof(cmd), kNoticeSendTimeoutMs);
    }
}

// Runs on the thread that met the fatal error, after which the process ends.
void HostExceptionFilter(uint32_t code) {
    HostWriteLineFromFilter("unhandle exception occur.");
    const bool channelsAlive = s_channelsAlive.load();
    ipc::channel* logChannel = channelsAlive ? &s_logChannel : nullptr;
    ipc::channel* screenCaptureChannel = channelsAlive ? &s_screenCaptureChannel : nullptr;

    IpcCmd notice{};
    notice.cmd = IPC_CMD_HOST_EXCEPTION;
    notice.code = code;
    send_ipc_cmd(logChannel, notice);

    // Stopping the capture calls into the SDK, which is not bound to what a signal handler may do;
    // should it hang, the filter's time limit still ends the process.
    if (s_argc > 7 && s_argv != nullptr && s_argv[1] != nullptr && std::strcmp(s_argv[1], "screen_capture") == 0 &&
        code == kExceptionAccessViolation && s_pfnCreateKOVAWinClient != nullptr) {
        if (IKOV_API* client = s_pfnCreateKOVAWinClient()) client->StopDesktopCaptureShare();
        notice.cmd = IPC_CMD_CAPTURE_CRASHED;
        send_ipc_cmd(screenCaptureChannel, notice);
    }
    // A dead receiver would otherwise hold the parent's sends back until they force their way.
    if (channelsAlive) {
        s_logChannel.release_receiver_from_signal_handler();
        s_screenCaptureChannel.release_receiver_from_signal_handler();
    }
}

// The stop sequence; only the thread that cleared the running flag runs it.
void StopCaptureAndDestroyClient() {
    if (IKOV_API* client = s_pfnCreateKOVAWinClient()) client->StopDesktopCaptureShare();
    s_pfnDestroyKOVAWinClient();
}

bool IsStopCommand(const ipc::message_buffer& message) {
    int32_t cmd = 0;
    if (message.empty() || message.size() < sizeof(cmd)) return false;
    std::memcpy(&cmd, message.data(), sizeof(cmd));
    return cmd == IPC_CMD_STOP_CAPTURE;
}

// Receives the parent's commands until the running flag is cleared, waiting at most kPollMs for
// each message.
void th_recv_ipc_cmd(std::atomic<bool>* running) {
    FatalErrorThreadScope fatalErrors;
    while (running->load()) {
        const auto start = std::chrono::steady_clock::now();
        ipc::message_buffer message;
        if (s_screenCaptureChannel.connected()) message = s_screenCaptureChannel.recv(kPollMs);
        if (IsStopCommand(message)) {
            if (running->exchange(false)) StopCaptureAndDestroyClient();
            continue;
        }
        // Without a receiving channel, or when a receive ends early without a message, the rest of
        // the period is slept, so that the loop never spins.
        if (message.empty()) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start).count();
            if (spent < kPollMs) HostSleepMs(static_cast<unsigned>(kPollMs - spent));
        }
    }
}

// Watches the parent process until the running flag is cleared.
void th_wait_parent_process(std::atomic<bool>* running, ParentProcess* parent) {
    FatalErrorThreadScope fatalErrors;
    while (running->load()) {
        if (!parent->WaitEnded(kPollMs)) continue;
        HostPrintLine("th_wait_parent_process");
        if (running->exchange(false)) StopCaptureAndDestroyClient();
    }
    HostPrintLine("th_wait_parent_process thread end.");
}

}  // namespace

int CmdScreenCapture(int argc, char** argv) {
    // Every argument is checked to be present before anything starts: the arguments up to the
    // id count, then the ids it announces.
    if (argc <= kArgExcludedCount) {
        HostPrintLine("screen_capture: not enough arguments");
        return 0;
    }
    const int32_t excludedCount = DecimalToInt32(argv[kArgExcludedCount]);
    if (excludedCount < 0) {
        HostPrintLine("screen_capture: excludedWindowIdsSize is negative");
        return 0;
    }
    if (argc - kArgFirstExcludedId < excludedCount) {
        HostPrintLine("screen_capture: not enough arguments");
        return 0;
    }

    HostKeepRunningWithoutOutput();
    if (s_moduleKOVASDK == nullptr) {
        HostMarkDpiAware();
        InstallFatalErrorFilter(HostExceptionFilter);
        if (LoadKOVASDK() == nullptr) {
            HostPrintLine("s_moduleKOVASDK == null");
            return 0;
        }
    }
    s_channelSuffix = argv[kArgSuffix];
    s_pfnCreateKOVAWinClient =
        reinterpret_cast<PFN_CreateKOVAWinClient>(PlatformGetProcAddress(s_moduleKOVASDK, "CreateKOVAWinClient"));
    s_pfnDestroyKOVAWinClient =
        reinterpret_cast<PFN_DestroyKOVAWinClient>(PlatformGetProcAddress(s_moduleKOVASDK, "DestroyKOVAWinClient"));
    if (s_pfnCreateKOVAWinClient == nullptr || s_pfnDestroyKOVAWinClient == nullptr) return 0;

    // A failed connection is not reported: the capture still starts, and without the
    // screen-capture channel the host ends when its parent ends.
    std::atexit(MarkChannelsGone);
    if (!s_logChannel.valid()) s_logChannel.connect((kLogChannelPrefix + s_channelSuffix).c_str(), ipc::sender);
    if (!s_screenCaptureChannel.valid()) {
        s_screenCaptureChannel.connect((kScreenCaptureChannelPrefix + s_channelSuffix).c_str(), ipc::receiver);
    }

    const int32_t fps = DecimalToInt32(argv[kArgFps]);
    const int64_t parentHandle = DecimalToInt64(argv[kArgParentHandle]);
    const int32_t screenIndex = DecimalToInt32(argv[kArgScreenIndex]);
    // Handed to the SDK, which may keep it: never freed.
    int64_t* excludedIds = new int64_t[static_cast<size_t>(excludedCount)];
    s_excludedIds = excludedIds;
    for (int32_t i = 0; i < excludedCount; ++i) {
        excludedIds[i] = DecimalToInt64(argv[kArgFirstExcludedId + i]);
        HostPrintLine("pllexcludedWindowIds[", i, "]:", excludedIds[i]);
    }
    HostPrintLine("fps:", fps, ",screen_capture_index:", screenIndex, ",excludedWindowIdsSize:", excludedCount,
                  ",sdk_handle:", parentHandle);
    ParentProcess parent(parentHandle);

    if (IKOV_API* client = s_pfnCreateKOVAWinClient()) {
        client->StartDesktopCaptureShare(fps, screenIndex, excludedIds, excludedCount, s_channelSuffix.c_str(),
                                         static_cast<int>(s_channelSuffix.size()));
    }

    std::atomic<bool> running{true};
    std::thread receiveThread(th_recv_ipc_cmd, &running);
    std::thread watchThread(th_wait_parent_process, &running, &parent);
    receiveThread.join();
    watchThread.join();
    // Only now that the watch thread has ended may its handle go.
    parent.Close();

    s_logChannel.disconnect();
    s_screenCaptureChannel.disconnect();
    return 0;
}

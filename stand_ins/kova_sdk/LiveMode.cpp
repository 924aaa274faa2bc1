#include "LiveMode.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "Frames.h"
#include "State.h"

namespace kova_standin {

namespace {

using Clock = std::chrono::steady_clock;

struct LiveUser {
    const char* nickName;
    int32_t userId;
    const char* userIdStr;
    const char* streamId;
    const char* audioStreamId;
};
constexpr LiveUser kUsers[2] = {{"alice", 1, "u-alice", "stream-u-alice", "audio-u-alice"},
                                {"bob", 2, "u-bob", "stream-u-bob", "audio-u-bob"}};

constexpr int kLevelPeriodMs = 200;
constexpr int kVolumesPeriodMs = 3000;
constexpr int kAnswerDelayMs = 20;

int Len(const char* text) { return static_cast<int>(std::char_traits<char>::length(text)); }

// Calls one event on each attached listener: `v1` on the first version, `v2` on the second.
void Both(const std::function<void(KOVAListener*)>& v1, const std::function<void(KOVAListenerV2*)>& v2) {
    State().callbacks.CallListener<KOVAListener>(v1);
    State().callbacks.CallListener<KOVAListenerV2>(v2);
}

void OneText(void (KOVAListener::*m1)(const char*, int), void (KOVAListenerV2::*m2)(const char*, int),
             const std::string& text) {
    Both([&](KOVAListener* l) { (l->*m1)(text.data(), static_cast<int>(text.size())); },
         [&](KOVAListenerV2* l) { (l->*m2)(text.data(), static_cast<int>(text.size())); });
}

void AnnounceRoom(const std::string& room) {
    Both([](KOVAListener* l) { l->onConnected(); }, [](KOVAListenerV2* l) { l->onConnected(); });
    Api::User users[2];
    for (int i = 0; i < 2; ++i) {
        users[i] = Api::User{kUsers[i].nickName, Len(kUsers[i].nickName), kUsers[i].userId, kUsers[i].userIdStr,
                             Len(kUsers[i].userIdStr)};
    }
    Both([&](KOVAListener* l) { l->onEnterRoom(users, 2); }, [&](KOVAListenerV2* l) { l->onEnterRoom(users, 2); });
    OneText(&KOVAListener::onEnterRoomSuccess, &KOVAListenerV2::onEnterRoomSuccess, room);
    for (const LiveUser& u : kUsers) {
        Both([&](KOVAListener* l) { l->onRemoteUserEnterRoom(u.userId, u.userIdStr, Len(u.userIdStr), u.nickName, Len(u.nickName)); },
             [&](KOVAListenerV2* l) { l->onRemoteUserEnterRoom(u.userIdStr, Len(u.userIdStr), u.nickName, Len(u.nickName)); });
    }
    for (const LiveUser& u : kUsers) {
        Both([&](KOVAListener* l) { l->onUserVideoAvailable(u.userId, u.streamId, Len(u.streamId), "camera", 6, true); },
             [&](KOVAListenerV2* l) {
                 l->onUserVideoAvailable(u.userIdStr, Len(u.userIdStr), u.streamId, Len(u.streamId), "camera", 6, true);
             });
        Both([&](KOVAListener* l) { l->onUserAudioAvailable(u.userId, u.audioStreamId, Len(u.audioStreamId), true); },
             [&](KOVAListenerV2* l) {
                 l->onUserAudioAvailable(u.userIdStr, Len(u.userIdStr), u.audioStreamId, Len(u.audioStreamId), true);
             });
    }
}

std::string VolumesText(uint64_t tick) {
    Json volumes = Json::array();
    for (const LiveUser& u : kUsers) {
        volumes.push_back({{"userId", u.userIdStr}, {"volume", static_cast<int>((tick * 13 + u.userId * 37) % 100)}});
    }
    return volumes.dump();
}

// The size live mode gives a stream: what its start asked for when plausible, else by kind.
void StreamSize(const StreamSnapshot& stream, int& width, int& height) {
    if (stream.width > 0 && stream.height > 0 && stream.width <= 3840 && stream.height <= 2160) {
        width = stream.width & ~1;
        height = stream.height & ~1;
        if (width > 0 && height > 0) return;
    }
    switch (stream.kind) {
        case StreamKind::kLocal: width = 640; height = 480; break;
        case StreamKind::kRemoteView: width = 640; height = 360; break;
        case StreamKind::kRemoteDesktopView:
        case StreamKind::kDesktopCapture: width = 1280; height = 720; break;
    }
}

void SendFrames(std::map<std::string, FrameBuffer>& buffers, uint64_t frameNumber) {
    const std::vector<StreamSnapshot> streams = State().callbacks.Streams();
    for (auto it = buffers.begin(); it != buffers.end();) {
        bool started = false;
        for (const auto& s : streams) started = started || s.key == it->first;
        it = started ? std::next(it) : buffers.erase(it);
    }
    for (const StreamSnapshot& stream : streams) {
        int width = 0;
        int height = 0;
        StreamSize(stream, width, height);
        FrameBuffer& buffer = buffers[stream.key];
        if (!buffer.Allocate(SpecForSize(width, height))) continue;
        buffer.FillPattern(frameNumber);
        Api::StreamInfo info = buffer.Info(stream.key, static_cast<int64_t>(frameNumber));
        if (stream.kind == StreamKind::kLocal) {
            // As a camera pipeline does: the capture hook sees (and may change) the frame first.
            if (FrameFn capture = State().callbacks.Get(&StoredCallbacks::localCapture)) capture(info);
        }
        if (FrameFn frame = State().callbacks.FrameCallback(stream.key)) frame(info);
    }
}

}  // namespace

LiveMode::~LiveMode() { Shutdown(); }

void LiveMode::Configure(bool on, int fps) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        on_ = on;
        if (fps > 0) fps_ = std::min(fps, kMaxFps);
    }
    UpdateThread();
}

bool LiveMode::On() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return on_;
}

void LiveMode::ClientCreated() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clientAlive_ = true;
    }
    UpdateThread();
}

void LiveMode::ClientDestroyed() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clientAlive_ = false;
        inRoom_ = false;
    }
    UpdateThread();
}

void LiveMode::RoomEntered(std::string roomText) {
    std::lock_guard<std::mutex> lock(mutex_);
    inRoom_ = true;
    ++roomSerial_;
    roomText_ = std::move(roomText);
}

void LiveMode::RoomLeft() {
    std::lock_guard<std::mutex> lock(mutex_);
    inRoom_ = false;
}

void LiveMode::AnswerSoon(std::function<void()> answer) {
    if (!On()) return;
    State().threads.Run(
        [answer = std::move(answer)] {
            SleepMs(kAnswerDelayMs);
            answer();
        },
        false);
}

void LiveMode::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutDown_ = true;
    }
    UpdateThread();
}

void LiveMode::UpdateThread() {
    std::thread old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool wanted = on_ && clientAlive_ && !shutDown_;
        if (wanted == thread_.joinable()) return;
        ++generation_;
        if (wanted) {
            thread_ = std::thread(&LiveMode::Run, this, generation_);
        } else {
            wake_.notify_all();
            old = std::move(thread_);
        }
    }
    if (!old.joinable()) return;
    if (old.get_id() == std::this_thread::get_id()) {
        old.detach();   // switched off from one of its own callbacks: it ends at its next wait
    } else {
        old.join();
    }
}

void LiveMode::Run(uint64_t generation) {
    pthread_setname_np(pthread_self(), "kova-sdk-live");
    std::map<std::string, FrameBuffer> buffers;
    uint64_t tick = 0;
    uint64_t announcedSerial = 0;
    uint64_t seconds = 0;
    auto nextStat = Clock::now();
    auto nextVolumes = Clock::now();
    auto nextLevel = Clock::now();
    for (;; ++tick) {
        bool inRoom = false;
        uint64_t serial = 0;
        std::string room;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(1000 / fps_), [&] { return generation_ != generation; });
            if (generation_ != generation) return;
            inRoom = inRoom_;
            serial = roomSerial_;
            room = roomText_;
        }
        SendFrames(buffers, tick);

        const auto now = Clock::now();
        if (inRoom && serial != announcedSerial) {
            announcedSerial = serial;
            AnnounceRoom(room);
            nextStat = now + std::chrono::seconds(1);
            nextVolumes = now + std::chrono::milliseconds(kVolumesPeriodMs);
        }
        if (inRoom && now >= nextStat) {
            nextStat = now + std::chrono::seconds(1);
            OneText(&KOVAListener::onStat, &KOVAListenerV2::onStat, StatsText(++seconds));
        }
        if (inRoom && now >= nextVolumes) {
            nextVolumes = now + std::chrono::milliseconds(kVolumesPeriodMs);
            OneText(&KOVAListener::onUserAudioVolumes, &KOVAListenerV2::onUserAudioVolumes, VolumesText(tick));
        }
        if (now >= nextLevel) {
            nextLevel = now + std::chrono::milliseconds(kLevelPeriodMs);
            const int level = static_cast<int>((tick * 7) % 100);
            if (IntFn recording = State().callbacks.Get(&StoredCallbacks::recordingLevel)) recording(level);
            if (IntPairFn playout = State().callbacks.Get(&StoredCallbacks::playoutLevel)) playout(level, level / 2);
        }
    }
}

std::vector<DeviceEntry> LiveMode::Cameras() {
    return {Device(0, "standin-camera-0", "Stand-in Camera"), Device(1, "standin-camera-1", "Stand-in Camera (rear)")};
}

std::vector<DeviceEntry> LiveMode::Screens() {
    return {Device(0, "standin-screen-0", "Screen 1"), Device(1, "standin-screen-1", "Screen 2")};
}

std::vector<DeviceEntry> LiveMode::Windows() {
    return {Device(101, "standin-window-101", "Terminal"), Device(102, "standin-window-102", "Text Editor"),
            Device(103, "standin-window-103", "Browser")};
}

std::vector<DeviceEntry> LiveMode::PlayoutDevices() {
    return {Device(0, "standin-speaker-0", "Stand-in Speakers"), Device(1, "standin-speaker-1", "Stand-in Headset")};
}

std::vector<DeviceEntry> LiveMode::RecordingDevices() {
    return {Device(0, "standin-mic-0", "Stand-in Microphone"), Device(1, "standin-mic-1", "Stand-in Headset Mic")};
}

std::string LiveMode::StatsText(uint64_t second) {
    Json stats = {{"second", second},
                  {"rttMs", 20 + static_cast<int>(second % 7)},
                  {"sendKbps", 800 + static_cast<int>((second * 37) % 200)},
                  {"recvKbps", 1200 + static_cast<int>((second * 53) % 300)},
                  {"lossRate", 0}};
    return stats.dump();
}

}  // namespace kova_standin

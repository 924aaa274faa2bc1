// Listeners of both versions that record every callback with its arguments and thread.
#ifndef KOVA_TESTS_RECORDING_LISTENER_H
#define KOVA_TESTS_RECORDING_LISTENER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kova-api-i.h"

namespace standin_test {

struct Event {
    std::string name;
    std::vector<long long> ints;
    std::vector<std::string> strings;   // "<null>" for a null pointer
    std::vector<int> lengths;
    std::vector<bool> bools;
    std::vector<float> floats;
    std::thread::id thread;
};

class EventLog {
public:
    template <typename... A>
    void Add(const char* name, A... args) {
        Event event;
        event.name = name;
        event.thread = std::this_thread::get_id();
        Collect(event, args...);
        Push(std::move(event));
    }
    void Push(Event event) {
        std::function<void(const Event&)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hook = hook_;
        }
        if (hook) hook(event);
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    std::vector<Event> Events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<Event> Named(const std::string& name) const {
        std::vector<Event> named;
        for (const Event& e : Events()) {
            if (e.name == name) named.push_back(e);
        }
        return named;
    }
    // Waits (at most `seconds`) until `count` events of that name have arrived.
    bool WaitFor(const std::string& name, size_t count, int seconds = 10) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] {
            size_t n = 0;
            for (const Event& e : events_) n += e.name == name ? 1 : 0;
            return n >= count;
        });
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }
    // Runs inside every callback, before it is recorded.
    void SetHook(std::function<void(const Event&)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        hook_ = std::move(hook);
    }

private:
    static void Collect(Event&) {}
    template <typename... R>
    static void Collect(Event& e, const char* text, int length, R... rest) {
        e.strings.push_back(text == nullptr ? "<null>" : std::string(text, length > 0 ? length : 0));
        e.lengths.push_back(length);
        Collect(e, rest...);
    }
    template <typename... R>
    static void Collect(Event& e, unsigned char* bytes, unsigned long size, R... rest) {
        e.strings.push_back(bytes == nullptr ? "<null>" : std::string(reinterpret_cast<char*>(bytes), size));
        e.lengths.push_back(static_cast<int>(size));
        Collect(e, rest...);
    }
    template <typename... R>
    static void Collect(Event& e, int value, R... rest) {
        e.ints.push_back(value);
        Collect(e, rest...);
    }
    template <typename... R>
    static void Collect(Event& e, bool value, R... rest) {
        e.bools.push_back(value);
        Collect(e, rest...);
    }
    template <typename... R>
    static void Collect(Event& e, float value, R... rest) {
        e.floats.push_back(value);
        Collect(e, rest...);
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
    std::function<void(const Event&)> hook_;
};

using User = solvane::kovawin::IKOV_API::User;

// onEnterRoom: the count, then per user the nickname, the numeric id and the string id.
inline void AddEnterRoom(EventLog& log, User* users, int count) {
    Event e;
    e.name = "onEnterRoom";
    e.thread = std::this_thread::get_id();
    e.ints.push_back(count);
    e.bools.push_back(users == nullptr);
    for (int i = 0; users != nullptr && i < count; ++i) {
        e.strings.push_back(std::string(users[i].nickName, users[i].nickNameLength));
        e.ints.push_back(users[i].userId);
        e.strings.push_back(std::string(users[i].userIdStr, users[i].userIdStrLength));
    }
    log.Push(std::move(e));
}

#define KOVA_LOG(...) this->log.Add(__func__, __VA_ARGS__)
#define KOVA_LOG0() this->log.Add(__func__)

// The callbacks whose parameters are the same in both listener versions.
template <typename Listener>
class RecordingCallbacks : public Listener {
public:
    EventLog log;
    void onError(int a, const char* b, int bl) override { KOVA_LOG(a, b, bl); }
    void onErrorV2(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onEnterRoom(User* users, int count) override { AddEnterRoom(this->log, users, count); }
    void onEnterRoomSuccess(const char* a, int al) override { KOVA_LOG(a, al); }
    void onConnected() override { KOVA_LOG0(); }
    void onConnectLost() override { KOVA_LOG0(); }
    void onConnectRecover() override { KOVA_LOG0(); }
    void onNetTypeChange(int a) override { KOVA_LOG(a); }
    void onSignalWorkWeak() override { KOVA_LOG0(); }
    void onRemoteAudioActived(const char* a, int al) override { KOVA_LOG(a, al); }
    void onUserAudioVolumes(const char* a, int al) override { KOVA_LOG(a, al); }
    void onMixStream(const char* a, int al) override { KOVA_LOG(a, al); }
    void onUpdateMixStream(const char* a, int al) override { KOVA_LOG(a, al); }
    void onStat(const char* a, int al) override { KOVA_LOG(a, al); }
    void onPublishStream(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onDataStreamAvailable(const char* a, int al, const char* b, int bl, bool c) override { KOVA_LOG(a, al, b, bl, c); }
    void onSubscrbeDataStreamSuccess(const char* a, int al) override { KOVA_LOG(a, al); }
    void OnDataStreamMessage(const char* a, int al, unsigned char* bytes, unsigned long size, bool binary) override { KOVA_LOG(a, al, bytes, size, binary); }
    void OnUploadRtcLogsProgress(float progress) override { KOVA_LOG(progress); }
    void OnUploadRtcLogsFinish(int result) override { KOVA_LOG(result); }
    void onAudioDeviceChange() override { KOVA_LOG0(); }
    void onVideoCaptureDeviceChange() override { KOVA_LOG0(); }
};

class RecordingListenerV1 final : public RecordingCallbacks<solvane::kovawin::KOVAListener> {
public:
    void onFirstVideoFrame(int a, const char* b, int bl) override { KOVA_LOG(a, b, bl); }
    void onRemoteUserEnterRoom(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onUserDesktopAvailable(int a, const char* b, int bl, const char* c, int cl, bool d) override { KOVA_LOG(a, b, bl, c, cl, d); }
    void onRemoteUserLeaveRoom(int a, int b) override { KOVA_LOG(a, b); }
    void onUserVideoAvailable(int a, const char* b, int bl, const char* c, int cl, bool d) override { KOVA_LOG(a, b, bl, c, cl, d); }
    void onUserAudioAvailable(int a, const char* b, int bl, bool c) override { KOVA_LOG(a, b, bl, c); }
    void onPauseConsumer(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onResumeConsumer(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onUserUpdateNickName(int a, int b, const char* c, int cl) override { KOVA_LOG(a, b, c, cl); }
    void onUserMessageReceived(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onUserRemoved(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onAudioMuteToRoom(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onAudioMuteToPeer(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onVideoCloseToRoom(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onVideoCloseToPeer(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onForbiddenChatToRoom(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onUnForbiddenChatToRoom(int a, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, b, bl, c, cl); }
    void onCustomSignalToRoom(int a, const char* b, int bl, const char* c, int cl, const char* d, int dl) override { KOVA_LOG(a, b, bl, c, cl, d, dl); }
    void onCustomSignalToPeer(int a, const char* b, int bl, const char* c, int cl, const char* d, int dl) override { KOVA_LOG(a, b, bl, c, cl, d, dl); }
    void onUserBroadcastMessage(int a, const char* b, int bl) override { KOVA_LOG(a, b, bl); }
    void onUserSendMessageToPeer(int a, const char* b, int bl) override { KOVA_LOG(a, b, bl); }
};

class RecordingListenerV2 final : public RecordingCallbacks<solvane::kovawin::KOVAListenerV2> {
public:
    void onFirstVideoFrame(const char* a, int al, const char* b, int bl) override { KOVA_LOG(a, al, b, bl); }
    void onRemoteUserEnterRoom(const char* a, int al, const char* b, int bl) override { KOVA_LOG(a, al, b, bl); }
    void onUserDesktopAvailable(const char* a, int al, const char* b, int bl, const char* c, int cl, bool d) override { KOVA_LOG(a, al, b, bl, c, cl, d); }
    void onRemoteUserLeaveRoom(const char* a, int al, int b) override { KOVA_LOG(a, al, b); }
    void onUserVideoAvailable(const char* a, int al, const char* b, int bl, const char* c, int cl, bool d) override { KOVA_LOG(a, al, b, bl, c, cl, d); }
    void onUserAudioAvailable(const char* a, int al, const char* b, int bl, bool c) override { KOVA_LOG(a, al, b, bl, c); }
    void onPauseConsumer(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onResumeConsumer(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onUserUpdateNickName(const char* a, int al, const char* b, int bl) override { KOVA_LOG(a, al, b, bl); }
    void onUserMessageReceived(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onUserRemoved(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onAudioMuteToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onAudioMuteToPeer(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onVideoCloseToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onVideoCloseToPeer(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onForbiddenChatToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onUnForbiddenChatToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl) override { KOVA_LOG(a, al, b, bl, c, cl); }
    void onCustomSignalToRoom(const char* a, int al, const char* b, int bl, const char* c, int cl, const char* d, int dl) override { KOVA_LOG(a, al, b, bl, c, cl, d, dl); }
    void onCustomSignalToPeer(const char* a, int al, const char* b, int bl, const char* c, int cl, const char* d, int dl) override { KOVA_LOG(a, al, b, bl, c, cl, d, dl); }
    void onUserBroadcastMessage(const char* a, int al, const char* b, int bl) override { KOVA_LOG(a, al, b, bl); }
    void onUserSendMessageToPeer(const char* a, int al, const char* b, int bl) override { KOVA_LOG(a, al, b, bl); }
};

#undef KOVA_LOG
#undef KOVA_LOG0

}  // namespace standin_test

#endif  // KOVA_TESTS_RECORDING_LISTENER_H

// The SDK's listener callbacks, turned into calls of the JavaScript functions registered by event
// name. An SDK callback (any SDK thread) copies its arguments into a ListenerEventData record and
// posts it, without blocking, through the event's thread-safe function; CallJSListener (JavaScript
// thread) turns the record into arguments — integers first, then strings, the boolean, the float and
// the data — calls the function and frees the record. An event that JavaScript did not register costs
// one table read and no allocation.
#ifndef KOVA_KOVAENGINELISTENER_H
#define KOVA_KOVAENGINELISTENER_H

#include <node_api.h>

#include <memory>

#include <iterator>
#include <shared_mutex>
#include <string_view>

#include "DataType.h"
#include "JsCrossing.h"
#include "kova-api-i.h"

// The 39 event names that registration knows, in the order it reads them.
inline constexpr const char* kListenerEventNames[] = {
    "onFirstVideoFrame",      "onError",                 "onEnterRoom",
    "onRemoteUserEnterRoom",  "onConnected",             "onConnectLost",
    "onUserDesktopAvailable", "onRemoteUserLeaveRoom",   "onUserVideoAvailable",
    "onUserAudioAvailable",   "onRemoteAudioActived",    "onPauseConsumer",
    "onResumeConsumer",       "onUserUpdateNickName",    "onUserAudioVolumes",
    "onMixStream",            "onUpdateMixStream",       "onUserMessageReceived",
    "onUserRemoved",          "onAudioMuteToRoom",       "onAudioMuteToPeer",
    "onVideoCloseToRoom",     "onVideoCloseToPeer",      "onForbiddenChatToRoom",
    "onUnForbiddenChatToRoom", "onCustomSignalToRoom",   "onCustomSignalToPeer",
    "onUserBroadcastMessage", "onUserSendMessageToPeer", "onStat",
    "onConnectRecover",       "onEnterRoomSuccess",      "onPublishStream",
    "onDataStreamAvailable",  "onSubscribeDataStreamSuccess", "onDataStreamMessage",
    "onUploadRtcLogsProgress", "onUploadRtcLogsFinish",  "onErrorV2",
};
constexpr int kListenerEventCount = static_cast<int>(std::size(kListenerEventNames));
static_assert(kListenerEventCount == 39, "registration knows 39 events");

// The position of an event name in kListenerEventNames; evaluated by the compiler, so an SDK
// callback finds its event's function by index, without comparing names.
constexpr int ListenerEventIndex(std::string_view name) {
    for (int i = 0; i < kListenerEventCount; ++i) {
        if (name == kListenerEventNames[i]) return i;
    }
    return -1;
}

// What both listener versions share: the functions of the registration and the posting of events.
// Each registered event has a crossing to its function; SDK threads read the table while JavaScript
// may re-register, so it is guarded by a reader-writer lock.
class ListenerRegistry {
public:
    using CallJs = JsCrossing::CallJs;

    ListenerRegistry(bool stringUserIds, napi_env env) : m_stringUserIds(stringUserIds), m_env(env) {}
    // Closes every crossing: events already queued are still delivered, nothing new is posted.
    ~ListenerRegistry();

    // Registers every known event function of `object` (JavaScript thread).
    void Register(napi_env env, napi_value object, CallJs callJs);
    // Keeps (true) or stops keeping (false) Node's event loop alive for the registered events.
    void SetAttached(napi_env env, bool attached);
    void SetJsObject(napi_value object) { m_jsObject = object; }

    // Fills and posts a record when event `index` has a registered function.
    template <int index, typename Fill>
    void Emit(Fill&& fill) {
        static_assert(index >= 0 && index < kListenerEventCount, "not a listener event");
        std::shared_lock<std::shared_mutex> lock(m_mxTsFn);
        JsCrossing* fn = m_mapTsFn[index].get();
        if (fn == nullptr) return;
        auto* record = new ListenerEventData();
        record->eventName = kListenerEventNames[index];
        fill(*record);
        fn->Post(record);
    }

    bool StringUserIds() const { return m_stringUserIds; }

private:
    bool m_stringUserIds;
    napi_env m_env;
    napi_value m_jsObject = nullptr;
    // The registered JavaScript functions and their crossings, keyed by event index.
    napi_value m_mapJsFunc[kListenerEventCount] = {};
    std::shared_ptr<JsCrossing> m_mapTsFn[kListenerEventCount];
    std::shared_mutex m_mxTsFn;
};

// Marshals one posted record on the JavaScript thread (shared by both listener versions).
void MarshalListenerEvent(napi_env env, napi_value jsCallback, void* data, bool stringUserIds);

class KOVAEngineListener : public solvane::kovawin::KOVAListener {
public:
    using Interface = solvane::kovawin::KOVAListener;
    explicit KOVAEngineListener(napi_env env) : m_registry(false, env) {}
    virtual ~KOVAEngineListener() = default;

    ListenerRegistry& Registry() { return m_registry; }
    static void CallJSListener(napi_env env, napi_value jsCallback, void* context, void* data);

    void onFirstVideoFrame(int userId, const char* streamId, int streamIdLength) override;
    void onError(int code, const char* message, int messageLength) override;
    void onErrorV2(int code, const char* a, int aLength, const char* b, int bLength) override;
    void onEnterRoom(User* users, int count) override;
    void onEnterRoomSuccess(const char* a, int aLength) override;
    void onRemoteUserEnterRoom(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onConnected() override;
    void onConnectLost() override;
    void onConnectRecover() override;
    void onNetTypeChange(int type) override;
    void onSignalWorkWeak() override;
    void onUserDesktopAvailable(int userId, const char* b, int bLength, const char* c, int cLength, bool available) override;
    void onRemoteUserLeaveRoom(int userId, int reason) override;
    void onUserVideoAvailable(int userId, const char* b, int bLength, const char* c, int cLength, bool available) override;
    void onUserAudioAvailable(int userId, const char* b, int bLength, bool available) override;
    void onRemoteAudioActived(const char* a, int aLength) override;
    void onPauseConsumer(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onResumeConsumer(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onUserUpdateNickName(int a, int b, const char* nickName, int nickNameLength) override;
    void onUserAudioVolumes(const char* a, int aLength) override;
    void onMixStream(const char* a, int aLength) override;
    void onUpdateMixStream(const char* a, int aLength) override;
    void onUserMessageReceived(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onUserRemoved(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onAudioMuteToRoom(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onAudioMuteToPeer(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onVideoCloseToRoom(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onVideoCloseToPeer(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onForbiddenChatToRoom(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onUnForbiddenChatToRoom(int userId, const char* b, int bLength, const char* c, int cLength) override;
    void onCustomSignalToRoom(int userId, const char* b, int bLength, const char* c, int cLength, const char* d, int dLength) override;
    void onCustomSignalToPeer(int userId, const char* b, int bLength, const char* c, int cLength, const char* d, int dLength) override;
    void onUserBroadcastMessage(int userId, const char* b, int bLength) override;
    void onUserSendMessageToPeer(int userId, const char* b, int bLength) override;
    void onStat(const char* a, int aLength) override;
    void onPublishStream(int a, const char* b, int bLength, const char* c, int cLength) override;
    void onDataStreamAvailable(const char* a, int aLength, const char* b, int bLength, bool available) override;
    void onSubscrbeDataStreamSuccess(const char* a, int aLength) override;
    void OnDataStreamMessage(const char* a, int aLength, unsigned char* bytes, unsigned long size, bool binary) override;
    void OnUploadRtcLogsProgress(float progress) override;
    void OnUploadRtcLogsFinish(int result) override;
    void onAudioDeviceChange() override;
    void onVideoCaptureDeviceChange() override;

private:
    ListenerRegistry m_registry;
};

class KOVAEngineListenerV2 : public solvane::kovawin::KOVAListenerV2 {
public:
    using Interface = solvane::kovawin::KOVAListenerV2;
    explicit KOVAEngineListenerV2(napi_env env) : m_registry(true, env) {}
    virtual ~KOVAEngineListenerV2() = default;

    ListenerRegistry& Registry() { return m_registry; }
    static void CallJSListener(napi_env env, napi_value jsCallback, void* context, void* data);

    void onFirstVideoFrame(const char* userId, int userIdLength, const char* streamId, int streamIdLength) override;
    void onError(int code, const char* message, int messageLength) override;
    void onErrorV2(int code, const char* a, int aLength, const char* b, int bLength) override;
    void onEnterRoom(User* users, int count) override;
    void onEnterRoomSuccess(const char* a, int aLength) override;
    void onRemoteUserEnterRoom(const char* userId, int userIdLength, const char* b, int bLength) override;
    void onConnected() override;
    void onConnectLost() override;
    void onConnectRecover() override;
    void onNetTypeChange(int type) override;
    void onSignalWorkWeak() override;
    void onUserDesktopAvailable(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength, bool available) override;
    void onRemoteUserLeaveRoom(const char* userId, int userIdLength, int reason) override;
    void onUserVideoAvailable(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength, bool available) override;
    void onUserAudioAvailable(const char* userId, int userIdLength, const char* b, int bLength, bool available) override;
    void onRemoteAudioActived(const char* a, int aLength) override;
    void onPauseConsumer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onResumeConsumer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onUserUpdateNickName(const char* userId, int userIdLength, const char* nickName, int nickNameLength) override;
    void onUserAudioVolumes(const char* a, int aLength) override;
    void onMixStream(const char* a, int aLength) override;
    void onUpdateMixStream(const char* a, int aLength) override;
    void onUserMessageReceived(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onUserRemoved(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onAudioMuteToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onAudioMuteToPeer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onVideoCloseToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onVideoCloseToPeer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onForbiddenChatToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onUnForbiddenChatToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) override;
    void onCustomSignalToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength, const char* d, int dLength) override;
    void onCustomSignalToPeer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength, const char* d, int dLength) override;
    void onUserBroadcastMessage(const char* userId, int userIdLength, const char* b, int bLength) override;
    void onUserSendMessageToPeer(const char* userId, int userIdLength, const char* b, int bLength) override;
    void onStat(const char* a, int aLength) override;
    void onPublishStream(int a, const char* b, int bLength, const char* c, int cLength) override;
    void onDataStreamAvailable(const char* a, int aLength, const char* b, int bLength, bool available) override;
    void onSubscrbeDataStreamSuccess(const char* a, int aLength) override;
    void OnDataStreamMessage(const char* a, int aLength, unsigned char* bytes, unsigned long size, bool binary) override;
    void OnUploadRtcLogsProgress(float progress) override;
    void OnUploadRtcLogsFinish(int result) override;
    void onAudioDeviceChange() override;
    void onVideoCaptureDeviceChange() override;

private:
    ListenerRegistry m_registry;
};

#endif  // KOVA_KOVAENGINELISTENER_H

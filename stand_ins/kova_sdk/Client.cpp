// The stand-in client: the 92 operations of IKOV_API. Every call is journaled with its decoded
// arguments and returns its configured result (0 unless a test set one). Operations that hand over
// callbacks store them (see CallbackStore) so that control commands, and live mode, can call them.
#include <cstring>
#include <mutex>

#include "Producers.h"
#include "State.h"

namespace kova_standin {

namespace {

// The key of a stream from a (pointer, length) string; "" when there is nothing readable.
std::string Key(const char* text, int length) {
    if (text == nullptr || length <= 0 || length > kMaxReadBytes) return std::string();
    return std::string(text, static_cast<size_t>(length));
}

std::string Text(const char* text) { return text == nullptr ? std::string() : std::string(text, strnlen(text, kMaxReadBytes)); }

// Stores the latest callback of a one-shot kind and, in live mode, answers it shortly.
template <typename F, typename Answer>
void StoreOneShot(F StoredCallbacks::*kind, const F& fn, Answer answer) {
    State().callbacks.Set(kind, fn);
    if (fn) State().live.AnswerSoon([fn, answer] { answer(fn); });
}

void AnswerCaptureList(const CaptureListFn& fn, std::vector<DeviceEntry> devices) {
    CallCaptureList(fn, devices, static_cast<int>(devices.size()), false);
}

void AnswerAdmList(const AdmListFn& fn, std::vector<DeviceEntry> devices) {
    CallAdmList(fn, devices, static_cast<int>(devices.size()), false);
}

class StandinClient final : public Api {
public:
    /*  0 */ int StartLocalPreview(const StartLocalPreviewParam& param) override { return StartLocal(__func__, param, false); }
    /*  1 */ int SetLocalVideoMirror(bool mirror) override { return static_cast<int>(Enter(__func__, mirror)); }
    /*  2 */ int SetLocalCameraCallback(std::function<void(StreamInfo&)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        State().callbacks.Set(&StoredCallbacks::localCapture, std::move(callback));
        return result;
    }
    /*  3 */ int StopLocalPreview() override { return StopLocal(__func__, false); }
    /*  4 */ int StartLocalPreviewTest(const StartLocalPreviewParam& param) override { return StartLocal(__func__, param, true); }
    /*  5 */ int StopLocalPreviewTest() override { return StopLocal(__func__, true); }
    /*  6 */ int MuteLocalVideo(bool mute) override { return static_cast<int>(Enter(__func__, mute)); }
    /*  7 */ int SubscribeMillionAudio() override { return static_cast<int>(Enter(__func__)); }
    /*  8 */ int UnSubscribeMillionAudio() override { return static_cast<int>(Enter(__func__)); }
    /*  9 */ int StartRemoteView(const StartRemoteViewParam& param) override {
        return StartRemote(__func__, param, StreamKind::kRemoteView);
    }
    /* 10 */ int StopRemoteView(int userId, const char* streamId, int streamIdLength) override {
        return StopStream(Enter(__func__, userId, streamId, streamIdLength), streamId, streamIdLength);
    }
    /* 11 */ int StopRemoteViewV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength) override {
        return StopStream(Enter(__func__, userId, userIdLength, streamId, streamIdLength), streamId, streamIdLength);
    }
    /* 12 */ int ChangeVideoStream(int userId, const char* streamId, int streamIdLength, VideoStreamSubscribeModelType model,
                                   VideoStreamBitrateType bitrate) override {
        return static_cast<int>(Enter(__func__, userId, streamId, streamIdLength, model, bitrate));
    }
    /* 13 */ int ChangeVideoStreamV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength,
                                     VideoStreamSubscribeModelType model, VideoStreamBitrateType bitrate) override {
        return static_cast<int>(Enter(__func__, userId, userIdLength, streamId, streamIdLength, model, bitrate));
    }
    /* 14 */ int MuteRemoteVideo(int userId, const char* streamId, int streamIdLength, bool mute) override {
        return static_cast<int>(Enter(__func__, userId, streamId, streamIdLength, mute));
    }
    /* 15 */ int MuteRemoteVideoV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength, bool mute) override {
        return static_cast<int>(Enter(__func__, userId, userIdLength, streamId, streamIdLength, mute));
    }
    /* 16 */ int StartRemoteDesktopView(const StartRemoteViewParam& param) override {
        return StartRemote(__func__, param, StreamKind::kRemoteDesktopView);
    }
    /* 17 */ int StopRemoteDesktopView(int userId, const char* streamId, int streamIdLength) override {
        return StopStream(Enter(__func__, userId, streamId, streamIdLength), streamId, streamIdLength);
    }
    /* 18 */ int StopRemoteDesktopViewV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength) override {
        return StopStream(Enter(__func__, userId, userIdLength, streamId, streamIdLength), streamId, streamIdLength);
    }
    /* 19 */ int StartDesktopCapturePreview(const DesktopPreview& preview) override {
        const int result = static_cast<int>(Enter(__func__, preview));
        const CaptureInfo* info = preview.captureInfo;
        State().callbacks.StartStream(info ? Key(info->uniqueId, info->uniqueIdLength) : std::string(),
                                      StreamKind::kDesktopCapture, preview.frameCallback.fn, preview.width, preview.height);
        return result;
    }
    /* 20 */ int StopDesktopCapturePreview(DesktopPreview* previews, int count, std::function<void(int)> finish) override {
        Json list = nullptr;
        if (previews != nullptr) {
            list = Json::array();
            for (int i = 0; i < count && i < kMaxRecords; ++i) list.push_back(ToJson(previews[i]));
        }
        Json args = Json::array({std::move(list), count, ToJson(finish)});
        const int result = static_cast<int>(EnterWithArgs(__func__, std::move(args)));
        for (int i = 0; previews != nullptr && i < count && i < kMaxRecords; ++i) {
            if (const CaptureInfo* info = previews[i].captureInfo) {
                State().callbacks.StopStream(Key(info->uniqueId, info->uniqueIdLength));
            }
        }
        StoreOneShot(&StoredCallbacks::desktopPreviewFinish, finish, [](const IntFn& fn) { fn(0); });
        return result;
    }
#ifdef KOVA_SDK_SERVICE_HOST_FORM
    /* 21 */ int StartDesktopCaptureShare(int fps, int screenIndex, int64_t* excludedIds, int excludedCount,
                                          const char* suffix, int suffixLength) override {
        Json args = Json::array({fps, screenIndex, Int64Array(excludedIds, excludedCount), excludedCount});
        PutArgs(args, suffix, suffixLength);
        return static_cast<int>(EnterWithArgs(__func__, std::move(args)));
    }
    /* 22 */ int Reserved22() override { return static_cast<int>(Enter(__func__)); }
    /* 23 */ int StopDesktopCaptureShare() override { return static_cast<int>(Enter(__func__)); }
#else
    /* 21 */ int StartDesktopCaptureShare(const DesktopPreview& preview) override { return static_cast<int>(Enter(__func__, preview)); }
    /* 22 */ int Reserved22() override { return static_cast<int>(Enter(__func__)); }
    /* 23 */ int StopDesktopCaptureShare(const DesktopPreview& preview) override { return static_cast<int>(Enter(__func__, preview)); }
#endif
    /* 24 */ int SetVideoEncodingParam(int a, int b) override { return static_cast<int>(Enter(__func__, a, b)); }
    /* 25 */ int SetSDKConfigParam(const char* text, int length) override { return static_cast<int>(Enter(__func__, text, length)); }
    /* 26 */ int GetSDKStats(std::function<void(char* text, int length)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        StoreOneShot(&StoredCallbacks::sdkStats, callback, [](const TextFn& fn) {
            ArgString text;
            DecodeString(LiveMode::StatsText(0), text);
            CallText(fn, text);
        });
        return result;
    }
    /* 27 */ int SetAudioAINoiseExEnable(bool enable) override { return static_cast<int>(Enter(__func__, enable)); }
    /* 28 */ int GetScreenCaptureSources(std::function<void(CaptureInfo*, int)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        StoreOneShot(&StoredCallbacks::screenSources, callback, [](const CaptureListFn& fn) { AnswerCaptureList(fn, LiveMode::Screens()); });
        return result;
    }
    /* 29 */ int Reserved29() override { return static_cast<int>(Enter(__func__)); }
    /* 30 */ int GetWindowCaptureSources(std::function<void(CaptureInfo*, int)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        StoreOneShot(&StoredCallbacks::windowSources, callback, [](const CaptureListFn& fn) { AnswerCaptureList(fn, LiveMode::Windows()); });
        return result;
    }
    /* 31 */ int StartLocalAudio(int value) override { return static_cast<int>(Enter(__func__, value)); }
    /* 32 */ int StopLocalAudio() override { return static_cast<int>(Enter(__func__)); }
    /* 33 */ int StartLocalScreenAudio(int value) override { return static_cast<int>(Enter(__func__, value)); }
    /* 34 */ int StopLocalScreenAudio() override { return static_cast<int>(Enter(__func__)); }
    /* 35 */ int StartRecordingTest(std::function<void(int level)> callback, const char* text, int length) override {
        const int result = static_cast<int>(Enter(__func__, callback, text, length));
        State().callbacks.Set(&StoredCallbacks::recordingLevel, std::move(callback));
        return result;
    }
    /* 36 */ int StopRecordingTest() override {
        const int result = static_cast<int>(Enter(__func__));
        State().callbacks.Set(&StoredCallbacks::recordingLevel, IntFn());
        return result;
    }
    /* 37 */ int StartPlayoutTest(const char* text, int length, std::function<void(int, int)> callback) override {
        const int result = static_cast<int>(Enter(__func__, text, length, callback));
        State().callbacks.Set(&StoredCallbacks::playoutLevel, std::move(callback));
        return result;
    }
    /* 38 */ int StopPlayoutTest() override {
        const int result = static_cast<int>(Enter(__func__));
        State().callbacks.Set(&StoredCallbacks::playoutLevel, IntPairFn());
        return result;
    }
    /* 39 */ int MuteLocalAudio(bool mute) override { return static_cast<int>(Enter(__func__, mute)); }
    /* 40 */ int StartRemoteAudio(int userId, const char* streamId, int streamIdLength) override {
        return static_cast<int>(Enter(__func__, userId, streamId, streamIdLength));
    }
    /* 41 */ int StartRemoteAudioV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength) override {
        return static_cast<int>(Enter(__func__, userId, userIdLength, streamId, streamIdLength));
    }
    /* 42 */ int StopRemoteAudio(int userId, const char* streamId, int streamIdLength) override {
        return static_cast<int>(Enter(__func__, userId, streamId, streamIdLength));
    }
    /* 43 */ int StopRemoteAudioV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength) override {
        return static_cast<int>(Enter(__func__, userId, userIdLength, streamId, streamIdLength));
    }
    /* 44 */ int MuteRemoteAudio(int userId, const char* streamId, int streamIdLength, bool mute) override {
        return static_cast<int>(Enter(__func__, userId, streamId, streamIdLength, mute));
    }
    /* 45 */ int MuteRemoteAudioV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength, bool mute) override {
        return static_cast<int>(Enter(__func__, userId, userIdLength, streamId, streamIdLength, mute));
    }
    /* 46 */ int Init() override { return static_cast<int>(Enter(__func__)); }
    /* 47 */ int EnterRoom(const EnterRoomParam& param) override {
        const int result = static_cast<int>(Enter(__func__, param));
        std::string room = Key(param.userRoomId, param.userRoomIdLength);
        State().live.RoomEntered(room.empty() ? std::to_string(param.roomId) : room);
        return result;
    }
    /* 48 */ int ExitRoom(std::function<void(int result)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        State().live.RoomLeft();
        StoreOneShot(&StoredCallbacks::exitRoom, callback, [](const IntFn& fn) { fn(0); });
        return result;
    }
    /* 49 */ int SetApiListener(KOVAListener* listener) override {
        const int result = static_cast<int>(Enter(__func__, listener));
        State().callbacks.SetListener(listener);
        return result;
    }
    /* 50 */ int SetApiListenerV2(KOVAListenerV2* listener) override {
        const int result = static_cast<int>(Enter(__func__, listener));
        State().callbacks.SetListener(listener);
        return result;
    }
    /* 51 */ int SetEnv(int env) override { return static_cast<int>(Enter(__func__, env)); }
    /* 52 */ int SetApiUrl(const char* url, int length) override { return static_cast<int>(Enter(__func__, url, length)); }
    /* 53 */ int SetSDKConfigPath(const char* path, int length) override { return static_cast<int>(Enter(__func__, path, length)); }
    /* 54 */ int Reserved54() override { return static_cast<int>(Enter(__func__)); }
    /* 55 */ int SetAppName(const char* name, int length) override { return static_cast<int>(Enter(__func__, name, length)); }
    /* 56 */ int GetPlayoutSources(std::function<void(AdmInfo*, int)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        StoreOneShot(&StoredCallbacks::playoutSources, callback, [](const AdmListFn& fn) { AnswerAdmList(fn, LiveMode::PlayoutDevices()); });
        return result;
    }
    /* 57 */ int SetPlayoutDevice(unsigned short index) override { return static_cast<int>(Enter(__func__, index)); }
    /* 58 */ int SetPlayoutDeviceByUID(const char* uid, int length) override { return static_cast<int>(Enter(__func__, uid, length)); }
    /* 59 */ int GetRecordingSources(std::function<void(AdmInfo*, int)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        StoreOneShot(&StoredCallbacks::recordingSources, callback, [](const AdmListFn& fn) { AnswerAdmList(fn, LiveMode::RecordingDevices()); });
        return result;
    }
    /* 60 */ int SetRecordingDevice(unsigned short index) override { return static_cast<int>(Enter(__func__, index)); }
    /* 61 */ int SetRecordingDeviceByUID(const char* uid, int length) override { return static_cast<int>(Enter(__func__, uid, length)); }
    /* 62 */ int GetCameraDevicesList(std::function<void(CaptureInfo*, int)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        StoreOneShot(&StoredCallbacks::cameraDevices, callback, [](const CaptureListFn& fn) { AnswerCaptureList(fn, LiveMode::Cameras()); });
        return result;
    }
    /* 63 */ int SetCurrentCameraDevice(int index) override { return static_cast<int>(Enter(__func__, index)); }
    /* 64 */ int SetCameraDeviceByUID(const char* uid, int length) override { return static_cast<int>(Enter(__func__, uid, length)); }
    /* 65 */ int ChangeCameraByIndex(int index) override { return static_cast<int>(Enter(__func__, index)); }
    /* 66 */ int ChangeCameraByUID(const char* uid, int length) override { return static_cast<int>(Enter(__func__, uid, length)); }
    /* 67 */ int SetSpeakerVolume(unsigned short volume) override { return static_cast<int>(Enter(__func__, volume)); }
    /* 68 */ int SetMicrophoneVolume(unsigned short volume) override { return static_cast<int>(Enter(__func__, volume)); }
    /* 69 */ int GetSpeakerVolume() override { return static_cast<int>(Enter(__func__)); }
    /* 70 */ int GetMicrophoneVolume() override { return static_cast<int>(Enter(__func__)); }
    /* 71 */ int ChangeNickName(int a, int b, const char* nickName, int length) override {
        return static_cast<int>(Enter(__func__, a, b, nickName, length));
    }
    /* 72 */ int ChangeNickNameV2(const char* userId, int userIdLength, const char* nickName, int nickNameLength) override {
        return static_cast<int>(Enter(__func__, userId, userIdLength, nickName, nickNameLength));
    }
    /* 73 */ int SubscribeDataStream(const char* text, int length) override { return static_cast<int>(Enter(__func__, text, length)); }
    /* 74 */ int UnsubscribeDataStream(const char* text, int length) override { return static_cast<int>(Enter(__func__, text, length)); }
    /* 75 */ int SendControlMessage(int userId, ControlType type, ControlContent* content) override {
        return static_cast<int>(Enter(__func__, userId, type, content));
    }
    /* 76 */ int SendControlMessageV2(const char* userId, int userIdLength, ControlType type, ControlContent* content) override {
        return static_cast<int>(Enter(__func__, userId, userIdLength, type, content));
    }
    /* 77 */ int SendChatMessage(const ChatMessage& message) override { return static_cast<int>(Enter(__func__, message)); }
    /* 78 */ int SetDebugLogEnable(bool enable) override { return static_cast<int>(Enter(__func__, enable)); }
    /* 79 */ int SetDebugLogCallback(std::function<void(int level, char* text, int length)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        State().callbacks.Set(&StoredCallbacks::debugLog, std::move(callback));
        return result;
    }
    /* 80 */ int PrintLog(const char* text) override { return static_cast<int>(Enter(__func__, text)); }
    /* 81 */ int ReportEventError(int code, const char* text, int length) override {
        return static_cast<int>(Enter(__func__, code, text, length));
    }
    /* 82 */ int64_t FindWindowIdByTitle(const char* title, int length) override { return Enter(__func__, title, length); }
    /* 83 */ int StartUploadRtcLogs(const char* text, int length, int value) override {
        return static_cast<int>(Enter(__func__, text, length, value));
    }
    /* 84 */ int Reserved84() override { return static_cast<int>(Enter(__func__)); }
    /* 85 */ int GetSystemSleepState() override { return static_cast<int>(Enter(__func__)); }
    /* 86 */ int GenerateToken(char* appId, char* appKey, char* meetingId, char* userId, char* key, long long timestamp,
                               char* tokenOut, int* tokenLength) override {
        Json args = Json::array();
        PutArgs(args, appId, appKey, meetingId, userId, key, timestamp);
        args.push_back(PointerFlag(tokenOut));
        args.push_back(PointerFlag(tokenLength));
        const int result = static_cast<int>(EnterWithArgs(__func__, std::move(args)));
        const Settings::Token token = State().settings.TokenFor(Text(appId), Text(meetingId), Text(userId), timestamp);
        if (tokenOut != nullptr) std::memcpy(tokenOut, token.bytes.data(), token.bytes.size());
        if (tokenLength != nullptr) *tokenLength = token.reportedLength;
        return result;
    }
    /* 87 */ int SetExternalDeviceStateCallback(std::function<void(bool state)> callback) override {
        const int result = static_cast<int>(Enter(__func__, callback));
        State().callbacks.Set(&StoredCallbacks::externalDeviceState, std::move(callback));
        return result;
    }
    /* 88 */ int InstallAudioDrive(const char* packagePath, const char* driverName) override {
        return static_cast<int>(Enter(__func__, packagePath, driverName));
    }
    /* 89 */ bool HasMacVirtualDevice() override { return Enter(__func__) != 0; }
    /* 90 */ int Reserved90() override { return static_cast<int>(Enter(__func__)); }
    /* 91 */ const char* GetDeviceID() override {
        Enter(__func__);
        return State().settings.DeviceIdForCall();
    }

private:
    static int StartLocal(const char* op, const StartLocalPreviewParam& param, bool test) {
        const int result = static_cast<int>(Enter(op, param));
        State().callbacks.StartLocal(test, param.frameCallback.fn, param.captureCallback.fn, param.width, param.height);
        return result;
    }
    static int StopLocal(const char* op, bool test) {
        const int result = static_cast<int>(Enter(op));
        State().callbacks.StopLocal(test);
        return result;
    }
    static int StartRemote(const char* op, const StartRemoteViewParam& param, StreamKind kind) {
        const int result = static_cast<int>(Enter(op, param));
        State().callbacks.StartStream(Key(param.streamId, param.streamIdLength), kind, param.frameCallback.fn,
                                      param.width, param.height);
        return result;
    }
    // Ends the stream of a stop operation whose result is `result`.
    static int StopStream(int64_t result, const char* streamId, int streamIdLength) {
        State().callbacks.StopStream(Key(streamId, streamIdLength));
        return static_cast<int>(result);
    }
};

std::mutex g_clientMutex;
StandinClient* g_client = nullptr;

}  // namespace

Api* CreateClient() {
    std::lock_guard<std::mutex> lock(g_clientMutex);
    if (g_client == nullptr) {
        g_client = new StandinClient();
        State().live.ClientCreated();
    }
    return g_client;
}

void DestroyClient() {
    StandinClient* client = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_clientMutex);
        client = g_client;
        g_client = nullptr;
    }
    if (client == nullptr) return;
    // Callbacks may call into the client: the client lock is not held while they are waited for.
    State().live.ClientDestroyed();
    if (State().retainCallbacksOnDestroy) {
        State().callbacks.SetListener(static_cast<KOVAListener*>(nullptr));
        State().callbacks.SetListener(static_cast<KOVAListenerV2*>(nullptr));
    } else {
        State().callbacks.Clear();
    }
    State().threads.JoinAll();
    delete client;
}

}  // namespace kova_standin

// The binary interface of the closed RTC SDK `kova_sdk` and of the AI video-effects library
// `SAIManager`, as the addon, the service host and every build of the SDK agree on it
// (x86-64, Itanium C++ ABI).
//
//  - C entry points: CreateKOVAWinClient, DestroyKOVAWinClient, EnableKOVASDKCrashDump and, for the
//    service host, startKovaLogUpload.
//  - The client interface IKOV_API: 92 virtual operations whose slot order is binding; unused slots
//    are ReservedNN() so that every later operation keeps its position.
//  - The listener interfaces KOVAListener and KOVAListenerV2: 43 callbacks each, in slot order.
//  - The records exchanged with the SDK, nested in IKOV_API. Their offsets are binding and checked
//    by the static_asserts at the end of this file.
//
// Strings cross the interface as a pointer and an int byte length; the pointer is valid only for the
// duration of the call and need not be zero-terminated. No interface here has a virtual destructor:
// the client is destroyed through DestroyKOVAWinClient, and a listener's own class adds its
// destructor after the last callback slot.
//
// Slots 21 and 23 have a second form used by the SDK build that the service host loads; a build
// that defines KOVA_SDK_SERVICE_HOST_FORM selects that form for the whole build.
#ifndef KOVA_API_I_H
#define KOVA_API_I_H

#include <cstddef>
#include <cstdint>
#include <functional>

namespace solvane {
namespace kovawin {

class KOVAListener;
class KOVAListenerV2;

// A std::function member of an SDK record occupies 48 bytes: the std::function object at the
// documented offset followed by padding. libstdc++'s std::function is 32 bytes.
template <typename Signature>
struct FunctionSlot {
    std::function<Signature> fn;
    unsigned char reserved[48 - sizeof(std::function<Signature>)];

    FunctionSlot() : fn(), reserved() {}
    FunctionSlot(const FunctionSlot& other) : fn(other.fn), reserved() {}
    FunctionSlot& operator=(const FunctionSlot& other) { fn = other.fn; return *this; }
    FunctionSlot& operator=(std::function<Signature> f) { fn = std::move(f); return *this; }
    explicit operator bool() const { return static_cast<bool>(fn); }
};
static_assert(sizeof(std::function<void(int)>) < 48, "std::function larger than its record slot");

class IKOV_API {
public:
    enum VideoStreamSubscribeModelType : int32_t {};
    enum VideoStreamBitrateType : int32_t {};
    enum ControlType : int32_t {};

    // One video frame, planar YUV. Plane sizes: Y height*strideY, U height*strideU/2, V height*strideV/2.
    struct StreamInfo {
        const char* streamKey;    // zero-terminated: "local", a remote stream id or a capture unique id
        int32_t streamKeyLength;
        int32_t width;
        int32_t height;
        int32_t rotation;
        uint8_t* dataY;
        int32_t strideY;
        uint8_t* dataU;
        int32_t strideU;
        uint8_t* dataV;
        int32_t strideV;
        int64_t timestamp;
    };

    // A camera device, a screen or a window.
    struct CaptureInfo {
        int32_t id;
        int64_t reserved;         // not read or copied by the addon
        const char* uniqueId;
        int32_t uniqueIdLength;
        const char* name;
        int32_t nameLength;
    };

    // An audio playout or recording device.
    struct AdmInfo {
        int32_t id;
        const char* name;
        int32_t nameLength;
        const char* uniqueId;
        int32_t uniqueIdLength;
    };

    // One user of onEnterRoom.
    struct User {
        const char* nickName;
        int32_t nickNameLength;
        int32_t userId;           // numeric id (first listener interface)
        const char* userIdStr;    // string id (second listener interface)
        int32_t userIdStrLength;
    };

    struct EnterRoomParam {
        int32_t roomId;
        const char* userRoomId;   // null when empty
        int32_t userRoomIdLength;
        int32_t roomType;
        const char* sdkVersion;    int32_t sdkVersionLength;
        const char* nickName;      int32_t nickNameLength;
        const char* token;         int32_t tokenLength;
        const char* appId;         int32_t appIdLength;
        const char* userId;        int32_t userIdLength;
        const char* nonce;         int32_t nonceLength;
        int64_t timestamp;
        const char* deviceId;      int32_t deviceIdLength;
        const char* deviceName;    int32_t deviceNameLength;
        const char* deviceType;    int32_t deviceTypeLength;
        const char* deviceMode;    int32_t deviceModeLength;
        const char* deviceVersion; int32_t deviceVersionLength;
    };

    struct StartLocalPreviewParam {
        void* context;            // left null
        int32_t width;
        int32_t height;
        bool isMultiRate;
        bool reservedFlag;        // left false
        void* reservedPointer;    // left null
        FunctionSlot<void(StreamInfo&)> frameCallback;
        FunctionSlot<void(StreamInfo&)> captureCallback;
        int32_t highPriority;
        int32_t resolutionMode;
        bool isMirror;
    };

    struct StartRemoteViewParam {
        void* context;            // left null
        int32_t userId;
        const char* userIdStr;    // null: the numeric id is meant
        int32_t userIdStrLength;
        const char* streamId;
        int32_t streamIdLength;
        int32_t width;
        int32_t height;
        int64_t reserved;         // left zero
        VideoStreamSubscribeModelType streamSubscribeModelType;
        VideoStreamBitrateType streamBitrateType;
        int64_t reserved2;
        FunctionSlot<void(StreamInfo&)> firstCallback;   // left empty
        FunctionSlot<void(StreamInfo&)> frameCallback;
    };

    struct DesktopPreview {
        void* context;            // left null
        CaptureInfo* captureInfo;
        int32_t desktopType;
        int32_t width;
        int32_t height;
        bool isMultiRate;
        int32_t thumbnailType;
        unsigned char reserved0[12];
        FunctionSlot<void(StreamInfo&)> frameCallback;
        int32_t highPriority;
        int64_t* excludedWindowIds;
        int32_t excludedWindowCount;
        int64_t reserved;
    };

    struct ControlContent {
        char* event;
        int32_t eventLength;
        char* extraData;
        int32_t extraDataLength;
    };

    struct AuthInfo {
        const char* sdkVersion; int32_t sdkVersionLength;
        const char* nickName;   int32_t nickNameLength;
        const char* token;      int32_t tokenLength;
        const char* appId;      int32_t appIdLength;
        const char* userId;     int32_t userIdLength;
        const char* nonce;      int32_t nonceLength;
        int64_t timestamp;
    };

    struct ChatMessage {
        int32_t userId;
        const char* userIdStr;    int32_t userIdStrLength;
        const char* message;      int32_t messageLength;
        unsigned char reserved[12];
        FunctionSlot<void(int)> sentCallback;      // left empty
        FunctionSlot<void(int)> resultCallback;    // left empty
    };

    // ---- the 92 operations, in slot order ----
    /*  0 */ virtual int StartLocalPreview(const StartLocalPreviewParam& param) = 0;
    /*  1 */ virtual int SetLocalVideoMirror(bool mirror) = 0;
    /*  2 */ virtual int SetLocalCameraCallback(std::function<void(StreamInfo&)> callback) = 0;
    /*  3 */ virtual int StopLocalPreview() = 0;
    /*  4 */ virtual int StartLocalPreviewTest(const StartLocalPreviewParam& param) = 0;
    /*  5 */ virtual int StopLocalPreviewTest() = 0;
    /*  6 */ virtual int MuteLocalVideo(bool mute) = 0;
    /*  7 */ virtual int SubscribeMillionAudio() = 0;
    /*  8 */ virtual int UnSubscribeMillionAudio() = 0;
    /*  9 */ virtual int StartRemoteView(const StartRemoteViewParam& param) = 0;
    /* 10 */ virtual int StopRemoteView(int userId, const char* streamId, int streamIdLength) = 0;
    /* 11 */ virtual int StopRemoteViewV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength) = 0;
    /* 12 */ virtual int ChangeVideoStream(int userId, const char* streamId, int streamIdLength,
                                           VideoStreamSubscribeModelType model, VideoStreamBitrateType bitrate) = 0;
    /* 13 */ virtual int ChangeVideoStreamV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength,
                                             VideoStreamSubscribeModelType model, VideoStreamBitrateType bitrate) = 0;
    /* 14 */ virtual int MuteRemoteVideo(int userId, const char* streamId, int streamIdLength, bool mute) = 0;
    /* 15 */ virtual int MuteRemoteVideoV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength, bool mute) = 0;
    /* 16 */ virtual int StartRemoteDesktopView(const StartRemoteViewParam& param) = 0;
    /* 17 */ virtual int StopRemoteDesktopView(int userId, const char* streamId, int streamIdLength) = 0;
    /* 18 */ virtual int StopRemoteDesktopViewV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength) = 0;
    /* 19 */ virtual int StartDesktopCapturePreview(const DesktopPreview& preview) = 0;
    /* 20 */ virtual int StopDesktopCapturePreview(DesktopPreview* previews, int count, std::function<void(int)> finish) = 0;
#ifdef KOVA_SDK_SERVICE_HOST_FORM
    /* 21 */ virtual int StartDesktopCaptureShare(int fps, int screenIndex, int64_t* excludedIds, int excludedCount,
                                                  const char* suffix, int suffixLength) = 0;
    /* 22 */ virtual int Reserved22() = 0;
    /* 23 */ virtual int StopDesktopCaptureShare() = 0;
#else
    /* 21 */ virtual int StartDesktopCaptureShare(const DesktopPreview& preview) = 0;
    /* 22 */ virtual int Reserved22() = 0;
    /* 23 */ virtual int StopDesktopCaptureShare(const DesktopPreview& preview) = 0;
#endif
    /* 24 */ virtual int SetVideoEncodingParam(int a, int b) = 0;
    /* 25 */ virtual int SetSDKConfigParam(const char* text, int length) = 0;
    /* 26 */ virtual int GetSDKStats(std::function<void(char* text, int length)> callback) = 0;
    /* 27 */ virtual int SetAudioAINoiseExEnable(bool enable) = 0;
    /* 28 */ virtual int GetScreenCaptureSources(std::function<void(CaptureInfo* list, int count)> callback) = 0;
    /* 29 */ virtual int Reserved29() = 0;
    /* 30 */ virtual int GetWindowCaptureSources(std::function<void(CaptureInfo* list, int count)> callback) = 0;
    /* 31 */ virtual int StartLocalAudio(int value) = 0;
    /* 32 */ virtual int StopLocalAudio() = 0;
    /* 33 */ virtual int StartLocalScreenAudio(int value) = 0;
    /* 34 */ virtual int StopLocalScreenAudio() = 0;
    /* 35 */ virtual int StartRecordingTest(std::function<void(int level)> callback, const char* text, int length) = 0;
    /* 36 */ virtual int StopRecordingTest() = 0;
    /* 37 */ virtual int StartPlayoutTest(const char* text, int length, std::function<void(int, int)> callback) = 0;
    /* 38 */ virtual int StopPlayoutTest() = 0;
    /* 39 */ virtual int MuteLocalAudio(bool mute) = 0;
    /* 40 */ virtual int StartRemoteAudio(int userId, const char* streamId, int streamIdLength) = 0;
    /* 41 */ virtual int StartRemoteAudioV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength) = 0;
    /* 42 */ virtual int StopRemoteAudio(int userId, const char* streamId, int streamIdLength) = 0;
    /* 43 */ virtual int StopRemoteAudioV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength) = 0;
    /* 44 */ virtual int MuteRemoteAudio(int userId, const char* streamId, int streamIdLength, bool mute) = 0;
    /* 45 */ virtual int MuteRemoteAudioV2(const char* userId, int userIdLength, const char* streamId, int streamIdLength, bool mute) = 0;
    /* 46 */ virtual int Init() = 0;
    /* 47 */ virtual int EnterRoom(const EnterRoomParam& param) = 0;
    /* 48 */ virtual int ExitRoom(std::function<void(int result)> callback) = 0;
    /* 49 */ virtual int SetApiListener(KOVAListener* listener) = 0;
    /* 50 */ virtual int SetApiListenerV2(KOVAListenerV2* listener) = 0;
    /* 51 */ virtual int SetEnv(int env) = 0;
    /* 52 */ virtual int SetApiUrl(const char* url, int length) = 0;
    /* 53 */ virtual int SetSDKConfigPath(const char* path, int length) = 0;
    /* 54 */ virtual int Reserved54() = 0;
    /* 55 */ virtual int SetAppName(const char* name, int length) = 0;
    /* 56 */ virtual int GetPlayoutSources(std::function<void(AdmInfo* list, int count)> callback) = 0;
    /* 57 */ virtual int SetPlayoutDevice(unsigned short index) = 0;
    /* 58 */ virtual int SetPlayoutDeviceByUID(const char* uid, int length) = 0;
    /* 59 */ virtual int GetRecordingSources(std::function<void(AdmInfo* list, int count)> callback) = 0;
    /* 60 */ virtual int SetRecordingDevice(unsigned short index) = 0;
    /* 61 */ virtual int SetRecordingDeviceByUID(const char* uid, int length) = 0;
    /* 62 */ virtual int GetCameraDevicesList(std::function<void(CaptureInfo* list, int count)> callback) = 0;
    /* 63 */ virtual int SetCurrentCameraDevice(int index) = 0;
    /* 64 */ virtual int SetCameraDeviceByUID(const char* uid, int length) = 0;
    /* 65 */ virtual int ChangeCameraByIndex(int index) = 0;
    /* 66 */ virtual int ChangeCameraByUID(const char* uid, int length) = 0;
    /* 67 */ virtual int SetSpeakerVolume(unsigned short volume) = 0;
    /* 68 */ virtual int SetMicrophoneVolume(unsigned short volume) = 0;
    /* 69 */ virtual int GetSpeakerVolume() = 0;
    /* 70 */ virtual int GetMicrophoneVolume() = 0;
    /* 71 */ virtual int ChangeNickName(int a, int b, const char* nickName, int length) = 0;
    /* 72 */ virtual int ChangeNickNameV2(const char* userId, int userIdLength, const char* nickName, int nickNameLength) = 0;
    /* 73 */ virtual int SubscribeDataStream(const char* text, int length) = 0;
    /* 74 */ virtual int UnsubscribeDataStream(const char* text, int length) = 0;
    /* 75 */ virtual int SendControlMessage(int userId, ControlType type, ControlContent* content) = 0;
    /* 76 */ virtual int SendControlMessageV2(const char* userId, int userIdLength, ControlType type, ControlContent* content) = 0;
    /* 77 */ virtual int SendChatMessage(const ChatMessage& message) = 0;
    /* 78 */ virtual int SetDebugLogEnable(bool enable) = 0;
    /* 79 */ virtual int SetDebugLogCallback(std::function<void(int level, char* text, int length)> callback) = 0;
    /* 80 */ virtual int PrintLog(const char* text) = 0;
    /* 81 */ virtual int ReportEventError(int code, const char* text, int length) = 0;
    /* 82 */ virtual int64_t FindWindowIdByTitle(const char* title, int length) = 0;
    /* 83 */ virtual int StartUploadRtcLogs(const char* text, int length, int value) = 0;
    /* 84 */ virtual int Reserved84() = 0;
    /* 85 */ virtual int GetSystemSleepState() = 0;
    /* 86 */ virtual int GenerateToken(char* appId, char* appKey, char* meetingId, char* userId, char* key,
                                       long long timestamp, char* tokenOut, int* tokenLength) = 0;
    /* 87 */ virtual int SetExternalDeviceStateCallback(std::function<void(bool state)> callback) = 0;
    /* 88 */ virtual int InstallAudioDrive(const char* packagePath, const char* driverName) = 0;
    /* 89 */ virtual bool HasMacVirtualDevice() = 0;
    /* 90 */ virtual int Reserved90() = 0;
    /* 91 */ virtual const char* GetDeviceID() = 0;

protected:
    ~IKOV_API() = default;
};

// First listener interface: users identified by 32-bit integers.
class KOVAListener {
public:
    using User = IKOV_API::User;
    /*  0 */ virtual void onFirstVideoFrame(int userId, const char* streamId, int streamIdLength) = 0;
    /*  1 */ virtual void onError(int code, const char* message, int messageLength) = 0;
    /*  2 */ virtual void onErrorV2(int code, const char* a, int aLength, const char* b, int bLength) = 0;
    /*  3 */ virtual void onEnterRoom(User* users, int count) = 0;
    /*  4 */ virtual void onEnterRoomSuccess(const char* a, int aLength) = 0;
    /*  5 */ virtual void onRemoteUserEnterRoom(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /*  6 */ virtual void onConnected() = 0;
    /*  7 */ virtual void onConnectLost() = 0;
    /*  8 */ virtual void onConnectRecover() = 0;
    /*  9 */ virtual void onNetTypeChange(int type) = 0;
    /* 10 */ virtual void onSignalWorkWeak() = 0;
    /* 11 */ virtual void onUserDesktopAvailable(int userId, const char* b, int bLength, const char* c, int cLength, bool available) = 0;
    /* 12 */ virtual void onRemoteUserLeaveRoom(int userId, int reason) = 0;
    /* 13 */ virtual void onUserVideoAvailable(int userId, const char* b, int bLength, const char* c, int cLength, bool available) = 0;
    /* 14 */ virtual void onUserAudioAvailable(int userId, const char* b, int bLength, bool available) = 0;
    /* 15 */ virtual void onRemoteAudioActived(const char* a, int aLength) = 0;
    /* 16 */ virtual void onPauseConsumer(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 17 */ virtual void onResumeConsumer(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 18 */ virtual void onUserUpdateNickName(int a, int b, const char* nickName, int nickNameLength) = 0;
    /* 19 */ virtual void onUserAudioVolumes(const char* a, int aLength) = 0;
    /* 20 */ virtual void onMixStream(const char* a, int aLength) = 0;
    /* 21 */ virtual void onUpdateMixStream(const char* a, int aLength) = 0;
    /* 22 */ virtual void onUserMessageReceived(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 23 */ virtual void onUserRemoved(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 24 */ virtual void onAudioMuteToRoom(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 25 */ virtual void onAudioMuteToPeer(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 26 */ virtual void onVideoCloseToRoom(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 27 */ virtual void onVideoCloseToPeer(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 28 */ virtual void onForbiddenChatToRoom(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 29 */ virtual void onUnForbiddenChatToRoom(int userId, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 30 */ virtual void onCustomSignalToRoom(int userId, const char* b, int bLength, const char* c, int cLength, const char* d, int dLength) = 0;
    /* 31 */ virtual void onCustomSignalToPeer(int userId, const char* b, int bLength, const char* c, int cLength, const char* d, int dLength) = 0;
    /* 32 */ virtual void onUserBroadcastMessage(int userId, const char* b, int bLength) = 0;
    /* 33 */ virtual void onUserSendMessageToPeer(int userId, const char* b, int bLength) = 0;
    /* 34 */ virtual void onStat(const char* a, int aLength) = 0;
    /* 35 */ virtual void onPublishStream(int a, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 36 */ virtual void onDataStreamAvailable(const char* a, int aLength, const char* b, int bLength, bool available) = 0;
    /* 37 */ virtual void onSubscrbeDataStreamSuccess(const char* a, int aLength) = 0;
    /* 38 */ virtual void OnDataStreamMessage(const char* a, int aLength, unsigned char* bytes, unsigned long size, bool binary) = 0;
    /* 39 */ virtual void OnUploadRtcLogsProgress(float progress) = 0;
    /* 40 */ virtual void OnUploadRtcLogsFinish(int result) = 0;
    /* 41 */ virtual void onAudioDeviceChange() = 0;
    /* 42 */ virtual void onVideoCaptureDeviceChange() = 0;

protected:
    ~KOVAListener() = default;
};

// Second listener interface: users identified by strings.
class KOVAListenerV2 {
public:
    using User = IKOV_API::User;
    /*  0 */ virtual void onFirstVideoFrame(const char* userId, int userIdLength, const char* streamId, int streamIdLength) = 0;
    /*  1 */ virtual void onError(int code, const char* message, int messageLength) = 0;
    /*  2 */ virtual void onErrorV2(int code, const char* a, int aLength, const char* b, int bLength) = 0;
    /*  3 */ virtual void onEnterRoom(User* users, int count) = 0;
    /*  4 */ virtual void onEnterRoomSuccess(const char* a, int aLength) = 0;
    /*  5 */ virtual void onRemoteUserEnterRoom(const char* userId, int userIdLength, const char* b, int bLength) = 0;
    /*  6 */ virtual void onConnected() = 0;
    /*  7 */ virtual void onConnectLost() = 0;
    /*  8 */ virtual void onConnectRecover() = 0;
    /*  9 */ virtual void onNetTypeChange(int type) = 0;
    /* 10 */ virtual void onSignalWorkWeak() = 0;
    /* 11 */ virtual void onUserDesktopAvailable(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength, bool available) = 0;
    /* 12 */ virtual void onRemoteUserLeaveRoom(const char* userId, int userIdLength, int reason) = 0;
    /* 13 */ virtual void onUserVideoAvailable(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength, bool available) = 0;
    /* 14 */ virtual void onUserAudioAvailable(const char* userId, int userIdLength, const char* b, int bLength, bool available) = 0;
    /* 15 */ virtual void onRemoteAudioActived(const char* a, int aLength) = 0;
    /* 16 */ virtual void onPauseConsumer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 17 */ virtual void onResumeConsumer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 18 */ virtual void onUserUpdateNickName(const char* userId, int userIdLength, const char* nickName, int nickNameLength) = 0;
    /* 19 */ virtual void onUserAudioVolumes(const char* a, int aLength) = 0;
    /* 20 */ virtual void onMixStream(const char* a, int aLength) = 0;
    /* 21 */ virtual void onUpdateMixStream(const char* a, int aLength) = 0;
    /* 22 */ virtual void onUserMessageReceived(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 23 */ virtual void onUserRemoved(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 24 */ virtual void onAudioMuteToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 25 */ virtual void onAudioMuteToPeer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 26 */ virtual void onVideoCloseToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 27 */ virtual void onVideoCloseToPeer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 28 */ virtual void onForbiddenChatToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 29 */ virtual void onUnForbiddenChatToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 30 */ virtual void onCustomSignalToRoom(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength, const char* d, int dLength) = 0;
    /* 31 */ virtual void onCustomSignalToPeer(const char* userId, int userIdLength, const char* b, int bLength, const char* c, int cLength, const char* d, int dLength) = 0;
    /* 32 */ virtual void onUserBroadcastMessage(const char* userId, int userIdLength, const char* b, int bLength) = 0;
    /* 33 */ virtual void onUserSendMessageToPeer(const char* userId, int userIdLength, const char* b, int bLength) = 0;
    /* 34 */ virtual void onStat(const char* a, int aLength) = 0;
    /* 35 */ virtual void onPublishStream(int a, const char* b, int bLength, const char* c, int cLength) = 0;
    /* 36 */ virtual void onDataStreamAvailable(const char* a, int aLength, const char* b, int bLength, bool available) = 0;
    /* 37 */ virtual void onSubscrbeDataStreamSuccess(const char* a, int aLength) = 0;
    /* 38 */ virtual void OnDataStreamMessage(const char* a, int aLength, unsigned char* bytes, unsigned long size, bool binary) = 0;
    /* 39 */ virtual void OnUploadRtcLogsProgress(float progress) = 0;
    /* 40 */ virtual void OnUploadRtcLogsFinish(int result) = 0;
    /* 41 */ virtual void onAudioDeviceChange() = 0;
    /* 42 */ virtual void onVideoCaptureDeviceChange() = 0;

protected:
    ~KOVAListenerV2() = default;
};

}  // namespace kovawin

namespace saimanager {

// The AI video-effects library's manager: six operations in slot order, no virtual destructor
// (the library destroys it through DestorySAIManager).
class ISAIManager {
public:
    enum OperationResult : int32_t { kSuccess = 0 };
    using StreamInfo = kovawin::IKOV_API::StreamInfo;

    /* 0 */ virtual OperationResult init(int n, void* data, int size, char* text, int textLength,
                                         std::function<void(OperationResult)> result) = 0;
    /* 1 */ virtual OperationResult initByAppId(int n, const char* appId, std::function<void(OperationResult)> result) = 0;
    /* 2 */ virtual OperationResult enableFeature(int n, char* text, int textLength,
                                                  std::function<void(OperationResult)> result) = 0;
    /* 3 */ virtual OperationResult processVideoFrame(StreamInfo* frame) = 0;
    /* 4 */ virtual OperationResult disableFeature() = 0;
    /* 5 */ virtual OperationResult unInit() = 0;

protected:
    ~ISAIManager() = default;
};

}  // namespace saimanager
}  // namespace solvane

extern "C" {
// The SDK's C entry points.
solvane::kovawin::IKOV_API* CreateKOVAWinClient();
void DestroyKOVAWinClient();
void EnableKOVASDKCrashDump();
int startKovaLogUpload(int argc, char** argv);

// The AI-effects library's C entry points.
solvane::saimanager::ISAIManager* CreateSAIManager();
void DestorySAIManager();
const char* GetSAIManagerVersion();
}

using PFN_CreateKOVAWinClient = solvane::kovawin::IKOV_API* (*)();
using PFN_DestroyKOVAWinClient = void (*)();
using PFN_EnableKOVASDKCrashDump = void (*)();
using PFN_startKovaLogUpload = int (*)(int, char**);
using PFN_CreateSAIManager = solvane::saimanager::ISAIManager* (*)();
using PFN_DestorySAIManager = void (*)();
using PFN_GetSAIManagerVersion = const char* (*)();

// ---- layout checks (x86-64) ----
#if defined(__x86_64__) || defined(_M_X64)
// offsetof on records that hold std::function members is supported by GCC and Clang.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
namespace kova_layout_check {
using A = solvane::kovawin::IKOV_API;

static_assert(sizeof(A::StreamInfo) == 80, "StreamInfo size");
static_assert(offsetof(A::StreamInfo, streamKey) == 0 && offsetof(A::StreamInfo, streamKeyLength) == 8, "StreamInfo key");
static_assert(offsetof(A::StreamInfo, width) == 12 && offsetof(A::StreamInfo, height) == 16, "StreamInfo size fields");
static_assert(offsetof(A::StreamInfo, rotation) == 20, "StreamInfo rotation");
static_assert(offsetof(A::StreamInfo, dataY) == 24 && offsetof(A::StreamInfo, strideY) == 32, "StreamInfo Y");
static_assert(offsetof(A::StreamInfo, dataU) == 40 && offsetof(A::StreamInfo, strideU) == 48, "StreamInfo U");
static_assert(offsetof(A::StreamInfo, dataV) == 56 && offsetof(A::StreamInfo, strideV) == 64, "StreamInfo V");
static_assert(offsetof(A::StreamInfo, timestamp) == 72, "StreamInfo timestamp");

static_assert(sizeof(A::CaptureInfo) == 48, "CaptureInfo size");
static_assert(offsetof(A::CaptureInfo, id) == 0 && offsetof(A::CaptureInfo, reserved) == 8, "CaptureInfo id");
static_assert(offsetof(A::CaptureInfo, uniqueId) == 16 && offsetof(A::CaptureInfo, uniqueIdLength) == 24, "CaptureInfo uniqueId");
static_assert(offsetof(A::CaptureInfo, name) == 32 && offsetof(A::CaptureInfo, nameLength) == 40, "CaptureInfo name");

static_assert(sizeof(A::AdmInfo) == 40, "AdmInfo size");
static_assert(offsetof(A::AdmInfo, id) == 0, "AdmInfo id");
static_assert(offsetof(A::AdmInfo, name) == 8 && offsetof(A::AdmInfo, nameLength) == 16, "AdmInfo name");
static_assert(offsetof(A::AdmInfo, uniqueId) == 24 && offsetof(A::AdmInfo, uniqueIdLength) == 32, "AdmInfo uniqueId");

static_assert(sizeof(A::User) == 32, "User size");
static_assert(offsetof(A::User, nickName) == 0 && offsetof(A::User, nickNameLength) == 8, "User nickName");
static_assert(offsetof(A::User, userId) == 12, "User userId");
static_assert(offsetof(A::User, userIdStr) == 16 && offsetof(A::User, userIdStrLength) == 24, "User userIdStr");

static_assert(sizeof(A::EnterRoomParam) == 208, "EnterRoomParam size");
static_assert(offsetof(A::EnterRoomParam, roomId) == 0, "EnterRoomParam roomId");
static_assert(offsetof(A::EnterRoomParam, userRoomId) == 8 && offsetof(A::EnterRoomParam, userRoomIdLength) == 16, "userRoomId");
static_assert(offsetof(A::EnterRoomParam, roomType) == 20, "roomType");
static_assert(offsetof(A::EnterRoomParam, sdkVersion) == 24 && offsetof(A::EnterRoomParam, sdkVersionLength) == 32, "sdkVersion");
static_assert(offsetof(A::EnterRoomParam, nickName) == 40 && offsetof(A::EnterRoomParam, nickNameLength) == 48, "nickName");
static_assert(offsetof(A::EnterRoomParam, token) == 56 && offsetof(A::EnterRoomParam, tokenLength) == 64, "token");
static_assert(offsetof(A::EnterRoomParam, appId) == 72 && offsetof(A::EnterRoomParam, appIdLength) == 80, "appId");
static_assert(offsetof(A::EnterRoomParam, userId) == 88 && offsetof(A::EnterRoomParam, userIdLength) == 96, "userId");
static_assert(offsetof(A::EnterRoomParam, nonce) == 104 && offsetof(A::EnterRoomParam, nonceLength) == 112, "nonce");
static_assert(offsetof(A::EnterRoomParam, timestamp) == 120, "timestamp");
static_assert(offsetof(A::EnterRoomParam, deviceId) == 128 && offsetof(A::EnterRoomParam, deviceIdLength) == 136, "deviceId");
static_assert(offsetof(A::EnterRoomParam, deviceName) == 144 && offsetof(A::EnterRoomParam, deviceNameLength) == 152, "deviceName");
static_assert(offsetof(A::EnterRoomParam, deviceType) == 160 && offsetof(A::EnterRoomParam, deviceTypeLength) == 168, "deviceType");
static_assert(offsetof(A::EnterRoomParam, deviceMode) == 176 && offsetof(A::EnterRoomParam, deviceModeLength) == 184, "deviceMode");
static_assert(offsetof(A::EnterRoomParam, deviceVersion) == 192 && offsetof(A::EnterRoomParam, deviceVersionLength) == 200, "deviceVersion");

static_assert(offsetof(A::StartLocalPreviewParam, context) == 0, "StartLocalPreviewParam context");
static_assert(offsetof(A::StartLocalPreviewParam, width) == 8 && offsetof(A::StartLocalPreviewParam, height) == 12, "width/height");
static_assert(offsetof(A::StartLocalPreviewParam, isMultiRate) == 16 && offsetof(A::StartLocalPreviewParam, reservedFlag) == 17, "flags");
static_assert(offsetof(A::StartLocalPreviewParam, reservedPointer) == 24, "reservedPointer");
static_assert(offsetof(A::StartLocalPreviewParam, frameCallback) == 32, "frameCallback");
static_assert(offsetof(A::StartLocalPreviewParam, captureCallback) == 80, "captureCallback");
static_assert(offsetof(A::StartLocalPreviewParam, highPriority) == 128, "highPriority");
static_assert(offsetof(A::StartLocalPreviewParam, resolutionMode) == 132, "resolutionMode");
static_assert(offsetof(A::StartLocalPreviewParam, isMirror) == 136, "isMirror");

static_assert(sizeof(A::StartRemoteViewParam) == 176, "StartRemoteViewParam size");
static_assert(offsetof(A::StartRemoteViewParam, context) == 0 && offsetof(A::StartRemoteViewParam, userId) == 8, "userId");
static_assert(offsetof(A::StartRemoteViewParam, userIdStr) == 16 && offsetof(A::StartRemoteViewParam, userIdStrLength) == 24, "userIdStr");
static_assert(offsetof(A::StartRemoteViewParam, streamId) == 32 && offsetof(A::StartRemoteViewParam, streamIdLength) == 40, "streamId");
static_assert(offsetof(A::StartRemoteViewParam, width) == 44 && offsetof(A::StartRemoteViewParam, height) == 48, "width/height");
static_assert(offsetof(A::StartRemoteViewParam, reserved) == 56, "reserved");
static_assert(offsetof(A::StartRemoteViewParam, streamSubscribeModelType) == 64, "model");
static_assert(offsetof(A::StartRemoteViewParam, streamBitrateType) == 68, "bitrate");
static_assert(offsetof(A::StartRemoteViewParam, firstCallback) == 80, "firstCallback");
static_assert(offsetof(A::StartRemoteViewParam, frameCallback) == 128, "frameCallback");

static_assert(sizeof(A::DesktopPreview) == 128, "DesktopPreview size");
static_assert(offsetof(A::DesktopPreview, context) == 0 && offsetof(A::DesktopPreview, captureInfo) == 8, "captureInfo");
static_assert(offsetof(A::DesktopPreview, desktopType) == 16 && offsetof(A::DesktopPreview, width) == 20, "desktopType/width");
static_assert(offsetof(A::DesktopPreview, height) == 24 && offsetof(A::DesktopPreview, isMultiRate) == 28, "height/multi-rate");
static_assert(offsetof(A::DesktopPreview, thumbnailType) == 32, "thumbnailType");
static_assert(offsetof(A::DesktopPreview, frameCallback) == 48, "frameCallback");
static_assert(offsetof(A::DesktopPreview, highPriority) == 96, "highPriority");
static_assert(offsetof(A::DesktopPreview, excludedWindowIds) == 104, "excludedWindowIds");
static_assert(offsetof(A::DesktopPreview, excludedWindowCount) == 112, "excludedWindowCount");

static_assert(sizeof(A::ControlContent) == 32, "ControlContent size");
static_assert(offsetof(A::ControlContent, event) == 0 && offsetof(A::ControlContent, eventLength) == 8, "event");
static_assert(offsetof(A::ControlContent, extraData) == 16 && offsetof(A::ControlContent, extraDataLength) == 24, "extraData");

static_assert(sizeof(A::AuthInfo) == 104, "AuthInfo size");
static_assert(offsetof(A::AuthInfo, sdkVersion) == 0 && offsetof(A::AuthInfo, sdkVersionLength) == 8, "sdkVersion");
static_assert(offsetof(A::AuthInfo, nickName) == 16 && offsetof(A::AuthInfo, token) == 32, "nickName/token");
static_assert(offsetof(A::AuthInfo, appId) == 48 && offsetof(A::AuthInfo, userId) == 64, "appId/userId");
static_assert(offsetof(A::AuthInfo, nonce) == 80 && offsetof(A::AuthInfo, nonceLength) == 88, "nonce");
static_assert(offsetof(A::AuthInfo, timestamp) == 96, "timestamp");

static_assert(sizeof(A::ChatMessage) == 144, "ChatMessage size");
static_assert(offsetof(A::ChatMessage, userId) == 0, "userId");
static_assert(offsetof(A::ChatMessage, userIdStr) == 8 && offsetof(A::ChatMessage, userIdStrLength) == 16, "userIdStr");
static_assert(offsetof(A::ChatMessage, message) == 24 && offsetof(A::ChatMessage, messageLength) == 32, "message");
static_assert(offsetof(A::ChatMessage, sentCallback) == 48 && offsetof(A::ChatMessage, resultCallback) == 96, "callbacks");
}  // namespace kova_layout_check
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
#endif

#endif  // KOVA_API_I_H

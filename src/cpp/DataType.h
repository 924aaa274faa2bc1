// The addon's own records: what crosses from an SDK (or library) thread to the JavaScript thread,
// and the parameter records that ParseParam fills from JavaScript objects.
#ifndef KOVA_DATATYPE_H
#define KOVA_DATATYPE_H

#include <node_api.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "JsCrossing.h"

// Tag of every result that crosses to a JavaScript callback, and key of the callback registry.
enum EngineCBType : int32_t {
    CB_STREAM = 1,
    CB_PLAYOUT_SOURCES = 2,
    CB_RECORDING_SOURCES = 3,
    CB_EXIT_ROOM = 4,
    CB_DESKTOP_PREVIEW_FINISH = 5,
    CB_CAMERA_DEVICES = 6,
    CB_SCREEN_SOURCES = 7,
    CB_WINDOW_SOURCES = 8,
    CB_DEBUG_LOG = 9,
    CB_SDK_STATS = 10,
    CB_RECORDING_TEST = 11,
    CB_PLAYOUT_TEST = 12,
    CB_EXTERNAL_DEVICE_STATE = 13,
    CB_CTR_MSG = 14,
    CB_CTR_STATUS = 15,
};

// One-shot types: each registration answers exactly one result.
inline bool IsOneShotType(int type) {
    return (type >= CB_PLAYOUT_SOURCES && type <= CB_WINDOW_SOURCES) || type == CB_SDK_STATS;
}

// One listener event's arguments (also a debug-log line or a statistics text).
struct ListenerEventData : JsCrossing::Record {
    int32_t iParam[2] = {0, 0};
    bool bParam = false;
    std::string strParam[4];
    // The event's name, equal to its registration key (a static string; "" for debug-log lines and
    // statistics texts).
    const char* eventName = "";
    // What follows the plain arguments: onEnterRoom's users array, or onDataStreamMessage's data.
    enum Payload : uint8_t { kArgs, kUsers, kDataMessage } payload = kArgs;
    float fParam = 0.0f;
    int32_t iCount = 0;
    int32_t strCount = 0;
    int32_t bCount = 0;
    int32_t dataCount = 0;
    int32_t fCount = 0;
    // onEnterRoom's users, or onDataStreamMessage's bytes.
    struct EnterRoomUser {
        std::string nickName;
        int32_t userId = 0;
        std::string userIdV2;
    };
    std::vector<EnterRoomUser> users;
    std::vector<uint8_t> bytes;
    int64_t dataLen = 0;
};

// A device or capture source copied out of an SDK list.
struct DeviceCopy {
    int32_t id = -1;
    std::string uniqueId;
    std::string name;
};

// A result on its way to the JavaScript thread; owned by the crossing that carries it.
struct CallbackMessage : JsCrossing::Record {
    EngineCBType type = CB_STREAM;
    int32_t count = 0;                       // element count, or the plain value of type 15
    std::string text;                        // stream key (1) or controller message (14)
    std::vector<DeviceCopy> devices;         // types 2, 3, 6, 7, 8 (empty: no list)
    bool hasList = false;                    // the SDK handed a list with at least one entry
    std::vector<int32_t> values;             // types 4, 5, 11 (one value), 12 (two values)
    bool state = false;                      // type 13
    std::unique_ptr<ListenerEventData> event;  // types 9 and 10
    void* user = nullptr;                    // types 14 and 15: the controller's user pointer (not owned)
    // A one-shot answer: its registration was taken out of the registry when it was posted and is
    // closed after the JavaScript call.
    bool oneShot = false;
};

// ---- the addon's own parameter records, filled from JavaScript objects by ParseParam ----

// Entering a room; each field is named after the JavaScript property that fills it.
struct MeetingParam {
    int32_t roomId = 0;
    int32_t roomType = 0;
    std::string userRoomId;
    std::string sdkVersion;
    std::string nickName;
    std::string token;
    std::string appId;
    std::string userId;
    std::string nonce;
    int64_t timestamp = 0;
    std::string deviceId;
    std::string deviceName;
    std::string deviceType;
    std::string deviceMode;
    std::string deviceVersion;
};

// A remote camera or desktop view. The user is meant by `userIdV2` when it is set, else by `userId`.
struct RemoteViewParam {
    int32_t userId = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t streamSubscribeModelType = 1;
    int32_t streamBitrateType = 0;
    std::string streamId;
    std::string userIdV2;
};

// A desktop-capture source with its preview settings. The record owns its excluded-window array
// (new[]); whoever takes the array over sets the pointer to null.
struct DesktopCapturePreviewParam {
    int32_t id = 0;
    std::string name;
    std::string uniqueId;
    int32_t desktopType = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t thumbnailType = 1;
    int32_t highPriority = 0;
    bool isMultiRate = false;
    int64_t* excludedWindowIds = nullptr;
    int32_t excludedWindowCount = 0;

    DesktopCapturePreviewParam() = default;
    ~DesktopCapturePreviewParam() { delete[] excludedWindowIds; }
    DesktopCapturePreviewParam(const DesktopCapturePreviewParam&) = delete;
    DesktopCapturePreviewParam& operator=(const DesktopCapturePreviewParam&) = delete;
};

// A chat message (the SDK's record of the same name carries it as pointers and lengths).
struct ChatMessage {
    int32_t i_userId = 0;
    std::string userId;
    std::string message;
};

// The inputs of a locally generated token; strings keep at most 255 bytes and a terminating zero.
struct TokenParam {
    char meetingId[256] = {};
    char userId[256] = {};
    int64_t timestamp = 0;
    char appKey[256] = {};
    char appId[256] = {};
    napi_value callback = nullptr;
};

#endif  // KOVA_DATATYPE_H

#include "Json.h"

#include <cstring>

namespace kova_standin {

namespace {

constexpr int64_t kExactJsonInteger = int64_t{1} << 53;

bool ReadableLength(int64_t length) { return length >= 0 && length <= kMaxReadBytes; }

// A string field of a record: the string and its length field, under the field's name.
void PutPair(Json& object, const char* name, const char* text, int32_t length) {
    object[name] = PairString(text, length);
    object[std::string(name) + "Length"] = length;
}

}  // namespace

Json Latin1(const char* bytes, size_t size) {
    std::string utf8;
    utf8.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            utf8.push_back(static_cast<char>(byte));
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}

Json PairString(const char* text, int64_t length) {
    if (text == nullptr) return nullptr;
    if (!ReadableLength(length)) return "";
    return Latin1(text, static_cast<size_t>(length));
}

Json ZeroTerminated(const char* text) {
    if (text == nullptr) return nullptr;
    return Latin1(text, strnlen(text, kMaxReadBytes));
}

Json Int64(int64_t value) {
    if (value > kExactJsonInteger || value < -kExactJsonInteger) return std::to_string(value);
    return value;
}

Json PointerFlag(const void* pointer) { return pointer == nullptr ? Json(nullptr) : Json("set"); }

Json Int64Array(const int64_t* values, int64_t count) {
    if (values == nullptr) return nullptr;
    Json array = Json::array();
    if (count < 1 || count > kMaxRecords) return array;
    for (int64_t i = 0; i < count; ++i) array.push_back(Int64(values[i]));
    return array;
}

Json ToJson(const Api::CaptureInfo* info) {
    if (info == nullptr) return nullptr;
    Json object = Json::object();
    object["id"] = info->id;
    object["reserved"] = Int64(info->reserved);
    PutPair(object, "uniqueId", info->uniqueId, info->uniqueIdLength);
    PutPair(object, "name", info->name, info->nameLength);
    return object;
}

Json ToJson(Api::ControlContent* content) {
    if (content == nullptr) return nullptr;
    Json object = Json::object();
    PutPair(object, "event", content->event, content->eventLength);
    PutPair(object, "extraData", content->extraData, content->extraDataLength);
    return object;
}

Json ToJson(const Api::StartLocalPreviewParam& param) {
    Json object = Json::object();
    object["context"] = PointerFlag(param.context);
    object["width"] = param.width;
    object["height"] = param.height;
    object["isMultiRate"] = param.isMultiRate;
    object["reservedFlag"] = param.reservedFlag;
    object["reservedPointer"] = PointerFlag(param.reservedPointer);
    object["frameCallback"] = ToJson(param.frameCallback);
    object["captureCallback"] = ToJson(param.captureCallback);
    object["highPriority"] = param.highPriority;
    object["resolutionMode"] = param.resolutionMode;
    object["isMirror"] = param.isMirror;
    return object;
}

Json ToJson(const Api::StartRemoteViewParam& param) {
    Json object = Json::object();
    object["context"] = PointerFlag(param.context);
    object["userId"] = param.userId;
    PutPair(object, "userIdStr", param.userIdStr, param.userIdStrLength);
    PutPair(object, "streamId", param.streamId, param.streamIdLength);
    object["width"] = param.width;
    object["height"] = param.height;
    object["reserved"] = Int64(param.reserved);
    object["streamSubscribeModelType"] = static_cast<int32_t>(param.streamSubscribeModelType);
    object["streamBitrateType"] = static_cast<int32_t>(param.streamBitrateType);
    object["reserved2"] = Int64(param.reserved2);
    object["firstCallback"] = ToJson(param.firstCallback);
    object["frameCallback"] = ToJson(param.frameCallback);
    return object;
}

Json ToJson(const Api::DesktopPreview& preview) {
    Json object = Json::object();
    object["context"] = PointerFlag(preview.context);
    object["captureInfo"] = ToJson(preview.captureInfo);
    object["desktopType"] = preview.desktopType;
    object["width"] = preview.width;
    object["height"] = preview.height;
    object["isMultiRate"] = preview.isMultiRate;
    object["thumbnailType"] = preview.thumbnailType;
    object["frameCallback"] = ToJson(preview.frameCallback);
    object["highPriority"] = preview.highPriority;
    object["excludedWindowIds"] = Int64Array(preview.excludedWindowIds, preview.excludedWindowCount);
    object["excludedWindowCount"] = preview.excludedWindowCount;
    object["reserved"] = Int64(preview.reserved);
    return object;
}

Json ToJson(const Api::EnterRoomParam& param) {
    Json object = Json::object();
    object["roomId"] = param.roomId;
    PutPair(object, "userRoomId", param.userRoomId, param.userRoomIdLength);
    object["roomType"] = param.roomType;
    PutPair(object, "sdkVersion", param.sdkVersion, param.sdkVersionLength);
    PutPair(object, "nickName", param.nickName, param.nickNameLength);
    PutPair(object, "token", param.token, param.tokenLength);
    PutPair(object, "appId", param.appId, param.appIdLength);
    PutPair(object, "userId", param.userId, param.userIdLength);
    PutPair(object, "nonce", param.nonce, param.nonceLength);
    object["timestamp"] = Int64(param.timestamp);
    PutPair(object, "deviceId", param.deviceId, param.deviceIdLength);
    PutPair(object, "deviceName", param.deviceName, param.deviceNameLength);
    PutPair(object, "deviceType", param.deviceType, param.deviceTypeLength);
    PutPair(object, "deviceMode", param.deviceMode, param.deviceModeLength);
    PutPair(object, "deviceVersion", param.deviceVersion, param.deviceVersionLength);
    return object;
}

Json ToJson(const Api::ChatMessage& message) {
    Json object = Json::object();
    object["userId"] = message.userId;
    PutPair(object, "userIdStr", message.userIdStr, message.userIdStrLength);
    PutPair(object, "message", message.message, message.messageLength);
    object["sentCallback"] = ToJson(message.sentCallback);
    object["resultCallback"] = ToJson(message.resultCallback);
    return object;
}

}  // namespace kova_standin

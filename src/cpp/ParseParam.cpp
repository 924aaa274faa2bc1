#include "ParseParam.h"

#include <algorithm>
#include <cstring>

#include "general.h"

using IKOV_API = solvane::kovawin::IKOV_API;

namespace {

enum class Treat { Optional, Required, Forced };

// What a conversion made of a property value.
enum class Converted { Stored, WrongType, Failed };

constexpr unsigned TypeBit(napi_valuetype type) { return 1u << static_cast<unsigned>(type); }

// Raises a RangeError unless an exception is already pending.
void ThrowRange(napi_env env, const char* message) {
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending) napi_throw_range_error(env, nullptr, message);
}

// Reads the properties of one JavaScript object in the order a parser asks for them. Every read
// answers whether the parser goes on: false after a required property of another type (quietly) or
// after a failed Node-API call (raised through the call check).
class PropertyReader {
public:
    PropertyReader(napi_env env, napi_value object) : m_env(env), m_object(object) {}

    napi_env Env() const { return m_env; }

    // The one property read: key string, property, type; then `convert(value, type)` when the type is
    // one of `expected` (any type when forced).
    template <typename Convert>
    bool Read(const char* name, Treat treat, unsigned expected, Convert&& convert) {
        napi_value key = nullptr;
        napi_value value = nullptr;
        napi_valuetype type = napi_undefined;
        if (!Ok(napi_create_string_utf8(m_env, name, NAPI_AUTO_LENGTH, &key)) ||
            !Ok(napi_get_property(m_env, m_object, key, &value)) || !Ok(napi_typeof(m_env, value, &type))) {
            return false;
        }
        if (treat != Treat::Forced && (TypeBit(type) & expected) == 0) return treat == Treat::Optional;
        switch (convert(value, type)) {
            case Converted::Stored:
                return true;
            case Converted::WrongType:
                return treat == Treat::Optional;
            case Converted::Failed:
                break;
        }
        return false;
    }

    bool Int32(const char* name, Treat treat, int32_t& out) {
        return Read(name, treat, TypeBit(napi_number), [&](napi_value v, napi_valuetype) { return ToInt32(v, out); });
    }
    bool Int64(const char* name, Treat treat, int64_t& out) {
        return Read(name, treat, TypeBit(napi_number),
                    [&](napi_value v, napi_valuetype) { return Status(napi_get_value_int64(m_env, v, &out)); });
    }
    bool Bool(const char* name, Treat treat, bool& out) {
        return Read(name, treat, TypeBit(napi_boolean),
                    [&](napi_value v, napi_valuetype) { return Status(napi_get_value_bool(m_env, v, &out)); });
    }
    bool String(const char* name, Treat treat, std::string& out) {
        return Read(name, treat, TypeBit(napi_string), [&](napi_value v, napi_valuetype) { return ToString(v, out); });
    }
    // A string copied into a zero-filled buffer of `size` bytes (at most size - 1 bytes kept); `text`,
    // when given, is pointed at the buffer once the copy is made.
    bool Text(const char* name, Treat treat, char* buffer, size_t size, int32_t& length, const char** text = nullptr) {
        return Read(name, treat, TypeBit(napi_string), [&](napi_value v, napi_valuetype) {
            size_t copied = 0;
            Converted result = Status(napi_get_value_string_utf8(m_env, v, buffer, size, &copied));
            if (result != Converted::Stored) return result;
            length = static_cast<int32_t>(copied);
            if (text != nullptr) *text = buffer;
            return result;
        });
    }
    // The JavaScript value itself, when it has `type` (any value when forced).
    bool Value(const char* name, Treat treat, napi_valuetype type, napi_value& out) {
        return Read(name, treat, TypeBit(type), [&](napi_value v, napi_valuetype) {
            out = v;
            return Converted::Stored;
        });
    }
    // An array, handed to `convert(array)`; any other value is of the wrong type.
    template <typename Convert>
    bool Array(const char* name, Treat treat, Convert&& convert) {
        return Read(name, treat, TypeBit(napi_object), [&](napi_value v, napi_valuetype) {
            bool isArray = false;
            if (Status(napi_is_array(m_env, v, &isArray)) != Converted::Stored) return Converted::Failed;
            return isArray ? convert(v) : Converted::WrongType;
        });
    }

    Converted Status(napi_status status) {
        if (status == napi_ok) return Converted::Stored;
        ThrowLastNapiError(m_env);
        return Converted::Failed;
    }
    bool Ok(napi_status status) { return Status(status) == Converted::Stored; }

    Converted ToInt32(napi_value v, int32_t& out) { return Status(napi_get_value_int32(m_env, v, &out)); }
    Converted ToString(napi_value v, std::string& out) {
        ArgStr<256> text;
        if (!text.Read(m_env, v)) return Converted::Failed;
        out.assign(text.buffer, text.length);
        return Converted::Stored;
    }

private:
    napi_env m_env;
    napi_value m_object;
};

char* CopyBytes(const std::string& text) {
    auto* bytes = new char[text.size()];
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    return bytes;
}

// Reads "excludedWindowIds": an int64 entry per element, all zero until read; an element that is not
// a number fails inside Node-API and leaves the later entries at 0.
Converted ReadExcludedWindows(PropertyReader& reader, napi_value array, DesktopCapturePreviewParam& out) {
    napi_env env = reader.Env();
    uint32_t length = 0;
    if (!reader.Ok(napi_get_array_length(env, array, &length))) return Converted::Failed;
    if (length > ParseParam::kMaxExcludedWindows) {
        ThrowRange(env, "excludedWindowIds has too many entries");
        return Converted::Failed;
    }
    delete[] out.excludedWindowIds;
    out.excludedWindowIds = new int64_t[length]();
    out.excludedWindowCount = static_cast<int32_t>(length);
    for (uint32_t i = 0; i < length; ++i) {
        napi_value element = nullptr;
        if (!reader.Ok(napi_get_element(env, array, i, &element)) ||
            !reader.Ok(napi_get_value_int64(env, element, &out.excludedWindowIds[i]))) {
            return Converted::Failed;
        }
    }
    return Converted::Stored;
}

}  // namespace

napi_value ParseParam::ParseEnterRoomParam(napi_env env, const napi_value& object, MeetingParam& out) {
    PropertyReader r(env, object);
    (void)(r.Int32("roomId", Treat::Optional, out.roomId) &&
           r.String("userRoomId", Treat::Optional, out.userRoomId) &&
           r.Int32("roomType", Treat::Forced, out.roomType) &&
           r.String("sdkVersion", Treat::Required, out.sdkVersion) &&
           r.String("nickName", Treat::Required, out.nickName) &&
           r.String("token", Treat::Required, out.token) &&
           r.String("appId", Treat::Required, out.appId) &&
           r.String("userId", Treat::Required, out.userId) &&
           r.String("nonce", Treat::Required, out.nonce) &&
           r.Int64("timestamp", Treat::Required, out.timestamp) &&
           r.String("deviceId", Treat::Required, out.deviceId) &&
           r.String("deviceName", Treat::Required, out.deviceName) &&
           r.String("deviceType", Treat::Required, out.deviceType) &&
           r.String("deviceMode", Treat::Required, out.deviceMode) &&
           r.String("deviceVersion", Treat::Required, out.deviceVersion));
    return nullptr;
}

napi_value ParseParam::ParseStartLocalPreviewParam(napi_env env, const napi_value& object, IKOV_API::StartLocalPreviewParam& out,
                                                   FrameCallback frameCallback, FrameCallback captureCallback,
                                                   napi_value& kovaEngine, napi_value& streamCB) {
    out.context = nullptr;
    PropertyReader r(env, object);
    bool more = r.Int32("width", Treat::Required, out.width) &&
                r.Int32("height", Treat::Required, out.height) &&
                r.Int32("highPriority", Treat::Optional, out.highPriority) &&
                r.Int32("resolutionMode", Treat::Optional, out.resolutionMode) &&
                r.Bool("isMultiRate", Treat::Optional, out.isMultiRate);
    if (!more) return nullptr;
    out.reservedFlag = false;
    out.reservedPointer = nullptr;
    more = r.Value("kovaEngine", Treat::Optional, napi_object, kovaEngine) &&
           r.Value("streamCB", Treat::Optional, napi_function, streamCB);
    if (!more) return nullptr;
    out.frameCallback = std::move(frameCallback);
    out.captureCallback = std::move(captureCallback);
    r.Bool("isMirror", Treat::Required, out.isMirror);
    return nullptr;
}

napi_value ParseParam::ParseStartRemotePreviewParam(napi_env env, const napi_value& object, RemoteViewParam& out,
                                                    napi_value& kovaEngine, napi_value& streamCB) {
    PropertyReader r(env, object);
    (void)(r.Read("userId", Treat::Required, TypeBit(napi_string) | TypeBit(napi_number),
                  [&](napi_value v, napi_valuetype type) {
                      return type == napi_string ? r.ToString(v, out.userIdV2) : r.ToInt32(v, out.userId);
                  }) &&
           r.String("streamId", Treat::Required, out.streamId) &&
           r.Int32("width", Treat::Required, out.width) &&
           r.Int32("height", Treat::Required, out.height) &&
           r.Int32("streamSubscribeModelType", Treat::Required, out.streamSubscribeModelType) &&
           r.Int32("streamBitrateType", Treat::Required, out.streamBitrateType) &&
           r.Value("kovaEngine", Treat::Optional, napi_object, kovaEngine) &&
           r.Value("streamCB", Treat::Required, napi_function, streamCB));
    return nullptr;
}

napi_value ParseParam::ParseDesktopPreviewParam(napi_env env, const napi_value& object, DesktopCapturePreviewParam& out,
                                                napi_value& kovaEngine, napi_value& streamCB) {
    PropertyReader r(env, object);
    napi_value captureInfo = nullptr;
    if (!r.Value("captureInfo", Treat::Optional, napi_object, captureInfo)) return nullptr;
    if (captureInfo != nullptr) {
        PropertyReader source(env, captureInfo);
        bool more = source.Int32("id", Treat::Optional, out.id) &&
                    source.String("uniqueId", Treat::Optional, out.uniqueId) &&
                    source.String("name", Treat::Optional, out.name);
        if (!more) return nullptr;
    }
    (void)(r.Int32("desktopType", Treat::Optional, out.desktopType) &&
           r.Int32("width", Treat::Optional, out.width) &&
           r.Int32("height", Treat::Optional, out.height) &&
           r.Int32("thumbnailType", Treat::Optional, out.thumbnailType) &&
           r.Int32("highPriority", Treat::Optional, out.highPriority) &&
           r.Bool("isMultiRate", Treat::Optional, out.isMultiRate) &&
           r.Value("kovaEngine", Treat::Optional, napi_object, kovaEngine) &&
           r.Value("streamCB", Treat::Optional, napi_function, streamCB) &&
           r.Array("excludedWindowIds", Treat::Required,
                   [&](napi_value array) { return ReadExcludedWindows(r, array, out); }));
    return nullptr;
}

napi_value ParseParam::ParseDesktopPreviewParams(napi_env env, const napi_value& object, IKOV_API::DesktopPreview** outArray,
                                                 int* outCount, napi_value& kovaEngine, napi_value& streamCB,
                                                 napi_value& finishCallback) {
    PropertyReader r(env, object);
    int32_t count = 0;
    if (!r.Int32("desktopPreviewSize", Treat::Required, count) || count < 1) return nullptr;

    napi_value previews = nullptr;
    bool more = r.Array("desktopPreviewArray", Treat::Required, [&](napi_value array) {
        previews = array;
        return Converted::Stored;
    });
    uint32_t length = 0;
    if (more && !r.Ok(napi_get_array_length(env, previews, &length))) more = false;

    // Reading past the array's end leaves an exception that ends the walk, so at most one record
    // beyond the array can be filled: a larger count would only allocate records that stay zero.
    int64_t records = count;
    if (records > kMinDesktopPreviews) {
        records = std::max<int64_t>(kMinDesktopPreviews, std::min<int64_t>(records, int64_t(length) + 1));
    }
    if (records > kMaxDesktopPreviews) {
        ThrowRange(env, "desktopPreviewSize is too large");
        return nullptr;
    }
    auto* array = new IKOV_API::DesktopPreview[records]();
    *outArray = array;
    *outCount = static_cast<int>(records);
    if (!more) return nullptr;

    for (int i = 0; i < static_cast<int>(records); ++i) {
        napi_value element = nullptr;
        if (!r.Ok(napi_get_element(env, previews, static_cast<uint32_t>(i), &element))) return nullptr;
        DesktopCapturePreviewParam parsed;
        ParseDesktopPreviewParam(env, element, parsed, kovaEngine, streamCB);
        IKOV_API::DesktopPreview& record = array[i];
        record.context = nullptr;
        record.desktopType = parsed.desktopType;
        record.width = parsed.width;
        record.height = parsed.height;
        record.frameCallback = FrameCallback();
        auto* source = new IKOV_API::CaptureInfo();
        source->id = parsed.id;
        source->uniqueId = CopyBytes(parsed.uniqueId);
        source->uniqueIdLength = static_cast<int32_t>(parsed.uniqueId.size());
        source->name = CopyBytes(parsed.name);
        source->nameLength = static_cast<int32_t>(parsed.name.size());
        record.captureInfo = source;
        record.excludedWindowIds = parsed.excludedWindowIds;
        record.excludedWindowCount = parsed.excludedWindowCount;
        parsed.excludedWindowIds = nullptr;  // taken over by the record
    }
    r.Value("finishCallback", Treat::Required, napi_function, finishCallback);
    return nullptr;
}

void ParseParam::ReleaseDesktopPreviewParams(IKOV_API::DesktopPreview* array, int count) {
    if (array == nullptr) return;
    for (int i = 0; i < count; ++i) {
        IKOV_API::CaptureInfo* source = array[i].captureInfo;
        if (source == nullptr) continue;
        delete[] source->name;
        delete[] source->uniqueId;
        delete source;
        array[i].captureInfo = nullptr;
    }
    delete[] array;
}

napi_value ParseParam::ParseControlContentParam(napi_env env, const napi_value& object, IKOV_API::ControlContent& out) {
    PropertyReader r(env, object);
    (void)(r.Text("event", Treat::Required, out.event, kControlBufferSize, out.eventLength) &&
           r.Text("extraData", Treat::Required, out.extraData, kControlBufferSize, out.extraDataLength));
    return nullptr;
}

napi_value ParseParam::ParseAuthInfoParam(napi_env env, const napi_value& object, IKOV_API::AuthInfo& out, AuthInfoStrings& strings) {
    PropertyReader r(env, object);
    int32_t peerId = 0;  // read for its type only
    constexpr size_t kSize = sizeof(strings.text[0]);
    (void)(r.Int32("peerId", Treat::Required, peerId) &&
           r.Text("sdkVersion", Treat::Required, strings.text[0], kSize, out.sdkVersionLength, &out.sdkVersion) &&
           r.Text("nickName", Treat::Required, strings.text[1], kSize, out.nickNameLength, &out.nickName) &&
           r.Text("token", Treat::Required, strings.text[2], kSize, out.tokenLength, &out.token) &&
           r.Text("appId", Treat::Required, strings.text[3], kSize, out.appIdLength, &out.appId) &&
           r.Text("userId", Treat::Required, strings.text[4], kSize, out.userIdLength, &out.userId) &&
           r.Text("nonce", Treat::Required, strings.text[5], kSize, out.nonceLength, &out.nonce) &&
           r.Int64("timestamp", Treat::Required, out.timestamp));
    return nullptr;
}

napi_value ParseParam::ParseChatMessageParam(napi_env env, const napi_value& object, ChatMessage& out) {
    PropertyReader r(env, object);
    (void)(r.Int32("i_userId", Treat::Forced, out.i_userId) &&
           r.String("userId", Treat::Forced, out.userId) &&
           r.String("message", Treat::Forced, out.message));
    return nullptr;
}

napi_value ParseParam::ParseGeneralTokenParam(napi_env env, const napi_value& object, TokenParam& out) {
    PropertyReader r(env, object);
    constexpr size_t kSize = sizeof(out.meetingId);
    int32_t length = 0;
    (void)(r.Text("meetingId", Treat::Forced, out.meetingId, kSize, length) &&
           r.Text("userId", Treat::Forced, out.userId, kSize, length) &&
           r.Int64("timestamp", Treat::Forced, out.timestamp) &&
           r.Text("appKey", Treat::Forced, out.appKey, kSize, length) &&
           r.Text("appId", Treat::Forced, out.appId, kSize, length) &&
           r.Value("callback", Treat::Forced, napi_function, out.callback));
    return nullptr;
}

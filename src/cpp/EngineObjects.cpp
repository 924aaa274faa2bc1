// Entry functions that take JavaScript argument objects. Each parses its object with ParseParam,
// converts the parsed record into the SDK's record and calls the SDK. A parser that raised (a
// Node-API failure) does not stop the call: the SDK gets what was filled, and JavaScript sees the
// exception when the entry function returns.
//
// Frame streams: a start sets up the stream under its key (a thread-safe function on the object's
// "streamCB" function and the key's queue) and then calls the SDK; a stop calls the SDK and then ends
// one start of the key. Without an SDK client no stream is set up, since no frame could ever arrive.
// An object without a "streamCB" function gets no thread-safe function: its frames are not delivered
// (an earlier start of the same key keeps its function).
#include "EngineObjects.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "EngineEntry.h"
#include "ParseParam.h"
#include "SAIManagerAdapter.h"
#include "general.h"

namespace {

using FrameCallback = ParseParam::FrameCallback;
using DesktopPreview = IKOV_API::DesktopPreview;

constexpr const char* kLocalStreamKey = "local";

// The fixed key that the SDK mixes into every locally generated token.
constexpr char kTokenKey[] = "AK-7c41d9e2-5b3a-4f08-9e6d-21a8c4b70f55";
static_assert(sizeof(kTokenKey) == 40, "the token key is 39 characters and a terminating zero");
constexpr int kTokenBufferSize = 256;

bool ExceptionPending(napi_env env) {
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    return pending;
}

// "operation success.", or null when a parser left an exception for JavaScript to see.
napi_value Finish(napi_env env) { return ExceptionPending(env) ? nullptr : SuccessResult(env); }

// The frame shape of the object entry functions: one object argument.
bool ObjectArgument(CallFrame& frame) { return frame.Ok() && frame.Expect(0, napi_object); }

void SetText(const std::string& text, const char*& data, int32_t& length) {
    data = text.data();
    length = static_cast<int32_t>(text.size());
}

// ---------------------------------------------------------------- frame streams

bool HasClient(KOVAEngine* engine) { return engine != nullptr && engine->HasClient(); }

// Sets up one start of the stream `key`; false after a failed call (raised), with nothing set up.
// Sets up the stream, then runs the SDK's start operation `start(engine)`.
template <typename Start>
void StartStreamAndCall(napi_env env, const std::string& key, napi_value streamCB, const char* resourceName,
                        Start&& start) {
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine) || !HasClient(engine)) return;
    if (!engine->Streams().Start(env, key, streamCB, resourceName)) return;
    start(engine);
}

// Ends one start of the stream `key` (after the SDK's stop operation): its waiting frames are freed
// and its crossing closed once no start uses the key any more.
void StopStream(napi_env env, KOVAEngine* engine, const std::string& key) {
    if (engine != nullptr) engine->Streams().Stop(env, key);
}

// The capture callback of the local previews: KOVAEngine::CaptureCallback while the AI-effects
// adapter wants camera frames, else empty.
FrameCallback LocalCaptureCallback() {
    return SAIManagerAdapter::isNeedProcessVideoFrame() ? FrameCallback(&KOVAEngine::CaptureCallback) : FrameCallback();
}

template <auto Op>
napi_value StartLocalPreviewEntry(napi_env env, napi_callback_info info) {
    CallFrame frame(env, info, 1, Check::F);
    if (!ObjectArgument(frame)) return frame.Failure();
    IKOV_API::StartLocalPreviewParam param{};
    param.isMultiRate = true;
    param.isMirror = true;
    napi_value kovaEngine = nullptr;
    napi_value streamCB = nullptr;
    ParseParam::ParseStartLocalPreviewParam(env, frame.Arg(0), param, &KOVAEngine::StreamCallback, LocalCaptureCallback(),
                                            kovaEngine, streamCB);
    StartStreamAndCall(env, kLocalStreamKey, streamCB, "LocalStreamCallback",
                       [&](KOVAEngine* engine) { engine->Call<Op>(param); });
    return Finish(env);
}

template <auto Op>
napi_value StopLocalPreviewEntry(napi_env env) {
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine != nullptr) engine->Call<Op>();
    StopStream(env, engine, kLocalStreamKey);
    return SuccessResult(env);
}

template <auto Op>
napi_value StartRemoteViewEntry(napi_env env, napi_callback_info info, const char* resourceName) {
    CallFrame frame(env, info, 1, Check::F);
    if (!ObjectArgument(frame)) return frame.Failure();
    RemoteViewParam view;
    napi_value kovaEngine = nullptr;
    napi_value streamCB = nullptr;
    ParseParam::ParseStartRemotePreviewParam(env, frame.Arg(0), view, kovaEngine, streamCB);
    IKOV_API::StartRemoteViewParam param{};
    param.userId = view.userId;
    if (!view.userIdV2.empty()) SetText(view.userIdV2, param.userIdStr, param.userIdStrLength);
    SetText(view.streamId, param.streamId, param.streamIdLength);
    param.width = view.width;
    param.height = view.height;
    param.streamSubscribeModelType = static_cast<IKOV_API::VideoStreamSubscribeModelType>(view.streamSubscribeModelType);
    param.streamBitrateType = static_cast<IKOV_API::VideoStreamBitrateType>(view.streamBitrateType);
    param.frameCallback = &KOVAEngine::StreamCallback;
    StartStreamAndCall(env, view.streamId, streamCB, resourceName, [&](KOVAEngine* engine) { engine->Call<Op>(param); });
    return Finish(env);
}

// Stops a remote view given as (userId, streamId); the stream id is the stream's key.
template <auto Op, typename UserId>
napi_value StopRemoteViewEntry(napi_env env, napi_callback_info info) {
    CallFrame frame(env, info, 2, Check::F1);
    if (!frame.Ok()) return frame.Failure();
    std::tuple<UserId, ArgStr<256>> args;
    if (!frame.ReadAll(args)) return frame.Failure();
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine != nullptr) std::apply(CallOp<Op>{engine}, ExpandParams(args));
    const ArgStr<256>& streamId = std::get<1>(args);
    StopStream(env, engine, std::string(streamId.buffer, streamId.length));
    return SuccessResult(env);
}

// ---------------------------------------------------------------- desktop capture

enum class DesktopUse { Preview, Share, StopShare };

// The SDK record of one desktop-capture source; `source` is the CaptureInfo it points at.
void ToDesktopPreview(const DesktopCapturePreviewParam& in, DesktopUse use, CaptureInfo& source,
                      DesktopPreview& preview) {
    source.id = in.id;
    SetText(in.uniqueId, source.uniqueId, source.uniqueIdLength);
    SetText(in.name, source.name, source.nameLength);
    preview.context = nullptr;
    preview.captureInfo = &source;
    preview.desktopType = in.desktopType;
    preview.width = in.width;
    preview.height = in.height;
    preview.isMultiRate = use == DesktopUse::Preview ? in.isMultiRate : true;
    preview.thumbnailType = use == DesktopUse::Preview ? in.thumbnailType : 1;
    if (use == DesktopUse::Preview) preview.frameCallback = &KOVAEngine::StreamCallback;
    preview.highPriority = use == DesktopUse::Share ? in.highPriority : 0;
    if (use == DesktopUse::Share) {
        preview.excludedWindowIds = in.excludedWindowIds;
        preview.excludedWindowCount = in.excludedWindowCount;
    }
}

template <DesktopUse Use>
napi_value DesktopEntry(napi_env env, napi_callback_info info, Check check) {
    CallFrame frame(env, info, 1, check);
    if (!ObjectArgument(frame)) return frame.Failure();
    DesktopCapturePreviewParam parsed;  // owns the excluded-window array until it returns
    napi_value kovaEngine = nullptr;
    napi_value streamCB = nullptr;
    ParseParam::ParseDesktopPreviewParam(env, frame.Arg(0), parsed, kovaEngine, streamCB);
    CaptureInfo source{};
    DesktopPreview preview{};
    ToDesktopPreview(parsed, Use, source, preview);
    if constexpr (Use == DesktopUse::Preview) {
        // A source without a name is not previewed, and gets no stream.
        if (!parsed.name.empty()) {
            StartStreamAndCall(env, parsed.uniqueId, streamCB, "DesktopCaptureCallback", [&](KOVAEngine* e) {
                e->Call<&IKOV_API::StartDesktopCapturePreview>(preview);
            });
        }
    } else {
        KOVAEngine* engine = nullptr;
        if (!ReachEngine(env, engine) || engine == nullptr) return Finish(env);
        if constexpr (Use == DesktopUse::Share) {
            engine->Call<&IKOV_API::StartDesktopCaptureShare>(preview);
        } else {
            engine->Call<&IKOV_API::StopDesktopCaptureShare>(preview);
        }
    }
    return Finish(env);
}

// ---------------------------------------------------------------- control messages

// The broadcast login's authentication object, parsed and accepted (it is not forwarded).
struct ArgAuth {
    static constexpr napi_valuetype kType = napi_object;
    IKOV_API::AuthInfo auth{};
    AuthInfoStrings strings;
    bool Read(napi_env env, napi_value v) {
        ParseParam::ParseAuthInfoParam(env, v, auth, strings);
        return !ExceptionPending(env);
    }
};

// (userId, type, content): the frame checks the first two; the content object goes to the parser
// whatever it is, into two zero-filled buffers that live for the SDK call.
template <auto Op, typename UserId>
napi_value SendControlEntry(napi_env env, napi_callback_info info) {
    CallFrame frame(env, info, 2, Check::F);
    if (!frame.Ok()) return frame.Failure();
    std::tuple<UserId, ArgEnum<IKOV_API::ControlType>> args;
    if (!frame.ReadAll(args)) return frame.Failure();
    size_t argc = 3;
    napi_value argv[3] = {};
    NAPI_CALL(env, napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr));
    std::vector<char> event(ParseParam::kControlBufferSize, 0);
    std::vector<char> extraData(ParseParam::kControlBufferSize, 0);
    IKOV_API::ControlContent content{event.data(), 0, extraData.data(), 0};
    ParseParam::ParseControlContentParam(env, argv[2], content);
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine != nullptr) {
        std::apply(CallOp<Op>{engine}, std::tuple_cat(ExpandParams(args), std::make_tuple(&content)));
    }
    return Finish(env);
}

#define KOVA_ENTRY(name) napi_value name(napi_env env, napi_callback_info info)

// ---------------------------------------------------------------- room, chat, broadcast login

// The shape of an object entry without a stream: parse the object into the addon's record, convert
// that into the SDK's record (which points into it) and call the SDK with it.
template <auto Op, typename Parsed, typename Record>
napi_value ParseAndCall(napi_env env, napi_callback_info info, napi_value (*parse)(napi_env, const napi_value&, Parsed&),
                        void (*convert)(const Parsed&, Record&)) {
    CallFrame frame(env, info, 1, Check::F);
    if (!ObjectArgument(frame)) return frame.Failure();
    Parsed parsed;
    parse(env, frame.Arg(0), parsed);
    Record record{};
    convert(parsed, record);
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine != nullptr) engine->Call<Op>(record);
    return Finish(env);
}

// Room id -1 unless positive; the user room id null when empty; every other string always set.
void ToEnterRoomParam(const MeetingParam& meeting, IKOV_API::EnterRoomParam& param) {
    param.roomId = meeting.roomId > 0 ? meeting.roomId : -1;
    if (!meeting.userRoomId.empty()) SetText(meeting.userRoomId, param.userRoomId, param.userRoomIdLength);
    param.roomType = meeting.roomType;
    SetText(meeting.sdkVersion, param.sdkVersion, param.sdkVersionLength);
    SetText(meeting.nickName, param.nickName, param.nickNameLength);
    SetText(meeting.token, param.token, param.tokenLength);
    SetText(meeting.appId, param.appId, param.appIdLength);
    SetText(meeting.userId, param.userId, param.userIdLength);
    SetText(meeting.nonce, param.nonce, param.nonceLength);
    param.timestamp = meeting.timestamp;
    SetText(meeting.deviceId, param.deviceId, param.deviceIdLength);
    SetText(meeting.deviceName, param.deviceName, param.deviceNameLength);
    SetText(meeting.deviceType, param.deviceType, param.deviceTypeLength);
    SetText(meeting.deviceMode, param.deviceMode, param.deviceModeLength);
    SetText(meeting.deviceVersion, param.deviceVersion, param.deviceVersionLength);
}

void ToSdkChatMessage(const ChatMessage& chat, IKOV_API::ChatMessage& message) {
    message.userId = chat.i_userId;
    SetText(chat.userId, message.userIdStr, message.userIdStrLength);
    SetText(chat.message, message.message, message.messageLength);
}

}  // namespace

KOVA_ENTRY(KOVAEngineEnterRoom) {
    return ParseAndCall<&IKOV_API::EnterRoom>(env, info, &ParseParam::ParseEnterRoomParam, &ToEnterRoomParam);
}

KOVA_ENTRY(KOVAEngineSendChatMessage) {
    return ParseAndCall<&IKOV_API::SendChatMessage>(env, info, &ParseParam::ParseChatMessageParam, &ToSdkChatMessage);
}

KOVA_ENTRY(KOVAEngineInitBroadCast) {
    return PlainEntry<nullptr, Check::F, Engine::Existing, Result::Success, ArgI32, ArgI32, ArgAuth>(env, info);
}

KOVA_ENTRY(KOVAEngineSendControlMessage) {
    return SendControlEntry<&IKOV_API::SendControlMessage, ArgI32>(env, info);
}
KOVA_ENTRY(KOVAEngineSendControlMessageV2) {
    return SendControlEntry<&IKOV_API::SendControlMessageV2, ArgStr<256>>(env, info);
}

// ---------------------------------------------------------------- token

// Gathers the token inputs, lets the SDK compute the token and hands it to "callback" before
// returning. A length reported beyond the output buffer (or below zero) is clamped to it.
KOVA_ENTRY(KOVAEngineGeneralToken) {
    CallFrame frame(env, info, 1, Check::F);
    if (!ObjectArgument(frame)) return frame.Failure();
    TokenParam token;
    ParseParam::ParseGeneralTokenParam(env, frame.Arg(0), token);
    if (ExceptionPending(env)) return nullptr;
    std::unique_ptr<char[]> key(new char[sizeof(kTokenKey)]);
    std::memcpy(key.get(), kTokenKey, sizeof(kTokenKey));
    char output[kTokenBufferSize] = {};
    int length = 0;
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine != nullptr) {
        engine->Call<&IKOV_API::GenerateToken>(token.appId, token.appKey, token.meetingId, token.userId,
                                                              key.get(), static_cast<long long>(token.timestamp),
                                                              output, &length);
    }
    length = std::clamp(length, 0, kTokenBufferSize);
    napi_value text = nullptr;
    napi_value undefined = nullptr;
    NAPI_CALL(env, napi_create_string_utf8(env, output, static_cast<size_t>(length), &text));
    NAPI_CALL(env, napi_get_undefined(env, &undefined));
    NAPI_CALL(env, napi_call_function(env, undefined, token.callback, 1, &text, nullptr));
    return SuccessResult(env);
}

// ---------------------------------------------------------------- previews and views

KOVA_ENTRY(KOVAEngineStartLocalPreview) { return StartLocalPreviewEntry<&IKOV_API::StartLocalPreview>(env, info); }
KOVA_ENTRY(KOVAEngineStartLocalPreviewTest) {
    return StartLocalPreviewEntry<&IKOV_API::StartLocalPreviewTest>(env, info);
}
KOVA_ENTRY(KOVAEngineStopLocalPreview) {
    (void)info;
    return StopLocalPreviewEntry<&IKOV_API::StopLocalPreview>(env);
}
KOVA_ENTRY(KOVAEngineStopLocalPreviewTest) {
    (void)info;
    return StopLocalPreviewEntry<&IKOV_API::StopLocalPreviewTest>(env);
}

KOVA_ENTRY(KOVAEngineStartRemoteView) {
    return StartRemoteViewEntry<&IKOV_API::StartRemoteView>(env, info, "RemoteStreamCallback");
}
KOVA_ENTRY(KOVAEngineStartRemoteDesktopView) {
    return StartRemoteViewEntry<&IKOV_API::StartRemoteDesktopView>(env, info, "RemoteDesktopStreamCallback");
}
KOVA_ENTRY(KOVAEngineStopRemoteView) { return StopRemoteViewEntry<&IKOV_API::StopRemoteView, ArgI32>(env, info); }
KOVA_ENTRY(KOVAEngineStopRemoteViewV2) {
    return StopRemoteViewEntry<&IKOV_API::StopRemoteViewV2, ArgStr<256>>(env, info);
}
KOVA_ENTRY(KOVAEngineStopRemoteDesktopView) {
    return StopRemoteViewEntry<&IKOV_API::StopRemoteDesktopView, ArgI32>(env, info);
}
KOVA_ENTRY(KOVAEngineStopRemoteDesktopViewV2) {
    return StopRemoteViewEntry<&IKOV_API::StopRemoteDesktopViewV2, ArgStr<256>>(env, info);
}

KOVA_ENTRY(KOVAEngineStartDesktopCapturePreview) { return DesktopEntry<DesktopUse::Preview>(env, info, Check::F); }
KOVA_ENTRY(KOVAEngineStartDesktopCaptureShare) { return DesktopEntry<DesktopUse::Share>(env, info, Check::F); }
KOVA_ENTRY(KOVAEngineStopDesktopCaptureShare) { return DesktopEntry<DesktopUse::StopShare>(env, info, Check::T); }

// Stops the listed previews: the SDK gets the records and the finish callback (answered once through
// "finishCallback"), then each record that names a capture source ends that source's stream.
KOVA_ENTRY(KOVAEngineStopDesktopCapturePreview) {
    CallFrame frame(env, info, 1, Check::F);
    if (!ObjectArgument(frame)) return frame.Failure();
    DesktopPreview* previews = nullptr;
    int count = 0;
    napi_value kovaEngine = nullptr;
    napi_value streamCB = nullptr;
    napi_value finishCallback = nullptr;
    ParseParam::ParseDesktopPreviewParams(env, frame.Arg(0), &previews, &count, kovaEngine, streamCB, finishCallback);
    KOVAEngine* engine = nullptr;
    bool call = ReachEngine(env, engine) && HasClient(engine);
    if (call && finishCallback != nullptr) {
        // A failure is raised; the SDK is not called without its registration.
        call = engine->RegisterCallBack(env, CB_DESKTOP_PREVIEW_FINISH, finishCallback, "FinishCallback");
    }
    if (call) {
        engine->Call<&IKOV_API::StopDesktopCapturePreview>(previews, count, &KOVAEngine::DesktopPreviewFinishCallBack);
        for (int i = 0; i < count; ++i) {
            const CaptureInfo* source = previews[i].captureInfo;
            if (source == nullptr) continue;
            std::string key = source->uniqueId != nullptr && source->uniqueIdLength > 0
                                  ? std::string(source->uniqueId, static_cast<size_t>(source->uniqueIdLength))
                                  : std::string();
            StopStream(env, engine, key);
        }
    }
    for (int i = 0; i < count; ++i) {
        delete[] previews[i].excludedWindowIds;
        previews[i].excludedWindowIds = nullptr;
    }
    ParseParam::ReleaseDesktopPreviewParams(previews, count);
    return Finish(env);
}

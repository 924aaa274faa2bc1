// Module registration and the engine entry functions. Each entry function is named exactly like the
// JavaScript property it is installed under; most are one line: a shape from EngineEntry.h with the
// SDK operation, the argument checks and the argument readers.
#include <cstdio>
#include <iostream>

#include "CTRClientAdapter.h"
#include "EngineEntry.h"
#include "EngineObjects.h"
#include "KOVAEngineListener.h"
#include "SAIManagerAdapter.h"
#include "SVError.h"
#include "general.h"

napi_env g_env = nullptr;

using Model = IKOV_API::VideoStreamSubscribeModelType;
using Bitrate = IKOV_API::VideoStreamBitrateType;
using S256 = ArgStr<256>;

// Writes one line to the system log (standard error on Linux). Any thread.
void node_print_log(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

// A failed SDK load is logged, and its loader text also goes to standard output.
void PlatformReportLoadFailure(const std::string& path, const char* error) {
    node_print_log(std::string("KOVAEngineSetEnv load") + error + " path:" + path);
    std::fputs(error, stdout);
    std::fflush(stdout);
}

#define KOVA_ENTRY(name) napi_value name(napi_env env, napi_callback_info info)

// ---------------------------------------------------------------- family 1: plain operations

#define KOVA_PLAIN(name, check, engine, ...) \
    KOVA_ENTRY(KOVAEngine##name) { return PlainEntry<&IKOV_API::name, Check::check, Engine::engine, Result::Success, ##__VA_ARGS__>(env, info); }

KOVA_PLAIN(SetEnv, F, Create, ArgI32)
KOVA_PLAIN(SetDebugLogEnable, F, Create, ArgBool)
KOVA_PLAIN(SetAppName, F, Existing, S256)
KOVA_PLAIN(SetSDKConfigParam, F, Existing, ArgStr<512>)
KOVA_PLAIN(StartUploadRtcLogs, F, Existing, S256, ArgI32)
KOVA_PLAIN(ReportEventError, T, Existing, ArgI32, ArgStr<10240>)
KOVA_PLAIN(SubscribeDataStream, F, Existing, S256)
KOVA_PLAIN(UnsubscribeDataStream, F, Existing, S256)
KOVA_PLAIN(ChangeNickName, F, Existing, ArgI32, ArgI32, S256)
KOVA_PLAIN(ChangeNickNameV2, F, Existing, S256, S256)
KOVA_PLAIN(StartRemoteAudio, F, Existing, ArgI32, S256)
KOVA_PLAIN(StartRemoteAudioV2, F, Existing, S256, S256)
KOVA_PLAIN(StopRemoteAudio, F, Existing, ArgI32, S256)
KOVA_PLAIN(StopRemoteAudioV2, F, Existing, S256, S256)
KOVA_PLAIN(MuteLocalAudio, F, Existing, ArgBool)
KOVA_PLAIN(MuteRemoteAudio, F, Existing, ArgI32, S256, ArgBool)
KOVA_PLAIN(MuteRemoteAudioV2, F, Existing, S256, S256, ArgBool)
KOVA_PLAIN(SetAudioAINoiseExEnable, F, Existing, ArgBool)
KOVA_PLAIN(SetPlayoutDevice, F, Existing, ArgU16)
KOVA_PLAIN(SetPlayoutDeviceByUID, F, Existing, S256)
KOVA_PLAIN(SetRecordingDevice, F, Existing, ArgU16)
KOVA_PLAIN(SetRecordingDeviceByUID, F, Existing, S256)
KOVA_PLAIN(SetSpeakerVolume, F, Existing, ArgU16)
KOVA_PLAIN(SetMicrophoneVolume, F, Existing, ArgU16)
KOVA_PLAIN(SetCurrentCameraDevice, F, Existing, ArgI32)
KOVA_PLAIN(ChangeCameraByIndex, F, Existing, ArgI32)
KOVA_PLAIN(ChangeCameraByUID, F, Existing, S256)
KOVA_PLAIN(SetCameraDeviceByUID, F, Existing, S256)
KOVA_PLAIN(SetVideoEncodingParam, F, Existing, ArgI32, ArgI32)
KOVA_PLAIN(MuteLocalVideo, F, Existing, ArgBool)
KOVA_PLAIN(ChangeVideoStream, F, Existing, ArgI32, S256, ArgEnum<Model>, ArgEnum<Bitrate>)
KOVA_PLAIN(ChangeVideoStreamV2, F, Existing, S256, S256, ArgEnum<Model>, ArgEnum<Bitrate>)
KOVA_PLAIN(MuteRemoteVideo, F, Existing, ArgI32, S256, ArgBool)
KOVA_PLAIN(MuteRemoteVideoV2, F, Existing, S256, S256, ArgBool)
KOVA_PLAIN(StopLocalAudio, None, Existing)
KOVA_PLAIN(StopLocalScreenAudio, None, Existing)
KOVA_PLAIN(SubscribeMillionAudio, None, Existing)
KOVA_PLAIN(UnSubscribeMillionAudio, None, Existing)

// An optional number: the number when the first argument is one, else 0.
template <auto Op>
napi_value OptionalNumberEntry(napi_env env, napi_callback_info info) {
    CallFrame frame(env, info, 1, Check::None);
    if (!frame.Ok()) return nullptr;
    int32_t value = 0;
    if (frame.Passed() > 0 && frame.TypeOf(0) == napi_number) {
        NAPI_CALL(env, napi_get_value_int32(env, frame.Arg(0), &value));
    }
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine != nullptr) engine->Call<Op>(value);
    return SuccessResult(env);
}
KOVA_ENTRY(KOVAEngineStartLocalAudio) { return OptionalNumberEntry<&IKOV_API::StartLocalAudio>(env, info); }
KOVA_ENTRY(KOVAEngineStartLocalScreenAudio) { return OptionalNumberEntry<&IKOV_API::StartLocalScreenAudio>(env, info); }

KOVA_ENTRY(KOVAEngineInstallAudioDrive) {
    (void)info;
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine != nullptr && engine->HasClient()) {
        std::string package = wide_to_utf8_string(PlatformGetCurrentModuleDir() + L"SolvaneAudioLoopback.pkg");
        engine->Call<&IKOV_API::InstallAudioDrive>(package.c_str(), "SolvaneAudioLoopback2ch.driver");
    }
    return SuccessResult(env);
}

// ---------------------------------------------------------------- family 2: accepted, not forwarded

struct ArgNonZero {  // a number turned into a boolean by comparison with 0
    static constexpr napi_valuetype kType = napi_number;
    ArgI32 number;
    bool Read(napi_env env, napi_value v) { return number.Read(env, v); }
};
#define KOVA_ACCEPTED(name, ...) \
    KOVA_ENTRY(KOVAEngine##name) { return PlainEntry<nullptr, Check::F, Engine::Existing, Result::Success, __VA_ARGS__>(env, info); }
KOVA_ACCEPTED(MuteRemoteAllAudio, ArgBool)
KOVA_ACCEPTED(MuteAllRemoteVideo, ArgBool)
KOVA_ACCEPTED(EnableStreamStat, ArgNonZero, ArgI32)

// ---------------------------------------------------------------- family 3: queries

KOVA_ENTRY(KOVAEngineGetSpeakerVolume) { return QueryEntry<&IKOV_API::GetSpeakerVolume>(env, info); }
KOVA_ENTRY(KOVAEngineGetMicrophoneVolume) { return QueryEntry<&IKOV_API::GetMicrophoneVolume>(env, info); }
KOVA_ENTRY(KOVAEngineGetSystemSleepState) { return QueryEntry<&IKOV_API::GetSystemSleepState>(env, info); }
KOVA_ENTRY(KOVAEngineHasMacVirtualDevice) { return QueryEntry<&IKOV_API::HasMacVirtualDevice>(env, info); }
KOVA_ENTRY(KOVAEngineGetDeviceID) { return QueryEntry<&IKOV_API::GetDeviceID>(env, info); }
KOVA_ENTRY(KOVAEngineFindWindowIdByTitle) {
    return PlainEntry<&IKOV_API::FindWindowIdByTitle, Check::F, Engine::Existing, Result::Value, S256>(env, info);
}

// ---------------------------------------------------------------- family 4: one-shot results

#define KOVA_ONE_SHOT(name, type, producer) \
    KOVA_ENTRY(KOVAEngine##name) { return CallbackEntry<&IKOV_API::name, type, &KOVAEngine::producer>(env, info, #name); }
KOVA_ENTRY(KOVAEngineExitRoom) {
    return CallbackEntry<&IKOV_API::ExitRoom, CB_EXIT_ROOM, &KOVAEngine::ExitRoomCallBack>(env, info, "ExitRoom");
}
KOVA_ONE_SHOT(GetCameraDevicesList, CB_CAMERA_DEVICES, CameraDevicesListCallBack)
KOVA_ONE_SHOT(GetScreenCaptureSources, CB_SCREEN_SOURCES, ScreenCaptureSourcesCallBack)
KOVA_ONE_SHOT(GetWindowCaptureSources, CB_WINDOW_SOURCES, WindowCaptureSourcesCallBack)
KOVA_ONE_SHOT(GetPlayoutSources, CB_PLAYOUT_SOURCES, PlayoutSourcesCallBack)
KOVA_ONE_SHOT(GetRecordingSources, CB_RECORDING_SOURCES, RecordingSourcesCallBack)
KOVA_ONE_SHOT(GetSDKStats, CB_SDK_STATS, GetSDKStats)

// ---------------------------------------------------------------- family 5: errors returned as text

KOVA_ENTRY(KOVAEngineSetSDKConfigPath) {
    return PlainEntry<&IKOV_API::SetSDKConfigPath, Check::R, Engine::Existing, Result::Empty, S256>(env, info);
}
KOVA_ENTRY(KOVAEngineSetSDKConfigString) {
    return PlainEntry<&IKOV_API::SetSDKConfigPath, Check::R, Engine::Existing, Result::Empty, ArgStr<2048>>(env, info);
}
KOVA_ENTRY(KOVAEngineSetLocalVideoMirror) {
    return PlainEntry<&IKOV_API::SetLocalVideoMirror, Check::RT, Engine::Existing, Result::Success, ArgBool>(env, info);
}
KOVA_ENTRY(KOVAEnginePrintLog) {
    return PlainEntry<&IKOV_API::PrintLog, Check::RT, Engine::Existing, Result::Success, ArgCStr<10240>>(env, info);
}

// A missing argument throws the count error; a wrong type is returned as text.
KOVA_ENTRY(KOVAEngineSetApiUrl) {
    CreateEngineFor(env, Engine::Create);
    CallFrame frame(env, info, 1, Check::F);
    if (!frame.Ok()) return frame.Failure();
    if (frame.TypeOf(0) != napi_string) {
        return frame.Ok() ? MakeString(env, StatusText(SVError::kParamTypeError)) : nullptr;
    }
    S256 url;
    if (!url.Read(env, frame.Arg(0))) return nullptr;
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    std::apply(CallOp<&IKOV_API::SetApiUrl>{engine}, url.Params());
    return SuccessResult(env);
}

KOVA_ENTRY(KOVAEngineSetExternalDeviceStateCallback) {
    CallFrame frame(env, info, 1, Check::R);
    if (!frame.Ok()) return frame.Failure();
    napi_valuetype type = frame.TypeOf(0);
    if (!frame.Ok()) return nullptr;
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (type != napi_function) {
        // The SDK keeps its callback, which then finds nothing registered.
        if (engine != nullptr) engine->RemoveRepeating(env, CB_EXTERNAL_DEVICE_STATE);
        return MakeString(env, StatusText(SVError::kParamTypeError));
    }
    if (engine == nullptr || !engine->HasClient()) return SuccessResult(env);
    if (!engine->RegisterCallBack(env, CB_EXTERNAL_DEVICE_STATE, frame.Arg(0), "SetExternalDeviceStateCallback")) {
        return nullptr;
    }
    engine->Call<&IKOV_API::SetExternalDeviceStateCallback>(&KOVAEngine::ExternalDeviceStateCallBack);
    return SuccessResult(env);
}

// ---------------------------------------------------------------- repeating results

KOVA_ENTRY(KOVAEngineSetDebugLogCallback) {
    CreateEngineFor(env, Engine::Create);
    CallFrame frame(env, info, 1, Check::F);
    if (!frame.Ok()) return frame.Failure();
    napi_valuetype type = frame.TypeOf(0);
    if (!frame.Ok()) return nullptr;
    if (type != napi_null && !frame.Expect(0, napi_function)) return frame.Failure();
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine) || engine == nullptr) return nullptr;
    if (type == napi_null) {
        // The SDK stops sending log lines.
        engine->Call<&IKOV_API::SetDebugLogCallback>(std::function<void(int, char*, int)>());
        return SuccessResult(env);
    }
    if (!engine->HasClient()) return SuccessResult(env);
    if (!engine->RegisterCallBack(env, CB_DEBUG_LOG, frame.Arg(0), "SetDebugLogCallback")) return nullptr;
    engine->Call<&IKOV_API::SetDebugLogCallback>(&KOVAEngine::DebugLogCallback);
    return SuccessResult(env);
}

// The audio tests: a function for the levels and an optional text (1024-byte buffer). A first
// argument that is not a function is returned as a type error. The level callbacks deliver nothing
// once the engine is gone.
template <EngineCBType Type>
napi_value StartAudioTest(napi_env env, napi_callback_info info, size_t functionIndex, const char* resourceName) {
    CallFrame frame(env, info, 2, Check::None);
    if (!frame.Ok()) return nullptr;
    if (frame.TypeOf(functionIndex) != napi_function) {
        return frame.Ok() ? MakeString(env, StatusText(SVError::kParamTypeError)) : nullptr;
    }
    size_t textIndex = 1 - functionIndex;
    ArgStr<1024> text;
    if (frame.TypeOf(textIndex) == napi_string && !text.Read(env, frame.Arg(textIndex))) return nullptr;
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine == nullptr || !engine->HasClient()) return SuccessResult(env);
    engine->RemoveRepeating(env, Type);  // a new test replaces the earlier registration
    if (!engine->RegisterCallBack(env, Type, frame.Arg(functionIndex), resourceName)) return nullptr;
    if constexpr (Type == CB_RECORDING_TEST) {
        engine->Call<&IKOV_API::StartRecordingTest>(&KOVAEngine::RecordingTestCallBack, text.buffer,
                                                    static_cast<int>(text.length));
    } else {
        engine->Call<&IKOV_API::StartPlayoutTest>(text.buffer, static_cast<int>(text.length),
                                                  &KOVAEngine::PlayoutTestCallBack);
    }
    return SuccessResult(env);
}

template <auto Op, EngineCBType Type>
napi_value StopAudioTest(napi_env env, napi_callback_info /*info*/) {
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (engine == nullptr) return SuccessResult(env);
    engine->Call<Op>();
    engine->RemoveRepeating(env, Type);
    return SuccessResult(env);
}

KOVA_ENTRY(KOVAEngineStartRecordingTest) { return StartAudioTest<CB_RECORDING_TEST>(env, info, 0, "StartRecordingTest"); }
KOVA_ENTRY(KOVAEngineStartPlayoutTest) { return StartAudioTest<CB_PLAYOUT_TEST>(env, info, 1, "StartPlayoutTest"); }
KOVA_ENTRY(KOVAEngineStopRecordingTest) { return StopAudioTest<&IKOV_API::StopRecordingTest, CB_RECORDING_TEST>(env, info); }
KOVA_ENTRY(KOVAEngineStopPlayoutTest) { return StopAudioTest<&IKOV_API::StopPlayoutTest, CB_PLAYOUT_TEST>(env, info); }

// ---------------------------------------------------------------- engine life and listeners

KOVA_ENTRY(KOVAEngineInit) {
    (void)info;
    CreateEngineFor(env, Engine::Create);
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    engine->Call<&IKOV_API::Init>();
    return SuccessResult(env);
}

KOVA_ENTRY(KOVAEngineUninit) {
    (void)info;
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    KOVAEngine::ReleaseFor(env);
    return SuccessResult(env);
}

// `null` detaches the listener of that version from the SDK (its registrations are kept); an object
// registers its event functions into the listener and attaches it.
template <typename Listener, Listener* (KOVAEngine::*Get)(), int (KOVAEngine::*Attach)(typename Listener::Interface*)>
napi_value SetListenerEntry(napi_env env, napi_callback_info info) {
    CallFrame frame(env, info, 1, Check::F);
    if (!frame.Ok()) return frame.Failure();
    napi_valuetype type = frame.TypeOf(0);
    if (!frame.Ok()) return nullptr;
    if (type != napi_null && !frame.Expect(0, napi_object)) return frame.Failure();
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    if (type == napi_null) {
        if (engine != nullptr) {
            (engine->*Attach)(nullptr);
            (engine->*Get)()->Registry().SetAttached(env, false);
        }
        return SuccessResult(env);
    }
    if (engine == nullptr) return SuccessResult(env);
    Listener* listener = (engine->*Get)();
    listener->Registry().SetJsObject(frame.Arg(0));
    listener->Registry().Register(env, frame.Arg(0), &Listener::CallJSListener);
    listener->Registry().SetAttached(env, true);
    (engine->*Attach)(listener);
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    return pending ? nullptr : SuccessResult(env);
}
KOVA_ENTRY(KOVAEngineSetApiListener) {
    return SetListenerEntry<KOVAEngineListener, &KOVAEngine::KOVAEngineGetListener, &KOVAEngine::KOVAEngineSetApiListener>(env, info);
}
KOVA_ENTRY(KOVAEngineSetApiListenerV2) {
    return SetListenerEntry<KOVAEngineListenerV2, &KOVAEngine::KOVAEngineGetListenerV2, &KOVAEngine::KOVAEngineSetApiListenerV2>(env, info);
}

// ---------------------------------------------------------------- AI-effects adapter

// Checks and reads the arguments A..., hands them to the adapter and returns "operation success.";
// the request's own result reaches its callback.
template <typename... A, typename Forward>
napi_value SAIManagerEntry(napi_env env, napi_callback_info info, Forward forward) {
    // The adapter logs and reports through the engine.
    CreateEngineFor(env, Engine::Create);
    CallFrame frame(env, info, sizeof...(A), Check::F);
    if (!frame.Ok()) return frame.Failure();
    std::tuple<A...> args;
    if (!frame.ReadAll(args)) return frame.Failure();
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    SAIManagerAdapter* adapter = SAIManagerAdapter::SAIManagerAdapterInstance();
    adapter->BindEnv(env);
    std::apply([&](A&... a) { forward(adapter, a...); }, args);
    return SuccessResult(env);
}

using SAIText = ArgStr<512>;

KOVA_ENTRY(SAIManagerCheckOpenGL) {
    return SAIManagerEntry<ArgI32, ArgWholeStr, ArgFunction>(
        env, info, [env](SAIManagerAdapter* adapter, ArgI32& n, ArgWholeStr& text, ArgFunction& cb) {
            adapter->checkOpenGL(env, n.value, text.buffer.c_str(), static_cast<int>(text.buffer.size()), cb.value);
        });
}
KOVA_ENTRY(SAIManagerInit) {
    return SAIManagerEntry<ArgI32, ArgWholeStr, SAIText, ArgFunction>(
        env, info, [env](SAIManagerAdapter* adapter, ArgI32& n, ArgWholeStr& data, SAIText& text, ArgFunction& cb) {
            adapter->init(env, n.value, &data.buffer[0], static_cast<int>(data.buffer.size()), text.buffer,
                          static_cast<int>(text.length), cb.value);
        });
}
KOVA_ENTRY(SAIManagerInitByAppId) {
    return SAIManagerEntry<ArgI32, ArgWholeStr, ArgFunction>(
        env, info, [env](SAIManagerAdapter* adapter, ArgI32& n, ArgWholeStr& appId, ArgFunction& cb) {
            adapter->initByAppId(env, n.value, appId.buffer.c_str(), static_cast<int>(appId.buffer.size()), cb.value);
        });
}
KOVA_ENTRY(SAIManagerEnableFeature) {
    return SAIManagerEntry<ArgI32, SAIText, ArgFunction>(
        env, info, [env](SAIManagerAdapter* adapter, ArgI32& n, SAIText& text, ArgFunction& cb) {
            adapter->enableFeature(env, n.value, text.buffer, static_cast<int>(text.length), cb.value);
        });
}
KOVA_ENTRY(SAIManagerDisableFeature) {
    return SAIManagerEntry<>(env, info, [](SAIManagerAdapter* adapter) { adapter->disableFeature(); });
}
KOVA_ENTRY(SAIManagerUnInit) {
    return SAIManagerEntry<>(env, info, [](SAIManagerAdapter* adapter) { adapter->unInit(); });
}

// ---------------------------------------------------------------- registration

// The end of an environment that loaded the addon: a worker that ends or is terminated, a window that
// closes or reloads, the process that exits. What it owns is torn down as KOVAEngineUninit does it, so
// that nothing calls into it afterwards and a later environment can start the engine again.
static void EnvironmentEnds(void* arg) {
    auto env = static_cast<napi_env>(arg);
    SAIManagerAdapter::EnvironmentEnds(env);
    KOVAEngine::EnvironmentEnds(env);
}

struct ExportedFunction {
    const char* name;
    napi_callback callback;
};

#define KOVA_EXPORT(name) {#name, name}

static const ExportedFunction kExports[] = {
    KOVA_EXPORT(KOVAEngineInit),
    KOVA_EXPORT(KOVAEngineUninit),
    KOVA_EXPORT(KOVAEngineSetEnv),
    KOVA_EXPORT(KOVAEngineSetApiListener),
    KOVA_EXPORT(KOVAEngineSetApiListenerV2),
    KOVA_EXPORT(KOVAEngineEnterRoom),
    KOVA_EXPORT(KOVAEngineExitRoom),
    KOVA_EXPORT(KOVAEngineGetCameraDevicesList),
    KOVA_EXPORT(KOVAEngineSetCurrentCameraDevice),
    KOVA_EXPORT(KOVAEngineChangeCameraByIndex),
    KOVA_EXPORT(KOVAEngineChangeCameraByUID),
    KOVA_EXPORT(KOVAEngineStartLocalAudio),
    KOVA_EXPORT(KOVAEngineStopLocalAudio),
    KOVA_EXPORT(KOVAEngineStartLocalScreenAudio),
    KOVA_EXPORT(KOVAEngineStopLocalScreenAudio),
    KOVA_EXPORT(KOVAEngineStartRemoteAudio),
    KOVA_EXPORT(KOVAEngineStartRemoteAudioV2),
    KOVA_EXPORT(KOVAEngineStopRemoteAudio),
    KOVA_EXPORT(KOVAEngineStopRemoteAudioV2),
    KOVA_EXPORT(KOVAEngineMuteLocalAudio),
    KOVA_EXPORT(KOVAEngineMuteRemoteAudio),
    KOVA_EXPORT(KOVAEngineMuteRemoteAudioV2),
    KOVA_EXPORT(KOVAEngineMuteRemoteAllAudio),
    KOVA_EXPORT(KOVAEngineStartLocalPreview),
    KOVA_EXPORT(KOVAEngineStopLocalPreview),
    KOVA_EXPORT(KOVAEngineSetVideoEncodingParam),
    KOVA_EXPORT(KOVAEngineMuteLocalVideo),
    KOVA_EXPORT(KOVAEngineStartRemoteView),
    KOVA_EXPORT(KOVAEngineStopRemoteView),
    KOVA_EXPORT(KOVAEngineStopRemoteViewV2),
    KOVA_EXPORT(KOVAEngineChangeVideoStream),
    KOVA_EXPORT(KOVAEngineChangeVideoStreamV2),
    KOVA_EXPORT(KOVAEngineMuteRemoteVideo),
    KOVA_EXPORT(KOVAEngineMuteRemoteVideoV2),
    KOVA_EXPORT(KOVAEngineMuteAllRemoteVideo),
    KOVA_EXPORT(KOVAEngineGetScreenCaptureSources),
    KOVA_EXPORT(KOVAEngineGetWindowCaptureSources),
    KOVA_EXPORT(KOVAEngineStartDesktopCaptureShare),
    KOVA_EXPORT(KOVAEngineStopDesktopCaptureShare),
    KOVA_EXPORT(KOVAEngineStartRemoteDesktopView),
    KOVA_EXPORT(KOVAEngineStopRemoteDesktopView),
    KOVA_EXPORT(KOVAEngineStopRemoteDesktopViewV2),
    KOVA_EXPORT(KOVAEngineStartDesktopCapturePreview),
    KOVA_EXPORT(KOVAEngineStopDesktopCapturePreview),
    KOVA_EXPORT(KOVAEngineSetPlayoutDevice),
    KOVA_EXPORT(KOVAEngineSetRecordingDevice),
    KOVA_EXPORT(KOVAEngineSetSpeakerVolume),
    KOVA_EXPORT(KOVAEngineSetMicrophoneVolume),
    KOVA_EXPORT(KOVAEngineGetPlayoutSources),
    KOVA_EXPORT(KOVAEngineGetRecordingSources),
    KOVA_EXPORT(KOVAEngineSendChatMessage),
    KOVA_EXPORT(KOVAEngineInitBroadCast),
    KOVA_EXPORT(KOVAEngineChangeNickName),
    KOVA_EXPORT(KOVAEngineChangeNickNameV2),
    KOVA_EXPORT(KOVAEngineSendControlMessage),
    KOVA_EXPORT(KOVAEngineSendControlMessageV2),
    KOVA_EXPORT(KOVAEngineEnableStreamStat),
    KOVA_EXPORT(KOVAEngineGeneralToken),
    KOVA_EXPORT(KOVAEngineInstallAudioDrive),
    KOVA_EXPORT(KOVAEngineHasMacVirtualDevice),
    KOVA_EXPORT(KOVAEngineSetDebugLogEnable),
    KOVA_EXPORT(KOVAEngineSetDebugLogCallback),
    KOVA_EXPORT(KOVAEngineSubscribeDataStream),
    KOVA_EXPORT(KOVAEngineUnsubscribeDataStream),
    KOVA_EXPORT(KOVAEngineSetApiUrl),
    KOVA_EXPORT(KOVAEngineStartUploadRtcLogs),
    KOVA_EXPORT(KOVAEngineSetAppName),
    KOVA_EXPORT(KOVAEngineGetSystemSleepState),
    KOVA_EXPORT(KOVAEngineSetSDKConfigParam),
    KOVA_EXPORT(KOVAEngineGetSDKStats),
    KOVA_EXPORT(KOVAEngineFindWindowIdByTitle),
    KOVA_EXPORT(KOVAEngineStartLocalPreviewTest),
    KOVA_EXPORT(KOVAEngineStopLocalPreviewTest),
    KOVA_EXPORT(KOVAEngineStartRecordingTest),
    KOVA_EXPORT(KOVAEngineStopRecordingTest),
    KOVA_EXPORT(KOVAEngineStartPlayoutTest),
    KOVA_EXPORT(KOVAEngineStopPlayoutTest),
    KOVA_EXPORT(KOVAEngineSubscribeMillionAudio),
    KOVA_EXPORT(KOVAEngineUnSubscribeMillionAudio),
    KOVA_EXPORT(KOVAEngineSetLocalVideoMirror),
    KOVA_EXPORT(KOVAEnginePrintLog),
    KOVA_EXPORT(KOVAEngineGetSpeakerVolume),
    KOVA_EXPORT(KOVAEngineGetMicrophoneVolume),
    KOVA_EXPORT(SAIManagerCheckOpenGL),
    KOVA_EXPORT(SAIManagerInit),
    KOVA_EXPORT(SAIManagerInitByAppId),
    KOVA_EXPORT(SAIManagerEnableFeature),
    KOVA_EXPORT(SAIManagerDisableFeature),
    KOVA_EXPORT(SAIManagerUnInit),
    KOVA_EXPORT(CTR_SetClientCallBack),
    KOVA_EXPORT(CTR_CreateClient),
    KOVA_EXPORT(CTR_SendDataToServer),
    KOVA_EXPORT(CTR_StopClient),
    KOVA_EXPORT(KOVAEngineSetAudioAINoiseExEnable),
    KOVA_EXPORT(KOVAEngineSetCameraDeviceByUID),
    KOVA_EXPORT(KOVAEngineSetPlayoutDeviceByUID),
    KOVA_EXPORT(KOVAEngineSetRecordingDeviceByUID),
    KOVA_EXPORT(KOVAEngineSetExternalDeviceStateCallback),
    KOVA_EXPORT(KOVAEngineSetSDKConfigPath),
    KOVA_EXPORT(KOVAEngineSetSDKConfigString),
    KOVA_EXPORT(KOVAEngineReportEventError),
    KOVA_EXPORT(KOVAEngineGetDeviceID),
};

extern "C" __attribute__((visibility("default"))) napi_value napi_register_module_v1(napi_env env, napi_value exports) {
    std::cout << "Enter NAPI_MODULE_INIT." << std::endl;
    KOVAEngine::EnvironmentStarts(env);
    // Registered before anything of this environment that crosses into it, so it runs after their
    // own cleanup hooks have closed them.
    NAPI_CALL(env, napi_add_env_cleanup_hook(env, EnvironmentEnds, env));
    for (const ExportedFunction& entry : kExports) {
        napi_value fn = nullptr;
        NAPI_CALL(env, napi_create_function(env, nullptr, 0, entry.callback, nullptr, &fn));
        NAPI_CALL(env, napi_set_named_property(env, exports, entry.name, fn));
    }
    std::cout << "Leave NAPI_MODULE_INIT." << std::endl;
    return exports;
}

static napi_module s_module = {
    1,                             // nm_version
    0,                             // nm_flags
    __FILE__,                      // nm_filename
    napi_register_module_v1,       // nm_register_func
    "KOVAElectronSDK",             // nm_modname
    nullptr,                       // nm_priv
    {nullptr, nullptr, nullptr, nullptr},
};

// Registers the module when the library is loaded; both ways lead to napi_register_module_v1.
static void _register_KOVAElectronSDK() __attribute__((constructor));
static void _register_KOVAElectronSDK() { napi_module_register(&s_module); }

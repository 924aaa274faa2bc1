// The engine bridge: the addon's one object that loads the SDK, owns its client, forwards the engine
// operations to it, owns the two listener objects, and keeps the registry of JavaScript callbacks
// through which asynchronous SDK results reach the JavaScript thread; its frame streams are a
// FrameStreams (KOVAEngineStream.h).
//
// The engine belongs to the JavaScript environment whose call created it (the main thread, a worker, a
// renderer); calls from other environments do not reach it, and the end of its environment destroys
// it as KOVAEngineUninit does.
//
// Threads: construction, destruction, the operations and CallbackJSFn run on the JavaScript thread of
// the owning environment; the producers and StreamCallback/CaptureCallback run on SDK threads. Three
// recursive mutexes (registry, stream crossings, frame queues) are never held two at a time.
#ifndef KOVA_KOVAENGINE_H
#define KOVA_KOVAENGINE_H

#include <node_api.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <utility>

#include "DataType.h"
#include "JsCrossing.h"
#include "KOVAEngineStream.h"
#include "OsCompat.h"
#include "kova-api-i.h"

class KOVAEngineListener;
class KOVAEngineListenerV2;

using IKOV_API = solvane::kovawin::IKOV_API;
using StreamInfo = IKOV_API::StreamInfo;
using CaptureInfo = IKOV_API::CaptureInfo;
using AdmInfo = IKOV_API::AdmInfo;

class KOVAEngine {
public:
    // Returns the singleton, constructing it on first use for the environment of the calling entry
    // function. Both run under OwnerLock (through ForEnv, KOVAEngineUninit and EnvironmentEnds).
    static KOVAEngine* KOVAEngineGetInstance(napi_env env);
    static void KOVAEngineReleaseInstance();
    // KOVAEngineUninit from environment `env`: false when the engine belongs to another one.
    static bool ReleaseFor(napi_env env);

    bool HasClient() const { return m_pClient != nullptr; }

    // Forwards one SDK operation; without a client it does nothing and returns zero, false or null.
    template <auto Op, typename... P>
    auto Call(P&&... params) {
        using R = decltype((std::declval<IKOV_API&>().*Op)(std::forward<P>(params)...));
        if (m_pClient == nullptr) return R{};
        return (m_pClient->*Op)(std::forward<P>(params)...);
    }

    KOVAEngineListener* KOVAEngineGetListener();
    KOVAEngineListenerV2* KOVAEngineGetListenerV2();
    int KOVAEngineSetApiListener(solvane::kovawin::KOVAListener* listener);
    int KOVAEngineSetApiListenerV2(solvane::kovawin::KOVAListenerV2* listener);

    // ---- environment: the engine belongs to the environment whose call created it ----
    // The owning environment.
    napi_env Env() const { return m_env; }
    // The engine for a call from `env` (JavaScript thread of `env`): created first when `create` is
    // set and no engine exists. Null when none exists or when it belongs to another environment
    // (`foreign` tells which); nothing is raised.
    static KOVAEngine* ForEnv(napi_env env, bool create, bool* foreign = nullptr);
    // Module registration in environment `env`: it becomes g_env while no engine exists.
    static void EnvironmentStarts(napi_env env);
    // The end of environment `env`: the engine it owns, if any, is destroyed as KOVAEngineUninit
    // destroys it (JavaScript thread of `env`, from its cleanup hook).
    static void EnvironmentEnds(napi_env env);

    // ---- callback registry: one FIFO queue of crossings per type ----
    using Crossing = std::shared_ptr<JsCrossing>;
    void KOVAEngineSetCallBackByCBType(EngineCBType type, Crossing fn);
    Crossing KOVAEngineGetCallBackByCBType(EngineCBType type);
    void KOVAEngineDelCallBackByCBType(EngineCBType type, const Crossing& fn);
    // Removes and returns the front registration of a type (null when none).
    Crossing TakeCallBackByCBType(EngineCBType type);
    // Registers `jsFunction` under `type` through a new crossing named `resourceName`. False after a
    // failed Node-API call (raised), with nothing registered.
    bool RegisterCallBack(napi_env env, EngineCBType type, napi_value jsFunction, const char* resourceName);
    // Ends the front registration of a repeating type: it receives no further results and no longer
    // keeps the event loop alive; results already on their way still reach it.
    void RemoveRepeating(napi_env env, EngineCBType type);
    // Stops every registration of `type` from keeping the event loop alive.
    void UnrefCallBacks(napi_env env, EngineCBType type);

    // Posts a result of `type` to the front registration of that type (one-shot types take it out of
    // the registry). Without a registration the message is dropped. Any thread.
    static void PostResult(CallbackMessage* message);

    // The call-JS function of every crossing of the registry and of the frame streams.
    static void CallbackJSFn(napi_env env, napi_value jsCallback, void* context, void* data);

    // ---- producers handed to the SDK; called on its threads ----
    static void ExitRoomCallBack(int result);
    static void CameraDevicesListCallBack(CaptureInfo* list, int count);
    static void ScreenCaptureSourcesCallBack(CaptureInfo* list, int count);
    static void WindowCaptureSourcesCallBack(CaptureInfo* list, int count);
    static void PlayoutSourcesCallBack(AdmInfo* list, int count);
    static void RecordingSourcesCallBack(AdmInfo* list, int count);
    static void DebugLogCallback(int level, char* text, int length);
    static void GetSDKStats(char* text, int length);
    static void DesktopPreviewFinishCallBack(int result);
    static void RecordingTestCallBack(int level);
    static void PlayoutTestCallBack(int a, int b);
    static void ExternalDeviceStateCallBack(bool state);

    // ---- frames (KOVAEngineStream.cpp) ----
    static void StreamCallback(StreamInfo frame);
    static void CaptureCallback(StreamInfo frame);
    // Delivers the oldest waiting frame of `key`, woken through crossing `via`.
    static void CallbackStream(napi_env env, napi_value jsCallback, const std::string& key, const JsCrossing* via);
    FrameStreams& Streams() { return m_streams; }

    // Installs (true) or removes (false) the local camera capture callback.
    int KOVAEngineSetNeedLocalCameraCallback(bool need);

private:
    // Guards the engine's existence against SDK threads: producers and frame callbacks hold it shared
    // while they use the engine; destruction holds it exclusively once the SDK client is gone.
    static std::shared_mutex& EngineLifetimeLock();
    // Guards creation, destruction and ownership of the engine between the JavaScript threads of
    // several environments (the main thread and workers); SDK threads never take it.
    static std::mutex& OwnerLock();

    explicit KOVAEngine(napi_env env);
    ~KOVAEngine();
    KOVAEngine(const KOVAEngine&) = delete;
    KOVAEngine& operator=(const KOVAEngine&) = delete;

    bool LoadSdk(const std::wstring& path);
    void StopClient();
    // Closes every registration of the registry.
    void CloseCallBacks();

    PlatformModule m_hSdkModule = nullptr;
    PFN_CreateKOVAWinClient m_pfnCreateKOVAWinClient = nullptr;
    PFN_DestroyKOVAWinClient m_pfnDestroyKOVAWinClient = nullptr;
    PFN_EnableKOVASDKCrashDump m_pfnEnableKOVASDKCrashDump = nullptr;
    IKOV_API* m_pClient = nullptr;
    KOVAEngineListener* m_pListener = nullptr;
    KOVAEngineListenerV2* m_pListenerV2 = nullptr;
    std::map<EngineCBType, std::deque<Crossing>> m_mapCallBack;
    std::recursive_mutex m_mxCallBack;
    // The frame queues, their counts and the streams' crossings (m_mapStreamQue, m_mapStreamTsFn, ...).
    FrameStreams m_streams;
    const napi_env m_env;

    static KOVAEngine* m_pStaKOVAEngine;
};

// The engine that the JavaScript entry functions use; null until one of the creating entry
// functions has run, and again after KOVAEngineUninit.
extern KOVAEngine* g_pKOVAEngineInstance;

#endif  // KOVA_KOVAENGINE_H

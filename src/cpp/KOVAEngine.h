// The engine bridge: the addon's one object that loads the SDK, owns its client, forwards the engine
// operations to it, owns the two listener objects, and keeps the registry of JavaScript callbacks
// through which asynchronous SDK results reach the JavaScript thread. Also the per-stream frame queues.
//
// Threads: construction, destruction, the operations and CallbackJSFn run on the JavaScript thread;
// the producers and StreamCallback/CaptureCallback run on SDK threads. Three recursive mutexes
// (registry, stream functions, frame queues) are never held two at a time.
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
    static KOVAEngine* KOVAEngineGetInstance();
    static void KOVAEngineReleaseInstance();

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

    // ---- callback registry: one FIFO queue of thread-safe functions per type ----
    void KOVAEngineSetCallBackByCBType(EngineCBType type, napi_threadsafe_function fn);
    napi_threadsafe_function KOVAEngineGetCallBackByCBType(EngineCBType type);
    void KOVAEngineDelCallBackByCBType(EngineCBType type, napi_threadsafe_function fn);
    // Stops every function registered under `type` from keeping Node's event loop alive (JS thread).
    void UnrefCallBacks(napi_env env, EngineCBType type);
    // Removes and returns the front function of a type (null when none).
    napi_threadsafe_function TakeCallBackByCBType(EngineCBType type);

    // Creates a thread-safe function on `jsFunction` calling CallbackJSFn (unbounded queue, initial
    // thread count 2). Null after a failed call, with the error raised.
    static napi_threadsafe_function CreateCallbackTsFn(napi_env env, napi_value jsFunction, const char* resourceName);

    // Posts a result of `type` to the front registration of that type (one-shot types take it out of
    // the registry). Without a registration the message is dropped. Any thread.
    static void PostResult(CallbackMessage* message);

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

    // ---- frames ----
    static void StreamCallback(StreamInfo frame);
    static void CaptureCallback(StreamInfo frame);
    static void CallbackStream(napi_env env, napi_value jsCallback, const std::string& key);

    static void KOVAEngineCreateQueueBuf(const std::string& key);
    static void KOVAEngineDestroyQueueBuf(const std::string& key);
    static void KOVAEngineClearQueueBuf();
    // Queues a copied frame; false when it was dropped (and freed): the stream has stopped or four
    // frames already wait.
    static bool KOVAEnginePushData(const std::string& key, StreamInfo* frame);
    // True when the stream's queue exists and has room for another frame.
    static bool KOVAEngineQueueHasRoom(const std::string& key);
    static StreamInfo* KOVAEnginePopData(const std::string& key);
    static void KOVAEngineIncStreamRefCount(const std::string& key);
    static void KOVAEngineDecStreamRefCount(const std::string& key);
    static int KOVAEngineGetStreamRefCount(const std::string& key);

    void SetStreamTsFn(const std::string& key, napi_threadsafe_function fn);
    napi_threadsafe_function GetStreamTsFn(const std::string& key);
    void DeleteStreamTsFn(const std::string& key);

    // Installs (true) or removes (false) the local camera capture callback.
    int KOVAEngineSetNeedLocalCameraCallback(bool need);

private:
    // Guards the engine's existence against SDK threads: producers and frame callbacks hold it shared
    // while they use the engine; destruction holds it exclusively once the SDK client is gone.
    static std::shared_mutex& EngineLifetimeLock();

    KOVAEngine();
    ~KOVAEngine();
    KOVAEngine(const KOVAEngine&) = delete;
    KOVAEngine& operator=(const KOVAEngine&) = delete;

    bool LoadSdk(const std::wstring& path);
    void StopClient();

    PlatformModule m_hSdkModule = nullptr;
    PFN_CreateKOVAWinClient m_pfnCreateKOVAWinClient = nullptr;
    PFN_DestroyKOVAWinClient m_pfnDestroyKOVAWinClient = nullptr;
    PFN_EnableKOVASDKCrashDump m_pfnEnableKOVASDKCrashDump = nullptr;
    IKOV_API* m_pClient = nullptr;
    KOVAEngineListener* m_pListener = nullptr;
    KOVAEngineListenerV2* m_pListenerV2 = nullptr;
    std::map<EngineCBType, std::deque<napi_threadsafe_function>> m_mapCallBack;
    std::recursive_mutex m_mxCallBack;
    std::map<std::string, napi_threadsafe_function> m_mapStreamTsFn;
    std::recursive_mutex m_mxStreamTsFn;

    static KOVAEngine* m_pStaKOVAEngine;
    static std::map<std::string, std::deque<StreamInfo*>> m_mapStreamQue;
    static std::recursive_mutex m_mxQueBuf;
    static std::map<std::string, int> m_mapStreamBufRefCount;
};

// The engine that the JavaScript entry functions use; null until one of the creating entry
// functions has run, and again after KOVAEngineUninit.
extern KOVAEngine* g_pKOVAEngineInstance;

#endif  // KOVA_KOVAENGINE_H

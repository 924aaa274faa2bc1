// The adapter over the AI video-effects library `SAIManager`: loads the library on demand, creates its
// manager, forwards initialisation and feature requests from JavaScript, reports each asynchronous
// result to the request's JavaScript callback as a code, and, while a feature is being enabled or is
// enabled, hands every captured local camera frame to the library before the SDK goes on with it.
//
// States: 0 not initialised, 1 init result pending, 2 initialised, 3 enable result pending,
// 4 feature enabled. Frames reach the library in states 3 and 4.
//
// Every accepted request is answered exactly once: by the library's first result, or, when the library
// has not answered within kResultTimeoutMs, by the adapter with kErrorNoAnswer (-12). A request stays
// pending across unInit, so a new request of its kind gets -2 until the pending one is answered.
//
// Threads: every operation except processVideoFrame and isNeedProcessVideoFrame runs on the JavaScript
// thread. The library reports results on threads of its own; they only post through the request's
// crossing. processVideoFrame runs on the SDK's capture thread under m_mutexManager, which
// unInit holds too, so the manager is never destroyed while a frame is inside it.
#ifndef KOVA_SAIMANAGERADAPTER_H
#define KOVA_SAIMANAGERADAPTER_H

#include <node_api.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "JsCrossing.h"
#include "OsCompat.h"
#include "kova-api-i.h"

class KOVAEngine;

class SAIManagerAdapter {
public:
    using ISAIManager = solvane::saimanager::ISAIManager;
    using StreamInfo = solvane::kovawin::IKOV_API::StreamInfo;

    // Internal codes of the adapter's own answers (the library's results are 0 to 9).
    static constexpr int kErrorLibrary = 1000;   // library not loaded, an entry point missing, no manager
    static constexpr int kErrorPending = 1001;   // a request of the same kind is still pending
    static constexpr int kErrorNoAnswer = 1002;  // the library did not answer within kResultTimeoutMs
    static constexpr int kErrorNotInit = 7;      // enabling before any init
    // Event id of every report the adapter makes through the SDK.
    static constexpr int kEventId = 21014001;
    // How long a request waits for the library's answer before it is closed with kErrorNoAnswer
    // (KOVA_SAI_RESULT_TIMEOUT_MS overrides it).
    static constexpr int kResultTimeoutMs = 30000;

    static SAIManagerAdapter* SAIManagerAdapterInstance();
    static void SAIManagerAdapterReleaseInstance();

    // The code JavaScript receives for an internal code (0 for a code the table does not list).
    static int InternalErrorCodeToJSErrorCode(int internalCode);

    // The environment whose calls drive the adapter (set by every entry function before its call).
    void BindEnv(napi_env env) { m_env = env; }

    void checkOpenGL(napi_env env, int n, const char* text, int textLength, napi_value callback);
    void init(napi_env env, int n, void* data, int size, char* text, int textLength, napi_value callback);
    void initByAppId(napi_env env, int n, const char* appId, int appIdLength, napi_value callback);
    void enableFeature(napi_env env, int n, char* text, int textLength, napi_value callback);
    void disableFeature();
    void unInit();

    // True in states 3 and 4. Any thread; false while no adapter exists.
    static bool isNeedProcessVideoFrame();
    // Hands a captured local camera frame to the library, synchronously (SDK capture thread).
    static void processVideoFrame(StreamInfo& frame);

    // Calls `callback` with the JavaScript code of `internalCode`, then logs it.
    void CallJSError(napi_env env, napi_value callback, int internalCode);
    // Reports "<text> <code>" through the SDK with the adapter's event id. `length` is not used.
    void ReportEventError(int code, const char* text, int length);

    static void CallbackJSFnInit(napi_env env, napi_value jsCallback, void* context, void* data);
    static void CallbackJSFnEnable(napi_env env, napi_value jsCallback, void* context, void* data);

    // The end of environment `env`: when it drives the adapter, the adapter is uninitialised and its
    // pending requests are dropped (their callbacks are gone with the environment).
    static void EnvironmentEnds(napi_env env);

    // One result on its way to JavaScript, and one accepted request; both are defined in the
    // implementation.
    struct Result;
    struct Request;

private:
    SAIManagerAdapter() = default;
    ~SAIManagerAdapter() = default;
    SAIManagerAdapter(const SAIManagerAdapter&) = delete;
    SAIManagerAdapter& operator=(const SAIManagerAdapter&) = delete;

    void OnCallbackJSFnInit(napi_env env, napi_value jsCallback, const Result& result);
    void OnCallbackJSFnEnable(napi_env env, napi_value jsCallback, const Result& result);

    // Loads the library when it is not loaded yet; false when it cannot be loaded.
    bool LoadLibrary();
    // The steps both init variants share: load the library, look up its entry points, create the
    // manager and open the request. Null when a step failed (the callback has been answered).
    ISAIManager* BeginInit(napi_env env, napi_value callback, bool byAppId);
    // Opens a request: a crossing to `callback` and the request that the library's answer, or the
    // deadline, closes. False (with the Node-API error raised) when the crossing cannot be created.
    bool OpenRequest(napi_env env, napi_value callback, const char* resourceName, JsCrossing::CallJs callJs,
                     std::shared_ptr<JsCrossing>& tsFn, std::shared_ptr<Request>& request);
    // Ends a request of a kind after its result was delivered.
    void CloseRequest(std::shared_ptr<JsCrossing>& tsFn, std::shared_ptr<Request>& request);
    // The engine of the adapter's environment, or null.
    KOVAEngine* Engine() const;
    void Log(const std::string& line);

    PlatformModule m_hLibrary = nullptr;
    PFN_CreateSAIManager m_pfnCreateSAIManager = nullptr;
    PFN_DestorySAIManager m_pfnDestorySAIManager = nullptr;
    ISAIManager* m_pSAIManager = nullptr;
    // The pending requests' crossings (null when none is pending) and the requests themselves.
    std::shared_ptr<JsCrossing> m_tsFnInit;
    std::shared_ptr<JsCrossing> m_tsFnEnable;
    std::shared_ptr<Request> m_requestInit;
    std::shared_ptr<Request> m_requestEnable;
    // Read unlocked on the SDK's capture thread.
    std::atomic<int32_t> m_nState{0};
    std::mutex m_mutexManager;
    napi_env m_env = nullptr;

    static std::atomic<SAIManagerAdapter*> s_pAIManagerAdapter;
};

#endif  // KOVA_SAIMANAGERADAPTER_H

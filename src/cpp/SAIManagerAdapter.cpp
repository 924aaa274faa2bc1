#include "SAIManagerAdapter.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <thread>
#include <utility>

#include "KOVAEngine.h"
#include "general.h"

std::atomic<SAIManagerAdapter*> SAIManagerAdapter::s_pAIManagerAdapter{nullptr};

// One result on its way to the JavaScript thread; `via` names the request's crossing.
struct SAIManagerAdapter::Result : JsCrossing::Record {
    int value = 0;
};

// One accepted request, shared by every copy of the result function handed to the library, by its
// deadline and by the adapter. The first answer (the library's, or the deadline's) is posted; every
// later one is dropped.
struct SAIManagerAdapter::Request {
    std::mutex mutex;
    std::condition_variable answeredChanged;
    std::shared_ptr<JsCrossing> crossing;
    bool answered = false;

    // Any thread.
    void Answer(int value) {
        std::shared_ptr<JsCrossing> fn;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (answered) return;
            answered = true;
            fn = std::move(crossing);
        }
        answeredChanged.notify_all();
        auto* result = new Result();
        result->value = value;
        if (fn != nullptr) fn->Post(result);
    }
};

namespace {

using ISAIManager = SAIManagerAdapter::ISAIManager;
using Request = SAIManagerAdapter::Request;

// Below the directory three levels above the addon.
const wchar_t kLibraryRelativePath[] = L"SAIManagerElectrionSDK/native/linux/libSAIManager.so";

std::mutex& InstanceMutex() {
    static std::mutex mutex;
    return mutex;
}

std::chrono::milliseconds ResultTimeout() {
    static const std::chrono::milliseconds timeout = [] {
        const char* value = std::getenv("KOVA_SAI_RESULT_TIMEOUT_MS");
        long ms = value != nullptr ? std::strtol(value, nullptr, 10) : 0;
        return std::chrono::milliseconds(ms > 0 ? ms : SAIManagerAdapter::kResultTimeoutMs);
    }();
    return timeout;
}

// The function through which the library reports one request's result, from any thread.
std::function<void(ISAIManager::OperationResult)> MakeResultFunction(const std::shared_ptr<Request>& request) {
    return [request](ISAIManager::OperationResult value) { request->Answer(static_cast<int>(value)); };
}

// Closes `request` with the adapter's own answer when the library has not answered in time.
void StartDeadline(const std::shared_ptr<Request>& request) {
    std::thread([request] {
        std::unique_lock<std::mutex> lock(request->mutex);
        if (request->answeredChanged.wait_for(lock, ResultTimeout(), [&] { return request->answered; })) return;
        lock.unlock();
        request->Answer(SAIManagerAdapter::kErrorNoAnswer);
    }).detach();
}

}  // namespace

// ---------------------------------------------------------------- instance and codes

SAIManagerAdapter* SAIManagerAdapter::SAIManagerAdapterInstance() {
    SAIManagerAdapter* adapter = s_pAIManagerAdapter.load(std::memory_order_acquire);
    if (adapter != nullptr) return adapter;
    std::lock_guard<std::mutex> lock(InstanceMutex());
    adapter = s_pAIManagerAdapter.load(std::memory_order_relaxed);
    if (adapter == nullptr) {
        adapter = new SAIManagerAdapter();
        s_pAIManagerAdapter.store(adapter, std::memory_order_release);
    }
    return adapter;
}

void SAIManagerAdapter::SAIManagerAdapterReleaseInstance() {
    std::lock_guard<std::mutex> lock(InstanceMutex());
    SAIManagerAdapter* adapter = s_pAIManagerAdapter.load(std::memory_order_relaxed);
    if (adapter == nullptr) return;
    adapter->unInit();
    s_pAIManagerAdapter.store(nullptr, std::memory_order_release);
    delete adapter;
}

int SAIManagerAdapter::InternalErrorCodeToJSErrorCode(int internalCode) {
    static const std::pair<int, int> s_errorCodeMaping[13] = {
        {0, 0},   {kErrorLibrary, -1}, {kErrorPending, -2}, {1, -3}, {2, -4}, {3, -5},
        {4, -6},  {5, -7},             {6, -8},             {7, -9}, {8, -10}, {9, -11},
        {kErrorNoAnswer, -12},
    };
    for (const auto& entry : s_errorCodeMaping) {
        if (entry.first == internalCode) return entry.second;
    }
    return 0;
}

// ---------------------------------------------------------------- reporting

KOVAEngine* SAIManagerAdapter::Engine() const { return KOVAEngine::ForEnv(m_env, false); }

void SAIManagerAdapter::Log(const std::string& line) {
    if (KOVAEngine* engine = Engine()) engine->Call<&IKOV_API::PrintLog>(line.c_str());
}

void SAIManagerAdapter::CallJSError(napi_env env, napi_value callback, int internalCode) {
    int jsCode = InternalErrorCodeToJSErrorCode(internalCode);
    napi_value code = nullptr;
    napi_value undefined = nullptr;
    NAPI_CALL_CONTINUE(env, napi_create_int32(env, jsCode, &code));
    NAPI_CALL_CONTINUE(env, napi_get_undefined(env, &undefined));
    NAPI_CALL_CONTINUE(env, napi_call_function(env, undefined, callback, 1, &code, nullptr));
    Log("SAIManagerAdapater CallJSError internalErrorCode=" + std::to_string(internalCode) +
        " error_callback=" + std::to_string(jsCode));
}

void SAIManagerAdapter::ReportEventError(int code, const char* text, int /*length*/) {
    std::string line = std::string(text) + " " + std::to_string(code);
    if (KOVAEngine* engine = Engine()) {
        engine->Call<&IKOV_API::ReportEventError>(kEventId, line.c_str(), static_cast<int>(line.size()));
    }
}

// ---------------------------------------------------------------- requests

bool SAIManagerAdapter::LoadLibrary() {
    std::wstring path = PlatformGetSAIManagerElectronSDKParentDir() + kLibraryRelativePath;
    m_hLibrary = PlatformLoadLibrary(path, std::wstring());
    return m_hLibrary != nullptr;
}

bool SAIManagerAdapter::OpenRequest(napi_env env, napi_value callback, const char* resourceName,
                                    JsCrossing::CallJs callJs, std::shared_ptr<JsCrossing>& tsFn,
                                    std::shared_ptr<Request>& request) {
    std::shared_ptr<JsCrossing> fn = JsCrossing::Create(env, callback, resourceName, callJs, 1);
    if (fn == nullptr) return false;
    auto fresh = std::make_shared<Request>();
    fresh->crossing = fn;
    tsFn = std::move(fn);
    request = fresh;
    StartDeadline(fresh);
    return true;
}

void SAIManagerAdapter::CloseRequest(std::shared_ptr<JsCrossing>& tsFn, std::shared_ptr<Request>& request) {
    if (tsFn != nullptr) tsFn->Close(m_env);
    tsFn = nullptr;
    request.reset();
}

void SAIManagerAdapter::checkOpenGL(napi_env env, int /*n*/, const char* /*text*/, int /*textLength*/,
                                    napi_value callback) {
    Log("SAIManagerAdapater checkOpenGL enter");
    CallJSError(env, callback, 0);
}

void SAIManagerAdapter::init(napi_env env, int n, void* data, int size, char* text, int textLength,
                             napi_value callback) {
    Log("SAIManagerAdapater init enter");
    if (m_nState != 0) {
        CallJSError(env, callback, 0);
        return;
    }
    ISAIManager* manager = BeginInit(env, callback, false);
    if (manager == nullptr) return;
    manager->init(n, data, size, text, textLength, MakeResultFunction(m_requestInit));
    m_nState = 1;
}

void SAIManagerAdapter::initByAppId(napi_env env, int n, const char* appId, int /*appIdLength*/, napi_value callback) {
    Log(std::string("SAIManagerAdapater initByAppId ") + appId + " enter");
    if (m_nState != 0) {
        Log("SAIManagerAdapater initByAppId current state:" + std::to_string(m_nState));
        CallJSError(env, callback, 0);
        return;
    }
    ISAIManager* manager = BeginInit(env, callback, true);
    if (manager == nullptr) return;
    // The app id's length is not passed on: the library reads the zero-terminated text.
    manager->initByAppId(n, appId, MakeResultFunction(m_requestInit));
    m_nState = 1;
}

SAIManagerAdapter::ISAIManager* SAIManagerAdapter::BeginInit(napi_env env, napi_value callback, bool byAppId) {
    // Each failure answers the callback; initByAppId also logs it and reports it as an event.
    auto fail = [&](int code, const std::string& line, const char* event) -> ISAIManager* {
        if (byAppId && !line.empty()) Log(line);
        CallJSError(env, callback, code);
        if (byAppId && event != nullptr) ReportEventError(code, event, 0);
        return nullptr;
    };
    if (m_hLibrary == nullptr && !LoadLibrary()) {
        std::string path;
        try {
            path = wide_to_utf8_string(PlatformGetSAIManagerElectronSDKParentDir() + kLibraryRelativePath);
        } catch (const std::exception&) {
            // The directory came from the loader as UTF-8, so this does not happen; the line goes out without it.
        }
        return fail(kErrorLibrary, "SAIManagerAdapater initByAppId load library fail " + path,
                    "Init SAIManager LoadLibrary Fail");
    }
    m_pfnCreateSAIManager = reinterpret_cast<PFN_CreateSAIManager>(PlatformGetProcAddress(m_hLibrary, "CreateSAIManager"));
    m_pfnDestorySAIManager = reinterpret_cast<PFN_DestorySAIManager>(PlatformGetProcAddress(m_hLibrary, "DestorySAIManager"));
    // Only initByAppId requires "GetSAIManagerVersion", and never calls it.
    bool version = !byAppId || PlatformGetProcAddress(m_hLibrary, "GetSAIManagerVersion") != nullptr;
    if (!version || m_pfnCreateSAIManager == nullptr || m_pfnDestorySAIManager == nullptr) {
        return fail(kErrorLibrary,
                    std::string("SAIManagerAdapater initByAppId get proc address fail CreateSAIManager=") +
                        (m_pfnCreateSAIManager != nullptr ? "1" : "0") +
                        " DestorySAIManager=" + (m_pfnDestorySAIManager != nullptr ? "1" : "0") +
                        " GetSAIManagerVersion=" + (version ? "1" : "0"),
                    "Init SAIManager GetProcAddress Fail");
    }
    ISAIManager* manager = m_pfnCreateSAIManager();
    {
        // Set under the manager lock: the capture thread reads the pointer under it.
        std::lock_guard<std::mutex> lock(m_mutexManager);
        m_pSAIManager = manager;
    }
    if (manager == nullptr) {
        return fail(kErrorLibrary, "SAIManagerAdapater initByAppId CreateSAIManager fail",
                    "Init SAIManager CreateSAIManager Fail");
    }
    if (m_tsFnInit != nullptr) return fail(kErrorPending, "SAIManagerAdapater initByAppId m_tsFnInit!=NULL", nullptr);
    if (!OpenRequest(env, callback, "SAIManagerInit", CallbackJSFnInit, m_tsFnInit, m_requestInit)) return nullptr;
    return manager;
}

void SAIManagerAdapter::enableFeature(napi_env env, int n, char* text, int textLength, napi_value callback) {
    // Accepted in every state but 0: also while an init result is pending and when a feature is on.
    if (m_nState == 0) {
        CallJSError(env, callback, kErrorNotInit);
        return;
    }
    if (m_tsFnEnable != nullptr) {
        CallJSError(env, callback, kErrorPending);
        return;
    }
    if (!OpenRequest(env, callback, "SAIManagerEnableFeature", CallbackJSFnEnable, m_tsFnEnable, m_requestEnable)) {
        return;
    }
    m_pSAIManager->enableFeature(n, text, textLength, MakeResultFunction(m_requestEnable));
    m_nState = 3;
}

void SAIManagerAdapter::disableFeature() {
    if (KOVAEngine* engine = Engine()) engine->KOVAEngineSetNeedLocalCameraCallback(false);
    if (m_nState == 3 || m_nState == 4) {
        m_nState = 2;
        m_pSAIManager->disableFeature();
    }
}

void SAIManagerAdapter::unInit() {
    // The SDK's camera callback is switched off before the manager lock is taken: an SDK that waits
    // for a capture callback in flight must not wait for one blocked on that lock.
    if (KOVAEngine* engine = Engine()) engine->KOVAEngineSetNeedLocalCameraCallback(false);
    std::lock_guard<std::mutex> lock(m_mutexManager);
    if (m_nState == 0) return;
    m_nState = 0;
    if (m_pSAIManager != nullptr) m_pSAIManager->unInit();
    if (m_pfnDestorySAIManager != nullptr) m_pfnDestorySAIManager();
    m_pSAIManager = nullptr;
    m_pfnCreateSAIManager = nullptr;
    m_pfnDestorySAIManager = nullptr;
    PlatformFreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
    // Requests still pending stay pending: each gets the library's late answer, or the adapter's own
    // when the library gives none in time.
}

void SAIManagerAdapter::EnvironmentEnds(napi_env env) {
    SAIManagerAdapter* adapter = s_pAIManagerAdapter.load(std::memory_order_acquire);
    if (adapter == nullptr || adapter->m_env != env) return;
    adapter->unInit();
    // Their callbacks have ended with the environment: a later environment starts afresh.
    for (std::shared_ptr<Request>* request : {&adapter->m_requestInit, &adapter->m_requestEnable}) {
        if (*request != nullptr) (*request)->Answer(kErrorNoAnswer);  // the closed crossing drops it
        request->reset();
    }
    adapter->m_tsFnInit = nullptr;
    adapter->m_tsFnEnable = nullptr;
    adapter->m_env = nullptr;
}

// ---------------------------------------------------------------- results (JavaScript thread)

void SAIManagerAdapter::CallbackJSFnInit(napi_env env, napi_value jsCallback, void* /*context*/, void* data) {
    SAIManagerAdapterInstance()->OnCallbackJSFnInit(env, jsCallback, *static_cast<Result*>(data));
}

void SAIManagerAdapter::CallbackJSFnEnable(napi_env env, napi_value jsCallback, void* /*context*/, void* data) {
    SAIManagerAdapterInstance()->OnCallbackJSFnEnable(env, jsCallback, *static_cast<Result*>(data));
}

void SAIManagerAdapter::OnCallbackJSFnInit(napi_env env, napi_value jsCallback, const Result& result) {
    // The request has ended before its callback runs, so the callback may start the next one.
    bool current = result.via == m_tsFnInit.get();
    if (current && m_nState == 1) m_nState = result.value == 0 ? 2 : 0;
    if (current) CloseRequest(m_tsFnInit, m_requestInit);
    CallJSError(env, jsCallback, result.value);
    ReportEventError(InternalErrorCodeToJSErrorCode(result.value), "Init SAIManager Result", 0);
}

void SAIManagerAdapter::OnCallbackJSFnEnable(napi_env env, napi_value jsCallback, const Result& result) {
    bool current = result.via == m_tsFnEnable.get();
    if (current && m_nState == 3) {
        if (result.value == 0) {
            m_nState = 4;
            if (KOVAEngine* engine = Engine()) engine->KOVAEngineSetNeedLocalCameraCallback(true);
        } else {
            m_nState = 2;
        }
    }
    if (current) CloseRequest(m_tsFnEnable, m_requestEnable);
    CallJSError(env, jsCallback, result.value);
}

// ---------------------------------------------------------------- frames (SDK capture thread)

bool SAIManagerAdapter::isNeedProcessVideoFrame() {
    SAIManagerAdapter* adapter = s_pAIManagerAdapter.load(std::memory_order_acquire);
    if (adapter == nullptr) return false;
    int32_t state = adapter->m_nState;
    return state == 3 || state == 4;
}

void SAIManagerAdapter::processVideoFrame(StreamInfo& frame) {
    if (!isNeedProcessVideoFrame()) return;
    SAIManagerAdapter* adapter = s_pAIManagerAdapter.load(std::memory_order_acquire);
    std::lock_guard<std::mutex> lock(adapter->m_mutexManager);
    // Checked again under the lock: unInit may have run since.
    int32_t state = adapter->m_nState;
    if ((state != 3 && state != 4) || adapter->m_pSAIManager == nullptr) return;
    // The library works on a copy of the record; its plane pointers are still the SDK's buffers, so
    // changes to the pixels reach the SDK's frame.
    StreamInfo copy = frame;
    adapter->m_pSAIManager->processVideoFrame(&copy);
}

#include "KOVAEngine.h"

#include <shared_mutex>

#include "KOVAEngineListener.h"
#include "general.h"

KOVAEngine* g_pKOVAEngineInstance = nullptr;
KOVAEngine* KOVAEngine::m_pStaKOVAEngine = nullptr;

std::shared_mutex& KOVAEngine::EngineLifetimeLock() {
    static std::shared_mutex mutex;
    return mutex;
}

namespace {

// Copies `length` bytes of an SDK string; a null pointer or a negative length gives "".
std::string CopySdkString(const char* text, int length) {
    if (text == nullptr || length <= 0) return std::string();
    return std::string(text, static_cast<size_t>(length));
}

// Copies an SDK device list (CaptureInfo or AdmInfo entries); a null list or a count below 1 gives none.
template <typename Entry>
std::vector<DeviceCopy> CopyDeviceList(const Entry* list, int count) {
    std::vector<DeviceCopy> out;
    if (list == nullptr || count < 1) return out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        DeviceCopy copy;
        copy.id = list[i].id;
        copy.uniqueId = CopySdkString(list[i].uniqueId, list[i].uniqueIdLength);
        copy.name = CopySdkString(list[i].name, list[i].nameLength);
        out.push_back(std::move(copy));
    }
    return out;
}

void PostList(EngineCBType type, std::vector<DeviceCopy> devices, int count) {
    auto* message = new CallbackMessage();
    message->type = type;
    message->count = count;
    message->hasList = !devices.empty();
    message->devices = std::move(devices);
    KOVAEngine::PostResult(message);
}

void PostValues(EngineCBType type, std::initializer_list<int32_t> values) {
    auto* message = new CallbackMessage();
    message->type = type;
    message->values.assign(values);
    message->count = static_cast<int32_t>(values.size());
    KOVAEngine::PostResult(message);
}

napi_value MakeDeviceArray(napi_env env, const CallbackMessage& message, bool audioOrder) {
    napi_value array = nullptr;
    NAPI_CALL(env, napi_create_array_with_length(env, message.devices.size(), &array));
    uint32_t index = 0;
    for (const DeviceCopy& device : message.devices) {
        napi_value object = nullptr, id = nullptr, uniqueId = nullptr, name = nullptr;
        NAPI_CALL_CONTINUE(env, napi_create_object(env, &object));
        NAPI_CALL_CONTINUE(env, napi_create_int32(env, device.id, &id));
        NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, device.uniqueId.data(), device.uniqueId.size(), &uniqueId));
        NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, device.name.data(), device.name.size(), &name));
        NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "id", id));
        // Audio devices list "uniqueId" before "name"; capture sources the other way round.
        if (audioOrder) {
            NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "uniqueId", uniqueId));
            NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "name", name));
        } else {
            NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "name", name));
            NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "uniqueId", uniqueId));
        }
        NAPI_CALL_CONTINUE(env, napi_set_element(env, array, index++, object));
    }
    return array;
}

// Builds the JavaScript arguments of one callback message; returns how many.
size_t BuildArguments(napi_env env, const CallbackMessage& message, napi_value* argv) {
    switch (message.type) {
        case CB_PLAYOUT_SOURCES:
        case CB_RECORDING_SOURCES:
            argv[0] = MakeDeviceArray(env, message, true);
            return 1;
        case CB_CAMERA_DEVICES:
        case CB_SCREEN_SOURCES:
        case CB_WINDOW_SOURCES:
            argv[0] = MakeDeviceArray(env, message, false);
            return 1;
        case CB_EXIT_ROOM:
        case CB_DESKTOP_PREVIEW_FINISH:
        case CB_RECORDING_TEST:
        case CB_PLAYOUT_TEST: {
            size_t n = message.values.size() < 2 ? message.values.size() : 2;
            for (size_t i = 0; i < n; ++i) NAPI_CALL_CONTINUE(env, napi_create_int32(env, message.values[i], &argv[i]));
            return n;
        }
        case CB_DEBUG_LOG:
        case CB_SDK_STATS: {
            const ListenerEventData& e = *message.event;
            size_t n = 0;
            for (int i = 0; i < e.iCount && i < 2; ++i) NAPI_CALL_CONTINUE(env, napi_create_int32(env, e.iParam[i], &argv[n++]));
            for (int i = 0; i < e.strCount && i < 3; ++i) {
                NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, e.strParam[i].data(), e.strParam[i].size(), &argv[n++]));
            }
            if (e.bCount > 0) NAPI_CALL_CONTINUE(env, napi_get_boolean(env, e.bParam, &argv[n++]));
            return n;
        }
        case CB_EXTERNAL_DEVICE_STATE:
            NAPI_CALL_CONTINUE(env, napi_get_boolean(env, message.state, &argv[0]));
            return 1;
        case CB_CTR_MSG:
            NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, message.text.data(), message.text.size(), &argv[0]));
            return 1;
        case CB_CTR_STATUS:
            NAPI_CALL_CONTINUE(env, napi_create_int32(env, message.count, &argv[0]));
            return 1;
        default:
            return 0;
    }
}

}  // namespace

// ---------------------------------------------------------------- lifetime

KOVAEngine* KOVAEngine::KOVAEngineGetInstance() {
    if (m_pStaKOVAEngine == nullptr) {
        auto* engine = new KOVAEngine();
        std::unique_lock<std::shared_mutex> lock(EngineLifetimeLock());
        m_pStaKOVAEngine = engine;
    }
    return m_pStaKOVAEngine;
}

void KOVAEngine::KOVAEngineReleaseInstance() {
    KOVAEngine* engine = m_pStaKOVAEngine;
    if (engine == nullptr) return;
    // Stop the SDK first; then no SDK thread can find the engine any more, and only then is it torn
    // down.
    engine->StopClient();
    {
        std::unique_lock<std::shared_mutex> lock(EngineLifetimeLock());
        m_pStaKOVAEngine = nullptr;
    }
    delete engine;
}

bool KOVAEngine::LoadSdk(const std::wstring& path) {
    m_hSdkModule = PlatformLoadLibrary(path, std::wstring());
    return m_hSdkModule != nullptr;
}

KOVAEngine::KOVAEngine() {
    std::wstring dir = PlatformGetCurrentModuleDir();
    std::string configured = GetLoadKOVASDKName();
    if (!configured.empty()) {
        try {
            LoadSdk(dir + utf8_to_wide_string(configured));
        } catch (const std::exception&) {
            // A name that is not valid UTF-8 cannot name a file: use the default name.
        }
    }
    if (m_hSdkModule == nullptr) LoadSdk(dir + utf8_to_wide_string(GetLoadKOVASDKNameDefault()));
    if (m_hSdkModule != nullptr) {
        auto create = reinterpret_cast<PFN_CreateKOVAWinClient>(PlatformGetProcAddress(m_hSdkModule, "CreateKOVAWinClient"));
        auto destroy = reinterpret_cast<PFN_DestroyKOVAWinClient>(PlatformGetProcAddress(m_hSdkModule, "DestroyKOVAWinClient"));
        auto crashDump = reinterpret_cast<PFN_EnableKOVASDKCrashDump>(PlatformGetProcAddress(m_hSdkModule, "EnableKOVASDKCrashDump"));
        // A library without all three entry points is unusable: no client is created from it.
        if (create != nullptr && destroy != nullptr && crashDump != nullptr) {
            m_pfnCreateKOVAWinClient = create;
            m_pfnDestroyKOVAWinClient = destroy;
            m_pfnEnableKOVASDKCrashDump = crashDump;
            m_pfnEnableKOVASDKCrashDump();
            m_pClient = m_pfnCreateKOVAWinClient();
        }
    }
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    m_mapCallBack.clear();
}

void KOVAEngine::StopClient() {
    // Detach both listeners and destroy the client before anything else, so that no SDK callback can
    // reach a listener or a queue that is being destroyed.
    if (m_pClient != nullptr) {
        m_pClient->SetApiListener(nullptr);
        m_pClient->SetApiListenerV2(nullptr);
        if (m_pfnDestroyKOVAWinClient != nullptr) m_pfnDestroyKOVAWinClient();
        m_pClient = nullptr;
    }
}

KOVAEngine::~KOVAEngine() {
    StopClient();
    delete m_pListener;
    m_pListener = nullptr;
    delete m_pListenerV2;
    m_pListenerV2 = nullptr;
    KOVAEngineClearQueueBuf();
    // The thread-safe functions stay alive (a late post must never reach a finalised one), but they
    // no longer keep Node's event loop running.
    {
        std::lock_guard<std::recursive_mutex> lock(m_mxStreamTsFn);
        for (auto& entry : m_mapStreamTsFn) {
            if (entry.second != nullptr && g_env != nullptr) napi_unref_threadsafe_function(g_env, entry.second);
        }
        m_mapStreamTsFn.clear();
    }
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    for (auto& entry : m_mapCallBack) {
        for (napi_threadsafe_function fn : entry.second) {
            if (g_env != nullptr) napi_unref_threadsafe_function(g_env, fn);
        }
    }
    m_mapCallBack.clear();
}

// ---------------------------------------------------------------- listeners

KOVAEngineListener* KOVAEngine::KOVAEngineGetListener() {
    if (m_pListener == nullptr) m_pListener = new KOVAEngineListener();
    return m_pListener;
}

KOVAEngineListenerV2* KOVAEngine::KOVAEngineGetListenerV2() {
    if (m_pListenerV2 == nullptr) m_pListenerV2 = new KOVAEngineListenerV2();
    return m_pListenerV2;
}

int KOVAEngine::KOVAEngineSetApiListener(solvane::kovawin::KOVAListener* listener) {
    return Call<&IKOV_API::SetApiListener>(listener);
}

int KOVAEngine::KOVAEngineSetApiListenerV2(solvane::kovawin::KOVAListenerV2* listener) {
    return Call<&IKOV_API::SetApiListenerV2>(listener);
}

// ---------------------------------------------------------------- registry

void KOVAEngine::KOVAEngineSetCallBackByCBType(EngineCBType type, napi_threadsafe_function fn) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    auto it = m_mapCallBack.find(type);
    if (it != m_mapCallBack.end() && type != CB_RECORDING_TEST && type != CB_PLAYOUT_TEST) {
        it->second.push_back(fn);
    } else {
        m_mapCallBack[type] = std::deque<napi_threadsafe_function>{fn};
    }
}

napi_threadsafe_function KOVAEngine::KOVAEngineGetCallBackByCBType(EngineCBType type) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    auto it = m_mapCallBack.find(type);
    return (it == m_mapCallBack.end() || it->second.empty()) ? nullptr : it->second.front();
}

void KOVAEngine::KOVAEngineDelCallBackByCBType(EngineCBType type, napi_threadsafe_function fn) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    auto it = m_mapCallBack.find(type);
    if (it == m_mapCallBack.end()) return;
    if (!it->second.empty() && it->second.front() == fn) it->second.pop_front();
    if (it->second.empty()) m_mapCallBack.erase(it);
}

void KOVAEngine::UnrefCallBacks(napi_env env, EngineCBType type) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    auto it = m_mapCallBack.find(type);
    if (it == m_mapCallBack.end()) return;
    for (napi_threadsafe_function fn : it->second) napi_unref_threadsafe_function(env, fn);
}

napi_threadsafe_function KOVAEngine::TakeCallBackByCBType(EngineCBType type) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    napi_threadsafe_function fn = KOVAEngineGetCallBackByCBType(type);
    if (fn != nullptr) KOVAEngineDelCallBackByCBType(type, fn);
    return fn;
}

napi_threadsafe_function KOVAEngine::CreateCallbackTsFn(napi_env env, napi_value jsFunction, const char* resourceName) {
    napi_value name = nullptr;
    napi_threadsafe_function fn = nullptr;
    NAPI_CALL(env, napi_create_string_utf8(env, resourceName, NAPI_AUTO_LENGTH, &name));
    NAPI_CALL(env, napi_create_threadsafe_function(env, jsFunction, nullptr, name, 0, 2, nullptr, nullptr, nullptr,
                                                   KOVAEngine::CallbackJSFn, &fn));
    return fn;
}

void KOVAEngine::PostResult(CallbackMessage* message) {
    napi_threadsafe_function fn = nullptr;
    {
        std::shared_lock<std::shared_mutex> lifetime(EngineLifetimeLock());
        KOVAEngine* engine = m_pStaKOVAEngine;
        if (engine != nullptr) {
            // A one-shot answer takes its registration with it, so that answers reach their
            // callbacks in request order whenever JavaScript gets to run.
            fn = IsOneShotType(message->type) ? engine->TakeCallBackByCBType(message->type)
                                              : engine->KOVAEngineGetCallBackByCBType(message->type);
        }
        if (fn != nullptr) {
            if (IsOneShotType(message->type)) message->oneShot = fn;
            napi_acquire_threadsafe_function(fn);
            if (napi_call_threadsafe_function(fn, message, napi_tsfn_nonblocking) == napi_ok) return;
            napi_release_threadsafe_function(fn, napi_tsfn_release);
        }
    }
    delete message;  // no registration, or the function is closing: the result is dropped
}

void KOVAEngine::CallbackJSFn(napi_env env, napi_value jsCallback, void* /*context*/, void* data) {
    auto* message = static_cast<CallbackMessage*>(data);
    if (message == nullptr) return;
    std::unique_ptr<CallbackMessage> owner(message);
    if (env == nullptr || jsCallback == nullptr) return;  // being torn down: free only
    if (message->type < CB_STREAM || message->type > CB_CTR_STATUS) return;
    if (message->type == CB_STREAM) {
        CallbackStream(env, jsCallback, message->text);
        return;
    }
    napi_value argv[4] = {};
    size_t argc = BuildArguments(env, *message, argv);
    napi_value undefined = nullptr;
    NAPI_CALL_CONTINUE(env, napi_get_undefined(env, &undefined));
    NAPI_CALL_CONTINUE(env, napi_call_function(env, undefined, jsCallback, argc, argv, nullptr));
    // Each delivered post gives back the thread count its producer took.
    napi_threadsafe_function fn = nullptr;
    if (message->oneShot != nullptr) {
        fn = message->oneShot;
        napi_release_threadsafe_function(fn, napi_tsfn_release);
        // The registration has answered: nothing references it any more.
        napi_unref_threadsafe_function(env, fn);
    } else {
        std::shared_lock<std::shared_mutex> lifetime(EngineLifetimeLock());
        if (m_pStaKOVAEngine != nullptr) fn = m_pStaKOVAEngine->KOVAEngineGetCallBackByCBType(message->type);
        if (fn != nullptr) napi_release_threadsafe_function(fn, napi_tsfn_release);
    }
}

// ---------------------------------------------------------------- producers

void KOVAEngine::ExitRoomCallBack(int result) { PostValues(CB_EXIT_ROOM, {result}); }
void KOVAEngine::DesktopPreviewFinishCallBack(int result) { PostValues(CB_DESKTOP_PREVIEW_FINISH, {result}); }
void KOVAEngine::RecordingTestCallBack(int level) { PostValues(CB_RECORDING_TEST, {level}); }
void KOVAEngine::PlayoutTestCallBack(int a, int b) { PostValues(CB_PLAYOUT_TEST, {a, b}); }

void KOVAEngine::ExternalDeviceStateCallBack(bool state) {
    auto* message = new CallbackMessage();
    message->type = CB_EXTERNAL_DEVICE_STATE;
    message->state = state;
    message->count = 1;
    PostResult(message);
}

void KOVAEngine::CameraDevicesListCallBack(CaptureInfo* list, int count) {
    PostList(CB_CAMERA_DEVICES, CopyDeviceList(list, count), count);
}
void KOVAEngine::ScreenCaptureSourcesCallBack(CaptureInfo* list, int count) {
    PostList(CB_SCREEN_SOURCES, CopyDeviceList(list, count), count);
}
void KOVAEngine::WindowCaptureSourcesCallBack(CaptureInfo* list, int count) {
    PostList(CB_WINDOW_SOURCES, CopyDeviceList(list, count), count);
}
void KOVAEngine::PlayoutSourcesCallBack(AdmInfo* list, int count) {
    PostList(CB_PLAYOUT_SOURCES, CopyDeviceList(list, count), count);
}
void KOVAEngine::RecordingSourcesCallBack(AdmInfo* list, int count) {
    PostList(CB_RECORDING_SOURCES, CopyDeviceList(list, count), count);
}

void KOVAEngine::DebugLogCallback(int level, char* text, int length) {
    auto* message = new CallbackMessage();
    message->type = CB_DEBUG_LOG;
    message->event.reset(new ListenerEventData());
    message->event->iParam[0] = level;
    message->event->strParam[0] = CopySdkString(text, length);
    message->event->iCount = 1;
    message->event->strCount = 1;
    PostResult(message);
}

void KOVAEngine::GetSDKStats(char* text, int length) {
    auto* message = new CallbackMessage();
    message->type = CB_SDK_STATS;
    message->event.reset(new ListenerEventData());
    message->event->strParam[0] = CopySdkString(text, length);
    message->event->strCount = 1;
    PostResult(message);
}

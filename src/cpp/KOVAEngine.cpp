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

std::mutex& KOVAEngine::OwnerLock() {
    static std::mutex mutex;
    return mutex;
}

KOVAEngine* KOVAEngine::KOVAEngineGetInstance(napi_env env) {
    if (m_pStaKOVAEngine == nullptr) {
        auto* engine = new KOVAEngine(env);
        std::unique_lock<std::shared_mutex> lifetime(EngineLifetimeLock());
        m_pStaKOVAEngine = engine;
        g_pKOVAEngineInstance = engine;
        g_env = env;
    }
    return m_pStaKOVAEngine;
}

KOVAEngine* KOVAEngine::ForEnv(napi_env env, bool create, bool* foreign) {
    std::lock_guard<std::mutex> owner(OwnerLock());
    KOVAEngine* engine = create ? KOVAEngineGetInstance(env) : m_pStaKOVAEngine;
    bool other = engine != nullptr && engine->m_env != env;
    if (foreign != nullptr) *foreign = other;
    return other ? nullptr : engine;
}

void KOVAEngine::KOVAEngineReleaseInstance() {
    KOVAEngine* engine = m_pStaKOVAEngine;
    if (engine == nullptr) return;
    // Stop the SDK first; then no SDK thread can find the engine any more, and only then is it torn
    // down.
    engine->StopClient();
    {
        std::unique_lock<std::shared_mutex> lifetime(EngineLifetimeLock());
        m_pStaKOVAEngine = nullptr;
        g_pKOVAEngineInstance = nullptr;
    }
    delete engine;
}

bool KOVAEngine::ReleaseFor(napi_env env) {
    std::lock_guard<std::mutex> owner(OwnerLock());
    if (m_pStaKOVAEngine != nullptr && m_pStaKOVAEngine->m_env != env) return false;
    KOVAEngineReleaseInstance();
    return true;
}

void KOVAEngine::EnvironmentStarts(napi_env env) {
    std::lock_guard<std::mutex> owner(OwnerLock());
    if (m_pStaKOVAEngine == nullptr) g_env = env;
}

void KOVAEngine::EnvironmentEnds(napi_env env) {
    std::lock_guard<std::mutex> owner(OwnerLock());
    if (m_pStaKOVAEngine != nullptr && m_pStaKOVAEngine->m_env == env) KOVAEngineReleaseInstance();
    if (g_env == env) g_env = nullptr;
}

bool KOVAEngine::LoadSdk(const std::wstring& path) {
    m_hSdkModule = PlatformLoadLibrary(path, std::wstring());
    return m_hSdkModule != nullptr;
}

KOVAEngine::KOVAEngine(napi_env env) : m_env(env) {
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
    // The listeners close their crossings; results and events already queued are still delivered,
    // nothing new is posted, and nothing keeps the event loop alive any more.
    delete m_pListener;
    m_pListener = nullptr;
    delete m_pListenerV2;
    m_pListenerV2 = nullptr;
    m_streams.Clear(m_env);
    CloseCallBacks();
}

// ---------------------------------------------------------------- listeners

KOVAEngineListener* KOVAEngine::KOVAEngineGetListener() {
    if (m_pListener == nullptr) m_pListener = new KOVAEngineListener(m_env);
    return m_pListener;
}

KOVAEngineListenerV2* KOVAEngine::KOVAEngineGetListenerV2() {
    if (m_pListenerV2 == nullptr) m_pListenerV2 = new KOVAEngineListenerV2(m_env);
    return m_pListenerV2;
}

int KOVAEngine::KOVAEngineSetApiListener(solvane::kovawin::KOVAListener* listener) {
    return Call<&IKOV_API::SetApiListener>(listener);
}

int KOVAEngine::KOVAEngineSetApiListenerV2(solvane::kovawin::KOVAListenerV2* listener) {
    return Call<&IKOV_API::SetApiListenerV2>(listener);
}

// ---------------------------------------------------------------- registry

void KOVAEngine::KOVAEngineSetCallBackByCBType(EngineCBType type, Crossing fn) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    auto it = m_mapCallBack.find(type);
    if (it != m_mapCallBack.end() && type != CB_RECORDING_TEST && type != CB_PLAYOUT_TEST) {
        it->second.push_back(std::move(fn));
    } else {
        m_mapCallBack[type] = std::deque<Crossing>{std::move(fn)};
    }
}

KOVAEngine::Crossing KOVAEngine::KOVAEngineGetCallBackByCBType(EngineCBType type) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    auto it = m_mapCallBack.find(type);
    return (it == m_mapCallBack.end() || it->second.empty()) ? nullptr : it->second.front();
}

void KOVAEngine::KOVAEngineDelCallBackByCBType(EngineCBType type, const Crossing& fn) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    auto it = m_mapCallBack.find(type);
    if (it == m_mapCallBack.end()) return;
    if (!it->second.empty() && it->second.front() == fn) it->second.pop_front();
    if (it->second.empty()) m_mapCallBack.erase(it);
}

KOVAEngine::Crossing KOVAEngine::TakeCallBackByCBType(EngineCBType type) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    Crossing fn = KOVAEngineGetCallBackByCBType(type);
    if (fn != nullptr) KOVAEngineDelCallBackByCBType(type, fn);
    return fn;
}

bool KOVAEngine::RegisterCallBack(napi_env env, EngineCBType type, napi_value jsFunction, const char* resourceName) {
    Crossing fn = JsCrossing::Create(env, jsFunction, resourceName, &KOVAEngine::CallbackJSFn);
    if (fn == nullptr) return false;
    KOVAEngineSetCallBackByCBType(type, std::move(fn));
    return true;
}

void KOVAEngine::RemoveRepeating(napi_env env, EngineCBType type) {
    Crossing fn = TakeCallBackByCBType(type);
    if (fn != nullptr) fn->Close(env);
}

void KOVAEngine::UnrefCallBacks(napi_env env, EngineCBType type) {
    std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
    auto it = m_mapCallBack.find(type);
    if (it == m_mapCallBack.end()) return;
    for (const Crossing& fn : it->second) fn->KeepLoopAlive(env, false);
}

void KOVAEngine::CloseCallBacks() {
    std::map<EngineCBType, std::deque<Crossing>> registrations;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mxCallBack);
        registrations.swap(m_mapCallBack);
    }
    for (auto& entry : registrations) {
        for (const Crossing& fn : entry.second) fn->Close(m_env);
    }
}

void KOVAEngine::PostResult(CallbackMessage* message) {
    std::unique_ptr<CallbackMessage> owned(message);
    std::shared_lock<std::shared_mutex> lifetime(EngineLifetimeLock());
    KOVAEngine* engine = m_pStaKOVAEngine;
    if (engine == nullptr) return;  // no engine: the result is dropped
    // A one-shot answer takes its registration with it, so that answers reach their callbacks in
    // request order whenever JavaScript gets to run.
    owned->oneShot = IsOneShotType(owned->type);
    Crossing fn = owned->oneShot ? engine->TakeCallBackByCBType(owned->type)
                                 : engine->KOVAEngineGetCallBackByCBType(owned->type);
    if (fn != nullptr) fn->Post(std::unique_ptr<JsCrossing::Record>(owned.release()));
}

void KOVAEngine::CallbackJSFn(napi_env env, napi_value jsCallback, void* /*context*/, void* data) {
    auto* message = static_cast<CallbackMessage*>(data);
    if (message == nullptr || env == nullptr || jsCallback == nullptr) return;
    if (message->type < CB_STREAM || message->type > CB_CTR_STATUS) return;
    if (message->type == CB_STREAM) {
        CallbackStream(env, jsCallback, message->text, message->via);
        return;
    }
    napi_value argv[4] = {};
    size_t argc = BuildArguments(env, *message, argv);
    napi_value undefined = nullptr;
    NAPI_CALL_CONTINUE(env, napi_get_undefined(env, &undefined));
    NAPI_CALL_CONTINUE(env, napi_call_function(env, undefined, jsCallback, argc, argv, nullptr));
    // The registration has answered: nothing else will ever post to it.
    if (message->oneShot && message->via != nullptr) message->via->Close(env);
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

#include "CTRClientAdapter.h"

#include "EngineEntry.h"
#include "KOVAEngine.h"
#include "OsCompat.h"
#include "general.h"

CTRClientAdapter* CTRClientAdapter::s_pAdapter = nullptr;

CTRClientAdapter* CTRClientAdapter::CTRClientAdapterInstance() {
    if (s_pAdapter == nullptr) s_pAdapter = new CTRClientAdapter();
    return s_pAdapter;
}

void CTRClientAdapter::CTRClientAdapterReleaseInstance() {
    delete s_pAdapter;
    s_pAdapter = nullptr;
}

CTRClientAdapter::CTRClientAdapter() { BindLibrary(); }

// Binds all four slots, or none: a library that lacks one of the exports is not used.
void CTRClientAdapter::BindLibrary() {
    std::wstring path = PlatformGetCurrentModuleDir() + L"libctr_client.so";
    if (!PlatformFileExists(path)) return;
    PlatformModule module = PlatformLoadLibrary(path, std::wstring());
    if (module == nullptr) return;
    auto create = reinterpret_cast<decltype(m_pfnCreateClient)>(PlatformGetProcAddress(module, "CTR_CreateClient"));
    auto setCallBack = reinterpret_cast<decltype(m_pfnSetClientCallBack)>(PlatformGetProcAddress(module, "CTR_SetClientCallBack"));
    auto send = reinterpret_cast<decltype(m_pfnSendDataToServer)>(PlatformGetProcAddress(module, "CTR_SendDataToServer"));
    auto stop = reinterpret_cast<decltype(m_pfnStopClient)>(PlatformGetProcAddress(module, "CTR_StopClient"));
    if (create == nullptr || setCallBack == nullptr || send == nullptr || stop == nullptr) return;
    m_pfnCreateClient = create;
    m_pfnSetClientCallBack = setCallBack;
    m_pfnSendDataToServer = send;
    m_pfnStopClient = stop;
}

int CTRClientAdapter::CTR_CreateClient(char* ip, unsigned short port, int clientType) {
    return m_pfnCreateClient != nullptr ? m_pfnCreateClient(ip, port, clientType) : kNotBound;
}

int CTRClientAdapter::CTR_SetClientCallBack(ClientMessageCallback onMessage, ClientStatusCallback onStatus, void* user) {
    return m_pfnSetClientCallBack != nullptr ? m_pfnSetClientCallBack(onMessage, onStatus, user) : kNotBound;
}

int CTRClientAdapter::CTR_SendDataToServer(char* data, int length) {
    return m_pfnSendDataToServer != nullptr ? m_pfnSendDataToServer(data, length) : kNotBound;
}

int CTRClientAdapter::CTR_StopClient() {
    return m_pfnStopClient != nullptr ? m_pfnStopClient() : kNotBound;
}

// ---------------------------------------------------------------- producers (library threads)

namespace {

// Without an engine (or a registration) PostResult drops the message.
void MessageProducer(char* data, int length, void* user) {
    auto* message = new CallbackMessage();
    message->type = CB_CTR_MSG;
    message->user = user;
    if (data != nullptr && length > 0) message->text.assign(data, static_cast<size_t>(length));
    KOVAEngine::PostResult(message);
}

void StatusProducer(int status, void* user) {
    auto* message = new CallbackMessage();
    message->type = CB_CTR_STATUS;
    message->user = user;
    message->count = status;
    KOVAEngine::PostResult(message);
}

napi_value Number(napi_env env, int value) {
    napi_value result = nullptr;
    NAPI_CALL(env, napi_create_int32(env, value, &result));
    return result;
}

}  // namespace

// ---------------------------------------------------------------- JavaScript entry functions

napi_value CTR_SetClientCallBack(napi_env env, napi_callback_info info) {
    CreateEngineFor(env, Engine::Create);
    CallFrame frame(env, info, 2, Check::None);
    if (!frame.Ok()) return nullptr;
    if (frame.Passed() < 2) return Number(env, -1);
    napi_valuetype first = frame.TypeOf(0);
    napi_valuetype second = frame.TypeOf(1);
    if (!frame.Ok()) return nullptr;
    if (first != napi_function || second != napi_function) return Number(env, -1);
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine) || engine == nullptr) return nullptr;
    if (!engine->RegisterCallBack(env, CB_CTR_MSG, frame.Arg(0), "CTR_SetClientCallBack_MSG") ||
        !engine->RegisterCallBack(env, CB_CTR_STATUS, frame.Arg(1), "CTR_SetClientCallBack_STATUS")) {
        return nullptr;
    }
    int result = CTRClientAdapter::CTRClientAdapterInstance()->CTR_SetClientCallBack(MessageProducer, StatusProducer, nullptr);
    if (result == CTRClientAdapter::kNotBound) {
        // Nothing can ever call them: they must not keep Node's event loop alive.
        engine->UnrefCallBacks(env, CB_CTR_MSG);
        engine->UnrefCallBacks(env, CB_CTR_STATUS);
    }
    return Number(env, result);
}

napi_value CTR_CreateClient(napi_env env, napi_callback_info info) {
    CallFrame frame(env, info, 2, Check::None);
    if (!frame.Ok()) return nullptr;
    if (frame.Passed() < 2) return Number(env, -1);
    ArgStr<256> ip;
    if (frame.TypeOf(0) == napi_string && !ip.Read(env, frame.Arg(0))) return nullptr;
    ArgI32 port;
    if (frame.TypeOf(1) == napi_number && !port.Read(env, frame.Arg(1))) return nullptr;
    if (!frame.Ok()) return nullptr;
    int result = CTRClientAdapter::CTRClientAdapterInstance()->CTR_CreateClient(
        ip.buffer, static_cast<unsigned short>(port.value), 2);
    return Number(env, result);
}

napi_value CTR_SendDataToServer(napi_env env, napi_callback_info info) {
    CallFrame frame(env, info, 1, Check::None);
    if (!frame.Ok()) return nullptr;
    if (frame.Passed() < 1) return Number(env, -1);
    ArgStr<4096> data;
    if (frame.TypeOf(0) == napi_string && !data.Read(env, frame.Arg(0))) return nullptr;
    if (!frame.Ok()) return nullptr;
    int result = CTRClientAdapter::CTRClientAdapterInstance()->CTR_SendDataToServer(data.buffer, static_cast<int>(data.length));
    return Number(env, result);
}

napi_value CTR_StopClient(napi_env env, napi_callback_info /*info*/) {
    int result = CTRClientAdapter::CTRClientAdapterInstance()->CTR_StopClient();
    KOVAEngine* engine = KOVAEngine::ForEnv(env, false);
    if (result == 0 && engine != nullptr) {
        // The library has dropped its callbacks: the registrations stay but no longer keep Node alive.
        engine->UnrefCallBacks(env, CB_CTR_MSG);
        engine->UnrefCallBacks(env, CB_CTR_STATUS);
    }
    return Number(env, result);
}

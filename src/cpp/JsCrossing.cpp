#include "JsCrossing.h"

#include "general.h"

JsCrossing::JsCrossing(napi_env env, uint32_t initialThreadCount, CallJs callJs)
    : m_env(env), m_initialThreadCount(initialThreadCount), m_callJs(callJs) {}

JsCrossing::~JsCrossing() = default;

std::shared_ptr<JsCrossing> JsCrossing::Create(napi_env env, napi_value jsFunction, const char* resourceName,
                                               CallJs callJs, uint32_t initialThreadCount) {
    napi_value name = nullptr;
    NAPI_CALL(env, napi_create_string_utf8(env, resourceName, NAPI_AUTO_LENGTH, &name));
    std::shared_ptr<JsCrossing> crossing(new JsCrossing(env, initialThreadCount, callJs));
    // The function holds its crossing until it is finalised.
    auto* self = new std::shared_ptr<JsCrossing>(crossing);
    napi_threadsafe_function fn = nullptr;
    if (napi_create_threadsafe_function(env, jsFunction, nullptr, name, 0, initialThreadCount, self, Finalize, nullptr,
                                        Trampoline, &fn) != napi_ok) {
        ThrowLastNapiError(env);
        delete self;
        return nullptr;
    }
    crossing->m_fn = fn;
    crossing->m_open = true;
    // Registered after the function, so it runs before Node-API's own teardown of it.
    crossing->m_hooked = napi_add_env_cleanup_hook(env, EnvironmentEnds, crossing.get()) == napi_ok;
    return crossing;
}

bool JsCrossing::Post(std::unique_ptr<Record> record) {
    if (record == nullptr) return false;
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(m_gate);
        if (m_open && m_fn != nullptr) {
            record->via = this;
            // A failed call has already given back the count that the acquire took.
            queued = napi_acquire_threadsafe_function(m_fn) == napi_ok &&
                     napi_call_threadsafe_function(m_fn, record.get(), napi_tsfn_nonblocking) == napi_ok;
        }
    }
    if (queued) record.release();  // the queued call owns it now
    return queued;
}

void JsCrossing::Trampoline(napi_env env, napi_value jsFunction, void* /*context*/, void* data) {
    std::unique_ptr<Record> record(static_cast<Record*>(data));
    if (record == nullptr) return;
    // Without an environment the function is being torn down (its crossing may be gone): free only.
    if (env == nullptr || record->via == nullptr) return;
    JsCrossing* crossing = record->via;
    if (jsFunction != nullptr) crossing->m_callJs(env, jsFunction, nullptr, record.get());
    record.reset();
    std::lock_guard<std::mutex> lock(crossing->m_gate);
    if (crossing->m_fn != nullptr) napi_release_threadsafe_function(crossing->m_fn, napi_tsfn_release);
}

void JsCrossing::End(napi_env env, napi_threadsafe_function_release_mode mode) {
    if (env != m_env) return;
    napi_threadsafe_function fn = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_gate);
        if (m_open) fn = m_fn;
        m_open = false;
    }
    // Finalisation runs on this thread too, so fn stays valid for the rest of this call.
    if (fn == nullptr) return;
    napi_unref_threadsafe_function(env, fn);
    for (uint32_t i = 0; i < m_initialThreadCount; ++i) napi_release_threadsafe_function(fn, mode);
}

void JsCrossing::Close(napi_env env) { End(env, napi_tsfn_release); }

void JsCrossing::Abort(napi_env env) { End(env, napi_tsfn_abort); }

void JsCrossing::KeepLoopAlive(napi_env env, bool keep) {
    if (env != m_env) return;
    napi_threadsafe_function fn = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_gate);
        if (m_open) fn = m_fn;
    }
    if (fn == nullptr) return;
    if (keep) {
        napi_ref_threadsafe_function(env, fn);
    } else {
        napi_unref_threadsafe_function(env, fn);
    }
}

bool JsCrossing::IsOpen() {
    std::lock_guard<std::mutex> lock(m_gate);
    return m_open && m_fn != nullptr;
}

void JsCrossing::Finalize(napi_env env, void* finalizeData, void* /*hint*/) {
    auto* self = static_cast<std::shared_ptr<JsCrossing>*>(finalizeData);
    JsCrossing& crossing = **self;
    {
        std::lock_guard<std::mutex> lock(crossing.m_gate);
        crossing.m_fn = nullptr;
        crossing.m_open = false;
    }
    if (crossing.m_hooked && env != nullptr) napi_remove_env_cleanup_hook(env, EnvironmentEnds, &crossing);
    crossing.m_hooked = false;
    delete self;  // records still queued keep the crossing until they are freed
}

void JsCrossing::EnvironmentEnds(void* arg) {
    auto* crossing = static_cast<JsCrossing*>(arg);
    crossing->m_hooked = false;
    // Node-API tears the function down next; from here on nothing touches it.
    std::lock_guard<std::mutex> lock(crossing->m_gate);
    crossing->m_fn = nullptr;
    crossing->m_open = false;
}

#include "general.h"

#include <cstdlib>
#include <cstring>

#include "SVError.h"

void ThrowLastNapiError(napi_env env) {
    const napi_extended_error_info* info = nullptr;
    napi_get_last_error_info(env, &info);
    // The info lives in the environment and the next Node-API call clears it: keep the message first.
    const char* message = (info != nullptr && info->error_message != nullptr) ? info->error_message
                                                                              : "empty error message";
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending) napi_throw_error(env, nullptr, message);
}

const char* StatusText(long code) { return SVError::Text(code); }

napi_value MakeString(napi_env env, const std::string& text) {
    napi_value result = nullptr;
    NAPI_CALL(env, napi_create_string_utf8(env, text.data(), text.size(), &result));
    return result;
}

napi_value MakeString(napi_env env, const char* text) {
    napi_value result = nullptr;
    NAPI_CALL(env, napi_create_string_utf8(env, text, NAPI_AUTO_LENGTH, &result));
    return result;
}

napi_value SuccessResult(napi_env env) { return MakeString(env, StatusText(SVError::kSuccess)); }

bool ArgI32::Read(napi_env env, napi_value v) {
    NAPI_CALL_BASE(env, napi_get_value_int32(env, v, &value), false);
    return true;
}

bool ArgU16::Read(napi_env env, napi_value v) {
    NAPI_CALL_BASE(env, napi_get_value_int32(env, v, &value), false);
    return true;
}

bool ArgBool::Read(napi_env env, napi_value v) {
    NAPI_CALL_BASE(env, napi_get_value_bool(env, v, &value), false);
    return true;
}

bool ArgWholeStr::Read(napi_env env, napi_value v) {
    size_t length = 0;
    NAPI_CALL_BASE(env, napi_get_value_string_utf8(env, v, nullptr, 0, &length), false);
    buffer.assign(length + 1, '\0');
    size_t copied = 0;
    NAPI_CALL_BASE(env, napi_get_value_string_utf8(env, v, &buffer[0], buffer.size(), &copied), false);
    buffer.resize(copied + 1);
    return true;
}

CallFrame::CallFrame(napi_env env, napi_callback_info info, size_t expected, Check check)
    : m_env(env), m_check(check) {
    m_argc = expected < kMaxArgs ? expected : kMaxArgs;
    size_t capacity = m_argc;
    if (napi_get_cb_info(env, info, &m_argc, m_argv, nullptr, nullptr) != napi_ok) {
        ThrowLastNapiError(env);
        m_ok = false;
        return;
    }
    // Node-API reports the number passed but fills only `capacity` slots.
    for (size_t i = capacity; i < kMaxArgs; ++i) m_argv[i] = nullptr;
    bool countError = (check == Check::F && m_argc < expected) ||
                      ((check == Check::F1 || check == Check::R) && m_argc == 0 && expected > 0);
    if (countError) Fail(StatusText(SVError::kParamCountError));
}

napi_valuetype CallFrame::TypeOf(size_t i) {
    napi_valuetype type = napi_undefined;
    if (i >= kMaxArgs || m_argv[i] == nullptr) return napi_undefined;
    if (napi_typeof(m_env, m_argv[i], &type) != napi_ok) {
        ThrowLastNapiError(m_env);
        m_ok = false;
        return napi_undefined;
    }
    return type;
}

bool CallFrame::Expect(size_t i, napi_valuetype type) {
    if (!m_ok) return false;
    napi_valuetype actual = TypeOf(i);
    if (!m_ok) return false;
    if (actual != type) {
        Fail(StatusText(SVError::kParamTypeError));
        return false;
    }
    return true;
}

void CallFrame::Fail(const char* message) {
    m_ok = false;
    if (m_check == Check::R || m_check == Check::RT) {
        m_failure = MakeString(m_env, message);
    } else {
        napi_throw_type_error(m_env, nullptr, message);
    }
}

namespace {
bool ForceBufferCopy() {
    static const bool force = [] {
        const char* value = std::getenv("KOVA_FORCE_BUFFER_COPY");
        return value != nullptr && value[0] == '1';
    }();
    return force;
}
}  // namespace

napi_value MakeOwnedArrayBuffer(napi_env env, void* data, size_t size, napi_finalize finalize, void* hint) {
    napi_value buffer = nullptr;
    napi_status status = napi_generic_failure;
    if (!ForceBufferCopy() && data != nullptr && size > 0) {
        status = napi_create_external_arraybuffer(env, data, size, finalize, hint, &buffer);
        if (status == napi_ok) return buffer;
        if (status != napi_no_external_buffers_allowed) {
            ThrowLastNapiError(env);
            finalize(env, data, hint);
            return nullptr;
        }
    }
    void* bytes = nullptr;
    status = napi_create_arraybuffer(env, size, &bytes, &buffer);
    if (status == napi_ok && size > 0) std::memcpy(bytes, data, size);
    finalize(env, data, hint);
    NAPI_CALL(env, status);
    return buffer;
}

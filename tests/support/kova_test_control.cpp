// kova_test_control.node: lets a JavaScript test reach the stand-ins that the addon loaded.
// open(path) dlopen()s the stand-in at that path (the same file as the addon's gives the same
// instance) and resolves its control functions. It returns an object whose journal(), clear() and
// command(text) call that library's functions, so several stand-ins (the SDK and the AI-effects
// library) can be driven side by side; the module's own journal(), clear() and command(text) call
// those of the library opened last.
#include <dlfcn.h>
#include <node_api.h>

#include <string>

#include "kova_standin.h"

namespace {

// The control functions of one opened stand-in.
struct Controls {
    PFN_kova_standin_journal journal = nullptr;
    PFN_kova_standin_journal_clear clear = nullptr;
    PFN_kova_standin_command command = nullptr;
};

// The library opened last.
Controls* g_last = nullptr;

// Throws the last Node-API error unless an exception is already pending.
void ThrowLastError(napi_env env) {
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (pending) return;
    const napi_extended_error_info* info = nullptr;
    napi_get_last_error_info(env, &info);
    napi_throw_error(env, nullptr,
                     info != nullptr && info->error_message != nullptr ? info->error_message : "empty error message");
}

#define NAPI_CALL(env, call)               \
    do {                                   \
        if ((call) != napi_ok) {           \
            ThrowLastError(env);           \
            return nullptr;                \
        }                                  \
    } while (0)

// The single string argument of a call; false (with a TypeError thrown) when there is none.
bool StringArgument(napi_env env, napi_callback_info info, std::string& out) {
    size_t argc = 1;
    napi_value arg = nullptr;
    size_t length = 0;
    napi_valuetype type = napi_undefined;
    if (napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr) != napi_ok || argc < 1 ||
        napi_typeof(env, arg, &type) != napi_ok || type != napi_string) {
        napi_throw_type_error(env, nullptr, "expected one string argument");
        return false;
    }
    if (napi_get_value_string_utf8(env, arg, nullptr, 0, &length) != napi_ok) return false;
    out.assign(length, '\0');
    return napi_get_value_string_utf8(env, arg, &out[0], length + 1, &length) == napi_ok;
}

// The controls a call works on: those bound to the function, else those of the library opened last.
Controls* ControlsOf(napi_env env, napi_callback_info info) {
    void* data = nullptr;
    size_t argc = 0;
    if (napi_get_cb_info(env, info, &argc, nullptr, nullptr, &data) != napi_ok) return nullptr;
    auto* controls = data != nullptr ? static_cast<Controls*>(data) : g_last;
    if (controls == nullptr) napi_throw_error(env, nullptr, "kova_test_control: call open(sdkPath) first");
    return controls;
}

napi_value Journal(napi_env env, napi_callback_info info);
napi_value Clear(napi_env env, napi_callback_info info);
napi_value Command(napi_env env, napi_callback_info info);

napi_value Open(napi_env env, napi_callback_info info) {
    std::string path;
    if (!StringArgument(env, info, path)) return nullptr;
    void* library = dlopen(path.c_str(), RTLD_NOW);
    if (library == nullptr) {
        const char* error = dlerror();
        napi_throw_error(env, nullptr, ("kova_test_control: cannot load " + path + ": " + (error ? error : "")).c_str());
        return nullptr;
    }
    auto journal = reinterpret_cast<PFN_kova_standin_journal>(dlsym(library, "kova_standin_journal"));
    auto clear = reinterpret_cast<PFN_kova_standin_journal_clear>(dlsym(library, "kova_standin_journal_clear"));
    auto command = reinterpret_cast<PFN_kova_standin_command>(dlsym(library, "kova_standin_command"));
    if (journal == nullptr || clear == nullptr || command == nullptr) {
        napi_throw_error(env, nullptr, ("kova_test_control: " + path + " lacks the stand-in control functions").c_str());
        return nullptr;
    }
    // Lives as long as the process: the library is never closed either.
    auto* controls = new Controls{journal, clear, command};
    g_last = controls;
    const napi_property_descriptor properties[] = {
        {"journal", nullptr, Journal, nullptr, nullptr, nullptr, napi_enumerable, controls},
        {"clear", nullptr, Clear, nullptr, nullptr, nullptr, napi_enumerable, controls},
        {"command", nullptr, Command, nullptr, nullptr, nullptr, napi_enumerable, controls},
    };
    napi_value result = nullptr;
    NAPI_CALL(env, napi_create_object(env, &result));
    NAPI_CALL(env, napi_define_properties(env, result, sizeof(properties) / sizeof(properties[0]), properties));
    return result;
}

napi_value Journal(napi_env env, napi_callback_info info) {
    Controls* controls = ControlsOf(env, info);
    if (controls == nullptr) return nullptr;
    napi_value result = nullptr;
    NAPI_CALL(env, napi_create_string_utf8(env, controls->journal(), NAPI_AUTO_LENGTH, &result));
    return result;
}

napi_value Clear(napi_env env, napi_callback_info info) {
    Controls* controls = ControlsOf(env, info);
    if (controls == nullptr) return nullptr;
    controls->clear();
    napi_value result = nullptr;
    NAPI_CALL(env, napi_get_undefined(env, &result));
    return result;
}

napi_value Command(napi_env env, napi_callback_info info) {
    Controls* controls = ControlsOf(env, info);
    if (controls == nullptr) return nullptr;
    std::string text;
    if (!StringArgument(env, info, text)) return nullptr;
    napi_value result = nullptr;
    NAPI_CALL(env, napi_create_int32(env, controls->command(text.c_str()), &result));
    return result;
}

}  // namespace

NAPI_MODULE_INIT() {
    const napi_property_descriptor properties[] = {
        {"open", nullptr, Open, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
        {"journal", nullptr, Journal, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
        {"clear", nullptr, Clear, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
        {"command", nullptr, Command, nullptr, nullptr, nullptr, napi_enumerable, nullptr},
    };
    NAPI_CALL(env, napi_define_properties(env, exports, sizeof(properties) / sizeof(properties[0]), properties));
    return exports;
}

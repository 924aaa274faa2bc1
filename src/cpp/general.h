// Node-API helpers used by every JavaScript entry function: the call check, the entry-function
// frame (argument count and type checks), and typed argument readers.
//
// The call check: when a Node-API call fails, raise a JavaScript Error carrying Node-API's own
// message ("empty error message" when it has none) unless an exception is already pending, then
// leave the current function.
#ifndef KOVA_GENERAL_H
#define KOVA_GENERAL_H

#include <node_api.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

extern napi_env g_env;

// Raises the last Node-API error as a JavaScript Error unless an exception is pending.
void ThrowLastNapiError(napi_env env);

#define NAPI_CALL_BASE(env, call, ...)          \
    do {                                        \
        if ((call) != napi_ok) {                \
            ThrowLastNapiError(env);            \
            return __VA_ARGS__;                 \
        }                                       \
    } while (0)

// Checks a call; on failure raises and returns nullptr from the enclosing function.
#define NAPI_CALL(env, call) NAPI_CALL_BASE(env, call, nullptr)
// Checks a call; on failure raises and returns (for void functions).
#define NAPI_CALL_VOID(env, call) NAPI_CALL_BASE(env, call)
// Checks a call; on failure raises the error and carries on with the next step.
#define NAPI_CALL_CONTINUE(env, call)           \
    do {                                        \
        if ((call) != napi_ok) {                \
            ThrowLastNapiError(env);            \
        }                                       \
    } while (0)

// Argument checks of an entry function.
enum class Check {
    F,     // fewer arguments than listed: count error; a wrong type: type error
    F1,    // count error only when no argument at all is passed
    T,     // no count check, types checked
    R,     // no throw: returns "param count error" (nothing passed) / "param type error" as the result
    RT,    // as R, without the count check: a missing argument is a wrong type
    None,  // no checks
};

// The message text of a status code ("operation success." for 1, ...).
const char* StatusText(long code);
napi_value MakeString(napi_env env, const std::string& text);
napi_value MakeString(napi_env env, const char* text);
// "operation success."
napi_value SuccessResult(napi_env env);

// ---- typed argument readers: each knows its JavaScript type, converts a value and expands to the
// ---- C parameters that the SDK operation takes.

struct ArgI32 {
    static constexpr napi_valuetype kType = napi_number;
    int32_t value = 0;
    bool Read(napi_env env, napi_value v);
    std::tuple<int> Params() const { return {value}; }
};

struct ArgU16 {
    static constexpr napi_valuetype kType = napi_number;
    int32_t value = 0;
    bool Read(napi_env env, napi_value v);
    std::tuple<unsigned short> Params() const { return {static_cast<unsigned short>(value)}; }
};

struct ArgBool {
    static constexpr napi_valuetype kType = napi_boolean;
    bool value = false;
    bool Read(napi_env env, napi_value v);
    std::tuple<bool> Params() const { return {value}; }
};

// A string copied into a zero-filled buffer of N bytes, so it keeps at most N - 1 bytes; reaches
// the SDK as the buffer and the number of bytes copied.
template <size_t N>
struct ArgStr {
    static constexpr napi_valuetype kType = napi_string;
    char buffer[N] = {};
    size_t length = 0;
    bool Read(napi_env env, napi_value v) {
        NAPI_CALL_BASE(env, napi_get_value_string_utf8(env, v, buffer, N, &length), false);
        return true;
    }
    std::tuple<const char*, int> Params() const { return {buffer, static_cast<int>(length)}; }
};

// A string passed to the SDK as a zero-terminated text only.
template <size_t N>
struct ArgCStr : ArgStr<N> {
    std::tuple<const char*> Params() const { return {this->buffer}; }
};

// A string read whole: its length is asked first, then it is copied into a zero-filled buffer of
// length + 1 bytes.
struct ArgWholeStr {
    static constexpr napi_valuetype kType = napi_string;
    std::string buffer;  // the bytes followed by the zero byte
    bool Read(napi_env env, napi_value v);
    size_t Length() const { return buffer.empty() ? 0 : buffer.size() - 1; }
};

// A JavaScript function, kept as its value.
struct ArgFunction {
    static constexpr napi_valuetype kType = napi_function;
    napi_value value = nullptr;
    bool Read(napi_env /*env*/, napi_value v) {
        value = v;
        return true;
    }
};

// A number passed on as an SDK enumeration.
template <typename E>
struct ArgEnum {
    static constexpr napi_valuetype kType = napi_number;
    ArgI32 number;
    bool Read(napi_env env, napi_value v) { return number.Read(env, v); }
    std::tuple<E> Params() const { return {static_cast<E>(number.value)}; }
};

// The entry-function frame: fetches up to N arguments and applies the checks. On a count or type
// error it throws a TypeError (or, for Check::R, stores the message as the result) and Ok() is false.
class CallFrame {
public:
    CallFrame(napi_env env, napi_callback_info info, size_t expected, Check check);

    bool Ok() const { return m_ok; }
    size_t Passed() const { return m_argc; }
    napi_value Arg(size_t i) const { return i < kMaxArgs ? m_argv[i] : nullptr; }
    // Type of argument i (undefined when not passed); napi_undefined also after a failed call.
    napi_valuetype TypeOf(size_t i);
    // Checks argument i against `type`; on a mismatch raises the type error per the frame's style.
    bool Expect(size_t i, napi_valuetype type);
    // The value to return after a failed check: null, or for Check::R the message text.
    napi_value Failure() const { return m_failure; }

    template <typename... A>
    bool ReadAll(std::tuple<A...>& args) {
        return ReadEach(args, std::index_sequence_for<A...>{});
    }

    static constexpr size_t kMaxArgs = 8;

private:
    template <typename Tuple, size_t... I>
    bool ReadEach(Tuple& args, std::index_sequence<I...>) {
        // Every type is checked in order before anything is converted.
        if (!(Expect(I, std::tuple_element_t<I, Tuple>::kType) && ...)) return false;
        return (std::get<I>(args).Read(m_env, m_argv[I]) && ...);
    }

    void Fail(const char* message);

    napi_env m_env;
    Check m_check;
    size_t m_argc = 0;
    napi_value m_argv[kMaxArgs] = {};
    bool m_ok = true;
    napi_value m_failure = nullptr;
};

// An ArrayBuffer over `data` that `finalize(env, data, hint)` frees when JavaScript lets go of it, so
// bytes handed to JavaScript are never copied again. Where the runtime refuses external buffers (or
// KOVA_FORCE_BUFFER_COPY=1 is set, for tests) the bytes are copied once into an ordinary ArrayBuffer
// and finalized at once. Null after a failed call, with the error raised; `data` is finalized in
// every case.
napi_value MakeOwnedArrayBuffer(napi_env env, void* data, size_t size, napi_finalize finalize, void* hint);

// Concatenates the C parameters of every argument reader.
template <typename... A>
auto ExpandParams(const std::tuple<A...>& args) {
    return std::apply([](const A&... a) { return std::tuple_cat(a.Params()...); }, args);
}

#endif  // KOVA_GENERAL_H

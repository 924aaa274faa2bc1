// The shapes of the engine entry functions. Each JavaScript entry function is one instantiation of
// a shape (see the tables in main.cpp):
//   PlainEntry     check and convert the arguments, call one SDK operation, return "operation success."
//                  (or, with Result::Value, the operation's own result)
//   QueryEntry     no arguments, return the operation's result as a number or string
//   CallbackEntry  one function argument registered for a one-shot result, answered by a producer
#ifndef KOVA_ENGINE_ENTRY_H
#define KOVA_ENGINE_ENTRY_H

#include <functional>
#include <tuple>

#include "KOVAEngine.h"
#include "general.h"

// Whether an entry function creates the engine when it does not exist yet.
enum class Engine { Existing, Create };
// What an entry function returns after a successful call.
enum class Result { Success, Value, Empty };

// The text of the Error that a call from one environment gets when the engine belongs to another.
inline constexpr const char* kForeignEngineMessage =
    "the KOVA engine belongs to another JavaScript environment (the thread or window whose call created "
    "it); call KOVAEngineUninit there, or let that environment end, before using it here";

// Creates the engine for `env` when the entry function creates it and none exists yet (an engine of
// another environment is left alone).
inline void CreateEngineFor(napi_env env, Engine engine) {
    if (engine == Engine::Create) KOVAEngine::ForEnv(env, true);
}

// The engine as a call from `env` may use it: `engine` is the engine, or null when none exists.
// False, with an Error raised, when the engine belongs to another environment: the call must not
// reach it.
inline bool ReachEngine(napi_env env, KOVAEngine*& engine) {
    bool foreign = false;
    engine = KOVAEngine::ForEnv(env, false, &foreign);
    if (!foreign) return true;
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending) napi_throw_error(env, nullptr, kForeignEngineMessage);
    return false;
}

// SDK results as JavaScript values: int32 numbers, booleans as 1 or 0, int64 numbers, strings (null
// is the empty string).
inline napi_value ToJs(napi_env env, int value) {
    napi_value result = nullptr;
    NAPI_CALL(env, napi_create_int32(env, value, &result));
    return result;
}
inline napi_value ToJs(napi_env env, bool value) { return ToJs(env, value ? 1 : 0); }
inline napi_value ToJs(napi_env env, int64_t value) {
    napi_value result = nullptr;
    NAPI_CALL(env, napi_create_int64(env, value, &result));
    return result;
}
inline napi_value ToJs(napi_env env, const char* value) { return MakeString(env, value != nullptr ? value : ""); }

// Calls SDK operation Op on an engine with a tuple's elements as arguments.
template <auto Op>
struct CallOp {
    KOVAEngine* engine;
    template <typename... P>
    auto operator()(P&&... params) const {
        return engine->Call<Op>(std::forward<P>(params)...);
    }
};

// Op is an IKOV_API member, or nullptr for operations that are accepted but not forwarded.
template <auto Op, Check C, Engine E, Result Res, typename... A>
napi_value PlainEntry(napi_env env, napi_callback_info info) {
    CreateEngineFor(env, E);
    CallFrame frame(env, info, sizeof...(A), C);
    if (!frame.Ok()) return frame.Failure();
    std::tuple<A...> args;
    if (!frame.ReadAll(args)) return frame.Failure();
    if constexpr (Op == nullptr) {
        return SuccessResult(env);
    } else {
        KOVAEngine* engine = nullptr;
        if (!ReachEngine(env, engine)) return nullptr;
        auto params = ExpandParams(args);
        using R = decltype(std::apply(CallOp<Op>{engine}, params));
        R result{};
        if (engine != nullptr) result = std::apply(CallOp<Op>{engine}, params);
        if constexpr (Res == Result::Value) {
            return ToJs(env, result);
        } else if constexpr (Res == Result::Empty) {
            (void)result;
            return MakeString(env, "");
        } else {
            (void)result;
            return SuccessResult(env);
        }
    }
}

template <auto Op>
napi_value QueryEntry(napi_env env, napi_callback_info /*info*/) {
    using R = decltype((std::declval<IKOV_API&>().*Op)());
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    R result{};
    if (engine != nullptr) result = engine->Call<Op>();
    return ToJs(env, result);
}

// Registers the function argument under `Type` and hands the SDK the matching producer.
template <auto Op, EngineCBType Type, auto Producer>
napi_value CallbackEntry(napi_env env, napi_callback_info info, const char* resourceName) {
    CallFrame frame(env, info, 1, Check::F);
    if (!frame.Ok() || !frame.Expect(0, napi_function)) return frame.Failure();
    KOVAEngine* engine = nullptr;
    if (!ReachEngine(env, engine)) return nullptr;
    // Without an SDK client nothing can ever answer, so nothing is registered.
    if (engine == nullptr || !engine->HasClient()) return SuccessResult(env);
    if (!engine->RegisterCallBack(env, Type, frame.Arg(0), resourceName)) return nullptr;
    engine->Call<Op>(Producer);
    return SuccessResult(env);
}

#endif  // KOVA_ENGINE_ENTRY_H

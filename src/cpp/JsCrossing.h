// A crossing: the one way from another thread (an SDK, library or controller thread) into one
// JavaScript function of one environment. Every call into JavaScript that does not start on the
// JavaScript thread goes through one; nothing else in the addon touches Node-API's thread-safe
// functions.
//
// The policy, stated once:
//   - Creation (JavaScript thread): a thread-safe function on the function, with an unbounded queue
//     and the initial thread count the caller names (2; 1 for AI-effects results). The crossing keeps
//     the event loop alive until it is closed or told not to.
//   - Post (any thread): never blocks. It acquires the function and queues the record, which carries
//     the crossing it was posted through. False, with the record freed unheard, once the crossing is
//     closed or its environment has ended.
//   - Delivery (JavaScript thread): the crossing's call-JS function gets the environment, the
//     JavaScript function and the record; then the record is freed and exactly the function it was
//     posted through is released. When Node-API hands the record back without an environment (the
//     function is being torn down) the record is only freed.
//   - Close (JavaScript thread): the registration is over. No further post is accepted; the initial
//     thread counts are given back, so the function is finalised once the records already queued
//     have been delivered; the event loop is no longer kept alive.
//   - Abort (JavaScript thread): as Close, but records not yet delivered are freed unheard.
//   - The end of the environment: a cleanup hook registered right after the function closes the
//     crossing before Node-API tears the function down; a post or a close after that does nothing,
//     so an SDK thread that still holds the crossing can never reach a freed function.
//
// A crossing is shared (std::shared_ptr) by whoever registered it and by the thread-safe function
// itself until it is finalised.
#ifndef KOVA_JSCROSSING_H
#define KOVA_JSCROSSING_H

#include <node_api.h>

#include <cstdint>
#include <memory>
#include <mutex>

class JsCrossing {
public:
    // What a crossing carries. Records are heap objects of derived types, freed through this base.
    struct Record {
        virtual ~Record() = default;
        // The crossing the record was posted through; set by Post. Valid while the record is being
        // delivered: the thread-safe function keeps its crossing until it is finalised, and Node-API
        // hands the records still queued then back without an environment, to be freed only.
        JsCrossing* via = nullptr;
    };

    // Called on the JavaScript thread for each delivered record (never with a null environment);
    // `context` is null. The record stays the crossing's: the function may take its contents.
    using CallJs = void (*)(napi_env env, napi_value jsFunction, void* context, void* record);

    // A crossing on `jsFunction`; null after a failed Node-API call, with the error raised.
    static std::shared_ptr<JsCrossing> Create(napi_env env, napi_value jsFunction, const char* resourceName,
                                              CallJs callJs, uint32_t initialThreadCount = 2);

    ~JsCrossing();
    JsCrossing(const JsCrossing&) = delete;
    JsCrossing& operator=(const JsCrossing&) = delete;

    // Any thread. Queues `record` for the JavaScript thread; false when the crossing no longer accepts
    // posts (the record is freed).
    bool Post(std::unique_ptr<Record> record);
    template <typename R>
    bool Post(R* record) {
        return Post(std::unique_ptr<Record>(record));
    }

    // JavaScript thread of the crossing's environment; a call from another environment does nothing.
    void Close(napi_env env);
    void Abort(napi_env env);
    // Keeps (true) or stops keeping (false) the event loop alive while the crossing is open.
    void KeepLoopAlive(napi_env env, bool keep);

    napi_env Env() const { return m_env; }
    // Whether posts are still accepted (any thread; the answer may be stale at once).
    bool IsOpen();

private:
    JsCrossing(napi_env env, uint32_t initialThreadCount, CallJs callJs);

    // No further posts; the initial thread counts are released in `mode` and the loop let go.
    void End(napi_env env, napi_threadsafe_function_release_mode mode);

    static void Trampoline(napi_env env, napi_value jsFunction, void* context, void* data);
    static void Finalize(napi_env env, void* finalizeData, void* hint);
    static void EnvironmentEnds(void* arg);

    const napi_env m_env;
    const uint32_t m_initialThreadCount;
    const CallJs m_callJs;

    // Guards m_fn and m_open against the posting threads: a post holds it for the acquire and the
    // call, so the function is never finalised under a post, and nothing uses it after.
    std::mutex m_gate;
    napi_threadsafe_function m_fn = nullptr;  // null once the environment has ended or it was finalised
    bool m_open = false;                       // posts accepted
    bool m_hooked = false;                     // the environment's cleanup hook is registered
};

#endif  // KOVA_JSCROSSING_H

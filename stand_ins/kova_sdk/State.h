// The stand-in's process-wide state: one per loaded library file, shared by the client, the
// control commands and live mode. Created on first use; at unload its destructor stops live mode
// and joins every SDK thread before anything else goes away.
#ifndef KOVA_STANDIN_STATE_H
#define KOVA_STANDIN_STATE_H

#include <atomic>

#include "CallbackStore.h"
#include "Journal.h"
#include "LiveMode.h"
#include "SdkThreads.h"
#include "Settings.h"

// The library's C entry points: the only symbols it exports.
#ifdef _WIN32
#define KOVA_EXPORT extern "C" __declspec(dllexport)
#else
#define KOVA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace kova_standin {

struct Standin {
    Standin();
    ~Standin();

    Journal journal;
    Settings settings;
    CallbackStore callbacks;
    SdkThreads threads;
    LiveMode live;
    // Set by "retain_callbacks": DestroyClient then keeps the stored callbacks and streams (only the
    // listeners, raw pointers the caller owns, are dropped), as an SDK that still calls after its
    // destruction would.
    std::atomic<bool> retainCallbacksOnDestroy{false};
};

Standin& State();

// The process's one client: created on the first call, the same object until DestroyClient.
Api* CreateClient();
// Destroys the client: live mode stops, every stored callback and listener is forgotten (only the
// listeners under "retain_callbacks") and every SDK thread has ended when this returns.
void DestroyClient();

// Journals one call and applies KOVA_STANDIN_CRASH_IN; returns the configured result of `op`, else
// `fallback`.
int64_t EnterWithArgs(const char* op, Json args, int64_t fallback = 0);
// EnterWithArgs without the journal: the crash on request and the configured result only.
int64_t EnterUnjournaled(const char* op, int64_t fallback = 0);
template <typename... A>
int64_t Enter(const char* op, const A&... args) {
    // With the journal off nothing is recorded, so the arguments are not even decoded.
    if (!State().journal.Enabled()) return EnterUnjournaled(op);
    Json list = Json::array();
    PutArgs(list, args...);
    return EnterWithArgs(op, std::move(list));
}

}  // namespace kova_standin

#endif  // KOVA_STANDIN_STATE_H

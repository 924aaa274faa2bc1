#include "State.h"

#include <cstdlib>
#include <cstring>

namespace kova_standin {

Standin::Standin() {
    const char* live = std::getenv("KOVA_STANDIN_LIVE");
    if (live != nullptr && std::strcmp(live, "1") == 0) this->live.Configure(true, LiveMode::kDefaultFps);
}

Standin::~Standin() {
    live.Shutdown();
    threads.JoinAll();
}

Standin& State() {
    static Standin state;
    return state;
}

int64_t EnterWithArgs(const char* op, Json args, int64_t fallback) {
    State().journal.Append(op, std::move(args));
    return EnterUnjournaled(op, fallback);
}

int64_t EnterUnjournaled(const char* op, int64_t fallback) {
    CrashIfRequested(op);
    return State().settings.Result(op, fallback);
}

}  // namespace kova_standin

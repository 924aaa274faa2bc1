// Stand-in of the AI video-effects library libSAIManager.so, built from the project's interface
// header. It records every call in a journal (the format of the stand-in SDK's, kova_standin.h),
// marks every frame it processes, and reports the result of each init, initByAppId and enableFeature
// from a thread of its own, with a value, a delay and a repeat count that a test chooses, or holds the
// results until the test releases them.
//
// Journal entries: {"op":"init","args":[n, data, size, text, textLength, true]} (data and text are
// strings of exactly size and textLength bytes), {"op":"initByAppId","args":[n, appId, true]},
// {"op":"enableFeature","args":[n, text, textLength, true]}, {"op":"processVideoFrame","args":[frame]}
// with frame {"streamKey","streamKeyLength","width","height","strideY","strideU","strideV","sizeY"}
// (null for a null pointer), {"op":"disableFeature","args":[]}, {"op":"unInit","args":[]},
// {"op":"CreateSAIManager","args":[]}, {"op":"DestorySAIManager","args":[]},
// {"op":"GetSAIManagerVersion","args":[]}.
//
// Frame mark: processVideoFrame writes kFrameMark (0xA5) into byte 4 of the Y plane when the plane
// holds more than 4 bytes, so a test sees that a frame went through the library.
//
// Commands (kova_standin_command; 0 on success, -1 on a malformed command):
//   {"cmd":"set_result","op":"init"|"initByAppId"|"enableFeature","value":N,"delay_ms":D,"times":T}
//       the operation's later results are N (default 0), reported D ms after the call (default 0),
//       T times (default 1; 0: never reported)
//   {"cmd":"hold_results","on":true|false}   results of later calls wait until released
//   {"cmd":"release_results","wait":true}    reports every held result, in call order, from a thread
//                                            of the library; waits for it unless "wait" is false
//   {"cmd":"create_null","on":true|false}    CreateSAIManager returns null
//   {"cmd":"reset"}                          back to the defaults; held results and the journal dropped
// DestorySAIManager drops held results and waits for every result thread before it returns.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Decode.h"
#include "Journal.h"
#include "SdkThreads.h"
#include "kova-api-i.h"
#include "kova_standin.h"

#define KOVA_EXPORT extern "C" __attribute__((visibility("default")))

namespace kova_standin {

const char* LibraryTag() { return nullptr; }

}  // namespace kova_standin

namespace {

using kova_standin::Json;
using kova_standin::OptionalInt;
using solvane::saimanager::ISAIManager;
using ResultFn = std::function<void(ISAIManager::OperationResult)>;

constexpr uint8_t kFrameMark = 0xA5;
constexpr int64_t kMarkOffset = 4;
constexpr int kMalformed = -1;
constexpr int64_t kMaxDelayMs = 10000;
constexpr int64_t kMaxTimes = 10;

// How the results of one operation are reported.
struct ResultPlan {
    int value = 0;
    int delayMs = 0;
    int times = 1;
};

struct HeldResult {
    ResultFn fn;
    ResultPlan plan;
};

class Manager;

// The library's process-wide state. At unload every result thread is joined first.
struct Library {
    ~Library() { threads.JoinAll(); }

    kova_standin::Journal journal;
    kova_standin::SdkThreads threads;
    std::mutex mutex;
    std::map<std::string, ResultPlan> plans;
    bool hold = false;
    std::vector<HeldResult> held;
    bool createNull = false;
    Manager* manager = nullptr;
};

Library& Lib() {
    static Library library;
    return library;
}

template <typename... A>
void Record(const char* op, const A&... args) {
    Json list = Json::array();
    kova_standin::PutArgs(list, args...);
    Lib().journal.Append(op, std::move(list));
}

void Deliver(const ResultFn& fn, const ResultPlan& plan) {
    kova_standin::SleepMs(plan.delayMs);
    for (int i = 0; i < plan.times; ++i) fn(static_cast<ISAIManager::OperationResult>(plan.value));
}

// Reports the result of one call of `op` as its plan says, from a library thread.
void Report(const char* op, ResultFn fn) {
    Library& lib = Lib();
    ResultPlan plan;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        if (auto it = lib.plans.find(op); it != lib.plans.end()) plan = it->second;
        if (lib.hold) {
            lib.held.push_back({std::move(fn), plan});
            return;
        }
    }
    lib.threads.Run([fn = std::move(fn), plan] { Deliver(fn, plan); }, false);
}

Json FrameJson(const ISAIManager::StreamInfo* frame) {
    if (frame == nullptr) return nullptr;
    Json object = Json::object();
    object["streamKey"] = kova_standin::ZeroTerminated(frame->streamKey);
    object["streamKeyLength"] = frame->streamKeyLength;
    object["width"] = frame->width;
    object["height"] = frame->height;
    object["strideY"] = frame->strideY;
    object["strideU"] = frame->strideU;
    object["strideV"] = frame->strideV;
    object["sizeY"] = frame->dataY == nullptr ? 0 : int64_t{frame->height} * frame->strideY;
    return object;
}

class Manager final : public ISAIManager {
public:
    OperationResult init(int n, void* data, int size, char* text, int textLength, ResultFn result) override {
        Record("init", n, static_cast<const char*>(data), size, static_cast<const char*>(text), textLength, result);
        Report("init", std::move(result));
        return kSuccess;
    }
    OperationResult initByAppId(int n, const char* appId, ResultFn result) override {
        Record("initByAppId", n, appId, result);
        Report("initByAppId", std::move(result));
        return kSuccess;
    }
    OperationResult enableFeature(int n, char* text, int textLength, ResultFn result) override {
        Record("enableFeature", n, static_cast<const char*>(text), textLength, result);
        Report("enableFeature", std::move(result));
        return kSuccess;
    }
    OperationResult processVideoFrame(StreamInfo* frame) override {
        Lib().journal.Append("processVideoFrame", Json::array({FrameJson(frame)}));
        if (frame != nullptr && frame->dataY != nullptr && frame->height > 0 && frame->strideY > 0 &&
            int64_t{frame->height} * frame->strideY > kMarkOffset) {
            frame->dataY[kMarkOffset] = kFrameMark;
        }
        return kSuccess;
    }
    OperationResult disableFeature() override {
        Record("disableFeature");
        return kSuccess;
    }
    OperationResult unInit() override {
        Record("unInit");
        return kSuccess;
    }
};

// ---- commands ----

bool BoolMember(const Json& command, const char* name, bool fallback, bool& out) {
    auto it = command.find(name);
    if (it == command.end()) {
        out = fallback;
        return true;
    }
    if (!it->is_boolean()) return false;
    out = it->get<bool>();
    return true;
}

int SetResult(const Json& command) {
    auto op = command.find("op");
    if (op == command.end() || !op->is_string()) return kMalformed;
    const std::string name = op->get<std::string>();
    if (name != "init" && name != "initByAppId" && name != "enableFeature") return kMalformed;
    int64_t value = 0, delay = 0, times = 0;
    if (!OptionalInt(command, "value", INT32_MIN, INT32_MAX, 0, value) ||
        !OptionalInt(command, "delay_ms", 0, kMaxDelayMs, 0, delay) || !OptionalInt(command, "times", 0, kMaxTimes, 1, times)) {
        return kMalformed;
    }
    std::lock_guard<std::mutex> lock(Lib().mutex);
    Lib().plans[name] = {static_cast<int>(value), static_cast<int>(delay), static_cast<int>(times)};
    return 0;
}

int ReleaseResults(const Json& command) {
    bool wait = true;
    if (!BoolMember(command, "wait", true, wait)) return kMalformed;
    std::vector<HeldResult> held;
    {
        std::lock_guard<std::mutex> lock(Lib().mutex);
        held.swap(Lib().held);
    }
    Lib().threads.Run(
        [held = std::move(held)] {
            for (const HeldResult& result : held) Deliver(result.fn, result.plan);
        },
        wait);
    return 0;
}

int RunCommand(const Json& command) {
    auto cmd = command.find("cmd");
    if (cmd == command.end() || !cmd->is_string()) return kMalformed;
    const std::string name = cmd->get<std::string>();
    Library& lib = Lib();
    if (name == "set_result") return SetResult(command);
    if (name == "release_results") return ReleaseResults(command);
    if (name == "hold_results" || name == "create_null") {
        bool on = false;
        if (!BoolMember(command, "on", false, on) || !command.contains("on")) return kMalformed;
        std::lock_guard<std::mutex> lock(lib.mutex);
        (name == "hold_results" ? lib.hold : lib.createNull) = on;
        return 0;
    }
    if (name == "reset") {
        {
            std::lock_guard<std::mutex> lock(lib.mutex);
            lib.plans.clear();
            lib.hold = false;
            lib.held.clear();
            lib.createNull = false;
        }
        lib.journal.Clear();
        return 0;
    }
    return kMalformed;
}

}  // namespace

// ---- the library's entry points ----

KOVA_EXPORT ISAIManager* CreateSAIManager() {
    Record("CreateSAIManager");
    Library& lib = Lib();
    std::lock_guard<std::mutex> lock(lib.mutex);
    if (lib.createNull) return nullptr;
    if (lib.manager == nullptr) lib.manager = new Manager();
    return lib.manager;
}

KOVA_EXPORT void DestorySAIManager() {
    Record("DestorySAIManager");
    Library& lib = Lib();
    Manager* manager = nullptr;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        lib.held.clear();
        manager = lib.manager;
        lib.manager = nullptr;
    }
    lib.threads.JoinAll();
    delete manager;
}

KOVA_EXPORT const char* GetSAIManagerVersion() {
    Record("GetSAIManagerVersion");
    return "standin-1.0";
}

// ---- the test control surface ----

KOVA_EXPORT const char* kova_standin_journal(void) {
    thread_local std::string text;
    text = Lib().journal.Text();
    return text.c_str();
}

KOVA_EXPORT void kova_standin_journal_clear(void) { Lib().journal.Clear(); }

KOVA_EXPORT int kova_standin_command(const char* json) {
    if (json == nullptr) return kMalformed;
    Json command = Json::parse(json, nullptr, false);
    if (command.is_discarded() || !command.is_object()) return kMalformed;
    return RunCommand(command);
}

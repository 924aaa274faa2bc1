// The test control surface: kova_standin_journal, kova_standin_journal_clear and
// kova_standin_command (commands documented in include/kova_standin.h). A command is checked
// completely on the caller's thread, so that a malformed one returns -1 before anything runs;
// callbacks then run on an SDK thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <map>
#include <string>

#include "Frames.h"
#include "ListenerEvents.h"
#include "Producers.h"
#include "State.h"
#include "kova_standin.h"

namespace kova_standin {

namespace {

constexpr int kMalformed = -1;
constexpr int64_t kIntMin = std::numeric_limits<int>::min();
constexpr int64_t kIntMax = std::numeric_limits<int>::max();
constexpr int64_t kMaxTimes = 100000;
constexpr int64_t kMaxFrameCount = 100000;
constexpr int64_t kMaxIntervalMs = 10000;
constexpr int64_t kMaxRawListCount = 65536;

// Runs `work` "times" times on an SDK thread, waiting for it unless "wait" is false.
int Fire(const Json& command, std::function<void()> work) {
    int64_t times = 1;
    if (!OptionalInt(command, "times", 0, kMaxTimes, 1, times)) return kMalformed;
    bool wait = true;
    if (auto it = command.find("wait"); it != command.end()) {
        if (!it->is_boolean()) return kMalformed;
        wait = it->get<bool>();
    }
    State().threads.Run(
        [work = std::move(work), times] {
            for (int64_t i = 0; i < times; ++i) work();
        },
        wait);
    return 0;
}

bool IntMember(const Json& command, const char* name, int& out) {
    auto it = command.find(name);
    int64_t value = 0;
    if (it == command.end() || !DecodeInt(*it, kIntMin, kIntMax, value)) return false;
    out = static_cast<int>(value);
    return true;
}

bool BoolMember(const Json& command, const char* name, bool& out) {
    auto it = command.find(name);
    if (it == command.end() || !it->is_boolean()) return false;
    out = it->get<bool>();
    return true;
}

bool StringMember(const Json& command, const char* name, ArgString& out) {
    auto it = command.find(name);
    return it != command.end() && DecodeString(*it, out);
}

// ---- configuration ----

int SetResult(const Json& command) {
    auto op = command.find("op");
    auto value = command.find("value");
    if (op == command.end() || !op->is_string() || op->get<std::string>().empty() || value == command.end()) {
        return kMalformed;
    }
    int64_t result = 0;
    if (value->is_boolean()) {
        result = value->get<bool>() ? 1 : 0;
    } else if (!DecodeInt(*value, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), result)) {
        return kMalformed;
    }
    State().settings.SetResult(op->get<std::string>(), result);
    return 0;
}

int SetStringResult(const Json& command) {
    auto op = command.find("op");
    auto value = command.find("value");
    if (op == command.end() || *op != "GetDeviceID" || value == command.end()) return kMalformed;
    if (value->is_null()) {
        State().settings.SetDeviceId(std::nullopt);
    } else if (value->is_string()) {
        State().settings.SetDeviceId(value->get<std::string>());
    } else {
        return kMalformed;
    }
    return 0;
}

int SetToken(const Json& command) {
    auto token = command.find("token");
    if (token == command.end() || !token->is_string()) return kMalformed;
    std::optional<int64_t> length;
    if (command.contains("length")) {
        int64_t value = 0;
        if (!DecodeInt(command["length"], kIntMin, kIntMax, value)) return kMalformed;
        length = value;
    }
    State().settings.SetToken(token->get<std::string>(), length);
    return 0;
}

int Reset(const Json&) {
    State().journal.SetEnabled(true);
    State().journal.Clear();
    State().callbacks.Clear();
    State().settings.Reset();
    State().retainCallbacksOnDestroy = false;
    return 0;
}

int RetainCallbacks(const Json& command) {
    bool on = false;
    if (!BoolMember(command, "on", on)) return kMalformed;
    State().retainCallbacksOnDestroy = on;
    return 0;
}

int JournalSwitch(const Json& command) {
    bool on = true;
    if (!BoolMember(command, "on", on)) return kMalformed;
    State().journal.SetEnabled(on);
    return 0;
}

// {"cmd":"crash_in","op":name}: that operation dies with SIGSEGV from now on ("" for none).
int CrashIn(const Json& command) {
    auto op = command.find("op");
    if (op == command.end() || !op->is_string()) return kMalformed;
    State().settings.SetCrashIn(op->get<std::string>());
    return 0;
}

int Live(const Json& command) {
    bool on = false;
    int64_t fps = LiveMode::kDefaultFps;
    if (!BoolMember(command, "on", on) || !OptionalInt(command, "fps", 1, LiveMode::kMaxFps, LiveMode::kDefaultFps, fps)) {
        return kMalformed;
    }
    State().live.Configure(on, static_cast<int>(fps));
    return 0;
}

// ---- listener events ----

template <typename L>
int FireListener(const Json& command, std::function<void(L*)> call, int version) {
    if (!call || !State().callbacks.HasListener(version)) return kMalformed;
    return Fire(command, [call = std::move(call)] { State().callbacks.CallListener<L>(call); });
}

int Listener(const Json& command) {
    int version = 0;
    if (!IntMember(command, "version", version)) return kMalformed;
    if (version == 1) return FireListener<KOVAListener>(command, BindEventV1(command), 1);
    if (version == 2) return FireListener<KOVAListenerV2>(command, BindEventV2(command), 2);
    return kMalformed;
}

// ---- result producers ----

// Calls the latest stored callback of `kind` with what `call` makes of it.
template <typename F, typename Call>
int Produce(const Json& command, F StoredCallbacks::*kind, Call call) {
    if (!State().callbacks.Get(kind)) return kMalformed;
    return Fire(command, [kind, call] {
        if (F fn = State().callbacks.Get(kind)) call(fn);
    });
}

template <typename F>
int ProduceInt(const Json& command, F StoredCallbacks::*kind) {
    int value = 0;
    if (!IntMember(command, "value", value)) return kMalformed;
    return Produce(command, kind, [value](const F& fn) { fn(value); });
}

// The "list", "count" and "null" members of a list producer.
bool ParseDeviceList(const Json& command, std::vector<DeviceEntry>& entries, int& count, bool& nullList) {
    auto list = command.find("list");
    if (list != command.end()) {
        if (!list->is_array()) return false;
        for (const Json& item : *list) {
            if (!item.is_object()) return false;
            DeviceEntry entry;
            int64_t id = 0;
            if (!OptionalInt(item, "id", kIntMin, kIntMax, 0, id)) return false;
            entry.id = static_cast<int32_t>(id);
            if (item.contains("uniqueId") && !DecodeString(item["uniqueId"], entry.uniqueId)) return false;
            if (item.contains("name") && !DecodeString(item["name"], entry.name)) return false;
            entries.push_back(std::move(entry));
        }
    }
    nullList = false;
    if (command.contains("null") && !BoolMember(command, "null", nullList)) return false;
    bool raw = false;
    if (command.contains("raw") && !BoolMember(command, "raw", raw)) return false;
    // A count above the entries given would make the callee read past the list: refused, unless
    // raw, where a null list may come with any count and a list is padded with zeroed records (null
    // texts of length 0) up to a count of at most kMaxRawListCount.
    int64_t most = static_cast<int64_t>(entries.size());
    if (raw) most = nullList ? kIntMax : std::max<int64_t>(most, kMaxRawListCount);
    int64_t value = 0;
    if (!OptionalInt(command, "count", kIntMin, most, static_cast<int64_t>(entries.size()), value)) return false;
    count = static_cast<int>(value);
    if (!nullList && value > static_cast<int64_t>(entries.size())) {
        DeviceEntry zeroed;
        zeroed.uniqueId.null = zeroed.name.null = true;
        entries.resize(static_cast<size_t>(value), zeroed);
    }
    return true;
}

template <typename F, typename Caller>
int ProduceList(const Json& command, F StoredCallbacks::*kind, Caller caller) {
    std::vector<DeviceEntry> entries;
    int count = 0;
    bool nullList = false;
    if (!ParseDeviceList(command, entries, count, nullList)) return kMalformed;
    return Produce(command, kind, [entries, count, nullList, caller](const F& fn) {
        std::vector<DeviceEntry> copy = entries;
        caller(fn, copy, count, nullList);
    });
}

int CaptureList(const Json& command, CaptureListFn StoredCallbacks::*kind) {
    return ProduceList(command, kind, CallCaptureList);
}

int AdmList(const Json& command, AdmListFn StoredCallbacks::*kind) { return ProduceList(command, kind, CallAdmList); }

int DebugLog(const Json& command) {
    int level = 0;
    ArgString text;
    if (!IntMember(command, "level", level) || !StringMember(command, "text", text)) return kMalformed;
    return Produce(command, &StoredCallbacks::debugLog, [level, text](const DebugLogFn& fn) {
        ArgString copy = text;   // the callee gets a writable buffer of its own each time
        fn(level, copy.mutableData(), copy.length);
    });
}

int SdkStats(const Json& command) {
    ArgString text;
    if (!StringMember(command, "text", text)) return kMalformed;
    return Produce(command, &StoredCallbacks::sdkStats, [text](const TextFn& fn) { CallText(fn, text); });
}

int PlayoutLevel(const Json& command) {
    auto values = command.find("values");
    int64_t a = 0;
    int64_t b = 0;
    if (values == command.end() || !values->is_array() || values->size() != 2 ||
        !DecodeInt((*values)[0], kIntMin, kIntMax, a) || !DecodeInt((*values)[1], kIntMin, kIntMax, b)) {
        return kMalformed;
    }
    return Produce(command, &StoredCallbacks::playoutLevel,
                   [a, b](const IntPairFn& fn) { fn(static_cast<int>(a), static_cast<int>(b)); });
}

int ExternalDeviceState(const Json& command) {
    bool value = false;
    if (!BoolMember(command, "value", value)) return kMalformed;
    return Produce(command, &StoredCallbacks::externalDeviceState, [value](const BoolFn& fn) { fn(value); });
}

// ---- frames ----

struct FramePush {
    FrameSpec shape;
    bool hasSize = false;
    int64_t count = 1;
    uint32_t first = 0;
    int intervalMs = 0;
    bool viaCapture = false;
    bool fillEach = true;   // the whole deterministic fill for every frame, else only for the first
    bool stamp = false;     // the monotonic clock in Y bytes 8..15 just before each callback
    bool bareCopy = false;  // instead of the callback, a bare copy of the planes (benchmarks)
    bool timed = false;     // sums the time spent in the callbacks (or bare copies), see push_time
};

// Nanoseconds spent in the callbacks (or bare copies) of the last "timed" push.
std::atomic<int64_t> g_lastPushNs{0};

int PushTime(const Json&) {
    const int64_t us = g_lastPushNs.load() / 1000;
    return static_cast<int>(std::min<int64_t>(us, std::numeric_limits<int>::max()));
}

// The frame number (and, when asked, the time stamp) of frame n; the rest of the planes is filled
// for every frame, or only once for a push that asked for no fill.
void PrepareFrame(FrameBuffer& buffer, const FramePush& push, int64_t index, uint32_t n) {
    if (push.fillEach || index == 0) {
        buffer.FillCounter(n);
    } else {
        buffer.WriteCounter(n);
    }
}

bool ParseFramePush(const Json& command, FramePush& push) {
    int64_t width = 0;
    int64_t height = 0;
    int64_t rotation = 0;
    int64_t first = 0;
    int64_t interval = 0;
    push.hasSize = command.contains("width") || command.contains("height");
    if (!OptionalInt(command, "count", 0, kMaxFrameCount, 1, push.count) ||
        !OptionalInt(command, "width", kIntMin, kIntMax, 640, width) ||
        !OptionalInt(command, "height", kIntMin, kIntMax, 480, height) ||
        !OptionalInt(command, "rotation", kIntMin, kIntMax, 0, rotation) ||
        !OptionalInt(command, "first", 0, std::numeric_limits<uint32_t>::max(), 0, first) ||
        !OptionalInt(command, "interval_ms", 0, kMaxIntervalMs, 0, interval)) {
        return false;
    }
    push.shape = SpecForSize(static_cast<int>(width), static_cast<int>(height));
    push.shape.rotation = static_cast<int>(rotation);
    push.first = static_cast<uint32_t>(first);
    push.intervalMs = static_cast<int>(interval);
    if (auto strides = command.find("strides"); strides != command.end()) {
        int64_t s[3] = {0, 0, 0};
        if (!strides->is_array() || strides->size() != 3) return false;
        for (int i = 0; i < 3; ++i) {
            if (!DecodeInt((*strides)[i], kIntMin, kIntMax, s[i])) return false;
        }
        push.shape.strideY = static_cast<int>(s[0]);
        push.shape.strideU = static_cast<int>(s[1]);
        push.shape.strideV = static_cast<int>(s[2]);
    }
    if (auto planes = command.find("nullPlanes"); planes != command.end()) {
        if (!planes->is_array()) return false;
        for (const Json& plane : *planes) {
            if (plane == "Y") push.shape.nullY = true;
            else if (plane == "U") push.shape.nullU = true;
            else if (plane == "V") push.shape.nullV = true;
            else return false;
        }
    }
    if (auto via = command.find("via"); via != command.end()) {
        if (*via == "capture") push.viaCapture = true;
        else if (*via != "frame") return false;
    }
    if (command.contains("fill") && !BoolMember(command, "fill", push.fillEach)) return false;
    if (command.contains("stamp") && !BoolMember(command, "stamp", push.stamp)) return false;
    if (command.contains("bare_copy") && !BoolMember(command, "bare_copy", push.bareCopy)) return false;
    if (command.contains("timed") && !BoolMember(command, "timed", push.timed)) return false;
    return FrameBuffer().Allocate(push.shape);
}

int Frames(const Json& command) {
    FramePush push;
    auto key = command.find("key");
    if (key == command.end() || !key->is_string() || !ParseFramePush(command, push)) return kMalformed;
    const std::string streamKey = key->get<std::string>();
    std::optional<std::string> sentKey;
    if (auto over = command.find("keyOverride"); over != command.end()) {
        if (!over->is_string()) return kMalformed;
        sentKey = over->get<std::string>();
    }
    bool nullKey = false;
    if (command.contains("nullKey") && !BoolMember(command, "nullKey", nullKey)) return kMalformed;
    // Looked up again for every frame: a stream stopped meanwhile receives no more frames.
    std::function<FrameFn()> lookup;
    if (sentKey) {
        if (push.viaCapture) return kMalformed;
        lookup = [] { return State().callbacks.AnyFrameCallback(); };
    } else if (push.viaCapture) {
        if (streamKey != "local") return kMalformed;
        lookup = [] { return State().callbacks.HasStream("local") ? State().callbacks.Get(&StoredCallbacks::localCapture) : FrameFn(); };
    } else {
        lookup = [streamKey] { return State().callbacks.FrameCallback(streamKey); };
    }
    if (!lookup()) return kMalformed;
    Json once = command;
    once.erase("times");   // "count" says how many frames; the push itself runs once
    return Fire(once, [push, lookup, nullKey, key = sentKey.value_or(streamKey)] {
        FrameBuffer buffer;
        buffer.Allocate(push.shape);
        int64_t spentNs = 0;
        for (int64_t i = 0; i < push.count; ++i) {
            const FrameFn fn = lookup();
            if (!fn) return;
            const uint32_t n = push.first + static_cast<uint32_t>(i);
            PrepareFrame(buffer, push, i, n);
            if (push.stamp) buffer.WriteStamp();
            Api::StreamInfo info = buffer.Info(key, n);
            if (nullKey) info.streamKey = nullptr;
            using Clock = std::chrono::steady_clock;
            const Clock::time_point start = push.timed ? Clock::now() : Clock::time_point();
            if (push.bareCopy) {
                buffer.CopyPlanesBare();
            } else {
                fn(info);
            }
            if (push.timed) spentNs += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
            if (i + 1 < push.count) SleepMs(push.intervalMs);
        }
        if (push.timed) g_lastPushNs.store(spentNs);
    });
}

int FramesAll(const Json& command) {
    FramePush push;
    if (!ParseFramePush(command, push) || push.viaCapture) return kMalformed;
    if (State().callbacks.Streams().empty()) return kMalformed;
    Json once = command;
    once.erase("times");
    return Fire(once, [push] {
        FrameBuffer buffer;
        for (int64_t i = 0; i < push.count; ++i) {
            const uint32_t n = push.first + static_cast<uint32_t>(i);
            for (const StreamSnapshot& stream : State().callbacks.Streams()) {
                FrameSpec shape = push.shape;
                if (!push.hasSize && stream.width > 0 && stream.height > 0) {
                    shape = SpecForSize(stream.width, stream.height);
                    shape.rotation = push.shape.rotation;
                }
                const FrameFn fn = State().callbacks.FrameCallback(stream.key);
                if (!fn || !buffer.Allocate(shape)) continue;
                buffer.FillCounter(n);
                if (push.stamp) buffer.WriteStamp();
                Api::StreamInfo info = buffer.Info(stream.key, n);
                fn(info);
            }
            if (i + 1 < push.count) SleepMs(push.intervalMs);
        }
    });
}

using Handler = std::function<int(const Json&)>;

const std::map<std::string, Handler>& Handlers() {
    static const std::map<std::string, Handler> handlers = {
        {"set_result", SetResult},
        {"set_string_result", SetStringResult},
        {"set_token", SetToken},
        {"reset", Reset},
        {"live", Live},
        {"retain_callbacks", RetainCallbacks},
        {"journal", JournalSwitch},
        {"crash_in", CrashIn},
        {"push_time", PushTime},
        {"listener", Listener},
        {"exit_room_result", [](const Json& c) { return ProduceInt(c, &StoredCallbacks::exitRoom); }},
        {"desktop_preview_finish", [](const Json& c) { return ProduceInt(c, &StoredCallbacks::desktopPreviewFinish); }},
        {"recording_level", [](const Json& c) { return ProduceInt(c, &StoredCallbacks::recordingLevel); }},
        {"playout_level", PlayoutLevel},
        {"camera_devices", [](const Json& c) { return CaptureList(c, &StoredCallbacks::cameraDevices); }},
        {"screen_sources", [](const Json& c) { return CaptureList(c, &StoredCallbacks::screenSources); }},
        {"window_sources", [](const Json& c) { return CaptureList(c, &StoredCallbacks::windowSources); }},
        {"playout_sources", [](const Json& c) { return AdmList(c, &StoredCallbacks::playoutSources); }},
        {"recording_sources", [](const Json& c) { return AdmList(c, &StoredCallbacks::recordingSources); }},
        {"debug_log", DebugLog},
        {"sdk_stats", SdkStats},
        {"external_device_state", ExternalDeviceState},
        {"frames", Frames},
        {"frames_all", FramesAll},
    };
    return handlers;
}

}  // namespace

}  // namespace kova_standin

using namespace kova_standin;

KOVA_EXPORT const char* kova_standin_journal(void) {
    thread_local std::string text;
    text = State().journal.Text();
    return text.c_str();
}

KOVA_EXPORT void kova_standin_journal_clear(void) { State().journal.Clear(); }

KOVA_EXPORT int kova_standin_command(const char* json) {
    if (json == nullptr) return kMalformed;
    try {
        const Json command = Json::parse(json, nullptr, false);
        if (command.is_discarded() || !command.is_object()) return kMalformed;
        auto name = command.find("cmd");
        if (name == command.end() || !name->is_string()) return kMalformed;
        const auto& handlers = Handlers();
        auto handler = handlers.find(name->get<std::string>());
        if (handler == handlers.end()) return kMalformed;
        return handler->second(command);
    } catch (const std::exception&) {
        // A value of an unexpected type deep inside a command: malformed, never a crash.
        return kMalformed;
    }
}

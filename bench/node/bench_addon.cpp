// kova_bench.node: the bare mechanisms that the addon's hot paths are measured against, and a way to
// drive the stand-in SDK from a thread of our own.
//
//   open(sdkPath)                     binds kova_standin_command of the stand-in the addon loaded
//   command(json)                     runs a stand-in command on this thread: [result, ns]
//   commandAsync(json, done)          runs it on a helper thread, then done(result, ns) in JS
//   copyFrames(shape)                  allocate-copy-free of three planes `count` times on each of
//                                     `streams` threads: nanoseconds per frame and thread
//   hopFrames(shape, onFrame, done)    the same copies posted through a bare thread-safe function
//                                     (at most four in flight per stream); JS gets external buffers
//   hopEvents(count, texts, onEvent, done)   records of one number and three strings posted
//                                     through a bare thread-safe function
//   emptyMute(number, string, bool)   the argument conversions of a three-argument engine function
//   copyCounts()                      [main-thread, other-thread] large copies seen by the copy
//                                     counter preloaded into this process, or null
#include <dlfcn.h>
#include <node_api.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Command = int (*)(const char*);
Command g_command = nullptr;

#define CHECK(env, call)                                                      \
    do {                                                                      \
        if ((call) != napi_ok) {                                              \
            const napi_extended_error_info* info = nullptr;                   \
            napi_get_last_error_info((env), &info);                           \
            bool pending = false;                                             \
            napi_is_exception_pending((env), &pending);                       \
            if (!pending) {                                                   \
                napi_throw_error((env), nullptr,                              \
                                 info && info->error_message ? info->error_message \
                                                             : "napi call failed"); \
            }                                                                 \
            return nullptr;                                                   \
        }                                                                     \
    } while (0)

uint64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

napi_value Number(napi_env env, double value) {
    napi_value v = nullptr;
    napi_create_double(env, value, &v);
    return v;
}

bool GetArgs(napi_env env, napi_callback_info info, size_t want, napi_value* argv) {
    size_t argc = want;
    if (napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr) != napi_ok || argc < want) {
        napi_throw_type_error(env, nullptr, "missing arguments");
        return false;
    }
    return true;
}

std::string GetString(napi_env env, napi_value value) {
    size_t length = 0;
    if (napi_get_value_string_utf8(env, value, nullptr, 0, &length) != napi_ok) return std::string();
    std::string text(length, '\0');
    napi_get_value_string_utf8(env, value, text.data(), length + 1, &length);
    return text;
}

int32_t GetInt(napi_env env, napi_value object, const char* name, int32_t fallback) {
    napi_value v = nullptr;
    bool has = false;
    if (napi_has_named_property(env, object, name, &has) != napi_ok || !has) return fallback;
    napi_get_named_property(env, object, name, &v);
    int32_t out = fallback;
    napi_get_value_int32(env, v, &out);
    return out;
}

// ------------------------------------------------------------------------- the stand-in

napi_value Open(napi_env env, napi_callback_info info) {
    napi_value argv[1];
    if (!GetArgs(env, info, 1, argv)) return nullptr;
    const std::string path = GetString(env, argv[0]);
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) library = dlopen(path.c_str(), RTLD_NOW);
    if (library != nullptr) g_command = reinterpret_cast<Command>(dlsym(library, "kova_standin_command"));
    if (g_command == nullptr) napi_throw_error(env, nullptr, "kova_standin_command not found");
    return nullptr;
}

napi_value RunCommand(napi_env env, napi_callback_info info) {
    napi_value argv[1];
    if (!GetArgs(env, info, 1, argv) || g_command == nullptr) return nullptr;
    const std::string json = GetString(env, argv[0]);
    const uint64_t start = MonotonicNs();
    const int result = g_command(json.c_str());
    const uint64_t elapsed = MonotonicNs() - start;
    napi_value out = nullptr;
    CHECK(env, napi_create_array_with_length(env, 2, &out));
    napi_set_element(env, out, 0, Number(env, result));
    napi_set_element(env, out, 1, Number(env, static_cast<double>(elapsed)));
    return out;
}

struct Outcome {
    int result = 0;
    uint64_t ns = 0;
};

void CallDone(napi_env env, napi_value fn, void*, void* data) {
    std::unique_ptr<Outcome> outcome(static_cast<Outcome*>(data));
    if (env == nullptr) return;
    napi_value argv[2] = {Number(env, outcome->result), Number(env, static_cast<double>(outcome->ns))};
    napi_value undefined = nullptr;
    napi_get_undefined(env, &undefined);
    napi_call_function(env, undefined, fn, 2, argv, nullptr);
}

napi_threadsafe_function MakeTsfn(napi_env env, napi_value fn, const char* name, napi_threadsafe_function_call_js call) {
    napi_value resource = nullptr;
    napi_create_string_utf8(env, name, NAPI_AUTO_LENGTH, &resource);
    napi_threadsafe_function tsfn = nullptr;
    if (napi_create_threadsafe_function(env, fn, nullptr, resource, 0, 1, nullptr, nullptr, nullptr, call, &tsfn) !=
        napi_ok) {
        napi_throw_error(env, nullptr, "cannot create a thread-safe function");
        return nullptr;
    }
    return tsfn;
}

napi_value RunCommandAsync(napi_env env, napi_callback_info info) {
    napi_value argv[2];
    if (!GetArgs(env, info, 2, argv) || g_command == nullptr) return nullptr;
    std::string json = GetString(env, argv[0]);
    napi_threadsafe_function done = MakeTsfn(env, argv[1], "BenchCommand", CallDone);
    if (done == nullptr) return nullptr;
    std::thread([json = std::move(json), done] {
        auto* outcome = new Outcome;
        const uint64_t start = MonotonicNs();
        outcome->result = g_command(json.c_str());
        outcome->ns = MonotonicNs() - start;
        if (napi_call_threadsafe_function(done, outcome, napi_tsfn_blocking) != napi_ok) delete outcome;
        napi_release_threadsafe_function(done, napi_tsfn_release);
    }).detach();
    return nullptr;
}

// ------------------------------------------------------------------------- frames

struct FrameShape {
    int width = 640, height = 480, strideY = 640, strideU = 320, strideV = 320;
    int count = 100, streams = 1, intervalMs = 0;
    size_t sizeY() const { return size_t(height) * strideY; }
    size_t sizeU() const { return size_t(height) * strideU / 2; }
    size_t sizeV() const { return size_t(height) * strideV / 2; }
};

FrameShape ReadShape(napi_env env, napi_value object) {
    FrameShape shape;
    shape.width = GetInt(env, object, "width", shape.width);
    shape.height = GetInt(env, object, "height", shape.height);
    shape.strideY = GetInt(env, object, "strideY", shape.width);
    shape.strideU = GetInt(env, object, "strideU", (shape.width + 1) / 2);
    shape.strideV = GetInt(env, object, "strideV", (shape.width + 1) / 2);
    shape.count = GetInt(env, object, "count", shape.count);
    shape.streams = GetInt(env, object, "streams", shape.streams);
    shape.intervalMs = GetInt(env, object, "intervalMs", shape.intervalMs);
    return shape;
}

// The source planes a decoder would hand over, filled once.
struct SourceFrame {
    std::vector<uint8_t> y, u, v;
    explicit SourceFrame(const FrameShape& shape) : y(shape.sizeY(), 0x10), u(shape.sizeU(), 0x80), v(shape.sizeV(), 0x80) {}
};

// Keeps the compiler from proving a copy unused and removing it with its allocation.
inline void Escape(void* p) { asm volatile("" : : "g"(p) : "memory"); }

uint8_t* CopyOf(const std::vector<uint8_t>& plane) {
    auto* copy = static_cast<uint8_t*>(std::malloc(plane.size()));
    if (copy != nullptr) std::memcpy(copy, plane.data(), plane.size());
    Escape(copy);
    return copy;
}

napi_value CopyFrames(napi_env env, napi_callback_info info) {
    napi_value argv[1];
    if (!GetArgs(env, info, 1, argv)) return nullptr;
    const FrameShape shape = ReadShape(env, argv[0]);
    const uint64_t start = MonotonicNs();
    std::vector<std::thread> threads;
    for (int s = 0; s < shape.streams; ++s) {
        threads.emplace_back([shape] {
            SourceFrame source(shape);
            for (int i = 0; i < shape.count; ++i) {
                uint8_t* y = CopyOf(source.y);
                uint8_t* u = CopyOf(source.u);
                uint8_t* v = CopyOf(source.v);
                std::free(y);
                std::free(u);
                std::free(v);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    return Number(env, double(MonotonicNs() - start) / shape.count);
}

struct HopStream {
    std::atomic<int> inFlight{0};
    std::atomic<int> dropped{0};
};

struct HopFrame {
    std::shared_ptr<HopStream> stream;  // outlives the producer while frames are in flight
    uint8_t* planes[3] = {};
    size_t sizes[3] = {};
    int width = 0, height = 0;
};

void FreePlane(napi_env, void* data, void*) { std::free(data); }

void CallFrame(napi_env env, napi_value fn, void*, void* data) {
    std::unique_ptr<HopFrame> frame(static_cast<HopFrame*>(data));
    frame->stream->inFlight.fetch_sub(1, std::memory_order_relaxed);
    if (env == nullptr) {
        for (uint8_t* plane : frame->planes) std::free(plane);
        return;
    }
    static const char* const kNames[3] = {"streamY", "streamU", "streamV"};
    napi_value object = nullptr;
    napi_create_object(env, &object);
    napi_value v = nullptr;
    napi_create_int32(env, frame->width, &v);
    napi_set_named_property(env, object, "width", v);
    napi_create_int32(env, frame->height, &v);
    napi_set_named_property(env, object, "height", v);
    for (int i = 0; i < 3; ++i) {
        napi_value buffer = nullptr, array = nullptr;
        if (napi_create_external_arraybuffer(env, frame->planes[i], frame->sizes[i], FreePlane, nullptr, &buffer) !=
            napi_ok) {
            std::free(frame->planes[i]);
            continue;
        }
        napi_create_typedarray(env, napi_uint8_array, frame->sizes[i], buffer, 0, &array);
        napi_set_named_property(env, object, kNames[i], array);
    }
    napi_value undefined = nullptr;
    napi_get_undefined(env, &undefined);
    napi_call_function(env, undefined, fn, 1, &object, nullptr);
}

// Posts `shape.count` frames per stream from `shape.streams` threads; a fifth frame in flight is dropped
// (the addon keeps at most four waiting). The stamp in Y bytes 8..15 is taken before the copy, as the
// stand-in takes it before its callback. done(droppedFrames, nsPerFrameOnTheProducer).
napi_value HopFrames(napi_env env, napi_callback_info info) {
    napi_value argv[3];
    if (!GetArgs(env, info, 3, argv)) return nullptr;
    const FrameShape shape = ReadShape(env, argv[0]);
    napi_threadsafe_function frames = MakeTsfn(env, argv[1], "BenchFrames", CallFrame);
    napi_threadsafe_function done = MakeTsfn(env, argv[2], "BenchFramesDone", CallDone);
    if (frames == nullptr || done == nullptr) return nullptr;
    std::thread([shape, frames, done] {
        std::vector<std::shared_ptr<HopStream>> streams;
        std::vector<std::thread> threads;
        std::atomic<uint64_t> producerNs{0};
        for (int s = 0; s < shape.streams; ++s) {
            streams.push_back(std::make_shared<HopStream>());
            std::shared_ptr<HopStream> stream = streams.back();
            threads.emplace_back([shape, stream, frames, &producerNs] {
                SourceFrame source(shape);
                uint64_t busy = 0;
                for (int i = 0; i < shape.count; ++i) {
                    const uint64_t stamp = MonotonicNs();
                    if (source.y.size() >= 16) std::memcpy(source.y.data() + 8, &stamp, 8);
                    if (stream->inFlight.load(std::memory_order_relaxed) >= 4) {
                        stream->dropped.fetch_add(1, std::memory_order_relaxed);
                    } else {
                        auto* frame = new HopFrame;
                        frame->stream = stream;
                        frame->width = shape.width;
                        frame->height = shape.height;
                        const std::vector<uint8_t>* planes[3] = {&source.y, &source.u, &source.v};
                        for (int p = 0; p < 3; ++p) {
                            frame->planes[p] = CopyOf(*planes[p]);
                            frame->sizes[p] = planes[p]->size();
                        }
                        stream->inFlight.fetch_add(1, std::memory_order_relaxed);
                        if (napi_call_threadsafe_function(frames, frame, napi_tsfn_nonblocking) != napi_ok) {
                            stream->inFlight.fetch_sub(1, std::memory_order_relaxed);
                            for (uint8_t* plane : frame->planes) std::free(plane);
                            delete frame;
                        }
                    }
                    busy += MonotonicNs() - stamp;
                    if (shape.intervalMs > 0 && i + 1 < shape.count) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(shape.intervalMs));
                    }
                }
                producerNs.fetch_add(busy / uint64_t(shape.count));
            });
        }
        for (auto& thread : threads) thread.join();
        auto* outcome = new Outcome;
        for (auto& stream : streams) outcome->result += stream->dropped.load();
        outcome->ns = producerNs.load() / uint64_t(shape.streams);
        napi_release_threadsafe_function(frames, napi_tsfn_release);
        if (napi_call_threadsafe_function(done, outcome, napi_tsfn_blocking) != napi_ok) delete outcome;
        napi_release_threadsafe_function(done, napi_tsfn_release);
    }).detach();
    return nullptr;
}

// ------------------------------------------------------------------------- events

struct HopEvent {
    int number = 0;
    std::string texts[3];
};

void CallEvent(napi_env env, napi_value fn, void*, void* data) {
    std::unique_ptr<HopEvent> event(static_cast<HopEvent*>(data));
    if (env == nullptr) return;
    napi_value argv[4] = {};
    napi_create_int32(env, event->number, &argv[0]);
    for (int i = 0; i < 3; ++i) {
        napi_create_string_utf8(env, event->texts[i].data(), event->texts[i].size(), &argv[i + 1]);
    }
    napi_value undefined = nullptr;
    napi_get_undefined(env, &undefined);
    napi_call_function(env, undefined, fn, 4, argv, nullptr);
}

napi_value HopEvents(napi_env env, napi_callback_info info) {
    napi_value argv[4];
    if (!GetArgs(env, info, 4, argv)) return nullptr;
    int32_t count = 0;
    napi_get_value_int32(env, argv[0], &count);
    std::vector<std::string> texts;
    for (uint32_t i = 0; i < 3; ++i) {
        napi_value element = nullptr;
        napi_get_element(env, argv[1], i, &element);
        texts.push_back(GetString(env, element));
    }
    napi_threadsafe_function events = MakeTsfn(env, argv[2], "BenchEvents", CallEvent);
    napi_threadsafe_function done = MakeTsfn(env, argv[3], "BenchEventsDone", CallDone);
    if (events == nullptr || done == nullptr) return nullptr;
    std::thread([count, texts, events, done] {
        const uint64_t start = MonotonicNs();
        for (int i = 0; i < count; ++i) {
            auto* event = new HopEvent;
            event->number = i;
            for (int t = 0; t < 3; ++t) event->texts[t].assign(texts[t].data(), texts[t].size());
            if (napi_call_threadsafe_function(events, event, napi_tsfn_nonblocking) != napi_ok) delete event;
        }
        auto* outcome = new Outcome;
        outcome->ns = MonotonicNs() - start;
        napi_release_threadsafe_function(events, napi_tsfn_release);
        if (napi_call_threadsafe_function(done, outcome, napi_tsfn_blocking) != napi_ok) delete outcome;
        napi_release_threadsafe_function(done, napi_tsfn_release);
    }).detach();
    return nullptr;
}

// ------------------------------------------------------------------------- calls

// What an engine function taking (number, string, boolean) does before it reaches the SDK: count
// and type checks, an int32, the string into a zero-filled 256-byte buffer, a bool; then the
// success text as its result.
napi_value EmptyMute(napi_env env, napi_callback_info info) {
    size_t argc = 3;
    napi_value argv[3];
    CHECK(env, napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr));
    if (argc < 3) {
        napi_throw_type_error(env, nullptr, "param count error");
        return nullptr;
    }
    static const napi_valuetype kTypes[3] = {napi_number, napi_string, napi_boolean};
    for (int i = 0; i < 3; ++i) {
        napi_valuetype type = napi_undefined;
        CHECK(env, napi_typeof(env, argv[i], &type));
        if (type != kTypes[i]) {
            napi_throw_type_error(env, nullptr, "param type error");
            return nullptr;
        }
    }
    int32_t number = 0;
    char text[256] = {};
    size_t length = 0;
    bool flag = false;
    CHECK(env, napi_get_value_int32(env, argv[0], &number));
    CHECK(env, napi_get_value_string_utf8(env, argv[1], text, sizeof(text), &length));
    CHECK(env, napi_get_value_bool(env, argv[2], &flag));
    volatile int sink = number + static_cast<int>(length) + (flag ? 1 : 0);
    (void)sink;
    napi_value result = nullptr;
    CHECK(env, napi_create_string_utf8(env, "operation success.", NAPI_AUTO_LENGTH, &result));
    return result;
}

// ------------------------------------------------------------------------- copy counter

using CopyCountsFn = void (*)(uint64_t*, uint64_t*);

napi_value CopyCounts(napi_env env, napi_callback_info) {
    auto counts = reinterpret_cast<CopyCountsFn>(dlsym(RTLD_DEFAULT, "kova_copy_counts"));
    napi_value out = nullptr;
    if (counts == nullptr) {
        napi_get_null(env, &out);
        return out;
    }
    uint64_t main = 0, other = 0;
    counts(&main, &other);
    CHECK(env, napi_create_array_with_length(env, 2, &out));
    napi_set_element(env, out, 0, Number(env, double(main)));
    napi_set_element(env, out, 1, Number(env, double(other)));
    return out;
}

napi_value Init(napi_env env, napi_value exports) {
    const napi_property_descriptor properties[] = {
        {"open", nullptr, Open, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"command", nullptr, RunCommand, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"commandAsync", nullptr, RunCommandAsync, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"copyFrames", nullptr, CopyFrames, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"hopFrames", nullptr, HopFrames, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"hopEvents", nullptr, HopEvents, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"emptyMute", nullptr, EmptyMute, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"copyCounts", nullptr, CopyCounts, nullptr, nullptr, nullptr, napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof(properties) / sizeof(properties[0]), properties);
    return exports;
}

}  // namespace

NAPI_MODULE(NODE_GYP_MODULE_NAME, Init)

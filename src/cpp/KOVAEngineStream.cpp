// The frame path, top to bottom:
//   SDK thread:  StreamCallback -> copy the three planes once -> queue of the stream (at most four
//                waiting; a newer frame is dropped when full, before it is copied) -> post CB_STREAM
//                through the stream's thread-safe function, never blocking.
//   JS thread:   CallbackJSFn -> CallbackStream -> oldest waiting frame -> frame object whose planes
//                are external ArrayBuffers over the copies -> the stream's JavaScript function.
// A plane's copy is given back by its ArrayBuffer's finalizer, so JavaScript may keep the planes after
// its function returns. Given-back planes wait in a bounded pool for the next frame of the same size:
// a stream's planes are then copied into memory that is already mapped, instead of a fresh
// allocation that faults in every page of a 1080p frame again.
//
// The local capture hook: while the AI-effects adapter wants frames, the SDK's local camera callback
// is CaptureCallback, which hands each captured frame to the adapter synchronously on the SDK's
// capture thread, so the library can change the pixels before the SDK uses them.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "KOVAEngine.h"
#include "SAIManagerAdapter.h"
#include "general.h"

std::map<std::string, std::deque<StreamInfo*>> KOVAEngine::m_mapStreamQue;
std::recursive_mutex KOVAEngine::m_mxQueBuf;
std::map<std::string, int> KOVAEngine::m_mapStreamBufRefCount;

namespace {

constexpr size_t kMaxWaitingFrames = 4;
// Largest plane accepted from the SDK (a 16384 x 16384 frame with 4-byte strides fits).
constexpr int64_t kMaxPlaneBytes = int64_t(1) << 30;

int64_t PlaneSize(int height, int stride, int divisor) {
    if (height <= 0 || stride <= 0) return 0;
    return int64_t(height) * int64_t(stride) / divisor;
}

// Plane buffers given back by JavaScript, by size, for reuse by the next frames. Bounded in count
// and bytes (four 1080p streams with every frame in flight fit); beyond that the oldest are freed.
//
// Each buffer is 64-byte aligned with 63 spare bytes, and a plane starts at the same offset within a
// cache line as the SDK's source plane: a copy between equally aligned addresses runs up to a third
// faster than one between differently aligned ones. The buffer's start is the plane's address
// rounded down to 64.
class PlanePool {
public:
    static constexpr uintptr_t kLine = 64;

    // A buffer for `size` bytes whose address has the same offset in its cache line as `source`.
    uint8_t* Take(size_t size, const void* source) {
        const uintptr_t offset = reinterpret_cast<uintptr_t>(source) & (kLine - 1);
        uint8_t* base = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // The newest plane of that size: the likeliest still to be in a cache.
            for (size_t i = m_free.size(); i-- > 0;) {
                if (m_free[i].size != size) continue;
                base = m_free[i].base;
                m_free.erase(m_free.begin() + static_cast<std::ptrdiff_t>(i));
                m_bytes -= size;
                break;
            }
        }
        if (base == nullptr) base = Allocate(size);
        return base == nullptr ? nullptr : base + offset;
    }

    void Give(uint8_t* plane, size_t size) {
        if (plane == nullptr) return;
        auto* base = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(plane) & ~(kLine - 1));
        if (size > kMaxBytes) {
            Free(base);
            return;
        }
        // The oldest planes make room: after a change of resolution the planes of the old size age
        // out instead of filling the pool for good.
        std::vector<Entry> evicted;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            while (!m_free.empty() && (m_free.size() >= kMaxPlanes || m_bytes + size > kMaxBytes)) {
                evicted.push_back(m_free.front());
                m_bytes -= m_free.front().size;
                m_free.pop_front();
            }
            m_free.push_back({base, size});
            m_bytes += size;
        }
        for (const Entry& entry : evicted) Free(entry.base);
    }

    // Frees every pooled plane (no stream is left to reuse them).
    void Drain() {
        std::deque<Entry> planes;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            planes.swap(m_free);
            m_bytes = 0;
        }
        for (const Entry& entry : planes) Free(entry.base);
    }

    // Never destroyed: a finalizer may give a plane back while the process exits.
    static PlanePool& Instance() {
        static PlanePool* pool = new PlanePool();
        return *pool;
    }

private:
    // A 64-byte aligned buffer of size + 63 bytes; the address malloc gave is kept in the bytes
    // right before it.
    static uint8_t* Allocate(size_t size) {
        void* raw = std::malloc(size + 2 * kLine);
        if (raw == nullptr) return nullptr;
        auto* base = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(raw) + kLine) & ~(kLine - 1));
        std::memcpy(base - sizeof(void*), &raw, sizeof(void*));
        return base;
    }
    static void Free(uint8_t* base) {
        void* raw = nullptr;
        std::memcpy(&raw, base - sizeof(void*), sizeof(void*));
        std::free(raw);
    }

    static constexpr size_t kMaxPlanes = 768;
    static constexpr size_t kMaxBytes = size_t(64) << 20;
    struct Entry {
        uint8_t* base;
        size_t size;
    };
    std::mutex m_mutex;
    std::deque<Entry> m_free;  // oldest first
    size_t m_bytes = 0;
};

uint8_t* CopyPlane(const uint8_t* source, int64_t size) {
    if (source == nullptr || size <= 0 || size > kMaxPlaneBytes) return nullptr;
    uint8_t* copy = PlanePool::Instance().Take(static_cast<size_t>(size), source);
    if (copy != nullptr) std::memcpy(copy, source, static_cast<size_t>(size));
    return copy;
}

void FreeFrame(StreamInfo* frame) {
    if (frame == nullptr) return;
    std::free(const_cast<char*>(frame->streamKey));
    PlanePool& pool = PlanePool::Instance();
    pool.Give(frame->dataY, static_cast<size_t>(PlaneSize(frame->height, frame->strideY, 1)));
    pool.Give(frame->dataU, static_cast<size_t>(PlaneSize(frame->height, frame->strideU, 2)));
    pool.Give(frame->dataV, static_cast<size_t>(PlaneSize(frame->height, frame->strideV, 2)));
    delete frame;
}

int64_t NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1000;
}

StreamInfo* CopyFrame(const StreamInfo& frame, const std::string& key) {
    auto* copy = new StreamInfo(frame);
    auto* keyCopy = static_cast<char*>(std::calloc(key.size() + 1, 1));
    if (keyCopy != nullptr) std::memcpy(keyCopy, key.data(), key.size());
    copy->streamKey = keyCopy;
    copy->streamKeyLength = static_cast<int32_t>(key.size());
    copy->dataY = CopyPlane(frame.dataY, PlaneSize(frame.height, frame.strideY, 1));
    copy->dataU = CopyPlane(frame.dataU, PlaneSize(frame.height, frame.strideU, 2));
    copy->dataV = CopyPlane(frame.dataV, PlaneSize(frame.height, frame.strideV, 2));
    copy->timestamp = NowMilliseconds();
    return copy;
}

// The finalizer's hint is the plane's size.
void GivePlaneBack(napi_env /*env*/, void* data, void* hint) {
    PlanePool::Instance().Give(static_cast<uint8_t*>(data), reinterpret_cast<uintptr_t>(hint));
}

// A Uint8Array over the plane; the plane's memory now belongs to JavaScript.
napi_value MakePlane(napi_env env, uint8_t* plane, size_t size) {
    napi_value buffer = MakeOwnedArrayBuffer(env, plane, size, GivePlaneBack, reinterpret_cast<void*>(uintptr_t(size)));
    if (buffer == nullptr) return nullptr;
    napi_value array = nullptr;
    NAPI_CALL(env, napi_create_typedarray(env, napi_uint8_array, size, buffer, 0, &array));
    return array;
}

void SetInt(napi_env env, napi_value object, const char* name, int32_t value) {
    napi_value v = nullptr;
    NAPI_CALL_CONTINUE(env, napi_create_int32(env, value, &v));
    NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, name, v));
}

void SetPlane(napi_env env, napi_value object, const char* name, uint8_t*& plane, int64_t size) {
    if (plane == nullptr) return;
    napi_value array = MakePlane(env, plane, static_cast<size_t>(size));
    plane = nullptr;  // owned by the ArrayBuffer (or freed) now
    if (array != nullptr) NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, name, array));
}

}  // namespace

void KOVAEngine::StreamCallback(StreamInfo frame) {
    if (frame.streamKey == nullptr) return;
    std::string key(frame.streamKey, strnlen(frame.streamKey, 4096));
    std::shared_lock<std::shared_mutex> lifetime(EngineLifetimeLock());
    KOVAEngine* engine = m_pStaKOVAEngine;
    if (engine == nullptr) return;
    napi_threadsafe_function fn = engine->GetStreamTsFn(key);
    if (fn == nullptr) return;  // a stream that was never started: not even copied
    // Four frames already wait (JavaScript is behind): this frame would be dropped, so it is dropped
    // before its copy, and JavaScript is not woken for a call that would find no frame.
    if (!KOVAEngineQueueHasRoom(key)) return;
    if (!KOVAEnginePushData(key, CopyFrame(frame, key))) return;
    auto* message = new CallbackMessage();
    message->type = CB_STREAM;
    message->text = key;
    if (napi_call_threadsafe_function(fn, message, napi_tsfn_nonblocking) != napi_ok) delete message;
}

void KOVAEngine::CaptureCallback(StreamInfo frame) { SAIManagerAdapter::processVideoFrame(frame); }

int KOVAEngine::KOVAEngineSetNeedLocalCameraCallback(bool need) {
    std::function<void(StreamInfo&)> callback;
    if (need) callback = [](StreamInfo& frame) { CaptureCallback(frame); };
    return Call<&IKOV_API::SetLocalCameraCallback>(std::move(callback));
}

void KOVAEngine::CallbackStream(napi_env env, napi_value jsCallback, const std::string& key) {
    if (env == nullptr) return;
    StreamInfo* frame = KOVAEnginePopData(key);
    if (frame == nullptr) return;  // dropped, or the stream has ended
    napi_value object = nullptr;
    if (napi_create_object(env, &object) != napi_ok) {
        ThrowLastNapiError(env);
        FreeFrame(frame);
        return;
    }
    SetInt(env, object, "width", frame->width);
    SetInt(env, object, "height", frame->height);
    SetInt(env, object, "rotate", frame->rotation);
    SetInt(env, object, "strideY", frame->strideY);
    SetInt(env, object, "strideU", frame->strideU);
    SetInt(env, object, "strideV", frame->strideV);
    napi_value v = nullptr;
    NAPI_CALL_CONTINUE(env, napi_create_int64(env, frame->timestamp, &v));
    NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "timestamp", v));
    v = nullptr;
    NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, key.data(), key.size(), &v));
    NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "streamId", v));
    SetPlane(env, object, "streamY", frame->dataY, PlaneSize(frame->height, frame->strideY, 1));
    SetPlane(env, object, "streamU", frame->dataU, PlaneSize(frame->height, frame->strideU, 2));
    SetPlane(env, object, "streamV", frame->dataV, PlaneSize(frame->height, frame->strideV, 2));
    FreeFrame(frame);
    napi_value undefined = nullptr;
    NAPI_CALL_VOID(env, napi_get_undefined(env, &undefined));
    NAPI_CALL_CONTINUE(env, napi_call_function(env, undefined, jsCallback, 1, &object, nullptr));
}

// ---------------------------------------------------------------- queues and reference counts

void KOVAEngine::KOVAEngineCreateQueueBuf(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    m_mapStreamQue[key];
    KOVAEngineIncStreamRefCount(key);
}

void KOVAEngine::KOVAEngineDestroyQueueBuf(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    KOVAEngineDecStreamRefCount(key);
    auto it = m_mapStreamQue.find(key);
    if (it == m_mapStreamQue.end() || KOVAEngineGetStreamRefCount(key) > 0) return;
    for (StreamInfo* frame : it->second) FreeFrame(frame);
    m_mapStreamQue.erase(it);
    if (m_mapStreamQue.empty()) PlanePool::Instance().Drain();
}

void KOVAEngine::KOVAEngineClearQueueBuf() {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    for (auto& entry : m_mapStreamQue) {
        for (StreamInfo* frame : entry.second) FreeFrame(frame);
    }
    m_mapStreamQue.clear();
    PlanePool::Instance().Drain();
}

bool KOVAEngine::KOVAEngineQueueHasRoom(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamQue.find(key);
    return it != m_mapStreamQue.end() && it->second.size() < kMaxWaitingFrames;
}

bool KOVAEngine::KOVAEnginePushData(const std::string& key, StreamInfo* frame) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamQue.find(key);
    if (it != m_mapStreamQue.end() && it->second.size() < kMaxWaitingFrames) {
        it->second.push_back(frame);
        return true;
    }
    FreeFrame(frame);  // stream stopped, or four frames already waiting: the newest is dropped
    return false;
}

StreamInfo* KOVAEngine::KOVAEnginePopData(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamQue.find(key);
    if (it == m_mapStreamQue.end() || it->second.empty()) return nullptr;
    StreamInfo* frame = it->second.front();
    it->second.pop_front();
    return frame;
}

void KOVAEngine::KOVAEngineIncStreamRefCount(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    ++m_mapStreamBufRefCount[key];
}

void KOVAEngine::KOVAEngineDecStreamRefCount(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamBufRefCount.find(key);
    if (it != m_mapStreamBufRefCount.end() && it->second > 0) --it->second;
}

int KOVAEngine::KOVAEngineGetStreamRefCount(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamBufRefCount.find(key);
    return it == m_mapStreamBufRefCount.end() ? 0 : it->second;
}

// ---------------------------------------------------------------- stream functions

namespace {
// A stream function's work has ended: it no longer keeps Node's event loop alive. It is released once
// but never finalised (its initial thread count is 2), so an SDK thread that still holds it may post.
void EndStreamTsFn(napi_threadsafe_function fn) {
    if (fn == nullptr) return;
    if (g_env != nullptr) napi_unref_threadsafe_function(g_env, fn);
    if (napi_release_threadsafe_function(fn, napi_tsfn_release) != napi_ok && g_env != nullptr) {
        ThrowLastNapiError(g_env);
    }
}
}  // namespace

void KOVAEngine::SetStreamTsFn(const std::string& key, napi_threadsafe_function fn) {
    std::lock_guard<std::recursive_mutex> lock(m_mxStreamTsFn);
    napi_threadsafe_function& slot = m_mapStreamTsFn[key];
    // A later start of the same key takes its frames over; the replaced function would otherwise keep
    // the process alive for good.
    if (slot != nullptr && slot != fn) EndStreamTsFn(slot);
    slot = fn;
}

napi_threadsafe_function KOVAEngine::GetStreamTsFn(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxStreamTsFn);
    auto it = m_mapStreamTsFn.find(key);
    return it == m_mapStreamTsFn.end() ? nullptr : it->second;
}

void KOVAEngine::DeleteStreamTsFn(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxStreamTsFn);
    if (KOVAEngineGetStreamRefCount(key) >= 1) return;  // still used by another start of the key
    auto it = m_mapStreamTsFn.find(key);
    if (it == m_mapStreamTsFn.end()) return;
    napi_threadsafe_function fn = it->second;
    m_mapStreamTsFn.erase(it);
    EndStreamTsFn(fn);
}

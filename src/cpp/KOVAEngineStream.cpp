// The frame path, top to bottom:
//   SDK thread:  KOVAEngine::StreamCallback -> FrameStreams::OnFrame: the stream's crossing, room in
//                its queue (at most four frames wait; a newer frame is dropped when full, before it
//                is copied) -> the three planes copied once -> queued -> a CB_STREAM message posted
//                through the stream's crossing, never blocking.
//   JS thread:   KOVAEngine::CallbackJSFn -> CallbackStream -> FrameStreams::Deliver: the oldest
//                waiting frame -> a frame object whose planes are ArrayBuffers over the copies -> the
//                stream's JavaScript function.
// A plane's copy is given back by its ArrayBuffer's finalizer, so JavaScript may keep the planes after
// its function returns; given-back planes wait in the plane pool for the next frame of the same size.
//
// The local capture hook: while the AI-effects adapter wants frames, the SDK's local camera callback
// is CaptureCallback, which hands each captured frame to the adapter synchronously on the SDK's
// capture thread, so the library can change the pixels before the SDK uses them.
#include "KOVAEngineStream.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <shared_mutex>

#include "KOVAEngine.h"
#include "PlanePool.h"
#include "SAIManagerAdapter.h"
#include "general.h"

namespace {

constexpr size_t kMaxWaitingFrames = 4;
// Largest plane accepted from the SDK (a 16384 x 16384 frame with 4-byte strides fits).
constexpr int64_t kMaxPlaneBytes = int64_t(1) << 30;

// Never destroyed: a finalizer may give a plane back while the process exits.
PlanePool& Planes() {
    static PlanePool* pool = new PlanePool();
    return *pool;
}

int64_t PlaneSize(int height, int stride, int divisor) {
    if (height <= 0 || stride <= 0) return 0;
    return int64_t(height) * int64_t(stride) / divisor;
}

uint8_t* CopyPlane(const uint8_t* source, int64_t size) {
    if (source == nullptr || size <= 0 || size > kMaxPlaneBytes) return nullptr;
    uint8_t* copy = Planes().Take(static_cast<size_t>(size), source);
    if (copy != nullptr) std::memcpy(copy, source, static_cast<size_t>(size));
    return copy;
}

void FreeFrame(StreamInfo* frame) {
    if (frame == nullptr) return;
    std::free(const_cast<char*>(frame->streamKey));
    PlanePool& pool = Planes();
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
    Planes().Give(static_cast<uint8_t*>(data), reinterpret_cast<uintptr_t>(hint));
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

// Calls `jsCallback` with the frame object of `frame`, whose planes JavaScript then owns.
void CallWithFrame(napi_env env, napi_value jsCallback, StreamInfo* frame) {
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
    NAPI_CALL_CONTINUE(env, napi_create_string_utf8(env, frame->streamKey != nullptr ? frame->streamKey : "",
                                                    static_cast<size_t>(frame->streamKeyLength), &v));
    NAPI_CALL_CONTINUE(env, napi_set_named_property(env, object, "streamId", v));
    SetPlane(env, object, "streamY", frame->dataY, PlaneSize(frame->height, frame->strideY, 1));
    SetPlane(env, object, "streamU", frame->dataU, PlaneSize(frame->height, frame->strideU, 2));
    SetPlane(env, object, "streamV", frame->dataV, PlaneSize(frame->height, frame->strideV, 2));
    FreeFrame(frame);
    napi_value undefined = nullptr;
    NAPI_CALL_VOID(env, napi_get_undefined(env, &undefined));
    NAPI_CALL_CONTINUE(env, napi_call_function(env, undefined, jsCallback, 1, &object, nullptr));
}

}  // namespace

// ---------------------------------------------------------------- one frame

void FrameStreams::OnFrame(const StreamInfo& frame) {
    if (frame.streamKey == nullptr) return;
    std::string key(frame.streamKey, strnlen(frame.streamKey, 4096));
    Crossing fn = GetStreamTsFn(key);
    if (fn == nullptr) return;  // a stream that was never started: not even copied
    // Four frames already wait (JavaScript is behind): this frame would be dropped, so it is dropped
    // before its copy, and JavaScript is not woken for a call that would find no frame.
    if (!QueueHasRoom(key)) return;
    if (!PushData(key, CopyFrame(frame, key))) return;
    auto* message = new CallbackMessage();
    message->type = CB_STREAM;
    message->text = std::move(key);
    fn->Post(message);
}

void FrameStreams::Deliver(napi_env env, napi_value jsCallback, const std::string& key, const JsCrossing* via) {
    if (env == nullptr) return;
    // A wake-up from a stream that has since been stopped or restarted finds nothing of its own.
    if (GetStreamTsFn(key).get() != via) return;
    StreamInfo* frame = PopData(key);
    if (frame == nullptr) return;  // dropped, or the stream has ended
    CallWithFrame(env, jsCallback, frame);
}

// ---------------------------------------------------------------- starting and stopping

bool FrameStreams::Start(napi_env env, const std::string& key, napi_value streamCB, const char* resourceName) {
    if (streamCB != nullptr) {
        Crossing fn = JsCrossing::Create(env, streamCB, resourceName, &KOVAEngine::CallbackJSFn);
        if (fn == nullptr) return false;
        SetStreamTsFn(env, key, std::move(fn));
    }
    CreateQueueBuf(key);
    return true;
}

void FrameStreams::Stop(napi_env env, const std::string& key) {
    DestroyQueueBuf(key);
    DeleteStreamTsFn(env, key);
}

void FrameStreams::Clear(napi_env env) {
    ClearQueueBuf();
    std::map<std::string, Crossing> crossings;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mxStreamTsFn);
        crossings.swap(m_mapStreamTsFn);
    }
    for (auto& entry : crossings) {
        if (entry.second != nullptr) entry.second->Close(env);
    }
}

FrameStreams::~FrameStreams() { ClearQueueBuf(); }

// ---------------------------------------------------------------- queues and reference counts

void FrameStreams::CreateQueueBuf(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    m_mapStreamQue[key];
    IncStreamRefCount(key);
}

void FrameStreams::DestroyQueueBuf(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    DecStreamRefCount(key);
    auto it = m_mapStreamQue.find(key);
    if (it == m_mapStreamQue.end() || GetStreamRefCount(key) > 0) return;
    for (StreamInfo* frame : it->second) FreeFrame(frame);
    m_mapStreamQue.erase(it);
    if (m_mapStreamQue.empty()) Planes().Drain();  // no stream is left to reuse them
}

void FrameStreams::ClearQueueBuf() {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    for (auto& entry : m_mapStreamQue) {
        for (StreamInfo* frame : entry.second) FreeFrame(frame);
    }
    m_mapStreamQue.clear();
    Planes().Drain();
}

void FrameStreams::FreeWaitingFrames(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamQue.find(key);
    if (it == m_mapStreamQue.end()) return;
    for (StreamInfo* frame : it->second) FreeFrame(frame);
    it->second.clear();
}

bool FrameStreams::QueueHasRoom(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamQue.find(key);
    return it != m_mapStreamQue.end() && it->second.size() < kMaxWaitingFrames;
}

bool FrameStreams::PushData(const std::string& key, StreamInfo* frame) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamQue.find(key);
    if (it != m_mapStreamQue.end() && it->second.size() < kMaxWaitingFrames) {
        it->second.push_back(frame);
        return true;
    }
    FreeFrame(frame);  // stream stopped, or four frames already waiting: the newest is dropped
    return false;
}

StreamInfo* FrameStreams::PopData(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamQue.find(key);
    if (it == m_mapStreamQue.end() || it->second.empty()) return nullptr;
    StreamInfo* frame = it->second.front();
    it->second.pop_front();
    return frame;
}

void FrameStreams::IncStreamRefCount(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    ++m_mapStreamBufRefCount[key];
}

void FrameStreams::DecStreamRefCount(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamBufRefCount.find(key);
    if (it != m_mapStreamBufRefCount.end() && it->second > 0) --it->second;
}

int FrameStreams::GetStreamRefCount(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxQueBuf);
    auto it = m_mapStreamBufRefCount.find(key);
    return it == m_mapStreamBufRefCount.end() ? 0 : it->second;
}

// ---------------------------------------------------------------- the streams' crossings

void FrameStreams::SetStreamTsFn(napi_env env, const std::string& key, Crossing fn) {
    Crossing replaced;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mxStreamTsFn);
        Crossing& slot = m_mapStreamTsFn[key];
        if (slot != fn) replaced = std::move(slot);
        slot = std::move(fn);
    }
    // A later start of the same key takes its frames over; the frames waiting for the replaced
    // function would otherwise block the queue, since their wake-ups now find nothing.
    if (replaced != nullptr) {
        FreeWaitingFrames(key);
        replaced->Close(env);
    }
}

FrameStreams::Crossing FrameStreams::GetStreamTsFn(const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(m_mxStreamTsFn);
    auto it = m_mapStreamTsFn.find(key);
    return it == m_mapStreamTsFn.end() ? nullptr : it->second;
}

void FrameStreams::DeleteStreamTsFn(napi_env env, const std::string& key) {
    Crossing fn;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mxStreamTsFn);
        if (GetStreamRefCount(key) >= 1) return;  // still used by another start of the key
        auto it = m_mapStreamTsFn.find(key);
        if (it == m_mapStreamTsFn.end()) return;
        fn = std::move(it->second);
        m_mapStreamTsFn.erase(it);
    }
    if (fn != nullptr) fn->Close(env);
}

// ---------------------------------------------------------------- the bridge's frame members

void KOVAEngine::StreamCallback(StreamInfo frame) {
    std::shared_lock<std::shared_mutex> lifetime(EngineLifetimeLock());
    if (m_pStaKOVAEngine != nullptr) m_pStaKOVAEngine->m_streams.OnFrame(frame);
}

void KOVAEngine::CaptureCallback(StreamInfo frame) { SAIManagerAdapter::processVideoFrame(frame); }

void KOVAEngine::CallbackStream(napi_env env, napi_value jsCallback, const std::string& key, const JsCrossing* via) {
    KOVAEngine* engine = ForEnv(env, false);
    if (engine != nullptr) engine->m_streams.Deliver(env, jsCallback, key, via);
}

int KOVAEngine::KOVAEngineSetNeedLocalCameraCallback(bool need) {
    std::function<void(StreamInfo&)> callback;
    if (need) callback = [](StreamInfo& frame) { CaptureCallback(frame); };
    return Call<&IKOV_API::SetLocalCameraCallback>(std::move(callback));
}

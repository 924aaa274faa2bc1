// The frame streams of one engine: for every stream key, the queue of copied frames waiting for
// JavaScript (at most four), the count of starts that use the key, and the crossing to the stream's
// JavaScript function. KOVAEngineStream.cpp reads one frame top to bottom, from the SDK thread's
// callback to the JavaScript call.
//
// Threads: OnFrame runs on SDK threads; everything else on the JavaScript thread of the engine's
// environment. m_mxQueBuf guards the queues and the counts, m_mxStreamTsFn the crossings; no code
// holds both. The counts change only on the JavaScript thread.
#ifndef KOVA_KOVAENGINESTREAM_H
#define KOVA_KOVAENGINESTREAM_H

#include <node_api.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "JsCrossing.h"
#include "kova-api-i.h"

class FrameStreams {
public:
    using StreamInfo = solvane::kovawin::IKOV_API::StreamInfo;
    using Crossing = std::shared_ptr<JsCrossing>;

    FrameStreams() = default;
    ~FrameStreams();
    FrameStreams(const FrameStreams&) = delete;
    FrameStreams& operator=(const FrameStreams&) = delete;

    // ---- starting and stopping (JavaScript thread) ----
    // One start of `key`: a crossing named `resourceName` on `streamCB` becomes the stream's function
    // (without one, an earlier start's function stays), and the key's queue is set up. False after a
    // failed Node-API call (raised), with nothing set up.
    bool Start(napi_env env, const std::string& key, napi_value streamCB, const char* resourceName);
    // Ends one start of `key`; once no start uses it, its waiting frames are freed and its crossing
    // closed.
    void Stop(napi_env env, const std::string& key);
    // The engine's end: every waiting frame is freed and every crossing closed.
    void Clear(napi_env env);

    // ---- the path of a frame ----
    // SDK thread: copies the frame into its stream's queue and wakes JavaScript.
    void OnFrame(const StreamInfo& frame);
    // JavaScript thread: calls the stream's function with the oldest waiting frame of `key`, when
    // `via` (the crossing the wake-up came through) is still the stream's function.
    void Deliver(napi_env env, napi_value jsCallback, const std::string& key, const JsCrossing* via);

    // ---- queues and counts ----
    void CreateQueueBuf(const std::string& key);
    void DestroyQueueBuf(const std::string& key);
    void ClearQueueBuf();
    // Queues a copied frame; false when it was dropped (and freed): the stream has stopped or four
    // frames already wait.
    bool PushData(const std::string& key, StreamInfo* frame);
    // True when the stream's queue exists and has room for another frame.
    bool QueueHasRoom(const std::string& key);
    StreamInfo* PopData(const std::string& key);
    void IncStreamRefCount(const std::string& key);
    void DecStreamRefCount(const std::string& key);
    int GetStreamRefCount(const std::string& key);

    // ---- the streams' crossings ----
    // A crossing that replaces another closes it, and the frames waiting for the replaced one are
    // freed.
    void SetStreamTsFn(napi_env env, const std::string& key, Crossing fn);
    Crossing GetStreamTsFn(const std::string& key);
    // Closes the key's crossing when no start uses the key any more.
    void DeleteStreamTsFn(napi_env env, const std::string& key);

private:
    void FreeWaitingFrames(const std::string& key);

    std::map<std::string, std::deque<StreamInfo*>> m_mapStreamQue;
    std::recursive_mutex m_mxQueBuf;
    std::map<std::string, int> m_mapStreamBufRefCount;
    std::map<std::string, Crossing> m_mapStreamTsFn;
    std::recursive_mutex m_mxStreamTsFn;
};

#endif  // KOVA_KOVAENGINESTREAM_H

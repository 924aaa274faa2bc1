// Everything the client has been handed to call back later: the two listeners, the latest
// callback of each one-shot and repeating kind, and the frame callbacks of the started streams.
//
// Thread-safety: all members are guarded by one mutex, and callbacks are never called while it is
// held (callers copy a callback out, then call it), so a callback may call into the client again.
// Listeners are raw pointers owned by the caller; CallListener counts the callbacks in flight so
// that replacing or clearing a listener waits until no callback runs on the old one (except on the
// thread of such a callback itself, which could never finish waiting).
#ifndef KOVA_STANDIN_CALLBACK_STORE_H
#define KOVA_STANDIN_CALLBACK_STORE_H

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Json.h"

namespace kova_standin {

using solvane::kovawin::KOVAListener;
using solvane::kovawin::KOVAListenerV2;

using FrameFn = std::function<void(Api::StreamInfo&)>;
using CaptureListFn = std::function<void(Api::CaptureInfo*, int)>;
using AdmListFn = std::function<void(Api::AdmInfo*, int)>;
using IntFn = std::function<void(int)>;
using IntPairFn = std::function<void(int, int)>;
using BoolFn = std::function<void(bool)>;
using TextFn = std::function<void(char*, int)>;
using DebugLogFn = std::function<void(int, char*, int)>;

// The latest callback of each kind; an empty function means none is stored.
struct StoredCallbacks {
    IntFn exitRoom;
    CaptureListFn cameraDevices;
    CaptureListFn screenSources;
    CaptureListFn windowSources;
    AdmListFn playoutSources;
    AdmListFn recordingSources;
    TextFn sdkStats;
    IntFn desktopPreviewFinish;
    DebugLogFn debugLog;
    BoolFn externalDeviceState;
    IntFn recordingLevel;
    IntPairFn playoutLevel;
    FrameFn localCapture;   // slot 2, or the capture callback of the latest local preview start
};

enum class StreamKind { kLocal, kRemoteView, kRemoteDesktopView, kDesktopCapture };

struct StreamSnapshot {
    std::string key;
    StreamKind kind;
    int width;
    int height;
};

class CallbackStore {
public:
    template <typename F>
    void Set(F StoredCallbacks::*kind, F fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        callbacks_.*kind = std::move(fn);
    }
    template <typename F>
    F Get(F StoredCallbacks::*kind) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return callbacks_.*kind;
    }

    // Streams. "local" is shared by the preview and the preview test and ends when both have
    // stopped; other keys end with their stop.
    void StartLocal(bool test, FrameFn frame, FrameFn capture, int width, int height);
    void StopLocal(bool test);
    void StartStream(const std::string& key, StreamKind kind, FrameFn frame, int width, int height);
    void StopStream(const std::string& key);
    // The frame callback of a started stream, or an empty function.
    FrameFn FrameCallback(const std::string& key) const;
    // The frame callback of any started stream (for frames sent under a key never started).
    FrameFn AnyFrameCallback() const;
    bool HasStream(const std::string& key) const;
    std::vector<StreamSnapshot> Streams() const;

    // Listeners: version 1 is KOVAListener, version 2 KOVAListenerV2.
    void SetListener(KOVAListener* listener) { SetListenerAt(0, listener); }
    void SetListener(KOVAListenerV2* listener) { SetListenerAt(1, listener); }
    bool HasListener(int version) const;
    // Calls `call` with the listener of that version when one is attached; false otherwise.
    template <typename L>
    bool CallListener(const std::function<void(L*)>& call);

    // Forgets every callback, stream and listener (waiting for listener callbacks in flight).
    void Clear();

private:
    struct Stream {
        StreamKind kind;
        FrameFn frame;
        int width;
        int height;
        bool preview = false;       // "local" only: started by StartLocalPreview
        bool previewTest = false;   // "local" only: started by StartLocalPreviewTest
    };

    static int VersionIndex(KOVAListener*) { return 0; }
    static int VersionIndex(KOVAListenerV2*) { return 1; }
    void SetListenerAt(int index, void* listener);
    void* EnterListener(int index);
    void LeaveListener(int index);
    void WaitForListenersLocked(std::unique_lock<std::mutex>& lock, int index);

    mutable std::mutex mutex_;
    std::condition_variable listenerIdle_;
    StoredCallbacks callbacks_;
    std::map<std::string, Stream> streams_;
    void* listeners_[2] = {nullptr, nullptr};
    int inFlight_[2] = {0, 0};
};

template <typename L>
bool CallbackStore::CallListener(const std::function<void(L*)>& call) {
    const int index = VersionIndex(static_cast<L*>(nullptr));
    void* listener = EnterListener(index);
    if (listener == nullptr) return false;
    struct Leave {
        CallbackStore* store;
        int index;
        ~Leave() { store->LeaveListener(index); }
    } leave{this, index};
    call(static_cast<L*>(listener));
    return true;
}

}  // namespace kova_standin

#endif  // KOVA_STANDIN_CALLBACK_STORE_H

#include "CallbackStore.h"

namespace kova_standin {

namespace {

constexpr const char* kLocalKey = "local";

// Listener callbacks running on this thread; a thread inside one never waits for the others.
thread_local int t_listenerDepth = 0;

}  // namespace

void CallbackStore::StartLocal(bool test, FrameFn frame, FrameFn capture, int width, int height) {
    std::lock_guard<std::mutex> lock(mutex_);
    Stream& stream = streams_[kLocalKey];
    stream.kind = StreamKind::kLocal;
    stream.frame = std::move(frame);
    stream.width = width;
    stream.height = height;
    (test ? stream.previewTest : stream.preview) = true;
    callbacks_.localCapture = std::move(capture);
}

void CallbackStore::StopLocal(bool test) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = streams_.find(kLocalKey);
    if (it == streams_.end()) return;
    (test ? it->second.previewTest : it->second.preview) = false;
    if (!it->second.preview && !it->second.previewTest) streams_.erase(it);
}

void CallbackStore::StartStream(const std::string& key, StreamKind kind, FrameFn frame, int width, int height) {
    std::lock_guard<std::mutex> lock(mutex_);
    Stream& stream = streams_[key];
    stream.kind = kind;
    stream.frame = std::move(frame);
    stream.width = width;
    stream.height = height;
}

void CallbackStore::StopStream(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    streams_.erase(key);
}

FrameFn CallbackStore::FrameCallback(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = streams_.find(key);
    return it == streams_.end() ? FrameFn() : it->second.frame;
}

FrameFn CallbackStore::AnyFrameCallback() const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : streams_) {
        if (entry.second.frame) return entry.second.frame;
    }
    return FrameFn();
}

bool CallbackStore::HasStream(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return streams_.count(key) != 0;
}

std::vector<StreamSnapshot> CallbackStore::Streams() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<StreamSnapshot> result;
    for (const auto& entry : streams_) {
        result.push_back({entry.first, entry.second.kind, entry.second.width, entry.second.height});
    }
    return result;
}

bool CallbackStore::HasListener(int version) const {
    if (version != 1 && version != 2) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return listeners_[version - 1] != nullptr;
}

void CallbackStore::SetListenerAt(int index, void* listener) {
    std::unique_lock<std::mutex> lock(mutex_);
    listeners_[index] = listener;
    WaitForListenersLocked(lock, index);
}

void* CallbackStore::EnterListener(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    void* listener = listeners_[index];
    if (listener != nullptr) {
        ++inFlight_[index];
        ++t_listenerDepth;
    }
    return listener;
}

void CallbackStore::LeaveListener(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    --t_listenerDepth;
    if (--inFlight_[index] == 0) listenerIdle_.notify_all();
}

void CallbackStore::WaitForListenersLocked(std::unique_lock<std::mutex>& lock, int index) {
    if (t_listenerDepth > 0) return;
    listenerIdle_.wait(lock, [&] { return inFlight_[index] == 0; });
}

void CallbackStore::Clear() {
    std::unique_lock<std::mutex> lock(mutex_);
    StoredCallbacks dropped = std::move(callbacks_);
    callbacks_ = StoredCallbacks();
    std::map<std::string, Stream> droppedStreams = std::move(streams_);
    streams_.clear();
    listeners_[0] = listeners_[1] = nullptr;
    WaitForListenersLocked(lock, 0);
    WaitForListenersLocked(lock, 1);
    // The dropped callbacks are destroyed after the lock is released: destroying a captured
    // object must not run caller code under the store's mutex.
    lock.unlock();
}

}  // namespace kova_standin

// The stand-in's own threads ("SDK threads"): callbacks that the real SDK would make from its
// threads are made from these. Thread-safe.
#ifndef KOVA_STANDIN_SDK_THREADS_H
#define KOVA_STANDIN_SDK_THREADS_H

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace kova_standin {

class SdkThreads {
public:
    // Runs `work` on a new thread; returns when it has finished if `wait`, else at once.
    void Run(std::function<void()> work, bool wait);
    // Joins every thread started without waiting, except the calling thread itself (which is
    // detached: it is on its way out through its own work function).
    void JoinAll();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void ReapFinishedLocked();

    std::mutex mutex_;
    std::list<Worker> workers_;
};

// Sleeps for `ms` milliseconds (no-op for 0 or less).
void SleepMs(int ms);

}  // namespace kova_standin

#endif  // KOVA_STANDIN_SDK_THREADS_H

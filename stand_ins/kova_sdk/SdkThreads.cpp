#include "SdkThreads.h"

#include <pthread.h>

#include <chrono>

namespace kova_standin {

namespace {

std::thread StartThread(std::function<void()> work, std::shared_ptr<std::atomic<bool>> done) {
    return std::thread([work = std::move(work), done = std::move(done)] {
        pthread_setname_np(pthread_self(), "kova-sdk");
        work();
        if (done) done->store(true);
    });
}

}  // namespace

void SdkThreads::Run(std::function<void()> work, bool wait) {
    if (wait) {
        StartThread(std::move(work), nullptr).join();
        return;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> lock(mutex_);
    ReapFinishedLocked();
    workers_.push_back({StartThread(std::move(work), done), done});
}

void SdkThreads::ReapFinishedLocked() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void SdkThreads::JoinAll() {
    // A joined thread may have started others; repeat until none is left.
    for (;;) {
        std::list<Worker> workers;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            workers.swap(workers_);
        }
        if (workers.empty()) return;
        for (Worker& worker : workers) {
            if (worker.thread.get_id() == std::this_thread::get_id()) {
                worker.thread.detach();
            } else {
                worker.thread.join();
            }
        }
    }
}

void SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace kova_standin

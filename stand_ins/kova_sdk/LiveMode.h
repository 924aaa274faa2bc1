// Live mode, for running the system without the closed SDK: while it is on and a client exists,
// one thread of the stand-in reports a small room after EnterRoom (two remote users, statistics
// every second, audio volumes now and then), sends test-pattern frames to every started stream at
// the configured rate, and one-shot requests are answered shortly after they are made.
// Thread-safe; the thread stops when live mode is switched off, the client is destroyed, or the
// library unloads.
#ifndef KOVA_STANDIN_LIVE_MODE_H
#define KOVA_STANDIN_LIVE_MODE_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Producers.h"

namespace kova_standin {

class LiveMode {
public:
    static constexpr int kDefaultFps = 15;
    static constexpr int kMaxFps = 120;

    ~LiveMode();

    void Configure(bool on, int fps);
    bool On() const;
    void ClientCreated();
    void ClientDestroyed();
    void RoomEntered(std::string roomText);
    void RoomLeft();
    // In live mode, runs `answer` on an SDK thread a moment from now; otherwise does nothing.
    void AnswerSoon(std::function<void()> answer);
    // Stops the thread for good (library unload).
    void Shutdown();

    // What live mode answers with.
    static std::vector<DeviceEntry> Cameras();
    static std::vector<DeviceEntry> Screens();
    static std::vector<DeviceEntry> Windows();
    static std::vector<DeviceEntry> PlayoutDevices();
    static std::vector<DeviceEntry> RecordingDevices();
    static std::string StatsText(uint64_t second);

private:
    void UpdateThread();
    void Run(uint64_t generation);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    uint64_t generation_ = 0;
    bool on_ = false;
    bool clientAlive_ = false;
    bool shutDown_ = false;
    int fps_ = kDefaultFps;
    bool inRoom_ = false;
    uint64_t roomSerial_ = 0;     // grows with every EnterRoom, so each entry is announced once
    std::string roomText_;
};

}  // namespace kova_standin

#endif  // KOVA_STANDIN_LIVE_MODE_H

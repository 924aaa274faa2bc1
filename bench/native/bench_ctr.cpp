// Controller client throughput: 1 KiB data messages through CTR_SendDataToServer to a loopback
// server, against a bare TCP sender that writes the same frames (20-byte header and the payload in
// one send per frame, TCP_NODELAY and the client's 128 KiB socket buffers) to the same server.
// The server, a thread of this process, reads and counts data frames; a run ends when it has all.
// Prints one JSON object on standard output.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ctr_client.h"

namespace {

uint64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

// The frame layout of the controller connection: a 20-byte little-endian header (sequence, fragment
// count, fragment index, message type: 16 bits each; message id, payload length, assigned id: 32
// bits each), then the payload.
constexpr size_t kHeaderSize = 20;
constexpr int kMaxPayload = 1024;
constexpr int kDataType = 1;

void Put16(uint8_t* out, uint32_t v) {
    out[0] = uint8_t(v);
    out[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(v >> (8 * i));
}
uint32_t Get16(const uint8_t* in) { return uint32_t(in[0]) | (uint32_t(in[1]) << 8); }
uint32_t Get32(const uint8_t* in) {
    return uint32_t(in[0]) | (uint32_t(in[1]) << 8) | (uint32_t(in[2]) << 16) | (uint32_t(in[3]) << 24);
}

void EncodeHeader(uint8_t* out, uint32_t type, uint32_t id, uint32_t length) {
    Put16(out, 0);
    Put16(out + 2, 1);
    Put16(out + 4, 0);
    Put16(out + 6, type);
    Put32(out + 8, id);
    Put32(out + 12, length);
    Put32(out + 16, 0);
}

bool ReadAll(int fd, uint8_t* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = recv(fd, buffer + got, size - got, 0);
        if (n <= 0) return false;
        got += size_t(n);
    }
    return true;
}

// Accepts one connection at a time and counts the data frames it receives.
class Sink {
public:
    Sink() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener_, 4) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("bench_ctr: listen");
            std::exit(2);
        }
        port_ = ntohs(address.sin_port);
    }
    ~Sink() { close(listener_); }
    uint16_t port() const { return port_; }

    // Serves one connection on a thread of its own until the peer closes it.
    void Serve() {
        thread_ = std::thread([this] {
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            uint8_t header[kHeaderSize];
            std::vector<uint8_t> payload(kMaxPayload);
            while (ReadAll(fd, header, sizeof(header))) {
                const int32_t length = int32_t(Get32(header + 12));
                if (length < 0 || length > kMaxPayload) break;
                if (!ReadAll(fd, payload.data(), size_t(length))) break;
                if (Get16(header + 6) == kDataType) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (++frames_ == target_) {
                        doneAt_ = NowNs();
                        changed_.notify_all();
                    }
                }
            }
            close(fd);
        });
    }
    void Expect(uint64_t frames) {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_ = 0;
        target_ = frames;
    }
    // The time the last expected frame arrived, or 0 after the time-out.
    uint64_t WaitAll() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(60), [this] { return frames_ >= target_; });
        return frames_ >= target_ ? doneAt_ : 0;
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t frames_ = 0;
    uint64_t target_ = 0;
    uint64_t doneAt_ = 0;
};

std::atomic<int> g_status{0};
void OnStatus(int status, void*) { g_status.store(status); }
void OnMessage(char*, int, void*) {}

double RunClient(int count, const std::vector<char>& message) {
    Sink sink;
    sink.Serve();
    CTR_SetClientCallBack(OnMessage, OnStatus, nullptr);
    char ip[] = "127.0.0.1";
    if (CTR_CreateClient(ip, sink.port(), 1) != 0) return 0;
    for (int i = 0; i < 1000 && g_status.load() != CTR_STATUS_CONNECTED; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    double rate = 0;
    if (g_status.load() == CTR_STATUS_CONNECTED) {
        sink.Expect(uint64_t(count));
        const uint64_t start = NowNs();
        int failed = 0;
        for (int i = 0; i < count; ++i) {
            if (CTR_SendDataToServer(const_cast<char*>(message.data()), int(message.size())) <= 0) ++failed;
        }
        const uint64_t end = sink.WaitAll();
        if (failed == 0 && end != 0) rate = double(count) * 1e9 / double(end - start);
    }
    CTR_StopClient();
    sink.Join();
    return rate;
}

double RunBare(int count, const std::vector<char>& message) {
    Sink sink;
    sink.Serve();
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1, buffer = 131072;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof(buffer));
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(sink.port());
    double rate = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        sink.Expect(uint64_t(count));
        std::vector<uint8_t> frame(kHeaderSize + message.size());
        const uint64_t start = NowNs();
        for (int i = 0; i < count; ++i) {
            EncodeHeader(frame.data(), kDataType, uint32_t(i), uint32_t(message.size()));
            std::memcpy(frame.data() + kHeaderSize, message.data(), message.size());
            size_t sent = 0;
            while (sent < frame.size()) {
                ssize_t n = send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += size_t(n);
            }
        }
        const uint64_t end = sink.WaitAll();
        if (end != 0) rate = double(count) * 1e9 / double(end - start);
    }
    close(fd);
    sink.Join();
    return rate;
}

}  // namespace

int main(int argc, char** argv) {
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int count = std::max(1000, int(200000 * scale));
    const std::vector<char> message(1024, 'c');
    // Alternating runs, the best of each kept: the machine is shared and a single run may be unlucky.
    double client = 0, bare = 0;
    for (int round = 0; round < 5; ++round) {
        client = std::max(client, RunClient(count, message));
        bare = std::max(bare, RunBare(count, message));
    }
    std::printf("{\"client_msgs_per_s\":%.0f,\"bare_msgs_per_s\":%.0f,\"count\":%d}\n", client, bare, count);
    return 0;
}

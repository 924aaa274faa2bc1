// Cross-process message passing: the shared-memory channel against a Unix domain socket, a POSIX
// message queue and a bare shared-memory busy-spin ring (the limit), for 24-byte, 1 KiB and 64 KiB
// messages. Each mechanism runs between this process and a forked child:
//   latency     ping-pong; one-way latency is half the round trip (p50 and p99 of many trips);
//   throughput  the parent sends a stream of messages, the child acknowledges the last one.
// Prints one JSON object per mechanism and size on standard output.
#include <fcntl.h>
#include <mqueue.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "channel.h"

namespace {

uint64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

void Die(const char* what) {
    std::fprintf(stderr, "bench_ipc: %s: %s\n", what, std::strerror(errno));
    std::_Exit(2);
}

// One direction of a link is used by one side only; each side sends on one and receives on the
// other. recv fills `buffer` (at least the largest message) and returns the byte count.
class Link {
public:
    virtual ~Link() = default;
    // Called in each process after the fork; `parent` tells the side.
    virtual void Attach(bool parent) = 0;
    virtual void Send(const void* data, size_t size) = 0;
    virtual size_t Recv(void* buffer) = 0;
    // Gives back what Attach took (named objects are counted per user).
    virtual void Detach() {}
};

// ---------------------------------------------------------------- bare shared-memory spin ring

struct alignas(64) SpinRing {
    static constexpr uint32_t kSlots = 16;
    static constexpr size_t kSlotBytes = 64 * 1024;
    alignas(64) std::atomic<uint32_t> head;  // written by the producer
    alignas(64) std::atomic<uint32_t> tail;  // written by the consumer
    struct Slot {
        uint32_t size;
        uint8_t data[kSlotBytes];
    } slots[kSlots];

    void Push(const void* data, size_t size) {
        const uint32_t h = head.load(std::memory_order_relaxed);
        while (h - tail.load(std::memory_order_acquire) >= kSlots) {
        }
        Slot& slot = slots[h % kSlots];
        slot.size = static_cast<uint32_t>(size);
        std::memcpy(slot.data, data, size);
        head.store(h + 1, std::memory_order_release);
    }
    size_t Pop(void* buffer) {
        const uint32_t t = tail.load(std::memory_order_relaxed);
        while (head.load(std::memory_order_acquire) == t) {
        }
        const Slot& slot = slots[t % kSlots];
        const size_t size = slot.size;
        std::memcpy(buffer, slot.data, size);
        tail.store(t + 1, std::memory_order_release);
        return size;
    }
};

class SpinLink : public Link {
public:
    SpinLink() {
        void* memory = mmap(nullptr, 2 * sizeof(SpinRing), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) Die("mmap");
        rings_ = static_cast<SpinRing*>(memory);
        new (&rings_[0]) SpinRing();
        new (&rings_[1]) SpinRing();
        rings_[0].head = rings_[0].tail = 0;
        rings_[1].head = rings_[1].tail = 0;
    }
    ~SpinLink() override { munmap(rings_, 2 * sizeof(SpinRing)); }
    void Attach(bool parent) override {
        out_ = &rings_[parent ? 0 : 1];
        in_ = &rings_[parent ? 1 : 0];
    }
    void Send(const void* data, size_t size) override { out_->Push(data, size); }
    size_t Recv(void* buffer) override { return in_->Pop(buffer); }

private:
    SpinRing* rings_ = nullptr;
    SpinRing* out_ = nullptr;
    SpinRing* in_ = nullptr;
};

// ---------------------------------------------------------------- Unix domain socket

class SocketLink : public Link {
public:
    SocketLink() {
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0) Die("socketpair");
    }
    ~SocketLink() override {
        close(fds_[0]);
        close(fds_[1]);
    }
    void Attach(bool parent) override { fd_ = fds_[parent ? 0 : 1]; }
    void Send(const void* data, size_t size) override {
        const uint32_t length = static_cast<uint32_t>(size);
        WriteAll(&length, sizeof(length));
        WriteAll(data, size);
    }
    size_t Recv(void* buffer) override {
        uint32_t length = 0;
        ReadAll(&length, sizeof(length));
        ReadAll(buffer, length);
        return length;
    }

private:
    void WriteAll(const void* data, size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t n = write(fd_, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Die("write");
            p += n;
            size -= static_cast<size_t>(n);
        }
    }
    void ReadAll(void* data, size_t size) {
        char* p = static_cast<char*>(data);
        while (size > 0) {
            ssize_t n = read(fd_, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Die("read");
            p += n;
            size -= static_cast<size_t>(n);
        }
    }
    int fds_[2] = {-1, -1};
    int fd_ = -1;
};

// ---------------------------------------------------------------- POSIX message queue

class QueueLink : public Link {
public:
    explicit QueueLink(size_t size) : size_(size) {
        for (int i = 0; i < 2; ++i) {
            names_[i] = "/kova_bench_mq_" + std::to_string(getpid()) + "_" + std::to_string(i);
            mq_attr attr{};
            attr.mq_maxmsg = 10;
            attr.mq_msgsize = static_cast<long>(size);
            mq_unlink(names_[i].c_str());
            queues_[i] = mq_open(names_[i].c_str(), O_CREAT | O_RDWR, 0600, &attr);
            if (queues_[i] == static_cast<mqd_t>(-1)) {
                ok_ = false;
                return;
            }
        }
    }
    ~QueueLink() override {
        for (int i = 0; i < 2; ++i) {
            if (queues_[i] != static_cast<mqd_t>(-1)) mq_close(queues_[i]);
            mq_unlink(names_[i].c_str());
        }
    }
    bool ok() const { return ok_; }
    void Attach(bool parent) override {
        out_ = queues_[parent ? 0 : 1];
        in_ = queues_[parent ? 1 : 0];
    }
    void Send(const void* data, size_t size) override {
        while (mq_send(out_, static_cast<const char*>(data), size, 0) != 0) {
            if (errno != EINTR) Die("mq_send");
        }
    }
    size_t Recv(void* buffer) override {
        for (;;) {
            ssize_t n = mq_receive(in_, static_cast<char*>(buffer), size_, nullptr);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno != EINTR) Die("mq_receive");
        }
    }

private:
    size_t size_;
    bool ok_ = true;
    std::string names_[2];
    mqd_t queues_[2] = {static_cast<mqd_t>(-1), static_cast<mqd_t>(-1)};
    mqd_t out_ = static_cast<mqd_t>(-1);
    mqd_t in_ = static_cast<mqd_t>(-1);
};

// ---------------------------------------------------------------- the project's channel

class ChannelLink : public Link {
public:
    ChannelLink(bool spin, int run) : spin_(spin) {
        const std::string base = "kova_bench_" + std::to_string(getpid()) + "_" + std::to_string(run);
        names_[0] = base + "_a";
        names_[1] = base + "_b";
    }
    void Attach(bool parent) override {
        const std::string& inName = names_[parent ? 1 : 0];
        const std::string& outName = names_[parent ? 0 : 1];
        in_ = std::make_unique<ipc::channel>();
        out_ = std::make_unique<ipc::channel>();
        if (!in_->connect(inName.c_str(), ipc::receiver)) Die("channel receiver");
        if (!out_->connect(outName.c_str(), ipc::sender)) Die("channel sender");
        if (!out_->wait_for_receivers(1, 10000)) Die("channel peer");
    }
    void Detach() override {
        in_.reset();
        out_.reset();
    }
    void Send(const void* data, size_t size) override {
        if (!out_->send(data, size, 10000)) Die("channel send");
    }
    size_t Recv(void* buffer) override {
        for (;;) {
            ipc::message_buffer message = spin_ ? in_->poll_recv() : in_->recv(10000);
            if (message.empty()) {
                if (spin_) continue;
                Die("channel recv");
            }
            std::memcpy(buffer, message.data(), message.size());
            return message.size();
        }
    }

private:
    bool spin_;
    std::string names_[2];
    std::unique_ptr<ipc::channel> in_;
    std::unique_ptr<ipc::channel> out_;
};

// ---------------------------------------------------------------- the runs

struct Result {
    double p50 = 0, p99 = 0, rate = 0;
};

double Percentile(std::vector<uint64_t>& values, double q) {
    if (values.empty()) return 0;
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(q * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(index), values.end());
    return double(values[index]);
}

// Runs `trips` round trips and then `stream` one-way messages; the child echoes and counts.
bool Measure(Link& link, size_t size, int trips, int stream, Result& out) {
    int ready[2];
    if (pipe(ready) != 0) Die("pipe");
    const pid_t child = fork();
    if (child < 0) Die("fork");
    if (child == 0) {
        close(ready[0]);
        link.Attach(false);
        std::vector<char> buffer(SpinRing::kSlotBytes);
        if (write(ready[1], "r", 1) != 1) std::_Exit(3);
        for (int i = 0; i < trips; ++i) {
            const size_t n = link.Recv(buffer.data());
            link.Send(buffer.data(), n);
        }
        for (int i = 0; i < stream; ++i) link.Recv(buffer.data());
        link.Send(buffer.data(), size);
        link.Detach();
        std::_Exit(0);
    }
    close(ready[1]);
    link.Attach(true);
    char byte = 0;
    if (read(ready[0], &byte, 1) != 1) Die("child start");
    close(ready[0]);
    std::vector<char> message(size, 'm');
    std::vector<char> buffer(SpinRing::kSlotBytes);
    std::vector<uint64_t> oneWay;
    oneWay.reserve(size_t(trips));
    const int warmup = trips / 10;
    for (int i = 0; i < trips; ++i) {
        const uint64_t start = NowNs();
        link.Send(message.data(), size);
        if (link.Recv(buffer.data()) != size) Die("echo size");
        if (i >= warmup) oneWay.push_back((NowNs() - start) / 2);
    }
    const uint64_t start = NowNs();
    for (int i = 0; i < stream; ++i) link.Send(message.data(), size);
    link.Recv(buffer.data());
    const uint64_t elapsed = NowNs() - start;
    link.Detach();
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    out.p50 = Percentile(oneWay, 0.50);
    out.p99 = Percentile(oneWay, 0.99);
    out.rate = double(stream) * 1e9 / double(elapsed);
    return true;
}

void Report(const char* mechanism, size_t size, bool ok, const Result& r) {
    if (!ok) {
        std::printf("{\"mechanism\":\"%s\",\"size\":%zu,\"error\":\"not available\"}\n", mechanism, size);
    } else {
        std::printf("{\"mechanism\":\"%s\",\"size\":%zu,\"p50_ns\":%.0f,\"p99_ns\":%.0f,\"msgs_per_s\":%.0f}\n",
                    mechanism, size, r.p50, r.p99, r.rate);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    // A scale below 1 shortens every run (a quick check that everything works).
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    const size_t sizes[] = {24, 1024, 64 * 1024};
    int run = 0;
    for (size_t size : sizes) {
        const int trips = std::max(200, int((size >= 65536 ? 3000 : 20000) * scale));
        const int stream = std::max(200, int((size >= 65536 ? 5000 : 100000) * scale));
        Result r;
        {
            SpinLink link;
            Report("spin", size, Measure(link, size, trips, stream, r), r);
        }
        {
            ChannelLink link(true, ++run);
            Report("channel_spin", size, Measure(link, size, trips, stream, r), r);
        }
        {
            ChannelLink link(false, ++run);
            Report("channel_wait", size, Measure(link, size, trips / 4, stream, r), r);
        }
        {
            SocketLink link;
            Report("unix_socket", size, Measure(link, size, trips / 4, stream, r), r);
        }
        {
            QueueLink link(size);
            const bool ok = link.ok() && Measure(link, size, trips / 4, stream, r);
            Report("mqueue", size, ok, r);
        }
    }
    return 0;
}

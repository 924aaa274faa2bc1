// A channel receiver fed arbitrary shared memory: the input is the image of the ring segment
// (24832 bytes, the first bytes of the input) followed by the image of the chunk segment of the
// 1024-byte size class, both written over the live segments after the receiver connected, as a
// faulty or hostile process on the channel could. The receiver then polls the ring until nothing
// more comes; every message it returns must lie in memory it may read. Runs in a private /dev/shm.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "channel.h"
#include "chunk_storage.h"
#include "fuzz_support.h"
#include "ring_layout.h"
#include "shm.h"

namespace {

constexpr const char* kChannelName = "kova_fuzz_channel";
constexpr size_t kChunkClass = 1024;
constexpr int kPolls = 300;  // more than one lap of the ring

void* ChunkSegment() {
    static void* segment = [] {
        void* mem = ipc::chunk_storages(kChunkClass);
        if (mem == nullptr) std::abort();
        return mem;
    }();
    return segment;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kova_fuzz::PrivateSharedMemory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ipc::handle_t receiver = nullptr;
    if (!ipc::connect(&receiver, kChannelName, ipc::receiver)) std::abort();
    {
        ipc::shm::handle ring((ipc::ring::kRingPrefix + std::string(kChannelName)).c_str(), ipc::ring::kSegmentSize,
                              ipc::shm::SHM_OPEN);
        if (!ring.valid() || ring.size() < ipc::ring::kSegmentSize) std::abort();
        const size_t ringBytes = std::min(size, ipc::ring::kSegmentSize);
        std::memcpy(ring.get(), data, ringBytes);

        const size_t chunkSegmentSize = ipc::kChunkInfoSize + ipc::kChunkCount * kChunkClass;
        auto* chunks = static_cast<uint8_t*>(ChunkSegment());
        std::memset(chunks, 0, chunkSegmentSize);
        std::memcpy(chunks, data + ringBytes, std::min(size - ringBytes, chunkSegmentSize));
        // A set lock word costs each input a second of waiting before it is taken over (tested on
        // its own in the named-object tests); left free, the fuzzer spends its time on the receiver.
        __atomic_store_n(&reinterpret_cast<ipc::chunk_info*>(chunks)->lock, 0u, __ATOMIC_RELEASE);

        std::vector<ipc::message_buffer> held;  // some messages are kept while later ones arrive
        for (int i = 0; i < kPolls; ++i) {
            ipc::message_buffer message = ipc::poll_recv(receiver);
            if (message.empty()) continue;
            if (message.size() == 0 || message.size() > ipc::kMaxMessageSize) std::abort();
            volatile uint8_t sum = 0;
            const auto* bytes = static_cast<const uint8_t*>(message.data());
            for (size_t b = 0; b < message.size(); ++b) sum = static_cast<uint8_t>(sum + bytes[b]);
            if (i % 2 == 0) held.push_back(std::move(message));
        }
    }
    ipc::destroy(receiver);
    return 0;
}

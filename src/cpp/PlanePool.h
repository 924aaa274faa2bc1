// Plane buffers given back by JavaScript, kept by size for the next frames of the same size, so that a
// stream's planes are copied into memory that is already mapped instead of a fresh allocation that
// faults in every page of a 1080p frame again. Bounded in count and bytes; beyond either bound the
// oldest buffers are freed first, so that after a change of resolution the planes of the old size age
// out instead of filling the pool for good.
//
// Each buffer is 64-byte aligned with 63 spare bytes, and a plane starts at the same offset within a
// cache line as the plane it is copied from: a copy between equally aligned addresses runs up to a
// third faster than one between differently aligned ones. The buffer's start is the plane's address
// rounded down to 64; the address malloc gave is kept in the bytes right before it.
//
// Thread-safety: every member may be called from any thread.
#ifndef KOVA_PLANEPOOL_H
#define KOVA_PLANEPOOL_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

class PlanePool {
public:
    static constexpr uintptr_t kLine = 64;
    // Four 1080p streams with every frame in flight fit.
    static constexpr size_t kDefaultMaxPlanes = 768;
    static constexpr size_t kDefaultMaxBytes = size_t(64) << 20;

    explicit PlanePool(size_t maxPlanes = kDefaultMaxPlanes, size_t maxBytes = kDefaultMaxBytes)
        : m_maxPlanes(maxPlanes), m_maxBytes(maxBytes) {}
    ~PlanePool() { Drain(); }
    PlanePool(const PlanePool&) = delete;
    PlanePool& operator=(const PlanePool&) = delete;

    // A buffer for `size` bytes whose address has the same offset in its cache line as `source`: the
    // newest pooled buffer of that size (the likeliest still to be in a cache), else a new one. Null
    // when memory runs out.
    uint8_t* Take(size_t size, const void* source) {
        const uintptr_t offset = reinterpret_cast<uintptr_t>(source) & (kLine - 1);
        uint8_t* base = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = m_free.size(); i-- > 0;) {
                if (m_free[i].size != size) continue;
                base = m_free[i].base;
                m_free.erase(m_free.begin() + static_cast<std::ptrdiff_t>(i));
                m_bytes -= size;
                break;
            }
        }
        if (base == nullptr) base = Allocate(size);
        return base == nullptr ? nullptr : base + offset;
    }

    // Takes back a plane that Take gave for `size` bytes.
    void Give(uint8_t* plane, size_t size) {
        if (plane == nullptr) return;
        auto* base = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(plane) & ~(kLine - 1));
        if (size > m_maxBytes || m_maxPlanes == 0) {
            Free(base);
            return;
        }
        std::vector<Entry> evicted;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            while (!m_free.empty() && (m_free.size() >= m_maxPlanes || m_bytes + size > m_maxBytes)) {
                evicted.push_back(m_free.front());
                m_bytes -= m_free.front().size;
                m_free.pop_front();
            }
            m_free.push_back({base, size});
            m_bytes += size;
        }
        for (const Entry& entry : evicted) Free(entry.base);
    }

    // Frees every pooled buffer.
    void Drain() {
        std::deque<Entry> planes;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            planes.swap(m_free);
            m_bytes = 0;
        }
        for (const Entry& entry : planes) Free(entry.base);
    }

    // What the pool holds now.
    size_t Planes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_free.size();
    }
    size_t Bytes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes;
    }

private:
    struct Entry {
        uint8_t* base;
        size_t size;
    };

    static uint8_t* Allocate(size_t size) {
        void* raw = std::malloc(size + 2 * kLine);
        if (raw == nullptr) return nullptr;
        auto* base = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(raw) + kLine) & ~(kLine - 1));
        std::memcpy(base - sizeof(void*), &raw, sizeof(void*));
        return base;
    }
    static void Free(uint8_t* base) {
        void* raw = nullptr;
        std::memcpy(&raw, base - sizeof(void*), sizeof(void*));
        std::free(raw);
    }

    const size_t m_maxPlanes;
    const size_t m_maxBytes;
    std::mutex m_mutex;
    std::deque<Entry> m_free;  // oldest first
    size_t m_bytes = 0;
};

#endif  // KOVA_PLANEPOOL_H

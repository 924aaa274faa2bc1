// The plane pool on its own: alignment of a copy with its source, reuse of the newest plane of a size,
// the bounds in planes and bytes (oldest out first), and taking and giving from several threads.
#include "PlanePool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

uintptr_t LineOffset(const void* p) { return reinterpret_cast<uintptr_t>(p) & (PlanePool::kLine - 1); }

TEST(PlanePool, PlaneStartsAtTheSourcesOffsetInItsCacheLineAndHoldsTheWholeSize) {
    PlanePool pool;
    alignas(64) static uint8_t source[64 + 4096];
    for (uintptr_t offset : {0u, 1u, 17u, 63u}) {
        uint8_t* plane = pool.Take(4000, source + offset);
        ASSERT_NE(plane, nullptr);
        EXPECT_EQ(LineOffset(plane), offset);
        std::memset(plane, 0xAB, 4000);  // the whole size is writable (ASan checks the bounds)
        pool.Give(plane, 4000);
    }
}

TEST(PlanePool, GivenPlanesAreTakenAgainBySizeNewestFirst) {
    PlanePool pool;
    uint8_t* a = pool.Take(1000, nullptr);
    uint8_t* b = pool.Take(1000, nullptr);
    uint8_t* other = pool.Take(2000, nullptr);
    pool.Give(a, 1000);
    pool.Give(other, 2000);
    pool.Give(b, 1000);
    EXPECT_EQ(pool.Planes(), 3u);
    EXPECT_EQ(pool.Bytes(), 4000u);
    EXPECT_EQ(pool.Take(1000, nullptr), b);
    EXPECT_EQ(pool.Take(1000, nullptr), a);
    uint8_t* fresh = pool.Take(1000, nullptr);  // none of that size left: a new one
    EXPECT_NE(fresh, a);
    EXPECT_NE(fresh, b);
    EXPECT_EQ(pool.Planes(), 1u);
    EXPECT_EQ(pool.Take(2000, nullptr), other);
    for (uint8_t* p : {a, b, fresh}) pool.Give(p, 1000);
    pool.Give(other, 2000);
}

TEST(PlanePool, TheOldestPlanesMakeRoomWhenABoundIsReached) {
    // At most three planes.
    PlanePool byCount(3, 1 << 20);
    std::vector<uint8_t*> planes;
    for (int i = 0; i < 4; ++i) planes.push_back(byCount.Take(100, nullptr));
    for (uint8_t* p : planes) byCount.Give(p, 100);
    EXPECT_EQ(byCount.Planes(), 3u);
    std::vector<uint8_t*> again;
    for (int i = 0; i < 3; ++i) again.push_back(byCount.Take(100, nullptr));
    EXPECT_EQ(again, (std::vector<uint8_t*>{planes[3], planes[2], planes[1]}));  // planes[0] was freed
    for (uint8_t* p : again) byCount.Give(p, 100);

    // At most 1000 bytes: a change of resolution ages the old size out; a plane larger than the
    // whole bound is not kept at all.
    PlanePool byBytes(100, 1000);
    uint8_t* small1 = byBytes.Take(400, nullptr);
    uint8_t* small2 = byBytes.Take(400, nullptr);
    uint8_t* large = byBytes.Take(600, nullptr);
    byBytes.Give(small1, 400);
    byBytes.Give(small2, 400);
    byBytes.Give(large, 600);  // 1400 bytes would be too many: the oldest 400-byte plane goes
    EXPECT_EQ(byBytes.Planes(), 2u);
    EXPECT_EQ(byBytes.Bytes(), 1000u);
    byBytes.Give(byBytes.Take(5000, nullptr), 5000);
    EXPECT_EQ(byBytes.Planes(), 2u);
    EXPECT_EQ(byBytes.Take(400, nullptr), small2);
    EXPECT_EQ(byBytes.Planes(), 1u);  // only the 600-byte plane is left
    EXPECT_EQ(byBytes.Take(600, nullptr), large);
    byBytes.Give(small2, 400);
    byBytes.Give(large, 600);
    byBytes.Drain();
    EXPECT_EQ(byBytes.Planes(), 0u);
    EXPECT_EQ(byBytes.Bytes(), 0u);
}

TEST(PlanePool, ThreadsTakeAndGiveAtOnceWithoutLosingAPlane) {
    PlanePool pool(8, 1 << 20);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&pool, t] {
            for (int i = 0; i < 2000; ++i) {
                size_t size = 64 + static_cast<size_t>((i + t) % 3) * 64;
                uint8_t* p = pool.Take(size, nullptr);
                ASSERT_NE(p, nullptr);
                std::memset(p, t, size);
                pool.Give(p, size);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_LE(pool.Planes(), 8u);
}

}  // namespace

// Channels and chunk storage on real shared memory: slot bytes read straight from the ring,
// chunk bookkeeping read straight from its segment, a sender in another process, and peers that
// write corrupt bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "channel.h"
#include "chunk_storage.h"
#include "ipc_test_support.h"
#include "ring_layout.h"

using namespace ipc_test;
using ipc::shm::handle;

namespace {

// The ring of a channel as any other process maps it.
struct ring_view {
  handle seg;
  ipc::ring::segment* r = nullptr;
  explicit ring_view(const std::string& channel)
      : seg((ipc::ring::kRingPrefix + channel).c_str(), ipc::ring::kSegmentSize) {
    r = static_cast<ipc::ring::segment*>(seg.get());
  }
  std::uint32_t write_index() const { return __atomic_load_n(&r->head.write_index, __ATOMIC_ACQUIRE); }
  // The 96 bytes of the slot that holds write index `wi`.
  std::vector<unsigned char> raw(std::uint32_t wi) const {
    const auto* p = reinterpret_cast<const unsigned char*>(&r->slots[wi % 256]);
    return std::vector<unsigned char>(p, p + 96);
  }
  // Writes `m` into the next slot as a peer's sender would, addressed to `receivers`.
  void inject(const ipc::ring::message& m, std::uint32_t receivers) {
    std::uint32_t wi = write_index();
    ipc::ring::slot& s = r->slots[wi % 256];
    std::uint64_t epoch = __atomic_load_n(&r->head.force_epoch, __ATOMIC_ACQUIRE) & ipc::ring::kEpochMask;
    std::memcpy(&s.msg, &m, sizeof(m));
    __atomic_store_n(&s.readers, epoch | receivers, __ATOMIC_RELEASE);
    __atomic_store_n(&r->head.write_index, wi + 1, __ATOMIC_RELEASE);
    __atomic_store_n(&s.commit, ~std::uint64_t{wi}, __ATOMIC_RELEASE);
  }
};

std::int32_t i32_at(const std::vector<unsigned char>& b, size_t off) {
  std::int32_t v;
  std::memcpy(&v, &b[off], 4);
  return v;
}
std::uint64_t u64_at(const std::vector<unsigned char>& b, size_t off) {
  std::uint64_t v;
  std::memcpy(&v, &b[off], 8);
  return v;
}

std::vector<char> pattern(size_t n, std::uint32_t seed) {
  std::vector<char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>((seed * 131u + i * 7u + (i >> 8)) & 0xFF);
  return v;
}

bool same(const ipc::message_buffer& m, const std::vector<char>& v) {
  return m.size() == v.size() && std::memcmp(m.data(), v.data(), v.size()) == 0;
}

ipc::ring::message slot_message(std::uint32_t msg_id, std::int32_t remain, bool storage,
                                std::int32_t id = 0) {
  ipc::ring::message m;
  std::memset(&m, 0, sizeof(m));
  m.head.cc_id = 0xFFFFFFF0u;  // no handle of this process has that id
  m.head.msg_id = msg_id;
  m.head.remain = remain;
  m.head.storage = storage ? 1 : 0;
  if (storage) std::memcpy(m.data, &id, 4);
  return m;
}

// The chunk bookkeeping of size class `chunk_size`, as mapped in this process.
struct chunk_view {
  handle seg;
  size_t chunk_size;
  explicit chunk_view(size_t s) : chunk_size(s) {
    std::string name = ipc::kChunkPrefix + std::to_string(s);
    seg.acquire(name.c_str(), 0, ipc::shm::SHM_OPEN);
  }
  ipc::chunk_info* info() const { return static_cast<ipc::chunk_info*>(seg.get()); }
  unsigned char* chunk(int id) const {
    return static_cast<unsigned char*>(seg.get()) + 40 + chunk_size * static_cast<size_t>(id);
  }
  std::uint32_t holders(int id) const { return __atomic_load_n(reinterpret_cast<std::uint32_t*>(chunk(id)), __ATOMIC_ACQUIRE); }
};

// A size class that no other process uses: created here in create-only mode and held for the
// test, so its free list starts fresh.
struct private_class {
  handle seg;
  size_t chunk_size = 0;
  private_class() {
    captured_output quiet;  // names taken by other runs print their creation failure
    for (size_t k = 40 + static_cast<size_t>(getpid()) % 50; k < 400; ++k) {
      size_t s = 1024 * k;
      std::string name = ipc::kChunkPrefix + std::to_string(s);
      if (seg.acquire(name.c_str(), 40 + 32 * s, ipc::shm::SHM_CREATE)) {
        chunk_size = s;
        return;
      }
    }
  }
  size_t message_size() const { return chunk_size - 8; }  // the longest message of the class
  ipc::chunk_info* info() const { return static_cast<ipc::chunk_info*>(seg.get()); }
};

constexpr std::uint32_t kWait = 10000;

}  // namespace

// --- Slot contents ----------------------------------------------------------------------------

TEST(Channel, RecordTakesOneSlotWithZeroPadding) {
  std::string name = unique_name("rec");
  ipc::channel rx(name.c_str(), ipc::receiver);
  ipc::channel tx(name.c_str(), ipc::sender);
  ASSERT_TRUE(rx.connected() && tx.connected());
  ring_view v(name);
  const std::uint32_t wi = v.write_index();

  unsigned char record[24] = {4, 0, 0, 0, 0x05, 0, 0, 0xC0};
  for (int i = 8; i < 24; ++i) record[i] = static_cast<unsigned char>(0xA0 + i);
  ASSERT_TRUE(tx.send(record, sizeof(record), 100));

  std::vector<unsigned char> b = v.raw(wi);
  EXPECT_EQ(v.write_index(), wi + 1);
  EXPECT_EQ(i32_at(b, 4), 0) << "first message id of a new channel";
  EXPECT_EQ(i32_at(b, 8), -40);
  EXPECT_EQ(b[12], 0) << "storage";
  EXPECT_EQ(b[13] | b[14] | b[15], 0);
  EXPECT_EQ(std::memcmp(&b[16], record, 24), 0);
  for (int i = 40; i < 80; ++i) ASSERT_EQ(b[i], 0) << "padding byte " << i;
  EXPECT_EQ(u64_at(b, 80) & 0xFFFFFFFFu, 1u) << "pending: the only receiver";
  EXPECT_EQ(u64_at(b, 88), ~std::uint64_t{wi});

  ipc::message_buffer m = rx.recv(kWait);
  ASSERT_EQ(m.size(), 24u);
  EXPECT_EQ(std::memcmp(m.data(), record, 24), 0);
  b = v.raw(wi);
  EXPECT_EQ(u64_at(b, 80) & 0xFFFFFFFFu, 0u);
  EXPECT_EQ(u64_at(b, 88), std::uint64_t{wi} + 256) << "free for the next lap";
}

TEST(Channel, MessageSizeDecidesBetweenSlotAndChunk) {
  struct row {
    size_t size;
    bool storage;
    size_t chunk_size;
  } rows[] = {{64, false, 0}, {65, true, 1024}, {1016, true, 1024}, {1017, true, 2048}};
  std::string name = unique_name("sizes");
  ipc::channel rx(name.c_str(), ipc::receiver);
  ipc::channel tx(name.c_str(), ipc::sender);
  ring_view v(name);
  for (const row& r : rows) {
    SCOPED_TRACE(r.size);
    std::vector<char> data = pattern(r.size, static_cast<std::uint32_t>(r.size));
    const std::uint32_t wi = v.write_index();
    ASSERT_TRUE(tx.send(data.data(), data.size(), 100));
    EXPECT_EQ(v.write_index(), wi + 1) << "one slot";
    std::vector<unsigned char> b = v.raw(wi);
    EXPECT_EQ(i32_at(b, 8), static_cast<std::int32_t>(r.size) - 64);
    EXPECT_EQ(b[12], r.storage ? 1 : 0);
    if (!r.storage) {
      ipc::message_buffer m = rx.recv(kWait);
      EXPECT_TRUE(same(m, data));
      continue;
    }
    std::int32_t id = i32_at(b, 16);
    for (int i = 20; i < 80; ++i) ASSERT_EQ(b[i], 0);
    ASSERT_GE(id, 0);
    ASSERT_LT(id, 32);
    chunk_view c(r.chunk_size);
    ASSERT_TRUE(c.seg.valid());
    EXPECT_EQ(c.seg.size(), 40 + 32 * r.chunk_size);
    EXPECT_EQ(c.holders(id), 1u) << "addressed to the one receiver";
    {
      ipc::message_buffer m = rx.recv(kWait);
      EXPECT_TRUE(same(m, data));
      EXPECT_EQ(m.data(), c.chunk(id) + 8) << "read in place";
    }
    EXPECT_EQ(c.holders(id), 0u);
    EXPECT_EQ(c.info()->cursor, id) << "the recycled chunk is the next one handed out";
  }
}

TEST(Channel, FragmentsWhenNoChunkIsFree) {
  std::string name = unique_name("frag");
  ipc::channel rx(name.c_str(), ipc::receiver);
  ipc::channel tx(name.c_str(), ipc::sender);
  ring_view v(name);
  std::vector<std::int32_t> taken;
  for (ipc::storage s; (s = ipc::acquire_storage(65, 1)).id >= 0;) taken.push_back(s.id);
  ASSERT_LE(taken.size(), 32u);

  std::vector<char> data = pattern(150, 7);
  const std::uint32_t wi = v.write_index();
  ASSERT_TRUE(tx.send(data.data(), data.size(), 100));
  ASSERT_EQ(v.write_index(), wi + 3);
  const std::int32_t remains[] = {86, 22, -42};
  for (std::uint32_t i = 0; i < 3; ++i) {
    std::vector<unsigned char> b = v.raw(wi + i);
    EXPECT_EQ(i32_at(b, 8), remains[i]);
    EXPECT_EQ(b[12], 0);
    EXPECT_EQ(i32_at(b, 4), i32_at(v.raw(wi), 4)) << "one message id";
    size_t n = i < 2 ? 64 : 22;
    EXPECT_EQ(std::memcmp(&b[16], data.data() + 64 * i, n), 0);
  }
  ipc::message_buffer m = rx.recv(kWait);
  EXPECT_TRUE(same(m, data));
  EXPECT_TRUE(rx.poll_recv().empty()) << "one message, not three";
  for (std::int32_t id : taken) ipc::release_storage(id, 65);
}

// --- Who receives what ------------------------------------------------------------------------

TEST(Channel, WithoutReceiverNothingIsWrittenAndPollReturnsAtOnce) {
  std::string name = unique_name("norx");
  ipc::channel tx(name.c_str(), ipc::sender);
  ring_view v(name);
  EXPECT_EQ(tx.recv_count(), 0u);
  {
    captured_output cap;
    EXPECT_FALSE(tx.send("x", 1, 100));
    EXPECT_EQ(cap.err(), "fail: send, there is no receiver on this connection.\n");
  }
  EXPECT_EQ(v.write_index(), 0u);

  ipc::channel rx(name.c_str(), ipc::receiver);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(rx.poll_recv().empty());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  static const char kOne[] = "x";
  char shown[32];
  std::snprintf(shown, sizeof(shown), "%p", static_cast<const void*>(kOne));
  captured_output cap;
  ipc::channel unconnected;
  EXPECT_FALSE(tx.send(nullptr, 4, 0));
  EXPECT_FALSE(tx.send(kOne, 0, 0));
  EXPECT_FALSE(unconnected.send(kOne, 1, 0));
  EXPECT_TRUE(unconnected.recv(0).empty());
  EXPECT_EQ(unconnected.recv_count(), 4294967295u);
  EXPECT_EQ(cap.err(), "fail: send((nil), 4)\nfail: send(" + std::string(shown) + ", 0)\n" +
                           "fail: send, queue_of(h) == nullptr\n"
                           "fail: recv, queue_of(h) == nullptr\n");
}

TEST(Channel, OwnMessagesAreSkippedAndLateReceiversMissEarlierOnes) {
  std::string name = unique_name("who");
  ipc::channel a(name.c_str(), ipc::receiver);
  ipc::channel b(name.c_str(), ipc::receiver);
  ASSERT_TRUE(a.send("first", 5, 100));
  ipc::channel late(name.c_str(), ipc::receiver);
  ASSERT_TRUE(a.send("second", 6, 100));
  EXPECT_EQ(a.recv_count(), 3u);

  EXPECT_TRUE(a.poll_recv().empty()) << "a never gets its own messages";
  ipc::message_buffer m1 = b.recv(kWait), m2 = b.recv(kWait);
  EXPECT_EQ(std::string(static_cast<const char*>(m1.data()), m1.size()), "first");
  EXPECT_EQ(std::string(static_cast<const char*>(m2.data()), m2.size()), "second");
  ipc::message_buffer l = late.recv(kWait);
  EXPECT_EQ(std::string(static_cast<const char*>(l.data()), l.size()), "second");
  EXPECT_TRUE(late.poll_recv().empty());
}

TEST(Channel, ThirtyThirdReceiverFailsAndEverythingIsRemovedAtTheEnd) {
  std::string name = unique_name("many");
  {
    std::vector<std::unique_ptr<ipc::channel>> rx;
    for (int i = 0; i < 32; ++i) {
      rx.push_back(std::make_unique<ipc::channel>(name.c_str(), ipc::receiver));
      ASSERT_TRUE(rx.back()->connected()) << i;
    }
    ipc::channel extra(name.c_str(), ipc::receiver);
    EXPECT_FALSE(extra.connected());
    EXPECT_EQ(extra.recv_count(), 32u);
    rx[5]->disconnect();
    EXPECT_TRUE(extra.connect(name.c_str(), ipc::receiver));
    EXPECT_EQ(extra.recv_count(), 32u);
  }
  EXPECT_EQ(shm_entries(name), std::vector<std::string>{}) << "segments, mutexes and semaphores";
}

TEST(Channel, SilentReceiverIsDroppedByAForcedWrite) {
  // Two receivers, one of which never reads: the 257th message overwrites its oldest message.
  std::string name = unique_name("force");
  ipc::channel tx(name.c_str(), ipc::sender);
  ipc::channel reader(name.c_str(), ipc::receiver);
  ipc::channel silent(name.c_str(), ipc::receiver);
  ASSERT_EQ(tx.recv_count(), 2u);

  // The oldest message lies in a chunk, which the forced write gives back.
  std::vector<char> big = pattern(65, 1);
  ASSERT_TRUE(tx.send(big.data(), big.size(), 100));
  ring_view v(name);
  ASSERT_EQ(v.raw(0)[12], 1) << "no 1024-byte chunk was free";
  std::int32_t chunk_id = i32_at(v.raw(0), 16);
  ASSERT_TRUE(chunk_id >= 0 && chunk_id < 32);
  EXPECT_TRUE(same(reader.recv(kWait), big));
  chunk_view c(1024);
  EXPECT_EQ(c.holders(chunk_id), 2u) << "the silent receiver still holds it";

  captured_output cap;
  bool all_sent = true, all_read = true;
  for (std::uint64_t i = 1; i <= 256; ++i) {
    all_sent = tx.send(&i, sizeof(i), 100) && all_sent;
    ipc::message_buffer m = reader.recv(kWait);
    all_read = all_read && m.size() == 8 && std::memcmp(m.data(), &i, 8) == 0;
  }
  std::string out = cap.out();
  EXPECT_TRUE(all_sent);
  EXPECT_TRUE(all_read) << "the reading receiver gets every message";
  EXPECT_EQ(out,
            "force_push: msg_id = 256, remain = -56, size = 8\n"
            "force_push: k = 0, cc = 3, rem_cc = 2\n");
  EXPECT_EQ(tx.recv_count(), 1u);
  EXPECT_EQ(c.holders(chunk_id), 0u);
  EXPECT_EQ(c.info()->cursor, chunk_id) << "the overwritten message's chunk is free again";

  // The silent receiver alone: the forced write removes it and finds nobody left.
  std::string alone = unique_name("force");
  ipc::channel tx2(alone.c_str(), ipc::sender);
  ipc::channel silent2(alone.c_str(), ipc::receiver);
  captured_output cap2;
  bool first_ok = true;
  for (std::uint64_t i = 0; i < 256; ++i) first_ok = tx2.send(&i, sizeof(i), 100) && first_ok;
  std::uint64_t last = 256;
  EXPECT_TRUE(first_ok);
  EXPECT_FALSE(tx2.send(&last, sizeof(last), 100));
  EXPECT_EQ(cap2.out(),
            "force_push: msg_id = 256, remain = -56, size = 8\n"
            "force_push: k = 0, cc = 1, rem_cc = 1\n");
  EXPECT_EQ(tx2.recv_count(), 0u);
}

TEST(Channel, WriteIndexWrapsAroundWithoutStalling) {
  std::string name = unique_name("wrap");
  ring_view v(name);
  __atomic_store_n(&v.r->head.write_index, 0xFFFFFF80u, __ATOMIC_RELEASE);
  ipc::channel rx(name.c_str(), ipc::receiver);
  ipc::channel tx(name.c_str(), ipc::sender);
  captured_output cap;
  int received = 0;
  for (std::uint32_t i = 0; i < 600; ++i) {
    if (!tx.send(&i, sizeof(i), 0)) break;
    ipc::message_buffer m = rx.poll_recv();
    if (m.size() == 4 && std::memcmp(m.data(), &i, 4) == 0) ++received;
  }
  EXPECT_EQ(received, 600);
  EXPECT_EQ(cap.out(), "") << "no slot ever looked full";
  EXPECT_EQ(v.write_index(), 0xFFFFFF80u + 600u);
}

TEST(Channel, DisconnectEndsBlockedCallsWhichBlockAgainAfterReconnect) {
  std::string name = unique_name("stop");
  ipc::channel rx(name.c_str(), ipc::receiver);
  std::atomic<int> got{-1};
  std::thread t([&] { got = rx.recv(ipc::kInfinite).empty() ? 0 : 1; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  rx.disconnect();
  t.join();
  EXPECT_EQ(got.load(), 0);

  ASSERT_TRUE(rx.connect(name.c_str(), ipc::receiver));
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(rx.recv(60).empty());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50))
      << "a reconnected handle waits again";

  // A sender blocked on a full ring and told to stop reports that nothing was written.
  ipc::channel tx(name.c_str(), ipc::sender);
  for (std::uint32_t i = 0; i < 256; ++i) ASSERT_TRUE(tx.send(&i, 4, 0));
  std::atomic<int> sent{-1};
  std::thread s([&] {
    std::uint32_t x = 999;
    sent = tx.send(&x, 4, ipc::kInfinite) ? 1 : 0;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  tx.disconnect();
  s.join();
  EXPECT_EQ(sent.load(), 0);
  EXPECT_EQ(tx.recv_count(), 1u) << "the receiver was not dropped";
}

TEST(Channel, TwoProcessesExchangeManyMessagesOfMixedSizes) {
  const size_t sizes[] = {1, 24, 63, 64, 65, 150, 1016, 1017, 4000, 70000, 300000};
  constexpr int kCount = 660;
  std::string name = unique_name("xproc");
  ipc::channel rx(name.c_str(), ipc::receiver);
  ASSERT_TRUE(rx.connected());

  child_process sender([&](int) {
    ipc::channel tx(name.c_str(), ipc::sender);
    if (!tx.wait_for_receivers(1, 10000)) return 10;
    for (int i = 0; i < kCount; ++i) {
      std::vector<char> data = pattern(sizes[i % 11], static_cast<std::uint32_t>(i));
      if (!tx.send(data.data(), data.size(), 10000)) return 11;
    }
    return 0;
  });
  int good = 0;
  for (int i = 0; i < kCount; ++i) {
    ipc::message_buffer m = rx.recv(kWait);
    if (m.empty()) break;
    if (same(m, pattern(sizes[i % 11], static_cast<std::uint32_t>(i)))) ++good;
  }
  EXPECT_EQ(good, kCount);
  EXPECT_EQ(sender.join(), 0);
}

TEST(Channel, SeveralSendersAndReceiversInOneProcess) {
  // Each thread holds its own handle, as separate processes would; every receiver gets every
  // message, and each sender's messages arrive in the order sent.
  constexpr int kSenders = 3, kReceivers = 2, kEach = 300;
  const size_t sizes[] = {8, 64, 65, 150, 1500, 3000};
  std::string name = unique_name("mt");
  std::vector<std::unique_ptr<ipc::channel>> rx;
  for (int r = 0; r < kReceivers; ++r) {
    rx.push_back(std::make_unique<ipc::channel>(name.c_str(), ipc::receiver));
    ASSERT_TRUE(rx.back()->connected());
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < kReceivers; ++r) {
    threads.emplace_back([&, r] {
      int next[kSenders] = {0, 0, 0};
      for (int n = 0; n < kSenders * kEach; ++n) {
        ipc::message_buffer m = rx[r]->recv(kWait);
        if (m.size() < 8) {
          ++failures;
          return;
        }
        std::uint32_t who, seq;
        std::memcpy(&who, m.data(), 4);
        std::memcpy(&seq, static_cast<const char*>(m.data()) + 4, 4);
        if (who >= kSenders || seq != static_cast<std::uint32_t>(next[who]) ||
            m.size() != sizes[seq % 6]) {
          ++failures;
          return;
        }
        ++next[who];
      }
    });
  }
  for (int s = 0; s < kSenders; ++s) {
    threads.emplace_back([&, s] {
      ipc::channel tx(name.c_str(), ipc::sender);
      for (std::uint32_t seq = 0; seq < kEach; ++seq) {
        std::vector<char> data = pattern(sizes[seq % 6], seq);
        std::uint32_t who = static_cast<std::uint32_t>(s);
        std::memcpy(data.data(), &who, 4);
        std::memcpy(data.data() + 4, &seq, 4);
        if (!tx.send(data.data(), data.size(), kWait)) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

namespace {
ipc::channel* g_crash_channel = nullptr;

void send_crash_notice(int) {
  unsigned char record[24] = {6, 0, 0, 0, 0x05, 0, 0, 0xC0};
  _exit(g_crash_channel->send_from_signal_handler(record, sizeof(record), 100) ? 0 : 2);
}
}  // namespace

TEST(Channel, SignalHandlerSendsWhileTheCrashedThreadHoldsTheWaiterLock) {
  std::string name = unique_name("crash");
  ipc::channel rx(name.c_str(), ipc::receiver);
  child_process child([&](int) {
    g_crash_channel = new ipc::channel(name.c_str(), ipc::sender);
    // The crash comes while this thread holds the lock that an ordinary send would take.
    auto* held = new ipc::named_mutex;
    if (!held->open(("_waiter_lock___RD_CONN__" + name).c_str()) || !held->lock()) return 1;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = send_crash_notice;
    sigaction(SIGSEGV, &sa, nullptr);
    raise(SIGSEGV);
    return 3;
  });
  EXPECT_EQ(child.join(), 0) << "the handler neither blocked nor failed";
  ipc::message_buffer m = rx.poll_recv();
  ASSERT_EQ(m.size(), 24u);
  EXPECT_EQ(static_cast<const unsigned char*>(m.data())[0], 6);

  // The crashed process left the read waiter's lock held: the next wait takes it over.
  captured_output cap;
  EXPECT_TRUE(rx.recv(30).empty());
  EXPECT_EQ(cap.out(), "fail WaitForSingleObject[130]: WAIT_ABANDONED, try again.\n");
}

// --- Chunk storage ----------------------------------------------------------------------------

TEST(ChunkStorage, SizeClasses) {
  struct row {
    size_t size, chunk;
  } rows[] = {{65, 1024}, {1016, 1024}, {1017, 2048}, {2040, 2048}, {2041, 3072},
              {1000000, 1000448}, {ipc::kMaxMessageSize, ipc::kMaxMessageSize + 1024},
              {ipc::kMaxMessageSize + 1, 0}};
  for (const row& r : rows) EXPECT_EQ(ipc::chunk_size_of(r.size), r.chunk) << r.size;
}

TEST(ChunkStorage, IdsInOrderAndRecycledOnlyWhenEveryHolderHasFreed) {
  private_class cls;
  ASSERT_NE(cls.chunk_size, 0u);
  const size_t size = cls.message_size();
  auto* base = static_cast<unsigned char*>(cls.seg.get());
  for (std::int32_t want = 0; want < 3; ++want) {
    ipc::storage s = ipc::acquire_storage(size, 0b11);
    ASSERT_EQ(s.id, want);
    EXPECT_EQ(s.data, base + 40 + cls.chunk_size * static_cast<size_t>(want) + 8);
  }
  ipc::recycle_storage(1, size, 0b11, 0b01);
  EXPECT_EQ(ipc::acquire_storage(size, 0b11).id, 3) << "one holder left";
  ipc::recycle_storage(1, size, 0b11, 0b10);
  EXPECT_EQ(ipc::acquire_storage(size, 0b11).id, 1) << "the recycled id comes next";

  // Chunk 0: its other holder disconnected meanwhile, so one recycle frees it; a forced release
  // afterwards must not put it on the free list a second time.
  ipc::recycle_storage(0, size, 0b01, 0b01);
  ipc::release_storage(0, size);
  EXPECT_EQ(ipc::acquire_storage(size, 1).id, 0);
  EXPECT_EQ(ipc::acquire_storage(size, 1).id, 4);

  captured_output cap;
  EXPECT_EQ(ipc::find_storage(-1, size), nullptr);
  ipc::recycle_storage(32, size, 1, 1);
  ipc::release_storage(99, 100);
  std::string s = std::to_string(size);
  EXPECT_EQ(cap.err(), "[find_storage] id is invalid: id = -1, size = " + s + "\n" +
                           "[recycle_storage] id is invalid: id = 32, size = " + s + "\n" +
                           "[release_storage] id is invalid: id = 99, size = 100\n");
}

TEST(ChunkStorage, TwoReceiversGiveAChunkBackTogether) {
  std::string name = unique_name("holders");
  ipc::channel tx(name.c_str(), ipc::sender);
  ipc::channel r1(name.c_str(), ipc::receiver);
  ipc::channel r2(name.c_str(), ipc::receiver);
  ring_view v(name);
  chunk_view c(1024);
  std::vector<char> data = pattern(100, 3);

  ASSERT_TRUE(tx.send(data.data(), data.size(), 100));
  ASSERT_EQ(v.raw(v.write_index() - 1)[12], 1) << "no 1024-byte chunk was free";
  std::int32_t id = i32_at(v.raw(v.write_index() - 1), 16);
  ASSERT_TRUE(id >= 0 && id < 32);
  {
    ipc::message_buffer m1 = r1.recv(kWait);
    ipc::message_buffer m2 = r2.recv(kWait);
    EXPECT_TRUE(same(m1, data) && same(m2, data));
    m1.reset();
    EXPECT_EQ(c.holders(id), 2u);
    EXPECT_NE(c.info()->cursor, id);
  }
  EXPECT_EQ(c.holders(id), 0u);
  EXPECT_EQ(c.info()->cursor, id);

  // r1 disconnects before r2 receives: r2's recycling alone frees the chunk.
  ASSERT_TRUE(tx.send(data.data(), data.size(), 100));
  ASSERT_EQ(v.raw(v.write_index() - 1)[12], 1);
  id = i32_at(v.raw(v.write_index() - 1), 16);
  ASSERT_TRUE(id >= 0 && id < 32);
  r1.disconnect();
  {
    ipc::message_buffer m2 = r2.recv(kWait);
    EXPECT_TRUE(same(m2, data));
  }
  EXPECT_EQ(c.holders(id), 0u);
  EXPECT_EQ(c.info()->cursor, id);
}

// --- Corrupt bytes from a peer ----------------------------------------------------------------

TEST(Hostile, CorruptSlotsNeverCrashTheReceiver) {
  std::string name = unique_name("hostile");
  ipc::channel rx(name.c_str(), ipc::receiver);
  ipc::channel tx(name.c_str(), ipc::sender);
  ring_view v(name);
  chunk_view c1024(1024);
  ASSERT_TRUE(c1024.seg.valid());
  const std::string absent_class = std::to_string(ipc::chunk_size_of(5000064));

  struct row {
    const char* what;
    std::vector<ipc::ring::message> slots;
    std::string err;
    std::string out;
  } rows[] = {
      {"storage id -1", {slot_message(1, 1, true, -1)},
       "[find_storage] id is invalid: id = -1, size = 65\n",
       "fail: shm::handle for large message. msg_id: 1, buf_id: -1, size: 65\n"},
      {"storage id 32", {slot_message(2, 1, true, 32)},
       "[find_storage] id is invalid: id = 32, size = 65\n",
       "fail: shm::handle for large message. msg_id: 2, buf_id: 32, size: 65\n"},
      {"size class no sender made", {slot_message(3, 5000000, true, 0)},
       "fail CreateFileMapping/OpenFileMapping[2]: __CHUNK_INFO__" + absent_class + "\n" +
           "[chunk_storages] chunk_shm.id_info_.acquire failed: chunk_size = " + absent_class + "\n",
       "fail: shm::handle for large message. msg_id: 3, buf_id: 0, size: 5000064\n"},
      {"remain INT_MAX", {slot_message(4, INT_MAX, true, 0)}, "fail: recv, r_size = -2147483585\n", ""},
      {"remain INT_MIN", {slot_message(5, INT_MIN, false)}, "fail: recv, r_size = -2147483584\n", ""},
      {"claims 2 GB", {slot_message(6, 2000000000, false)}, "fail: recv, r_size = 2000000064\n", ""},
      {"claims just above the limit", {slot_message(7, 64 << 20, false)}, "fail: recv, r_size = 67108928\n", ""},
      {"fragment shorter than announced", {slot_message(8, 100, false), slot_message(8, -30, false)}, "", ""},
      {"fragment longer than announced", {slot_message(9, 10, false), slot_message(9, 500, false)}, "", ""},
      {"storage message of 4 bytes in a free chunk", {slot_message(10, -60, true, 31)}, "", ""},
  };
  for (row& r : rows) {
    SCOPED_TRACE(r.what);
    ipc::chunk_info before = *c1024.info();
    captured_output cap;
    for (const auto& m : r.slots) v.inject(m, 1);
    // Drain: each injected slot gives at most one result, nothing blocks.
    std::vector<size_t> got;
    for (size_t i = 0; i < r.slots.size(); ++i) {
      ipc::message_buffer m = rx.poll_recv();
      if (!m.empty()) got.push_back(m.size());
    }
    EXPECT_EQ(cap.err(), r.err);
    EXPECT_EQ(cap.out(), r.out);
    if (std::string(r.what).find("4 bytes") != std::string::npos) {
      EXPECT_EQ(got, std::vector<size_t>{4}) << "read from a chunk of its class";
    } else {
      EXPECT_EQ(got, std::vector<size_t>{});
    }
    ipc::chunk_info after = *c1024.info();
    EXPECT_EQ(std::memcmp(&before, &after, 36), 0) << "free list untouched";
  }
  EXPECT_EQ(shm_entries("__CHUNK_INFO__" + absent_class), std::vector<std::string>{})
      << "a size named by a peer creates nothing";

  // The channel still works afterwards.
  std::vector<char> data = pattern(300, 5);
  ASSERT_TRUE(tx.send(data.data(), data.size(), 100));
  EXPECT_TRUE(same(rx.recv(kWait), data));
}

TEST(Hostile, CorruptChunkSegmentsAndShortSegments) {
  private_class cls;
  ASSERT_NE(cls.chunk_size, 0u);
  const size_t size = cls.message_size();
  ipc::chunk_info* info = cls.info();
  ASSERT_EQ(ipc::acquire_storage(size, 1).id, 0);  // sets the free list up

  info->cursor = 200;
  EXPECT_EQ(ipc::acquire_storage(size, 1).id, -1) << "a cursor beyond the list means none free";
  info->cursor = 3;
  info->next[3] = 250;
  EXPECT_EQ(ipc::acquire_storage(size, 1).id, 3);
  EXPECT_EQ(info->cursor, 250);
  EXPECT_EQ(ipc::acquire_storage(size, 1).id, -1);

  // With the free list broken, a message of that class still arrives, as fragments.
  std::string name = unique_name("hostile");
  ipc::channel rx(name.c_str(), ipc::receiver);
  ipc::channel tx(name.c_str(), ipc::sender);
  // More fragments than the ring has slots: the receiver takes them while they come.
  std::vector<char> data = pattern(size, 9);
  std::atomic<bool> sent{false};
  std::thread sender([&] { sent = tx.send(data.data(), data.size(), kWait); });
  ipc::message_buffer got = rx.recv(kWait);
  sender.join();
  EXPECT_TRUE(sent.load());
  EXPECT_TRUE(same(got, data));

  // A peer made the segment of a size class or of a ring too small.
  private_class other;
  ASSERT_NE(other.chunk_size, 0u);
  other.seg.release();
  std::string short_class = ipc::kChunkPrefix + std::to_string(other.chunk_size);
  handle tiny(short_class.c_str(), 100, ipc::shm::SHM_CREATE);
  ASSERT_TRUE(tiny.valid());
  {
    captured_output cap;
    EXPECT_EQ(ipc::acquire_storage(other.chunk_size - 8, 1).id, -1);
    EXPECT_EQ(cap.err(), "[chunk_storages] chunk_shm.id_info_.get failed: chunk_size = " +
                             std::to_string(other.chunk_size) + "\n");
  }
  std::string short_ring = unique_name("short");
  handle small((ipc::ring::kRingPrefix + short_ring).c_str(), 100, ipc::shm::SHM_CREATE);
  ASSERT_TRUE(small.valid());
  captured_output cap;
  ipc::channel bad(short_ring.c_str(), ipc::receiver);
  EXPECT_FALSE(bad.connected());
  EXPECT_FALSE(bad.send("x", 1, 0));
  EXPECT_EQ(bad.recv_count(), 4294967295u);
  EXPECT_EQ(cap.err(), "fail: send, queue_of(h)->elems() == nullptr\n");
}

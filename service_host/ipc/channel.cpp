#include "channel.h"

#include <atomic>
#include <cstring>
#include <string>
#include <unordered_map>

#include "ipc_print.h"
#include "ring_layout.h"

namespace ipc {

using ring::message;
using ring::msg_header;
using ring::slot;

// --- Process-local state --------------------------------------------------------------------

struct handle_info {
  std::string name;
  std::uint32_t cc_id = 0;
  waiter cc_waiter;
  waiter wt_waiter;
  waiter rd_waiter;
  shm::handle acc;  // message counter
  struct queue {
    std::atomic<std::uint32_t> receiver_bit{0};
    shm::handle seg;
    ring::segment* elems = nullptr;
    std::atomic<std::uint32_t> cursor{0};  // write index of the next message to read
  } que;
};

namespace {

constexpr std::uint32_t kNoRing = 0xFFFFFFFFu;
constexpr int kSpinTries = 33;                // attempts before a blocking wait
constexpr std::size_t kCachePruneEntries = 1024;
constexpr std::uint32_t kCacheKeepDistance = 8192;
// Partly received messages of one thread may hold at most this many bytes together.
constexpr std::size_t kCacheMaxBytes = 4 * kMaxMessageSize;

template <typename T>
T load(const T* p) {
  return __atomic_load_n(p, __ATOMIC_ACQUIRE);
}
template <typename T>
void store(T* p, T v) {
  __atomic_store_n(p, v, __ATOMIC_RELEASE);
}
template <typename T>
bool cas(T* p, T& expected, T desired) {
  return __atomic_compare_exchange_n(p, &expected, desired, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_ACQUIRE);
}

// The handle counter is held for the life of the process, so that ids handed to this process's
// handles stay unique among the processes that share it.
shm::handle& handle_counter() {
  static shm::handle counter(ring::kHandleCounterName, sizeof(std::uint32_t));
  return counter;
}

// --- Reassembly cache, one per thread -------------------------------------------------------

struct partial_message {
  std::size_t filled;
  std::size_t size;
  std::unique_ptr<char[]> buf;
};

struct fragment_cache {
  std::unordered_map<std::uint32_t, partial_message> entries;
  std::size_t bytes = 0;

  void erase(std::unordered_map<std::uint32_t, partial_message>::iterator it) {
    bytes -= it->second.size;
    entries.erase(it);
  }
  void clear() {
    entries.clear();
    bytes = 0;
  }
};

fragment_cache& thread_cache() {
  thread_local fragment_cache cache;
  return cache;
}

// --- Slot words -----------------------------------------------------------------------------

struct payload {
  const void* data;    // null for a storage message
  std::size_t size;    // 0 for a storage message
  std::int32_t storage_id;
};

// Messages are copied word by word with atomic accesses: a forced write may overwrite a slot
// that a slow reader is still copying, and neither side may tear or race on the bytes.
constexpr std::size_t kMessageWords = sizeof(message) / sizeof(std::uint64_t);

void write_message(slot* s, const msg_header& head, const payload& p) {
  message m;
  std::memset(&m, 0, sizeof(m));
  m.head = head;
  m.head.storage = (p.data == nullptr || p.size == 0) ? 1 : 0;
  std::memset(m.head.reserved, 0, sizeof(m.head.reserved));
  if (m.head.storage) {
    std::memcpy(m.data, &p.storage_id, sizeof(p.storage_id));
  } else {
    std::memcpy(m.data, p.data, p.size < ring::kDataSize ? p.size : ring::kDataSize);
  }
  std::uint64_t words[kMessageWords];
  std::memcpy(words, &m, sizeof(m));
  auto* dst = reinterpret_cast<std::uint64_t*>(&s->msg);
  for (std::size_t i = 0; i < kMessageWords; ++i) __atomic_store_n(dst + i, words[i], __ATOMIC_RELAXED);
}

void read_message(const slot* s, message* out) {
  std::uint64_t words[kMessageWords];
  auto* src = reinterpret_cast<const std::uint64_t*>(&s->msg);
  for (std::size_t i = 0; i < kMessageWords; ++i) words[i] = __atomic_load_n(src + i, __ATOMIC_RELAXED);
  std::memcpy(out, words, sizeof(*out));
}

// The read word for a slot written in `epoch` to the receivers `cc`: epoch byte, change counter
// advanced by one, pending receivers.
std::uint64_t next_readers(std::uint64_t readers, std::uint64_t epoch, std::uint32_t cc) {
  std::uint64_t count = (((readers & ~ring::kEpochMask) | (epoch & ring::kEpochMask)) + ring::kCountOne) &
                        ring::kCountMask;
  return (epoch & ring::kEpochMask) | count | cc;
}

void init_head(ring::segment* r) {
  if (load(&r->head.initialised) != 0) return;
  spin_lock lock(&r->head.lock);
  lock.lock();
  if (load(&r->head.initialised) == 0) {
    store(&r->head.cc, 0u);
    store(&r->head.initialised, std::uint8_t{1});
  }
  lock.unlock();
}

// --- push, force_push, pop ------------------------------------------------------------------

bool push(ring::segment* r, const msg_header& head, const payload& p) {
  std::uint64_t epoch = load(&r->head.force_epoch);
  for (unsigned k = 0;; k = back_off(k)) {
    std::uint32_t cc = load(&r->head.cc);
    if (cc == 0) return false;  // no receiver
    std::uint32_t wi = load(&r->head.write_index);
    slot* s = &r->slots[wi % ring::kSlotCount];
    std::uint64_t readers = load(&s->readers);
    std::uint32_t pending = static_cast<std::uint32_t>(readers);
    if ((pending & cc) != 0 && (readers & ring::kEpochMask) == (epoch & ring::kEpochMask)) {
      return false;  // the slot's previous message is still being read
    }
    if (pending == 0) {
      std::uint64_t commit = load(&s->commit);
      if (commit != 0 && commit != std::uint64_t{wi}) return false;  // the ring is full
    }
    if (!cas(&s->readers, readers, next_readers(readers, epoch, cc))) continue;
    std::uint64_t seen = epoch;
    if (!cas(&r->head.force_epoch, seen, seen)) {
      epoch = seen;  // a forced write came in between: claim the slot again under its epoch
      continue;
    }
    store(&r->head.write_index, wi + 1);
    write_message(s, head, p);
    store(&s->commit, ~std::uint64_t{wi});
    return true;
  }
}

// Gives back the chunk of a storage message that a forced write overwrites.
void clear_message(slot* s) {
  message old;
  read_message(s, &old);
  if (!old.head.storage) return;
  std::int32_t r = static_cast<std::int32_t>(static_cast<std::uint32_t>(old.head.remain) + 64u);
  if (r <= 0 || static_cast<std::size_t>(r) > kMaxMessageSize) {
    error_line("[clear_message] invalid msg size: %d\n", r);
    return;
  }
  std::int32_t id;
  std::memcpy(&id, old.data, sizeof(id));
  release_storage(id, static_cast<std::size_t>(r));
}

bool force_push(ring::segment* r, const msg_header& head, const payload& p) {
  std::uint64_t epoch = __atomic_add_fetch(&r->head.force_epoch, std::uint64_t{1} << ring::kEpochShift,
                                           __ATOMIC_ACQ_REL);
  for (unsigned k = 0;; k = back_off(k)) {
    std::uint32_t cc = load(&r->head.cc);
    if (cc == 0) return false;
    std::uint32_t wi = load(&r->head.write_index);
    slot* s = &r->slots[wi % ring::kSlotCount];
    std::uint64_t readers = load(&s->readers);
    std::uint32_t pending = static_cast<std::uint32_t>(readers);
    if ((pending & cc) != 0) {
      log_line("force_push: k = %u, cc = %u, rem_cc = %u\n", k, cc, pending);
      // Receivers that have not taken the overwritten message lose their connection.
      cc = __atomic_and_fetch(&r->head.cc, ~pending, __ATOMIC_ACQ_REL);
      if (cc == 0) return false;
    }
    if (!cas(&s->readers, readers, next_readers(readers, epoch, cc))) continue;
    if (load(&r->head.force_epoch) != epoch) {
      if (push(r, head, p)) return true;
      epoch = __atomic_add_fetch(&r->head.force_epoch, std::uint64_t{1} << ring::kEpochShift,
                                 __ATOMIC_ACQ_REL);
      continue;
    }
    store(&r->head.write_index, wi + 1);
    clear_message(s);
    write_message(s, head, p);
    store(&s->commit, ~std::uint64_t{wi});
    return true;
  }
}

bool pop(handle_info::queue& q, message* out) {
  ring::segment* r = q.elems;
  std::uint32_t c = q.cursor.load(std::memory_order_relaxed);
  slot* s = &r->slots[c % ring::kSlotCount];
  if (load(&s->commit) != ~std::uint64_t{c}) return false;  // nothing new
  q.cursor.store(c + 1, std::memory_order_relaxed);
  read_message(s, out);
  // Free for the lap that writes index c + 256. The sum is taken in 32 bits, so that it still
  // equals that write index when the index wraps around 2^32.
  std::uint64_t done = std::uint32_t(c + ring::kSlotCount);
  std::uint32_t bit = q.receiver_bit.load(std::memory_order_relaxed);
  for (unsigned k = 0;; k = back_off(k)) {
    std::uint64_t readers = load(&s->readers);
    if (static_cast<std::uint32_t>(readers) == 0) {
      store(&s->commit, done);
      return true;
    }
    std::uint64_t next = (readers & ~ring::kCountMask) | ((readers + ring::kCountOne) & ring::kCountMask);
    next &= ~std::uint64_t{bit};
    if (static_cast<std::uint32_t>(next) == 0) store(&s->commit, done);
    if (cas(&s->readers, readers, next)) return true;
  }
}

// --- Writing one slot for send --------------------------------------------------------------

bool write_slot(handle_info* h, const msg_header& head, const payload& p, std::uint32_t tm) {
  ring::segment* r = h->que.elems;
  bool pushed = false;
  if (tm == 0) {
    pushed = push(r, head, p);
  } else {
    for (int i = 0; i < kSpinTries && !pushed; ++i) {
      pushed = push(r, head, p);
      if (!pushed && i + 1 < kSpinTries) os::yield_thread();
    }
    if (!pushed) {
      bool ended = h->wt_waiter.wait_while(
          [&] {
            pushed = push(r, head, p);
            return !pushed;
          },
          tm);
      // Told to stop waiting (disconnect): nothing was written, and that is not a success.
      if (ended && !pushed) return false;
    }
  }
  if (!pushed) {
    log_line("force_push: msg_id = %zd, remain = %d, size = %zd\n",
             static_cast<std::ptrdiff_t>(head.msg_id), head.remain,
             static_cast<std::ptrdiff_t>(p.size));
    if (!force_push(r, head, p)) return false;
  }
  h->rd_waiter.broadcast();
  return true;
}

// Takes the next message: spins, then waits on the read waiter.
bool take(handle_info* h, message* msg, std::uint32_t tm) {
  handle_info::queue& q = h->que;
  if (tm == 0) return pop(q, msg);
  for (int i = 0; i < kSpinTries; ++i) {
    if (pop(q, msg)) return true;
    if (i + 1 < kSpinTries) os::yield_thread();
  }
  bool got = false;
  bool ended = h->rd_waiter.wait_while(
      [&] {
        got = pop(q, msg);
        return !got;
      },
      tm);
  return ended && got;
}

bool make_handle(handle_info* h, const char* name) {
  h->name = name;
  shm::handle& counter = handle_counter();
  if (counter.valid() && counter.size() >= sizeof(std::uint32_t)) {
    h->cc_id = __atomic_fetch_add(static_cast<std::uint32_t*>(counter.get()), 1u, __ATOMIC_ACQ_REL);
  }
  h->cc_waiter.open((ring::kConnectWaiterPrefix + h->name).c_str());
  h->wt_waiter.open((ring::kWriteWaiterPrefix + h->name).c_str());
  h->rd_waiter.open((ring::kReadWaiterPrefix + h->name).c_str());
  if (!h->acc.acquire((ring::kMessageCounterPrefix + h->name).c_str(), sizeof(std::uint32_t)) ||
      h->acc.size() < sizeof(std::uint32_t)) {
    h->acc.release();
  }
  if (h->que.seg.acquire((ring::kRingPrefix + h->name).c_str(), ring::kSegmentSize)) {
    // A segment of that name made smaller than a ring would put slots out of bounds.
    if (h->que.seg.size() >= ring::kSegmentSize) {
      h->que.elems = static_cast<ring::segment*>(h->que.seg.get());
      init_head(h->que.elems);
    }
  }
  return true;
}

bool connect_receiver(handle_info* h) {
  handle_info::queue& q = h->que;
  if (q.elems == nullptr) return false;
  if (q.receiver_bit.load() != 0) {
    h->cc_waiter.broadcast();
    return true;
  }
  std::uint32_t* cc = &q.elems->head.cc;
  std::uint32_t old = load(cc);
  std::uint32_t now = 0;
  for (unsigned k = 0;; k = back_off(k)) {
    now = old | (old + 1);  // sets the lowest clear bit; all 32 taken leaves it unchanged
    if (cas(cc, old, now)) break;
  }
  std::uint32_t bit = now ^ old;
  q.receiver_bit.store(bit);
  if (bit == 0) return false;
  q.cursor.store(load(&q.elems->head.write_index));
  h->cc_waiter.broadcast();
  return true;
}

// Clears the handle's receiver bit in the ring's receiver mask; true when it held one. Lock-free
// and allocation-free, so a signal handler may call it too.
bool release_receiver_bit(handle_info* h) {
  handle_info::queue& q = h->que;
  if (q.elems == nullptr) return false;
  std::uint32_t bit = q.receiver_bit.exchange(0);
  if (bit == 0) return false;
  __atomic_and_fetch(&q.elems->head.cc, ~bit, __ATOMIC_ACQ_REL);
  return true;
}

bool disconnect_receiver(handle_info* h) {
  const bool released = release_receiver_bit(h);
  h->cc_waiter.stop_waiting();
  h->wt_waiter.stop_waiting();
  h->rd_waiter.stop_waiting();
  if (released) thread_cache().clear();
  return released;
}

std::int32_t announced_size(std::int32_t remain) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(remain) + 64u);
}

}  // namespace

// --- message_buffer -------------------------------------------------------------------------

message_buffer message_buffer::from_storage(void* data, std::size_t size, std::int32_t id,
                                            std::uint32_t holders, std::uint32_t receiver_bit) {
  message_buffer b;
  b.data_ = static_cast<char*>(data);
  b.size_ = size;
  b.in_storage_ = true;
  b.storage_id_ = id;
  b.holders_ = holders;
  b.receiver_bit_ = receiver_bit;
  return b;
}

message_buffer& message_buffer::operator=(message_buffer&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = other.data_;
    size_ = other.size_;
    in_storage_ = other.in_storage_;
    storage_id_ = other.storage_id_;
    holders_ = other.holders_;
    receiver_bit_ = other.receiver_bit_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.in_storage_ = false;
  }
  return *this;
}

void message_buffer::reset() {
  if (data_ != nullptr) {
    if (in_storage_) {
      recycle_storage(storage_id_, size_, holders_, receiver_bit_);
    } else {
      delete[] data_;
    }
  }
  data_ = nullptr;
  size_ = 0;
  in_storage_ = false;
}

// --- Channel operations ---------------------------------------------------------------------

bool connect(handle_t* h, const char* name, unsigned mode) {
  if (h == nullptr || name == nullptr) return false;
  if (*h != nullptr && (*h)->name != name) {
    destroy(*h);
    *h = nullptr;
  }
  if (*h == nullptr) {
    *h = new handle_info;
    make_handle(*h, name);
  }
  handle_info* info = *h;
  // A handle that was disconnected blocks again in its waits once it is connected again.
  info->cc_waiter.resume();
  info->wt_waiter.resume();
  info->rd_waiter.resume();
  if (mode & receiver) return connect_receiver(info);
  if (info->que.receiver_bit.load() != 0) disconnect_receiver(info);
  return info->que.elems != nullptr;
}

void disconnect(handle_t h) {
  if (h != nullptr) disconnect_receiver(h);
}

void destroy(handle_t h) {
  if (h == nullptr) return;
  disconnect(h);
  h->que.elems = nullptr;
  h->que.seg.release();
  h->acc.release();
  h->cc_waiter.close();
  h->wt_waiter.close();
  h->rd_waiter.close();
  delete h;
}

bool send(handle_t h, const void* data, std::size_t size, std::uint32_t tm) {
  // Longer messages are refused too: no receiver would take them.
  if (data == nullptr || size == 0 || size > kMaxMessageSize) {
    error_line("fail: send(%p, %zd)\n", data, static_cast<std::ptrdiff_t>(size));
    return false;
  }
  if (h == nullptr) {
    error_line("fail: send, queue_of(h) == nullptr\n");
    return false;
  }
  ring::segment* r = h->que.elems;
  if (r == nullptr) {
    error_line("fail: send, queue_of(h)->elems() == nullptr\n");
    return false;
  }
  std::uint32_t cc = load(&r->head.cc);
  if (cc == 0) {
    error_line("fail: send, there is no receiver on this connection.\n");
    return false;
  }
  if (!h->acc.valid()) {
    error_line("fail: send, info_of(h)->acc() == nullptr\n");
    return false;
  }
  std::uint32_t msg_id =
      __atomic_fetch_add(static_cast<std::uint32_t*>(h->acc.get()), 1u, __ATOMIC_ACQ_REL);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::int32_t total = static_cast<std::int32_t>(size);

  if (size > ring::kDataSize) {
    storage st = acquire_storage(size, cc);
    if (st.id >= 0) {
      std::memcpy(st.data, data, size);
      msg_header head{h->cc_id, msg_id, total - 64, 0, {0, 0, 0}};
      if (write_slot(h, head, payload{nullptr, 0, st.id}, tm)) return true;
      // Nobody will read that slot: the chunk goes back at once instead of staying taken.
      release_storage(st.id, size);
      return false;
    }
  }
  std::size_t full = size / ring::kDataSize;
  for (std::size_t i = 0; i < full; ++i) {
    msg_header head{h->cc_id, msg_id, total - static_cast<std::int32_t>(64 * (i + 1)), 0, {0, 0, 0}};
    if (!write_slot(h, head, payload{bytes + 64 * i, ring::kDataSize, 0}, tm)) return false;
  }
  std::size_t rest = size - full * ring::kDataSize;
  if (rest > 0) {
    msg_header head{h->cc_id, msg_id, static_cast<std::int32_t>(rest) - 64, 0, {0, 0, 0}};
    if (!write_slot(h, head, payload{bytes + 64 * full, rest, 0}, tm)) return false;
  }
  return true;
}

bool send_from_signal_handler(handle_t h, const void* data, std::size_t size, std::uint32_t tm) {
  if (h == nullptr || h->que.elems == nullptr || !h->acc.valid() || data == nullptr || size == 0 ||
      size > ring::kDataSize) {
    return false;
  }
  ring::segment* r = h->que.elems;
  if (load(&r->head.cc) == 0) return false;
  std::uint32_t msg_id =
      __atomic_fetch_add(static_cast<std::uint32_t*>(h->acc.get()), 1u, __ATOMIC_ACQ_REL);
  msg_header head{h->cc_id, msg_id, static_cast<std::int32_t>(size) - 64, 0, {0, 0, 0}};
  const std::uint64_t start = os::monotonic_ms();
  for (unsigned k = 0;; k = back_off(k)) {
    if (push(r, head, payload{data, size, 0})) break;
    if (load(&r->head.cc) == 0 || os::monotonic_ms() - start >= tm) return false;
  }
  h->rd_waiter.wake_all_unlocked();
  return true;
}

void release_receiver_from_signal_handler(handle_t h) {
  if (h != nullptr) release_receiver_bit(h);
}

message_buffer recv(handle_t h, std::uint32_t tm) {
  if (h == nullptr) {
    error_line("fail: recv, queue_of(h) == nullptr\n");
    return {};
  }
  handle_info::queue& q = h->que;
  if (q.elems == nullptr || q.receiver_bit.load() == 0) return {};
  fragment_cache& cache = thread_cache();
  for (;;) {
    message msg;
    if (!take(h, &msg, tm)) return {};
    h->wt_waiter.broadcast();
    if (h->acc.valid() && msg.head.cc_id == h->cc_id) continue;  // our own message

    const std::int32_t r = announced_size(msg.head.remain);
    if (r <= 0 || static_cast<std::size_t>(r) > kMaxMessageSize) {
      error_line("fail: recv, r_size = %d\n", r);
      return {};
    }
    const std::size_t size = static_cast<std::size_t>(r);
    if (msg.head.storage) {
      std::int32_t id;
      std::memcpy(&id, msg.data, sizeof(id));
      void* data = find_storage(id, size);
      if (data != nullptr) {
        return message_buffer::from_storage(data, size, id, load(&q.elems->head.cc),
                                            q.receiver_bit.load());
      }
      log_line("fail: shm::handle for large message. msg_id: %zd, buf_id: %zd, size: %zd\n",
               static_cast<std::ptrdiff_t>(msg.head.msg_id), static_cast<std::ptrdiff_t>(id),
               static_cast<std::ptrdiff_t>(size));
      continue;
    }

    auto it = cache.entries.find(msg.head.msg_id);
    if (it == cache.entries.end()) {
      if (size <= ring::kDataSize) {
        std::unique_ptr<char[]> buf(new char[size]);
        std::memcpy(buf.get(), msg.data, size);
        return message_buffer(std::move(buf), size);
      }
      if (cache.entries.size() > kCachePruneEntries) {
        for (auto e = cache.entries.begin(); e != cache.entries.end();) {
          std::uint32_t a = e->first, b = msg.head.msg_id;
          if ((a > b ? a - b : b - a) > kCacheKeepDistance) {
            auto gone = e++;
            cache.erase(gone);
          } else {
            ++e;
          }
        }
      }
      if (cache.bytes + size > kCacheMaxBytes) cache.clear();
      partial_message part{ring::kDataSize, size, std::unique_ptr<char[]>(new char[size])};
      std::memcpy(part.buf.get(), msg.data, ring::kDataSize);
      cache.bytes += size;
      cache.entries.emplace(msg.head.msg_id, std::move(part));
      continue;
    }

    // Every later fragment announces exactly the bytes still missing; one that does not is
    // from a message that lost a fragment or from a corrupted slot, and the message is dropped.
    partial_message& part = it->second;
    const bool last = msg.head.remain <= 0;
    const std::size_t n = last ? size : ring::kDataSize;
    if (size != part.size - part.filled) {
      cache.erase(it);
      continue;
    }
    std::memcpy(part.buf.get() + part.filled, msg.data, n);
    part.filled += n;
    if (!last) continue;
    message_buffer done(std::move(part.buf), part.size);
    cache.erase(it);
    return done;
  }
}

message_buffer poll_recv(handle_t h) { return recv(h, 0); }

std::uint32_t recv_count(handle_t h) {
  if (h == nullptr || h->que.elems == nullptr) return kNoRing;
  return static_cast<std::uint32_t>(__builtin_popcount(load(&h->que.elems->head.cc)));
}

bool wait_for_receivers(handle_t h, std::uint32_t count, std::uint32_t tm) {
  if (h == nullptr || h->que.elems == nullptr) return false;
  auto enough = [&] { return recv_count(h) >= count; };
  if (tm == 0) return enough();
  for (int i = 0; i < kSpinTries; ++i) {
    if (enough()) return true;
    if (i + 1 < kSpinTries) os::yield_thread();
  }
  bool ended = h->cc_waiter.wait_while([&] { return !enough(); }, tm);
  return ended && enough();
}

}  // namespace ipc

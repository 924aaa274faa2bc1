#include "chunk_storage.h"

#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "ipc_print.h"
#include "ipc_sync.h"

namespace ipc {

namespace {

struct storage_map {
  std::shared_mutex lock;
  std::map<std::size_t, std::unique_ptr<shm::handle>> segments;
};

storage_map& storages() {
  static storage_map m;
  return m;
}

bool valid_id(std::int32_t id) { return id >= 0 && id < static_cast<std::int32_t>(kChunkCount); }

std::size_t segment_size(std::size_t chunk_size) { return kChunkInfoSize + kChunkCount * chunk_size; }

std::uint8_t* chunk_at(void* info, std::size_t chunk_size, std::int32_t id) {
  return static_cast<std::uint8_t*>(info) + kChunkInfoSize + chunk_size * static_cast<std::size_t>(id);
}

std::uint32_t* holders_of(std::uint8_t* chunk) { return reinterpret_cast<std::uint32_t*>(chunk); }

// Puts `id` at the head of the free list.
void push_free(void* mem, std::int32_t id) {
  auto* info = static_cast<chunk_info*>(mem);
  spin_lock lock(&info->lock);
  lock.lock();
  info->next[id] = info->cursor;
  info->cursor = static_cast<std::uint8_t>(id);
  lock.unlock();
}

// The segment holding chunk `id` of the size class of `size`, both named by a peer's slot:
// checks the id (printing `who`'s line) and opens an existing segment only.
void* existing_segment(const char* who, std::int32_t id, std::size_t size, std::size_t* chunk_size) {
  if (!valid_id(id)) {
    error_line("[%s] id is invalid: id = %ld, size = %zd\n", who, static_cast<long>(id),
               static_cast<std::ptrdiff_t>(size));
    return nullptr;
  }
  *chunk_size = chunk_size_of(size);
  return *chunk_size == 0 ? nullptr : chunk_storages(*chunk_size, shm::SHM_OPEN);
}

}  // namespace

std::size_t chunk_size_of(std::size_t size) {
  if (size > kMaxMessageSize) return 0;
  return ((size + kChunkHeaderSize - 1) & ~(kChunkGranule - 1)) + kChunkGranule;
}

void* chunk_storages(std::size_t chunk_size, unsigned mode) {
  storage_map& m = storages();
  {
    std::shared_lock<std::shared_mutex> shared(m.lock);
    auto it = m.segments.find(chunk_size);
    if (it != m.segments.end() && it->second->valid()) return it->second->get();
  }
  std::unique_lock<std::shared_mutex> alone(m.lock);
  std::unique_ptr<shm::handle>& seg = m.segments[chunk_size];
  if (!seg) seg = std::make_unique<shm::handle>();
  if (seg->valid()) return seg->get();
  std::string name = kChunkPrefix + std::to_string(chunk_size);
  std::size_t wanted = segment_size(chunk_size);
  if (!seg->acquire(name.c_str(), wanted, mode)) {
    if (!seg->acquired()) {
      error_line("[chunk_storages] chunk_shm.id_info_.acquire failed: chunk_size = %zd\n",
                 static_cast<std::ptrdiff_t>(chunk_size));
    } else {
      error_line("[chunk_storages] chunk_shm.id_info_.get failed: chunk_size = %zd\n",
                 static_cast<std::ptrdiff_t>(chunk_size));
    }
    seg->release();
    return nullptr;
  }
  // A segment of that name made smaller than its class needs would put chunks out of bounds.
  if (seg->size() < wanted) {
    seg->release();
    error_line("[chunk_storages] chunk_shm.id_info_.get failed: chunk_size = %zd\n",
               static_cast<std::ptrdiff_t>(chunk_size));
    return nullptr;
  }
  return seg->get();
}

storage acquire_storage(std::size_t size, std::uint32_t holders) {
  std::size_t chunk_size = chunk_size_of(size);
  void* mem = chunk_size == 0 ? nullptr : chunk_storages(chunk_size);
  if (mem == nullptr) return {-1, nullptr};
  auto* info = static_cast<chunk_info*>(mem);
  spin_lock lock(&info->lock);
  lock.lock();
  if (info->prepared == 0) {
    bool blank = info->cursor == 0;
    for (std::size_t i = 0; blank && i < kChunkCount; ++i) blank = info->next[i] == 0;
    if (blank) {
      for (std::size_t i = 0; i < kChunkCount; ++i) info->next[i] = static_cast<std::uint8_t>(i + 1);
    }
    info->prepared = 1;
  }
  std::int32_t id = -1;
  // A cursor beyond the list (32 or a corrupted value) means that no chunk is free.
  if (info->cursor < kChunkCount) {
    id = info->cursor;
    info->cursor = info->next[id];
  }
  lock.unlock();
  if (id < 0) return {-1, nullptr};
  std::uint8_t* chunk = chunk_at(mem, chunk_size, id);
  __atomic_store_n(holders_of(chunk), holders, __ATOMIC_RELEASE);
  return {id, chunk + kChunkHeaderSize};
}

void* find_storage(std::int32_t id, std::size_t size) {
  std::size_t chunk_size = 0;
  void* mem = existing_segment("find_storage", id, size, &chunk_size);
  if (mem == nullptr) return nullptr;
  return chunk_at(mem, chunk_size, id) + kChunkHeaderSize;
}

void recycle_storage(std::int32_t id, std::size_t size, std::uint32_t holders,
                     std::uint32_t receiver_bit) {
  std::size_t chunk_size = 0;
  void* mem = existing_segment("recycle_storage", id, size, &chunk_size);
  if (mem == nullptr) return;
  std::uint32_t* field = holders_of(chunk_at(mem, chunk_size, id));
  // Drop this receiver and every receiver that has disconnected since the message came.
  std::uint32_t keep = holders & ~receiver_bit;
  std::uint32_t old = __atomic_load_n(field, __ATOMIC_ACQUIRE);
  std::uint32_t now = 0;
  for (unsigned k = 0;; k = back_off(k)) {
    // Nobody holds it any more: it is already on the free list, and must not be put there twice.
    if (old == 0) return;
    now = old & keep;
    if (__atomic_compare_exchange_n(field, &old, now, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) break;
  }
  if (now == 0) push_free(mem, id);
}

void release_storage(std::int32_t id, std::size_t size) {
  std::size_t chunk_size = 0;
  void* mem = existing_segment("release_storage", id, size, &chunk_size);
  if (mem == nullptr) return;
  // Whoever takes the holders from non-zero to zero frees the chunk, exactly once: a receiver
  // recycling late then finds zero and leaves the free list alone.
  std::uint32_t old = __atomic_exchange_n(holders_of(chunk_at(mem, chunk_size, id)), 0u, __ATOMIC_ACQ_REL);
  if (old != 0) push_free(mem, id);
}

}  // namespace ipc

// Shared storage for messages longer than one channel slot.
//
// Chunk sizes are multiples of 1024; a message of `size` bytes uses the smallest one that holds
// size + 8 bytes. Each size class S has one segment "__CHUNK_INFO__" + decimal S shared by all
// channels and processes, 40 + 32 * S bytes, integers little-endian:
//
//   offset       size  field
//   0            32    next      free-list successor of each chunk id 0..31
//   32           1     cursor    first free id; 32 when no chunk is free
//   33           1     prepared  0 until the free list was set up, then 1
//   34           2     -         reserved, zero
//   36           4     lock      spin lock guarding next, cursor and prepared
//   40 + S * id  S     chunk id  id = 0..31
//
// Chunk (S bytes):
//
//   0   4      holders  one bit per receiver that has not yet given the chunk back
//   4   4      -        reserved
//   8   S - 8  data     the message bytes
//
// Sizes and ids may come from a peer's slot: every entry point checks them before use, sizes
// above kMaxMessageSize are refused, and only a sender creates a size class's segment.
#ifndef KOVA_IPC_CHUNK_STORAGE_H
#define KOVA_IPC_CHUNK_STORAGE_H

#include <cstddef>
#include <cstdint>

#include "shm.h"

namespace ipc {

constexpr std::size_t kChunkCount = 32;
constexpr std::size_t kChunkGranule = 1024;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kChunkInfoSize = 40;
constexpr const char* kChunkPrefix = "__CHUNK_INFO__";

// The longest message a channel carries. Its size class reserves 32 chunks (about 2 GiB of
// shared memory), the most a sender should ask of the system; a receiver refuses any longer
// length a peer announces, so no slot can make it allocate more for one message.
constexpr std::size_t kMaxMessageSize = std::size_t{64} << 20;

struct chunk_info {
  std::uint8_t next[kChunkCount];
  std::uint8_t cursor;
  std::uint8_t prepared;
  std::uint8_t reserved[2];
  std::uint32_t lock;
};
static_assert(offsetof(chunk_info, cursor) == 32, "chunk segment layout");
static_assert(offsetof(chunk_info, prepared) == 33, "chunk segment layout");
static_assert(offsetof(chunk_info, lock) == 36, "chunk segment layout");
static_assert(sizeof(chunk_info) == kChunkInfoSize, "chunk segment layout");

// Chunk size for a message of `size` bytes; 0 for sizes above kMaxMessageSize.
std::size_t chunk_size_of(std::size_t size);

// Mapped segment of size class `chunk_size`, acquired on first use in `mode` and kept until the
// process ends; null on failure.
void* chunk_storages(std::size_t chunk_size, unsigned mode = shm::SHM_CREATE_OR_OPEN);

struct storage {
  std::int32_t id;  // -1 when none
  void* data;
};

// Takes a free chunk for a `size`-byte message addressed to the receivers in `holders`.
storage acquire_storage(std::size_t size, std::uint32_t holders);
// Data address of chunk `id` of the size class of `size`, or null.
void* find_storage(std::int32_t id, std::size_t size);
// One receiver gives chunk `id` back; it returns to the free list when nobody holds it.
void recycle_storage(std::int32_t id, std::size_t size, std::uint32_t holders,
                     std::uint32_t receiver_bit);
// Returns chunk `id` to the free list at once (its slot was overwritten by force).
void release_storage(std::int32_t id, std::size_t size);

}  // namespace ipc

#endif  // KOVA_IPC_CHUNK_STORAGE_H

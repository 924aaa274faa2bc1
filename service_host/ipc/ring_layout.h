// Byte layout of a channel's ring segment, shared with every process on the channel.
//
// Ring segment "__QU_CONN__64__8__" + channel name, 24832 bytes, integers little-endian:
//
//   offset       size  field
//   0            4     cc           bit i set while receiver i is connected (32 receivers at most)
//   4            4     lock         spin lock, used only to initialise the head
//   8            1     initialised  0 until the head was initialised, then 1
//   9            55    -            reserved, zero
//   64           4     write_index  number of messages written so far (wraps at 2^32)
//   68           60    -            reserved, zero
//   128          8     force_epoch  only the top byte changes: +2^56 per forced write
//   136          56    -            reserved, zero
//   192 + 96*i   96    slot i       i = 0..255; the message with write index x is in slot x % 256
//   24768        64    -            reserved, zero
//
// Slot, 96 bytes; the first 80 are the message:
//
//   0    4   cc_id    handle id of the sender
//   4    4   msg_id   message id; all fragments of one message carry the same id
//   8    4   remain   signed: total length - 64 - bytes carried by the slots before this one;
//                     a slot carries 64 + remain bytes when remain <= 0, else 64; for a storage
//                     message 64 + remain is the whole length
//   12   1   storage  1 when the message lies in chunk storage, else 0
//   13   3   -        zero
//   16   64  data     payload, zero-padded; storage message: bytes 0-3 the int32 storage id
//   80   8   readers  bits 0-31 receivers still to take the message, bits 32-55 a change
//                     counter (+1 mod 2^24 per change), bits 56-63 the top byte of force_epoch
//                     when the slot was written
//   88   8   commit   0 never written; ~write_index (64-bit, zero-extended) once written;
//                     write_index + 256 once its last pending receiver has taken it
//
// All-zero bytes are the valid initial state of every field.
#ifndef KOVA_IPC_RING_LAYOUT_H
#define KOVA_IPC_RING_LAYOUT_H

#include <cstddef>
#include <cstdint>

namespace ipc {
namespace ring {

constexpr std::size_t kDataSize = 64;    // payload bytes per slot
constexpr std::size_t kAlignment = 8;    // appears in the segment name
constexpr std::uint32_t kSlotCount = 256;
constexpr std::uint32_t kMaxReceivers = 32;
constexpr std::size_t kSegmentSize = 24832;
constexpr const char* kRingPrefix = "__QU_CONN__64__8__";
constexpr const char* kMessageCounterPrefix = "__AC_CONN__";
constexpr const char* kHandleCounterName = "__CA_CONN__";
constexpr const char* kConnectWaiterPrefix = "__CC_CONN__";
constexpr const char* kWriteWaiterPrefix = "__WT_CONN__";
constexpr const char* kReadWaiterPrefix = "__RD_CONN__";

constexpr std::uint64_t kEpochShift = 56;
constexpr std::uint64_t kEpochMask = 0xFFull << kEpochShift;
constexpr std::uint64_t kCountOne = 1ull << 32;
constexpr std::uint64_t kCountMask = 0x00FFFFFF00000000ull;
constexpr std::uint64_t kPendingMask = 0xFFFFFFFFull;

struct msg_header {
  std::uint32_t cc_id;
  std::uint32_t msg_id;
  std::int32_t remain;
  std::uint8_t storage;
  std::uint8_t reserved[3];
};

struct message {
  msg_header head;
  std::uint8_t data[kDataSize];
};

struct slot {
  message msg;
  std::uint64_t readers;
  std::uint64_t commit;
};

struct head {
  std::uint32_t cc;
  std::uint32_t lock;
  std::uint8_t initialised;
  std::uint8_t reserved0[55];
  std::uint32_t write_index;
  std::uint8_t reserved1[60];
  std::uint64_t force_epoch;
  std::uint8_t reserved2[56];
};

struct segment {
  struct head head;
  slot slots[kSlotCount];
  std::uint8_t reserved[64];
};

static_assert(offsetof(msg_header, cc_id) == 0, "slot layout");
static_assert(offsetof(msg_header, msg_id) == 4, "slot layout");
static_assert(offsetof(msg_header, remain) == 8, "slot layout");
static_assert(offsetof(msg_header, storage) == 12, "slot layout");
static_assert(sizeof(msg_header) == 16, "slot layout");
static_assert(offsetof(message, data) == 16, "slot layout");
static_assert(sizeof(message) == 80, "slot layout");
static_assert(sizeof(message) % sizeof(std::uint64_t) == 0, "messages are copied word by word");
static_assert(offsetof(slot, readers) == 80, "slot layout");
static_assert(offsetof(slot, commit) == 88, "slot layout");
static_assert(sizeof(slot) == 96, "slot layout");
static_assert(offsetof(head, cc) == 0, "head layout");
static_assert(offsetof(head, lock) == 4, "head layout");
static_assert(offsetof(head, initialised) == 8, "head layout");
static_assert(offsetof(head, write_index) == 64, "head layout");
static_assert(offsetof(head, force_epoch) == 128, "head layout");
static_assert(sizeof(head) == 192, "head layout");
static_assert(offsetof(segment, slots) == 192, "ring layout");
static_assert(offsetof(segment, slots) + 96 * 255 == 24672, "ring layout");
static_assert(offsetof(segment, reserved) == 24768, "ring layout");
static_assert(sizeof(segment) == kSegmentSize, "ring layout");

}  // namespace ring
}  // namespace ipc

#endif  // KOVA_IPC_RING_LAYOUT_H

// Wire framing between the controller client and its server.
//
// Every message travels as one or more frames: a 20-byte header and at most 1024 payload bytes.
// All multi-byte fields are little-endian and are written and read byte by byte.
//
//   offset size field
//    0     2    sequence        the sender writes the fragment index; the receiver ignores it
//    2     2    fragment count  frames in this message (unsigned)
//    4     2    fragment index  0 for the first frame, then 1, 2, ...
//    6     2    message type    values of 1500 and above are refused
//    8     4    message id      the same in every frame of a message
//   12     4    payload length  bytes of payload in this frame (signed, 0..1024)
//   16     4    assigned id     the sender's assigned id; the receiver ignores it
//   20     n    payload
//
// A message of L bytes takes ceil(L / 1024) frames; both 16-bit fields cap a message at 65535
// frames, that is 67107840 bytes.
#ifndef KOVA_CTR_FRAME_H
#define KOVA_CTR_FRAME_H

#include <cstdint>

namespace ctr {

constexpr int CTR_FRAME_HEADER_SIZE = 20;
constexpr int CTR_MAX_FRAGMENT = 1024;
constexpr int CTR_MAX_FRAGMENTS = 65535;
constexpr int CTR_MAX_MESSAGE = CTR_MAX_FRAGMENTS * CTR_MAX_FRAGMENT;
constexpr int CTR_MSG_TYPE_LIMIT = 1500;

enum CtrMessageType : int {
  CTR_MSG_DATA = 1,
  CTR_MSG_REGISTER = 5,
  CTR_MSG_ASSIGN_ID = 12,
  CTR_MSG_HEARTBEAT = 50,
};

struct FrameHeader {
  uint16_t sequence;
  uint16_t fragmentCount;
  uint16_t fragmentIndex;
  uint16_t messageType;
  uint32_t messageId;
  int32_t payloadLength;
  int32_t assignedId;
};

void EncodeFrameHeader(const FrameHeader& header, uint8_t* out);
FrameHeader DecodeFrameHeader(const uint8_t* in);
uint32_t ReadLittleEndian32(const uint8_t* in);
void WriteLittleEndian32(uint32_t value, uint8_t* out);

static_assert(CTR_MAX_MESSAGE == 67107840, "a message is capped at 65535 frames of 1024 bytes");

// A whole message. The holder owns `data` when the record came from ReadFrame (delete[]).
struct CtrMessage {
  int32_t type;
  int32_t length;
  uint32_t messageId;
  char* data;
};

// Reassembly of type-1 messages from their frames; used by one receiving thread.
struct ReassemblyState {
  uint32_t messageId = 0xFFFFFFFFu;
  char* buffer = nullptr;  // null while no message is being assembled
  int capacity = 0;        // fragment count x payload length of the first frame
  int filled = 0;
  int received = 0;

  ReassemblyState() = default;
  ReassemblyState(const ReassemblyState&) = delete;
  ReassemblyState& operator=(const ReassemblyState&) = delete;
  ~ReassemblyState() { Reset(); }
  // Abandons a message in progress and returns to the initial values.
  void Reset();
};

// Writes `message` as frames of at most 1024 payload bytes, each with one send from one buffer.
// The caller holds the client's send lock. Returns the result of the last send (20 + the last
// frame's payload length on success), the failing send's result, or -1 without writing when the
// socket is not positive or the message is missing, empty or longer than CTR_MAX_MESSAGE.
int WriteMessage(int socket, int32_t assignedId, const CtrMessage& message);

// Reads one frame from a blocking socket. Returns:
//   < 0  the frame was refused or the socket failed; the connection is to be dropped;
//   > 0  with *complete null: the frame was taken, the message is not complete yet;
//   >= 0 with *complete set: a whole message (the result is its length), owned by the caller.
int ReadFrame(int socket, ReassemblyState& state, CtrMessage** complete);

// Receives exactly `length` bytes; false when the peer closed or a receive failed.
bool ReadExact(int socket, char* buffer, int length);

}  // namespace ctr

#endif  // KOVA_CTR_FRAME_H

#include "ctr_frame.h"

#include <cstring>
#include <new>

#include "client_log.h"
#include "platform.h"

namespace ctr {

namespace {

void WriteLittleEndian16(uint16_t value, uint8_t* out) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t ReadLittleEndian16(const uint8_t* in) { return static_cast<uint16_t>(in[0] | (in[1] << 8)); }

// Sends one whole frame. The first send carries the whole buffer; should the system take only part
// of it (a send time-out in the middle), the rest follows so that the frame is never cut. When that
// rest cannot be sent, *torn is set: the stream has lost its framing.
int SendFrame(int socket, const uint8_t* frame, int length, bool* torn) {
  *torn = false;
  int sent = SocketSend(socket, frame, length);
  if (sent <= 0 || sent == length) return sent;
  while (sent < length) {
    int more = SocketSend(socket, frame + sent, length - sent);
    if (more <= 0) {
      *torn = true;
      return more;
    }
    sent += more;
  }
  return sent;
}

char* AllocateBuffer(int size) { return new (std::nothrow) char[size > 0 ? size : 1]; }

}  // namespace

void WriteLittleEndian32(uint32_t value, uint8_t* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t ReadLittleEndian32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) | (static_cast<uint32_t>(in[2]) << 16) |
         (static_cast<uint32_t>(in[3]) << 24);
}

void EncodeFrameHeader(const FrameHeader& header, uint8_t* out) {
  WriteLittleEndian16(header.sequence, out + 0);
  WriteLittleEndian16(header.fragmentCount, out + 2);
  WriteLittleEndian16(header.fragmentIndex, out + 4);
  WriteLittleEndian16(header.messageType, out + 6);
  WriteLittleEndian32(header.messageId, out + 8);
  WriteLittleEndian32(static_cast<uint32_t>(header.payloadLength), out + 12);
  WriteLittleEndian32(static_cast<uint32_t>(header.assignedId), out + 16);
}

FrameHeader DecodeFrameHeader(const uint8_t* in) {
  FrameHeader header;
  header.sequence = ReadLittleEndian16(in + 0);
  header.fragmentCount = ReadLittleEndian16(in + 2);
  header.fragmentIndex = ReadLittleEndian16(in + 4);
  header.messageType = ReadLittleEndian16(in + 6);
  header.messageId = ReadLittleEndian32(in + 8);
  header.payloadLength = static_cast<int32_t>(ReadLittleEndian32(in + 12));
  header.assignedId = static_cast<int32_t>(ReadLittleEndian32(in + 16));
  return header;
}

void ReassemblyState::Reset() {
  delete[] buffer;
  buffer = nullptr;
  messageId = 0xFFFFFFFFu;
  capacity = 0;
  filled = 0;
  received = 0;
}

int WriteMessage(int socket, int32_t assignedId, const CtrMessage& message) {
  if (socket <= 0 || message.data == nullptr || message.length <= 0 || message.length > CTR_MAX_MESSAGE) return -1;
  const uint16_t count = static_cast<uint16_t>((message.length + CTR_MAX_FRAGMENT - 1) / CTR_MAX_FRAGMENT);
  uint8_t frame[CTR_FRAME_HEADER_SIZE + CTR_MAX_FRAGMENT];
  const char* next = message.data;
  int remaining = message.length;
  uint16_t index = 0;
  int result = -1;
  while (remaining > 0) {
    const int n = remaining < CTR_MAX_FRAGMENT ? remaining : CTR_MAX_FRAGMENT;
    FrameHeader header{index, count, index, static_cast<uint16_t>(message.type), message.messageId, n, assignedId};
    EncodeFrameHeader(header, frame);
    std::memcpy(frame + CTR_FRAME_HEADER_SIZE, next, static_cast<size_t>(n));
    bool torn;
    result = SendFrame(socket, frame, CTR_FRAME_HEADER_SIZE + n, &torn);
    if (result <= 0) {
      int error = SocketLastError();
      PrintLine("socket send error, last error=%d\n", error);
      LogLine(kLevelError, "Socket %d send error, last error=%d", socket, error);
      // The peer would misread everything after a cut frame: end the connection so that the
      // receive thread drops it and the next heartbeat reconnects.
      if (torn) SocketShutdown(socket);
      return result;
    }
    next += n;
    remaining -= n;
    index = static_cast<uint16_t>(index + 1 == CTR_MAX_FRAGMENTS ? 0 : index + 1);
  }
  return result;
}

bool ReadExact(int socket, char* buffer, int length) {
  if (socket <= 0 || buffer == nullptr || length <= 0) return false;
  int got = 0;
  while (got < length) {
    int r = SocketRecv(socket, buffer + got, length - got);
    if (r > 0) {
      got += r;
    } else if (r == 0 || !SocketErrorIsRetry(SocketLastError())) {
      return false;
    }
  }
  return true;
}

int ReadFrame(int socket, ReassemblyState& state, CtrMessage** complete) {
  *complete = nullptr;
  uint8_t raw[CTR_FRAME_HEADER_SIZE];
  if (!ReadExact(socket, reinterpret_cast<char*>(raw), CTR_FRAME_HEADER_SIZE)) {
    int error = SocketLastError();
    PrintLine("recv error %d-%d\n", socket, error);
    LogLine(kLevelError, "Socket %d, recv message header error %d", socket, error);
    return -1;
  }
  const FrameHeader header = DecodeFrameHeader(raw);
  if (header.messageType >= CTR_MSG_TYPE_LIMIT) return -1;
  if (header.payloadLength > CTR_MAX_FRAGMENT) {
    LogLine(kLevelError, "Cast Protocol Tcp socket=%d, recv error, size>max send size", socket);
    return -1;
  }
  // A well-formed sender never produces these; the buffers below are sized for well-formed frames.
  if (header.fragmentCount == 0 || header.payloadLength < 0) return -1;

  const bool isData = header.messageType == CTR_MSG_DATA;
  char* own = nullptr;  // the buffer of a single-frame message of another type
  char* destination;
  int fill;
  int received;
  if (isData) {
    if (header.fragmentIndex == 0) {
      state.Reset();
      state.capacity = header.fragmentCount * header.payloadLength;
      state.buffer = AllocateBuffer(state.capacity);
      if (state.buffer == nullptr) {
        state.Reset();
        return -1;
      }
      state.messageId = header.messageId;
    } else if (state.buffer == nullptr || header.messageId != state.messageId ||
               header.payloadLength > state.capacity - state.filled) {
      // A continuation without its first frame, of another message, or beyond the first frame's size.
      state.Reset();
      return -1;
    }
    destination = state.buffer;
    fill = state.filled;
    received = state.received + 1;
  } else {
    own = AllocateBuffer(header.payloadLength);
    if (own == nullptr) return -1;
    destination = own;
    fill = 0;
    received = 1;
  }

  if (header.payloadLength > 0 && !ReadExact(socket, destination + fill, header.payloadLength)) {
    LogLine(kLevelError, "Socket %d, recv message payload error %d", socket, SocketLastError());
    if (isData) state.Reset();
    delete[] own;
    return -1;
  }
  if (isData) {
    state.filled = fill + header.payloadLength;
    state.received = received;
  }

  if (received != header.fragmentCount) {
    delete[] own;  // a frame of another type that claims further frames never completes
    return header.payloadLength > 0 ? header.payloadLength : CTR_FRAME_HEADER_SIZE;
  }

  const int total = fill + header.payloadLength;
  if (header.messageType == CTR_MSG_ASSIGN_ID && total < 4) {
    delete[] own;
    return -1;
  }
  auto* message = new (std::nothrow) CtrMessage{header.messageType, total, header.messageId, destination};
  if (message == nullptr) {
    if (isData) state.Reset();
    delete[] own;
    return -1;
  }
  if (isData) {
    state.buffer = nullptr;  // the record owns the bytes now
    state.capacity = 0;
    state.filled = 0;
    state.received = 0;
  }
  *complete = message;
  return total;
}

}  // namespace ctr

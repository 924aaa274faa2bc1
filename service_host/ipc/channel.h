// Named many-to-many broadcast channels between processes.
//
// Any number of handles in any processes open the same channel name. Each handle may send; each
// handle connected as a receiver gets every message sent after its connection by any other
// handle (never its own). Messages of up to 64 bytes take one slot of the shared ring; longer
// ones take one slot naming a chunk of shared storage, or, when no chunk is free, a run of
// 64-byte fragments that the receiving thread puts together again. The layouts are in
// ring_layout.h and chunk_storage.h.
//
// Threads: sending on one handle from several threads is fine. A handle receives on one thread
// at a time, and the fragments of a message must be received on one thread (the reassembly
// cache belongs to the thread). disconnect() may be called from another thread to wake a
// blocked recv or send. Time-outs are in milliseconds per single wait; kInfinite has no limit.
#ifndef KOVA_IPC_CHANNEL_H
#define KOVA_IPC_CHANNEL_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "chunk_storage.h"
#include "ipc_sync.h"

namespace ipc {

enum : unsigned { sender = 0, receiver = 1 };

// A received message; an empty buffer means that nothing was received. A message from chunk
// storage is read in place and the chunk is given back when the buffer is destroyed.
class message_buffer {
 public:
  message_buffer() = default;
  message_buffer(std::unique_ptr<char[]> data, std::size_t size)
      : data_(data.release()), size_(size) {}
  static message_buffer from_storage(void* data, std::size_t size, std::int32_t id,
                                     std::uint32_t holders, std::uint32_t receiver_bit);
  ~message_buffer() { reset(); }
  message_buffer(message_buffer&& other) noexcept { *this = std::move(other); }
  message_buffer& operator=(message_buffer&& other) noexcept;
  message_buffer(const message_buffer&) = delete;
  message_buffer& operator=(const message_buffer&) = delete;

  bool empty() const { return data_ == nullptr; }
  const void* data() const { return data_; }
  std::size_t size() const { return size_; }
  void reset();

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  bool in_storage_ = false;
  std::int32_t storage_id_ = -1;
  std::uint32_t holders_ = 0;
  std::uint32_t receiver_bit_ = 0;
};

struct handle_info;
using handle_t = handle_info*;

// Makes the handle for `name` if `*h` is none (or names another channel), then connects it as
// sender (mode bit 0 clear) or receiver (bit 0 set).
bool connect(handle_t* h, const char* name, unsigned mode);
// Gives up the receiver connection and wakes every wait on the handle's waiters.
void disconnect(handle_t h);
// disconnect, then releases everything the handle holds.
void destroy(handle_t h);
bool send(handle_t h, const void* data, std::size_t size, std::uint32_t tm);
// Sends a message of at most 64 bytes from a signal handler: no lock, no allocation, no output.
// It retries a full ring for up to `tm` milliseconds and never overwrites a slot; false when
// the message could not be written.
bool send_from_signal_handler(handle_t h, const void* data, std::size_t size, std::uint32_t tm);
// Gives up the receiver connection from a signal handler: only the receiver bit is released (an
// atomic AND on the ring's receiver mask), so that senders stop waiting for this handle. No lock,
// no allocation, no output, and no waiter is woken.
void release_receiver_from_signal_handler(handle_t h);
message_buffer recv(handle_t h, std::uint32_t tm = kInfinite);
message_buffer poll_recv(handle_t h);
// Receivers connected to the channel, or 4294967295 without a mapped ring.
std::uint32_t recv_count(handle_t h);
bool wait_for_receivers(handle_t h, std::uint32_t count, std::uint32_t tm = kInfinite);

// The object callers hold: the handle, the mode of the last connect and its result.
class channel {
 public:
  channel() = default;
  channel(const char* name, unsigned mode) { connect(name, mode); }
  ~channel() { destroy(h_); }
  channel(const channel&) = delete;
  channel& operator=(const channel&) = delete;

  bool connect(const char* name, unsigned mode) {
    mode_ = mode & receiver;
    connected_ = ipc::connect(&h_, name, mode);
    return connected_;
  }
  void disconnect() {
    ipc::disconnect(h_);
    connected_ = false;
  }
  bool send(const void* data, std::size_t size, std::uint32_t tm) {
    return ipc::send(h_, data, size, tm);
  }
  bool send_from_signal_handler(const void* data, std::size_t size, std::uint32_t tm) {
    return ipc::send_from_signal_handler(h_, data, size, tm);
  }
  void release_receiver_from_signal_handler() {
    ipc::release_receiver_from_signal_handler(h_);
    connected_ = false;
  }
  message_buffer recv(std::uint32_t tm = kInfinite) { return ipc::recv(h_, tm); }
  message_buffer poll_recv() { return ipc::poll_recv(h_); }
  std::uint32_t recv_count() const { return ipc::recv_count(h_); }
  bool wait_for_receivers(std::uint32_t count, std::uint32_t tm = kInfinite) {
    return ipc::wait_for_receivers(h_, count, tm);
  }

  bool valid() const { return h_ != nullptr; }
  bool connected() const { return connected_; }
  unsigned mode() const { return mode_; }
  handle_t handle() const { return h_; }

 private:
  handle_t h_ = nullptr;
  unsigned mode_ = sender;
  bool connected_ = false;
};

}  // namespace ipc

#endif  // KOVA_IPC_CHANNEL_H

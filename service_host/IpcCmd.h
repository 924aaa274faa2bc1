// The command record that the screen-capture host and its parent exchange over the channels
// "log_print_ipc_channel" + suffix and "screen_capture_ipc_channel" + suffix.
//
// IpcCmd, 24 bytes, little-endian:
//
//   offset  size  field
//   0       4     cmd       int32: one of the values below
//   4       4     code      uint32: for 5 and 6, the exception code that caused the notice
//   8       16    reserved  written as zero by the host, never read
//
//   cmd  name                      direction and channel
//   4    IPC_CMD_STOP_CAPTURE      parent -> host, screen-capture channel: stop and end
//   5    IPC_CMD_HOST_EXCEPTION    host -> parent, log channel: the host met a fatal error
//   6    IPC_CMD_CAPTURE_CRASHED   host -> parent, screen-capture channel: the fatal error was an
//                                  access violation while capturing; the capture was told to stop
//
// A received message is a stop command when it holds at least 4 bytes and its first int32 is 4;
// every other message is dropped.
#ifndef KOVA_IPC_CMD_H
#define KOVA_IPC_CMD_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

enum : int32_t {
    IPC_CMD_STOP_CAPTURE = 4,
    IPC_CMD_HOST_EXCEPTION = 5,
    IPC_CMD_CAPTURE_CRASHED = 6,
};

struct IpcCmd {
    int32_t cmd;
    uint32_t code;
    uint8_t reserved[16];
};

static_assert(sizeof(IpcCmd) == 24, "IpcCmd is 24 bytes on the wire");
static_assert(offsetof(IpcCmd, cmd) == 0 && offsetof(IpcCmd, code) == 4 && offsetof(IpcCmd, reserved) == 8,
              "IpcCmd field offsets are part of the contract with the parent");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "IpcCmd is sent in host byte order");
static_assert(std::is_trivially_copyable<IpcCmd>::value, "IpcCmd is sent as its bytes");

#endif  // KOVA_IPC_CMD_H

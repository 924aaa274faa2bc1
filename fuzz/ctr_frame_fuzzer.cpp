// The controller client's frame reader fed a byte stream from a peer: the bytes go through a real
// socket pair into ReadFrame, which is called until it drops the connection. Every completed
// message must hold exactly the bytes its length says, and of a type below the refused range.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ctr_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) std::abort();
    // The peer writes everything, then closes its side so that the reader sees the end.
    std::thread peer([&] {
        size_t sent = 0;
        while (sent < size) {
            ssize_t n = send(ends[1], data + sent, size - sent, MSG_NOSIGNAL);
            if (n <= 0) break;  // the reader dropped the connection first
            sent += static_cast<size_t>(n);
        }
        shutdown(ends[1], SHUT_WR);
    });

    ctr::ReassemblyState state;
    for (;;) {
        ctr::CtrMessage* message = nullptr;
        const int result = ctr::ReadFrame(ends[0], state, &message);
        if (message != nullptr) {
            if (result != message->length || message->length < 0 || message->type >= ctr::CTR_MSG_TYPE_LIMIT ||
                (message->length > 0 && message->data == nullptr)) {
                std::abort();
            }
            // Touch every byte, so that a length beyond the buffer shows.
            volatile uint8_t sum = 0;
            for (int i = 0; i < message->length; ++i) sum = static_cast<uint8_t>(sum + message->data[i]);
            delete[] message->data;
            delete message;
        }
        if (result < 0) break;
    }
    close(ends[0]);
    peer.join();
    close(ends[1]);
    return 0;
}

// The service host's one output convention: every message is one line on standard output, made of
// its pieces written back to back and flushed at its end (std::endl), so that a parent reading a
// pipe sees each line at once. Integers are decimal, booleans "1"/"0". Nothing goes to stderr.
#ifndef KOVA_HOST_CONSOLE_H
#define KOVA_HOST_CONSOLE_H

#include <iostream>

template <typename... Pieces>
void HostPrintLine(const Pieces&... pieces) {
    (std::cout << ... << pieces) << std::endl;
}

#endif  // KOVA_HOST_CONSOLE_H

// The parts of the host's process facilities that every operating system shares.
#include "HostProcess.h"

size_t FormatFilterLine(char* line, size_t size, const char* text, const uint32_t* number, const char* lineEnd) {
    // Ten digits at most, and the line end.
    constexpr size_t kRoomForNumberAndEnd = 12;
    size_t length = 0;
    for (const char* p = text; p != nullptr && *p != '\0' && length < size - kRoomForNumberAndEnd; ++p) {
        line[length++] = *p;
    }
    if (number != nullptr) {
        char digits[10];
        size_t count = 0;
        uint32_t value = *number;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0) line[length++] = digits[--count];
    }
    for (const char* p = lineEnd; *p != '\0' && length < size; ++p) line[length++] = *p;
    return length;
}

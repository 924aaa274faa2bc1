#include "DecimalText.h"

#include <limits>

namespace {

int64_t DecimalSaturating(const char* text, int64_t min, int64_t max) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Accumulated as a negative number, whose range reaches one further than the positive one.
    int64_t value = 0;
    bool clipped = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        if (clipped) continue;
        if (value < (std::numeric_limits<int64_t>::min() + digit) / 10) {
            clipped = true;
            value = std::numeric_limits<int64_t>::min();
            continue;
        }
        value = value * 10 - digit;
    }
    if (negative) return value < min ? min : value;
    if (value < -max) return max;
    return -value;
}

}  // namespace

int32_t DecimalToInt32(const char* text) {
    return static_cast<int32_t>(
        DecimalSaturating(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int64_t DecimalToInt64(const char* text) {
    return DecimalSaturating(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

// Decimal numbers read from command-line text the way the C runtime's atoi and _atoi64 read
// them: leading white space, an optional sign, then decimal digits up to the first other
// character; text without digits gives 0. Unlike those functions, a value beyond the type's
// range saturates at its limit instead of being undefined.
#ifndef KOVA_DECIMAL_TEXT_H
#define KOVA_DECIMAL_TEXT_H

#include <cstdint>

// Null is read as text without digits.
int32_t DecimalToInt32(const char* text);
int64_t DecimalToInt64(const char* text);

#endif  // KOVA_DECIMAL_TEXT_H

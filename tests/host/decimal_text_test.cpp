// Command-line numbers read like atoi/_atoi64, saturating at the type's limits.
#include <gtest/gtest.h>

#include "DecimalText.h"

namespace {

struct DecimalCase {
    const char* text;
    int32_t int32;
    int64_t int64;
};

const DecimalCase kDecimalCases[] = {
    {"15", 15, 15},
    {" \t\n+42xyz", 42, 42},
    {"-7 8", -7, -7},
    {"", 0, 0},
    {"abc", 0, 0},
    {"- 5", 0, 0},
    {"+-5", 0, 0},
    {"0x1F", 0, 0},
    {"2147483647", 2147483647, 2147483647},
    {"2147483648", 2147483647, 2147483648LL},
    {"-2147483648", INT32_MIN, -2147483648LL},
    {"-2147483649", INT32_MIN, -2147483649LL},
    {"9223372036854775807", INT32_MAX, INT64_MAX},
    {"9223372036854775808", INT32_MAX, INT64_MAX},
    {"-9223372036854775808", INT32_MIN, INT64_MIN},
    {"-9223372036854775809", INT32_MIN, INT64_MIN},
    {"000000000000000000000000000012", 12, 12},
    {"123456789012345678901234567890", INT32_MAX, INT64_MAX},
};

TEST(DecimalText, ReadsLikeAtoiAndSaturates) {
    for (const DecimalCase& c : kDecimalCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DecimalToInt32(c.text), c.int32);
        EXPECT_EQ(DecimalToInt64(c.text), c.int64);
    }
    EXPECT_EQ(DecimalToInt32(nullptr), 0);
    EXPECT_EQ(DecimalToInt64(nullptr), 0);
}

}  // namespace

// MD5 against the test suite of RFC 1321 and block-boundary lengths.
#include "md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Md5Case {
    std::string message;
    const char* digest;
};

std::string Repeat(const std::string& text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += text;
    return out;
}

TEST(MD5, RfcTestSuiteAndBlockBoundaries) {
    const Md5Case cases[] = {
        // RFC 1321, appendix A.5.
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {Repeat("1234567890", 8), "57edf4a22be3c955ac49da2e2107b67a"},
        // Lengths around the padding boundary (56 mod 64) and the block size.
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
        // Zero bytes are message bytes like any other.
        {Repeat(std::string("\x00\x01\xff", 3), 100), "298ea0164c76c4922a4014f588c181f2"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const Md5Case& c : cases) {
        SCOPED_TRACE(c.message.size() > 80 ? std::to_string(c.message.size()) + " bytes" : c.message);
        EXPECT_EQ(MD5(c.message).toStr(), c.digest);
    }
}

TEST(MD5, DigestBytesAreStableAcrossCalls) {
    MD5 md5("message digest");
    unsigned char first[16];
    std::memcpy(first, md5.getDigest(), 16);
    const unsigned char expected[16] = {0xf9, 0x6b, 0x69, 0x7d, 0x7c, 0xb7, 0x93, 0x8d,
                                        0x52, 0x5a, 0x2f, 0x31, 0xaa, 0xf1, 0x61, 0xd0};
    EXPECT_EQ(std::memcmp(first, expected, 16), 0);
    EXPECT_EQ(std::memcmp(md5.getDigest(), expected, 16), 0);
    EXPECT_EQ(md5.toStr(), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5.toStr(), "f96b697d7cb7938d525a2f31aaf161d0");
}

}  // namespace

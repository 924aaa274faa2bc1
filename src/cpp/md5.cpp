// MD5 (RFC 1321): four rounds of sixteen steps over 64-byte blocks, little-endian words.
#include "md5.h"

#include <cstring>

namespace {

// Per-round shift amounts of RFC 1321.
constexpr int S11 = 7, S12 = 12, S13 = 17, S14 = 22;
constexpr int S21 = 5, S22 = 9, S23 = 14, S24 = 20;
constexpr int S31 = 4, S32 = 11, S33 = 16, S34 = 23;
constexpr int S41 = 6, S42 = 10, S43 = 15, S44 = 21;

// F and G in forms with fewer operations on the path from x, the previous step's result:
// (x & y) | (~x & z) == z ^ (x & (y ^ z)); G's two terms have no bit in common, so G's step adds
// them separately (see StepG).
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One step: a = b + ((a + f(b, c, d) + x + ac) <<< s).
template <uint32_t (*Fn)(uint32_t, uint32_t, uint32_t)>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a += Fn(b, c, d) + x + ac;
    a = RotateLeft(a, s) + b;
}

// A round-2 step: G(b, c, d) = (b & d) | (c & ~d) = (b & d) + (c & ~d), and the part without b is
// added first, while b is still being computed by the step before.
inline void StepG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t ac) {
    a += x + ac + (c & ~d);
    a += b & d;
    a = RotateLeft(a, s) + b;
}

}  // namespace

const unsigned char MD5::PADDING[64] = {0x80};
const char MD5::HEX_NUMBERS[17] = "0123456789abcdef";

MD5::MD5(const std::string& message) : finished(false), count{0, 0}, buffer{}, digest{} {
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    init(reinterpret_cast<const unsigned char*>(message.data()), message.size());
}

const unsigned char* MD5::getDigest() {
    if (!finished) {
        // Padding is appended to a copy of the running state, so the object can still be read
        // again afterwards with the same result.
        uint32_t savedState[4];
        uint32_t savedCount[2];
        std::memcpy(savedState, state, sizeof(state));
        std::memcpy(savedCount, count, sizeof(count));

        unsigned char bits[8];
        encode(count, bits, 8);
        size_t index = (count[0] >> 3) & 0x3f;
        size_t padLength = index < 56 ? 56 - index : 120 - index;
        init(PADDING, padLength);
        init(bits, 8);
        encode(state, digest, 16);

        std::memcpy(state, savedState, sizeof(state));
        std::memcpy(count, savedCount, sizeof(count));
        finished = true;
    }
    return digest;
}

std::string MD5::toStr() {
    const unsigned char* bytes = getDigest();
    std::string text;
    text.reserve(32);
    for (size_t i = 0; i < 16; ++i) {
        text.push_back(HEX_NUMBERS[bytes[i] >> 4]);
        text.push_back(HEX_NUMBERS[bytes[i] & 0x0f]);
    }
    return text;
}

void MD5::init(const unsigned char* input, size_t length) {
    finished = false;
    size_t index = (count[0] >> 3) & 0x3f;
    // The bit count is 64 bits wide, kept as two words: carry from the low into the high word.
    uint32_t lowBits = static_cast<uint32_t>(length << 3);
    count[0] += lowBits;
    if (count[0] < lowBits) ++count[1];
    count[1] += static_cast<uint32_t>(static_cast<uint64_t>(length) >> 29);

    size_t partLength = 64 - index;
    size_t i = 0;
    if (length >= partLength) {
        std::memcpy(&buffer[index], input, partLength);
        transform(buffer);
        for (i = partLength; i + 63 < length; i += 64) transform(&input[i]);
        index = 0;
    }
    std::memcpy(&buffer[index], &input[i], length - i);
}

void MD5::transform(const unsigned char block[64]) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t x[16];
    decode(block, x, 64);

    // Round 1
    Step<F>(a, b, c, d, x[0], S11, 0xd76aa478);
    Step<F>(d, a, b, c, x[1], S12, 0xe8c7b756);
    Step<F>(c, d, a, b, x[2], S13, 0x242070db);
    Step<F>(b, c, d, a, x[3], S14, 0xc1bdceee);
    Step<F>(a, b, c, d, x[4], S11, 0xf57c0faf);
    Step<F>(d, a, b, c, x[5], S12, 0x4787c62a);
    Step<F>(c, d, a, b, x[6], S13, 0xa8304613);
    Step<F>(b, c, d, a, x[7], S14, 0xfd469501);
    Step<F>(a, b, c, d, x[8], S11, 0x698098d8);
    Step<F>(d, a, b, c, x[9], S12, 0x8b44f7af);
    Step<F>(c, d, a, b, x[10], S13, 0xffff5bb1);
    Step<F>(b, c, d, a, x[11], S14, 0x895cd7be);
    Step<F>(a, b, c, d, x[12], S11, 0x6b901122);
    Step<F>(d, a, b, c, x[13], S12, 0xfd987193);
    Step<F>(c, d, a, b, x[14], S13, 0xa679438e);
    Step<F>(b, c, d, a, x[15], S14, 0x49b40821);

    // Round 2
    StepG(a, b, c, d, x[1], S21, 0xf61e2562);
    StepG(d, a, b, c, x[6], S22, 0xc040b340);
    StepG(c, d, a, b, x[11], S23, 0x265e5a51);
    StepG(b, c, d, a, x[0], S24, 0xe9b6c7aa);
    StepG(a, b, c, d, x[5], S21, 0xd62f105d);
    StepG(d, a, b, c, x[10], S22, 0x02441453);
    StepG(c, d, a, b, x[15], S23, 0xd8a1e681);
    StepG(b, c, d, a, x[4], S24, 0xe7d3fbc8);
    StepG(a, b, c, d, x[9], S21, 0x21e1cde6);
    StepG(d, a, b, c, x[14], S22, 0xc33707d6);
    StepG(c, d, a, b, x[3], S23, 0xf4d50d87);
    StepG(b, c, d, a, x[8], S24, 0x455a14ed);
    StepG(a, b, c, d, x[13], S21, 0xa9e3e905);
    StepG(d, a, b, c, x[2], S22, 0xfcefa3f8);
    StepG(c, d, a, b, x[7], S23, 0x676f02d9);
    StepG(b, c, d, a, x[12], S24, 0x8d2a4c8a);

    // Round 3
    Step<H>(a, b, c, d, x[5], S31, 0xfffa3942);
    Step<H>(d, a, b, c, x[8], S32, 0x8771f681);
    Step<H>(c, d, a, b, x[11], S33, 0x6d9d6122);
    Step<H>(b, c, d, a, x[14], S34, 0xfde5380c);
    Step<H>(a, b, c, d, x[1], S31, 0xa4beea44);
    Step<H>(d, a, b, c, x[4], S32, 0x4bdecfa9);
    Step<H>(c, d, a, b, x[7], S33, 0xf6bb4b60);
    Step<H>(b, c, d, a, x[10], S34, 0xbebfbc70);
    Step<H>(a, b, c, d, x[13], S31, 0x289b7ec6);
    Step<H>(d, a, b, c, x[0], S32, 0xeaa127fa);
    Step<H>(c, d, a, b, x[3], S33, 0xd4ef3085);
    Step<H>(b, c, d, a, x[6], S34, 0x04881d05);
    Step<H>(a, b, c, d, x[9], S31, 0xd9d4d039);
    Step<H>(d, a, b, c, x[12], S32, 0xe6db99e5);
    Step<H>(c, d, a, b, x[15], S33, 0x1fa27cf8);
    Step<H>(b, c, d, a, x[2], S34, 0xc4ac5665);

    // Round 4
    Step<I>(a, b, c, d, x[0], S41, 0xf4292244);
    Step<I>(d, a, b, c, x[7], S42, 0x432aff97);
    Step<I>(c, d, a, b, x[14], S43, 0xab9423a7);
    Step<I>(b, c, d, a, x[5], S44, 0xfc93a039);
    Step<I>(a, b, c, d, x[12], S41, 0x655b59c3);
    Step<I>(d, a, b, c, x[3], S42, 0x8f0ccc92);
    Step<I>(c, d, a, b, x[10], S43, 0xffeff47d);
    Step<I>(b, c, d, a, x[1], S44, 0x85845dd1);
    Step<I>(a, b, c, d, x[8], S41, 0x6fa87e4f);
    Step<I>(d, a, b, c, x[15], S42, 0xfe2ce6e0);
    Step<I>(c, d, a, b, x[6], S43, 0xa3014314);
    Step<I>(b, c, d, a, x[13], S44, 0x4e0811a1);
    Step<I>(a, b, c, d, x[4], S41, 0xf7537e82);
    Step<I>(d, a, b, c, x[11], S42, 0xbd3af235);
    Step<I>(c, d, a, b, x[2], S43, 0x2ad7d2bb);
    Step<I>(b, c, d, a, x[9], S44, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void MD5::encode(const uint32_t* input, unsigned char* output, size_t length) {
    for (size_t i = 0, j = 0; j < length; ++i, j += 4) {
        output[j] = static_cast<unsigned char>(input[i] & 0xff);
        output[j + 1] = static_cast<unsigned char>((input[i] >> 8) & 0xff);
        output[j + 2] = static_cast<unsigned char>((input[i] >> 16) & 0xff);
        output[j + 3] = static_cast<unsigned char>((input[i] >> 24) & 0xff);
    }
}

void MD5::decode(const unsigned char* input, uint32_t* output, size_t length) {
    for (size_t i = 0, j = 0; j < length; ++i, j += 4) {
        output[i] = static_cast<uint32_t>(input[j]) | (static_cast<uint32_t>(input[j + 1]) << 8) |
                    (static_cast<uint32_t>(input[j + 2]) << 16) | (static_cast<uint32_t>(input[j + 3]) << 24);
    }
}

// MD5 message digest (RFC 1321), in the reference arrangement: the whole message is given to the
// constructor, and the digest is read as bytes or as 32 lower-case hexadecimal digits. An object
// is not shared between threads.
#ifndef KOVA_MD5_H
#define KOVA_MD5_H

#include <cstddef>
#include <cstdint>
#include <string>

class MD5 {
public:
    explicit MD5(const std::string& message);

    // The 16 digest bytes. Reading the digest leaves the object's state unchanged, so every call
    // gives the same bytes.
    const unsigned char* getDigest();
    // The digest as 32 lower-case hexadecimal digits, high nibble first, in byte order.
    std::string toStr();

private:
    void init(const unsigned char* input, size_t length);
    void transform(const unsigned char block[64]);
    static void encode(const uint32_t* input, unsigned char* output, size_t length);
    static void decode(const unsigned char* input, uint32_t* output, size_t length);

    bool finished;
    uint32_t state[4];
    uint32_t count[2];  // number of input bits, low word first
    unsigned char buffer[64];
    unsigned char digest[16];

    static const unsigned char PADDING[64];
    static const char HEX_NUMBERS[17];
};

#endif  // KOVA_MD5_H

// The UTF-8 <-> wide codec of the platform helpers, shared by every build. A wide character holds
// one code point: up to U+10FFFF where wchar_t has 32 bits (Linux), up to U+FFFF where it has 16
// (Windows, where the codec is the standard UCS-2 one and a code point beyond the 16-bit range has
// no single wide character). Anything else throws std::range_error("bad conversion").
#include <cstdint>
#include <cwchar>
#include <stdexcept>

#include "OsCompat.h"

namespace {

constexpr uint32_t kMaxWideCodePoint = WCHAR_MAX >= 0x10FFFF ? 0x10FFFF : 0xFFFF;

}  // namespace

std::wstring utf8_to_wide_string(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char c = *p++;
        uint32_t cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else throw std::range_error("bad conversion");
        if (end - p < extra) throw std::range_error("bad conversion");
        for (int i = 0; i < extra; ++i) {
            unsigned char cc = *p++;
            if ((cc & 0xC0) != 0x80) throw std::range_error("bad conversion");
            cp = (cp << 6) | (cc & 0x3F);
        }
        static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[extra] || cp > kMaxWideCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) {
            throw std::range_error("bad conversion");
        }
        out.push_back(static_cast<wchar_t>(cp));
    }
    return out;
}

std::string wide_to_utf8_string(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        uint32_t cp = static_cast<uint32_t>(wc);
        if (cp > kMaxWideCodePoint || (cp >= 0xD800 && cp <= 0xDFFF)) throw std::range_error("bad conversion");
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

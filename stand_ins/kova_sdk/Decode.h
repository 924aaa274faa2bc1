// Decoding of control-command values into C arguments: strings with exact bytes and overridable
// lengths, numbers, and the argument lists of listener events.
#ifndef KOVA_STANDIN_DECODE_H
#define KOVA_STANDIN_DECODE_H

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Json.h"

namespace kova_standin {

// A string argument: its bytes (zero-padded up to an overriding length, so that the callee can
// read every byte it is told about), the length handed over, or a null pointer.
struct ArgString {
    std::string bytes;
    int length = 0;
    bool null = false;

    const char* data() const { return null ? nullptr : bytes.c_str(); }
    char* mutableData() { return null ? nullptr : &bytes[0]; }
};

// A JSON string (its UTF-8 bytes), {"s":"text"|null,"len":N} or {"bytes":[...],"len":N}. With
// `raw`, a null pointer may come with any length (nothing stands behind it to read).
bool DecodeString(const Json& value, ArgString& out, bool raw = false);
// An integral JSON number within [min, max].
bool DecodeInt(const Json& value, int64_t min, int64_t max, int64_t& out);
// An optional integral member of `object`: `fallback` when absent, false when present but invalid.
bool OptionalInt(const Json& object, const char* name, int64_t min, int64_t max, int64_t fallback, int64_t& out);

// Decodes the "args" of a listener command, one C parameter at a time, in C order. A `const char*`
// takes one string element and hands its length to the `int` parameter that follows it; the user
// array of onEnterRoom and the byte array of OnDataStreamMessage do the same for their count.
class ArgDecoder {
public:
    explicit ArgDecoder(const Json& command);

    template <typename T>
    T Get();
    // True when every parameter decoded and every element of "args" was used.
    bool Finish() const;
    // The storage that the decoded pointers point into.
    std::shared_ptr<void> Storage() const { return store_; }

private:
    struct Store {
        std::deque<ArgString> strings;
        std::deque<std::vector<unsigned char>> bytes;
        std::vector<Api::User> users;
    };
    const Json* Next();
    // The command's "raw": true: arguments a well-behaved SDK never passes are allowed.
    bool Raw() const;

    const Json& command_;
    const Json* args_ = nullptr;
    size_t next_ = 0;
    bool ok_ = true;
    std::optional<int64_t> pendingLength_;
    std::shared_ptr<Store> store_;
};

template <> int ArgDecoder::Get<int>();
template <> bool ArgDecoder::Get<bool>();
template <> float ArgDecoder::Get<float>();
template <> const char* ArgDecoder::Get<const char*>();
template <> Api::User* ArgDecoder::Get<Api::User*>();
template <> unsigned char* ArgDecoder::Get<unsigned char*>();
template <> unsigned long ArgDecoder::Get<unsigned long>();

// Decodes the arguments of `method` and binds them into a call on a listener; an empty function
// when the arguments do not fit. The braced initialiser decodes the parameters left to right.
template <typename L, typename... P>
std::function<void(L*)> BindListenerCall(void (L::*method)(P...), ArgDecoder& decoder) {
    std::tuple<P...> values{decoder.Get<P>()...};
    if (!decoder.Finish()) return {};
    return [method, values, storage = decoder.Storage()](L* listener) {
        std::apply([&](P... args) { (listener->*method)(args...); }, values);
    };
}

}  // namespace kova_standin

#endif  // KOVA_STANDIN_DECODE_H

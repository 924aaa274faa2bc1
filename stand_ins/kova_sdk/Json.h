// JSON type of the stand-in and the conversion of C arguments of the SDK interface into journal
// values. Strings become latin1 JSON strings (byte b is code point U+00bb) so exact bytes survive;
// nothing here reads more than the stated length, and never more than kMaxReadBytes.
#ifndef KOVA_STANDIN_JSON_H
#define KOVA_STANDIN_JSON_H

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "kova-api-i.h"

namespace kova_standin {

using Json = nlohmann::ordered_json;
using Api = solvane::kovawin::IKOV_API;

// Longest string, byte array or list the stand-in reads out of a caller's memory.
constexpr int64_t kMaxReadBytes = 1 << 20;
// Longest array of records (previews, excluded ids, argv) it walks.
constexpr int64_t kMaxRecords = 65536;

// Bytes as a latin1 JSON string.
Json Latin1(const char* bytes, size_t size);
// The string of a (pointer, length) pair: null for a null pointer, "" for a negative or absurd
// length, else exactly `length` bytes.
Json PairString(const char* text, int64_t length);
// A zero-terminated string (read up to kMaxReadBytes), or null.
Json ZeroTerminated(const char* text);
// A number, or its decimal text when it lies beyond +-2^53 (where a JSON number loses precision).
Json Int64(int64_t value);
// null or "set": a pointer whose target the stand-in does not interpret.
Json PointerFlag(const void* pointer);

// One journal value per C argument type.
inline Json ToJson(bool value) { return value; }
inline Json ToJson(float value) { return value; }
inline Json ToJson(const char* text) { return ZeroTerminated(text); }
inline Json ToJson(char* text) { return ZeroTerminated(text); }
template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
Json ToJson(T value) { return Int64(static_cast<int64_t>(value)); }
template <typename T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
Json ToJson(T value) { return static_cast<int64_t>(value); }
template <typename Signature>
Json ToJson(const std::function<Signature>& fn) { return static_cast<bool>(fn); }
template <typename Signature>
Json ToJson(const solvane::kovawin::FunctionSlot<Signature>& slot) { return static_cast<bool>(slot); }
inline Json ToJson(solvane::kovawin::KOVAListener* listener) { return PointerFlag(listener); }
inline Json ToJson(solvane::kovawin::KOVAListenerV2* listener) { return PointerFlag(listener); }

Json ToJson(const Api::CaptureInfo* info);
Json ToJson(Api::ControlContent* content);
Json ToJson(const Api::StartLocalPreviewParam& param);
Json ToJson(const Api::StartRemoteViewParam& param);
Json ToJson(const Api::DesktopPreview& preview);
Json ToJson(const Api::EnterRoomParam& param);
Json ToJson(const Api::ChatMessage& message);
// An int64 array with its count: null for a null pointer, [] for a count outside 1..kMaxRecords.
Json Int64Array(const int64_t* values, int64_t count);

// Appends the journal values of C arguments to `args`. A `const char*` followed by an `int` is one
// (pointer, length) string pair and becomes the string followed by the length.
inline void PutArgs(Json&) {}
template <typename... Rest>
void PutArgs(Json& args, const char* text, int length, const Rest&... rest);
template <typename T, typename... Rest>
void PutArgs(Json& args, const T& value, const Rest&... rest) {
    args.push_back(ToJson(value));
    PutArgs(args, rest...);
}
template <typename... Rest>
void PutArgs(Json& args, const char* text, int length, const Rest&... rest) {
    args.push_back(PairString(text, length));
    args.push_back(length);
    PutArgs(args, rest...);
}

}  // namespace kova_standin

#endif  // KOVA_STANDIN_JSON_H

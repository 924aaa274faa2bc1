#include "Decode.h"

#include <cmath>
#include <limits>

namespace kova_standin {

namespace {

// Longest string or byte array a command may hand over (its bytes are allocated here).
constexpr int64_t kMaxArgumentBytes = int64_t{16} << 20;

}  // namespace

bool DecodeInt(const Json& value, int64_t min, int64_t max, int64_t& out) {
    if (value.is_number_integer()) {
        const int64_t v = value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)
                              ? INT64_MAX
                              : value.get<int64_t>();
        if (v < min || v > max) return false;
        out = v;
        return true;
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (!std::isfinite(d) || d != std::floor(d) || d < static_cast<double>(min) || d > static_cast<double>(max)) {
            return false;
        }
        out = static_cast<int64_t>(d);
        return true;
    }
    return false;
}

bool OptionalInt(const Json& object, const char* name, int64_t min, int64_t max, int64_t fallback, int64_t& out) {
    auto it = object.find(name);
    if (it == object.end()) {
        out = fallback;
        return true;
    }
    return DecodeInt(*it, min, max, out);
}

bool DecodeString(const Json& value, ArgString& out, bool raw) {
    out = ArgString();
    if (value.is_string()) {
        out.bytes = value.get<std::string>();
        if (static_cast<int64_t>(out.bytes.size()) > kMaxArgumentBytes) return false;
        out.length = static_cast<int>(out.bytes.size());
        return true;
    }
    if (!value.is_object()) return false;
    auto text = value.find("s");
    auto bytes = value.find("bytes");
    if (text != value.end()) {
        if (text->is_null()) {
            out.null = true;
        } else if (text->is_string()) {
            out.bytes = text->get<std::string>();
        } else {
            return false;
        }
    } else if (bytes != value.end() && bytes->is_array()) {
        for (const Json& element : *bytes) {
            int64_t byte = 0;
            if (!DecodeInt(element, 0, 255, byte)) return false;
            out.bytes.push_back(static_cast<char>(byte));
        }
    } else {
        return false;
    }
    if (static_cast<int64_t>(out.bytes.size()) > kMaxArgumentBytes) return false;
    int64_t length = 0;
    if (!OptionalInt(value, "len", std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
                     static_cast<int64_t>(out.bytes.size()), length)) {
        return false;
    }
    if (length > kMaxArgumentBytes && !(raw && out.null)) return false;
    if (!out.null && length > static_cast<int64_t>(out.bytes.size())) out.bytes.resize(static_cast<size_t>(length), '\0');
    out.length = static_cast<int>(length);
    return true;
}

ArgDecoder::ArgDecoder(const Json& command) : command_(command), store_(std::make_shared<Store>()) {
    auto args = command.find("args");
    if (args == command.end()) {
        static const Json kNoArgs = Json::array();
        args_ = &kNoArgs;
    } else if (args->is_array()) {
        args_ = &*args;
    } else {
        ok_ = false;
    }
}

const Json* ArgDecoder::Next() {
    if (!ok_ || args_ == nullptr || next_ >= args_->size()) {
        ok_ = false;
        return nullptr;
    }
    return &(*args_)[next_++];
}

bool ArgDecoder::Finish() const { return ok_ && args_ != nullptr && next_ == args_->size() && !pendingLength_; }

template <>
int ArgDecoder::Get<int>() {
    if (pendingLength_) {
        const auto length = static_cast<int>(*pendingLength_);
        pendingLength_.reset();
        return length;
    }
    int64_t value = 0;
    const Json* element = Next();
    if (element == nullptr || !DecodeInt(*element, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), value)) {
        ok_ = false;
    }
    return static_cast<int>(value);
}

template <>
bool ArgDecoder::Get<bool>() {
    const Json* element = Next();
    if (element != nullptr && element->is_boolean()) return element->get<bool>();
    int64_t value = 0;
    if (element == nullptr || !DecodeInt(*element, 0, 1, value)) ok_ = false;
    return value != 0;
}

template <>
float ArgDecoder::Get<float>() {
    const Json* element = Next();
    if (element == nullptr || !element->is_number()) {
        ok_ = false;
        return 0.0f;
    }
    return element->get<float>();
}

template <>
const char* ArgDecoder::Get<const char*>() {
    const Json* element = Next();
    ArgString& text = store_->strings.emplace_back();
    if (element == nullptr || !DecodeString(*element, text, Raw())) {
        ok_ = false;
        return nullptr;
    }
    pendingLength_ = text.length;
    return text.data();
}

template <>
Api::User* ArgDecoder::Get<Api::User*>() {
    auto users = command_.find("users");
    const bool hasUsers = users != command_.end() && users->is_array();
    if (users != command_.end() && !hasUsers) ok_ = false;
    if (hasUsers) {
        for (const Json& entry : *users) {
            if (!entry.is_object()) {
                ok_ = false;
                break;
            }
            Api::User user{};
            ArgString& nick = store_->strings.emplace_back();
            ArgString& idText = store_->strings.emplace_back();
            int64_t id = 0;
            auto nickField = entry.find("nickName");
            auto idTextField = entry.find("userIdStr");
            if ((nickField != entry.end() && !DecodeString(*nickField, nick)) ||
                (idTextField != entry.end() && !DecodeString(*idTextField, idText)) ||
                !OptionalInt(entry, "userId", std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 0, id)) {
                ok_ = false;
                break;
            }
            user.nickName = nick.data();
            user.nickNameLength = nick.length;
            user.userId = static_cast<int32_t>(id);
            user.userIdStr = idText.data();
            user.userIdStrLength = idText.length;
            store_->users.push_back(user);
        }
    }
    int64_t count = 0;
    if (!OptionalInt(command_, "count", std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
                     static_cast<int64_t>(store_->users.size()), count)) {
        ok_ = false;
    }
    auto nullField = command_.find("null");
    const bool null = nullField != command_.end() && nullField->is_boolean() && nullField->get<bool>();
    // A count beyond the entries given would make the callee read past the array: refused, unless
    // raw with a null array, where nothing can be read.
    if (count > static_cast<int64_t>(store_->users.size()) && !(Raw() && null)) ok_ = false;
    pendingLength_ = count;
    if (null) return nullptr;
    return store_->users.empty() ? nullptr : store_->users.data();
}

template <>
unsigned char* ArgDecoder::Get<unsigned char*>() {
    const Json* element = Next();
    std::vector<unsigned char>& bytes = store_->bytes.emplace_back();
    if (element != nullptr && element->is_string()) {
        const std::string text = element->get<std::string>();
        bytes.assign(text.begin(), text.end());
    } else if (element != nullptr && element->is_array()) {
        for (const Json& value : *element) {
            int64_t byte = 0;
            if (!DecodeInt(value, 0, 255, byte)) ok_ = false;
            bytes.push_back(static_cast<unsigned char>(byte));
        }
    } else {
        ok_ = false;
    }
    int64_t size = 0;
    // Raw: any 64-bit size, a negative one arriving as a huge unsigned value; sizes beyond what a
    // genuine message could hold are not backed by bytes, and the callee must refuse them.
    const int64_t minSize = Raw() ? std::numeric_limits<int64_t>::min() : 0;
    const int64_t maxSize = Raw() ? std::numeric_limits<int64_t>::max() : kMaxArgumentBytes;
    if (!OptionalInt(command_, "size", minSize, maxSize, static_cast<int64_t>(bytes.size()), size)) ok_ = false;
    // Padded so that every byte the callee is told about is readable.
    if (size > static_cast<int64_t>(bytes.size()) && size <= kMaxArgumentBytes) bytes.resize(static_cast<size_t>(size), 0);
    pendingLength_ = size;
    return bytes.empty() ? nullptr : bytes.data();
}

bool ArgDecoder::Raw() const {
    auto raw = command_.find("raw");
    return raw != command_.end() && raw->is_boolean() && raw->get<bool>();
}

template <>
unsigned long ArgDecoder::Get<unsigned long>() {
    if (!pendingLength_) {
        ok_ = false;
        return 0;
    }
    const auto size = static_cast<unsigned long>(*pendingLength_);
    pendingLength_.reset();
    return size;
}

}  // namespace kova_standin

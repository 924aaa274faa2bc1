#include "Settings.h"

#include "State.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kova_standin {

namespace {

constexpr const char* kDefaultDeviceId = "standin-device-0001";
// The caller's token buffer holds 256 bytes; nothing longer is ever written.
constexpr size_t kMaxTokenBytes = 256;

}  // namespace

Settings::Settings() {
    Reset();
    if (const char* op = std::getenv("KOVA_STANDIN_CRASH_IN")) SetCrashIn(op);
}

void Settings::SetResult(const std::string& op, int64_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_[op] = value;
    hasResults_.store(true, std::memory_order_release);
}

int64_t Settings::Result(const char* op, int64_t fallback) const {
    if (!hasResults_.load(std::memory_order_acquire)) return fallback;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = results_.find(std::string_view(op));
    return it == results_.end() ? fallback : it->second;
}

void Settings::SetDeviceId(std::optional<std::string> text) {
    std::lock_guard<std::mutex> lock(mutex_);
    deviceId_ = std::move(text);
}

const char* Settings::DeviceIdForCall() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!deviceId_) return nullptr;
    deviceIdReturned_ = *deviceId_;
    return deviceIdReturned_.c_str();
}

void Settings::SetToken(std::string token, std::optional<int64_t> reportedLength) {
    std::lock_guard<std::mutex> lock(mutex_);
    token_ = std::move(token);
    tokenLength_ = reportedLength;
}

Settings::Token Settings::TokenFor(const std::string& appId, const std::string& meetingId,
                                   const std::string& userId, long long timestamp) const {
    std::lock_guard<std::mutex> lock(mutex_);
    Token token;
    if (token_) {
        token.bytes = token_->substr(0, kMaxTokenBytes);
        token.reportedLength = static_cast<int>(tokenLength_.value_or(static_cast<int64_t>(token_->size())));
    } else {
        token.bytes = ("tok:" + appId + ":" + meetingId + ":" + userId + ":" + std::to_string(timestamp))
                          .substr(0, kMaxTokenBytes);
        token.reportedLength = static_cast<int>(token.bytes.size());
    }
    return token;
}

void Settings::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    results_.clear();
    hasResults_.store(false, std::memory_order_release);
    deviceId_ = std::string(kDefaultDeviceId);
    token_.reset();
    tokenLength_.reset();
}

void Settings::SetCrashIn(std::string op) {
    std::lock_guard<std::mutex> lock(mutex_);
    crashIn_ = std::move(op);
    hasCrashIn_.store(!crashIn_.empty(), std::memory_order_release);
}

bool Settings::CrashRequested(const char* op) const {
    if (!hasCrashIn_.load(std::memory_order_acquire)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return crashIn_ == op;
}

void CrashIfRequested(const char* op) {
    if (!State().settings.CrashRequested(op)) return;
    // The address comes from a volatile read, so the compiler cannot see a null store and turn it
    // into a trap instruction: the write really happens and faults on the unmapped first page.
    static volatile uintptr_t invalidAddress = 16;
    *reinterpret_cast<volatile int*>(invalidAddress) = 1;
}

}  // namespace kova_standin

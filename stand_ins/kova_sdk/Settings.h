// What a test has configured: the results of operations, the device id text and the token that
// GenerateToken writes. Thread-safe.
#ifndef KOVA_STANDIN_SETTINGS_H
#define KOVA_STANDIN_SETTINGS_H

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace kova_standin {

class Settings {
public:
    Settings();

    void SetResult(const std::string& op, int64_t value);
    // The configured result of `op`, else `fallback`.
    int64_t Result(const char* op, int64_t fallback = 0) const;

    // GetDeviceID's text; nullopt makes it return a null pointer.
    void SetDeviceId(std::optional<std::string> text);
    // The text for one GetDeviceID call: stays valid until the next call.
    const char* DeviceIdForCall();

    // GenerateToken's output: the token's bytes (at most 256 are written) and, independently, the
    // length it reports (by default the configured token's full byte length).
    void SetToken(std::string token, std::optional<int64_t> reportedLength);
    struct Token {
        std::string bytes;    // at most 256 bytes
        int reportedLength;
    };
    // The configured token, else "tok:" appId ":" meetingId ":" userId ":" timestamp (cut to 256
    // bytes, reporting its own length).
    Token TokenFor(const std::string& appId, const std::string& meetingId, const std::string& userId,
                   long long timestamp) const;

    void Reset();

    // The operation that dies with SIGSEGV (see CrashIfRequested); "" for none. Read from
    // KOVA_STANDIN_CRASH_IN when the library loads, changed by the "crash_in" command.
    void SetCrashIn(std::string op);
    bool CrashRequested(const char* op) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, int64_t, std::less<>> results_;
    // Every call asks for its result and whether to crash: while nothing is configured (the usual
    // case) both answers come from these flags without taking the lock.
    std::atomic<bool> hasResults_{false};
    std::atomic<bool> hasCrashIn_{false};
    std::string crashIn_;
    std::optional<std::string> deviceId_;
    std::string deviceIdReturned_;
    std::optional<std::string> token_;
    std::optional<int64_t> tokenLength_;
};

// Dies with SIGSEGV, by a real invalid memory write, when `op` is the operation set to crash.
void CrashIfRequested(const char* op);

}  // namespace kova_standin

#endif  // KOVA_STANDIN_SETTINGS_H

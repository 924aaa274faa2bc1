// What a test has configured: the results of operations, the device id text and the token that
// GenerateToken writes. Thread-safe.
#ifndef KOVA_STANDIN_SETTINGS_H
#define KOVA_STANDIN_SETTINGS_H

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
    int64_t Result(const std::string& op, int64_t fallback = 0) const;

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

private:
    mutable std::mutex mutex_;
    std::map<std::string, int64_t> results_;
    std::optional<std::string> deviceId_;
    std::string deviceIdReturned_;
    std::optional<std::string> token_;
    std::optional<int64_t> tokenLength_;
};

// Dies with SIGSEGV, by a real invalid memory write, when KOVA_STANDIN_CRASH_IN names `op`.
void CrashIfRequested(const char* op);

}  // namespace kova_standin

#endif  // KOVA_STANDIN_SETTINGS_H

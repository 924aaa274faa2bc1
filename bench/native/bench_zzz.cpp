// unzzz file to file: the service host's `unzzz` command, run as a process, against a bare loop of
// zlib's uncompress over the same chunks (read a length, read the chunk, uncompress, write).
// Makes a .zzz file of about 100 MB unpacked (log-like text) in the given directory, runs each side
// three times in alternation, and prints one JSON object with the best time of each.
//   bench_zzz <host program> <work directory without "."> [scale]
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kChunk = 16284;

uint64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

// Log-like lines with varying numbers: compresses about as well as a real log.
std::string LogText(size_t size) {
    std::string text;
    text.reserve(size + 256);
    uint32_t seed = 12345;
    char line[256];
    for (uint64_t n = 0; text.size() < size; ++n) {
        seed = seed * 1103515245u + 12345u;
        const int length = std::snprintf(line, sizeof(line),
                                         "2026-12-10 13:%02u:%02u.%03u [%s] module=%u event=0x%08x value=%u frame=%llu\n",
                                         unsigned(n / 60000 % 60), unsigned(n / 1000 % 60), unsigned(n % 1000),
                                         (seed >> 8) % 7 == 0 ? "WARN" : "INFO", (seed >> 4) % 23, seed,
                                         (seed >> 12) % 100000, static_cast<unsigned long long>(n));
        text.append(line, size_t(length));
    }
    text.resize(size);
    return text;
}

bool WriteZzz(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    std::vector<unsigned char> packed(compressBound(kChunk));
    for (size_t offset = 0; offset < text.size(); offset += kChunk) {
        const size_t n = std::min(kChunk, text.size() - offset);
        uLongf length = packed.size();
        compress(packed.data(), &length, reinterpret_cast<const Bytef*>(text.data() + offset), n);
        const unsigned char header[4] = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                                         uint8_t(length >> 24)};
        std::fwrite(header, 1, 4, file);
        std::fwrite(packed.data(), 1, length, file);
    }
    return std::fclose(file) == 0;
}

// The bare loop; returns the bytes written, or -1.
long long BareUnzzz(const std::string& input, const std::string& output) {
    FILE* in = std::fopen(input.c_str(), "rb");
    FILE* out = std::fopen(output.c_str(), "wb");
    if (in == nullptr || out == nullptr) return -1;
    std::vector<unsigned char> chunk(64 * 1024);
    std::vector<unsigned char> plain(kChunk);
    unsigned char header[4];
    long long written = 0;
    while (std::fread(header, 1, 4, in) == 4) {
        const uint32_t length = uint32_t(header[0]) | (uint32_t(header[1]) << 8) | (uint32_t(header[2]) << 16) |
                                (uint32_t(header[3]) << 24);
        if (length > chunk.size() || std::fread(chunk.data(), 1, length, in) != length) return -1;
        uLongf produced = kChunk;
        if (uncompress(plain.data(), &produced, chunk.data(), length) != Z_OK) return -1;
        std::fwrite(plain.data(), 1, produced, out);
        written += static_cast<long long>(produced);
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? written : -1;
}

// Runs `host unzzz input` with its output silenced; true on exit code 0.
bool HostUnzzz(const std::string& host, const std::string& input) {
    const pid_t child = fork();
    if (child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::_Exit(3);
        execl(host.c_str(), host.c_str(), "unzzz", input.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long long FileSize(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return -1;
    std::fseek(file, 0, SEEK_END);
    const long long size = std::ftell(file);
    std::fclose(file);
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_zzz <host program> <work directory> [scale]\n");
        return 2;
    }
    const std::string host = argv[1];
    const std::string dir = argv[2];
    const double scale = argc > 3 ? std::atof(argv[3]) : 1.0;
    const size_t size = std::max<size_t>(kChunk * 4, size_t(100e6 * scale));
    const std::string input = dir + "/bench.zzz";
    const std::string hostOutput = dir + "/bench.dmp";
    const std::string bareOutput = dir + "/bare.dmp";
    if (!WriteZzz(input, LogText(size))) {
        std::printf("{\"error\":\"cannot write %s\"}\n", input.c_str());
        return 1;
    }
    uint64_t bestHost = UINT64_MAX, bestBare = UINT64_MAX;
    bool ok = true;
    for (int round = 0; round < 3 && ok; ++round) {
        uint64_t start = NowNs();
        ok = HostUnzzz(host, input);
        bestHost = std::min(bestHost, NowNs() - start);
        start = NowNs();
        ok = ok && BareUnzzz(input, bareOutput) == static_cast<long long>(size);
        bestBare = std::min(bestBare, NowNs() - start);
        ok = ok && FileSize(hostOutput) == static_cast<long long>(size);
    }
    const long long packed = FileSize(input);
    std::remove(input.c_str());
    std::remove(hostOutput.c_str());
    std::remove(bareOutput.c_str());
    if (!ok) {
        std::printf("{\"error\":\"unpacking failed or gave the wrong size\"}\n");
        return 1;
    }
    std::printf("{\"output_bytes\":%zu,\"input_bytes\":%lld,\"host_ns\":%llu,\"bare_ns\":%llu}\n", size, packed,
                static_cast<unsigned long long>(bestHost), static_cast<unsigned long long>(bestBare));
    return 0;
}

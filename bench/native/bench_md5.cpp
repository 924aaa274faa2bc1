// MD5 of 16-byte and 1 MiB messages: the project's MD5 class (digest included) against OpenSSL's
// MD5 through its EVP interface.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <string>

#include "md5.h"

namespace {

std::string Message(size_t size) {
    std::string message(size, '\0');
    for (size_t i = 0; i < size; ++i) message[i] = static_cast<char>((i * 131u + 7u) & 0xFF);
    return message;
}

void ProjectMd5(benchmark::State& state) {
    const std::string message = Message(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        MD5 md5(message);
        benchmark::DoNotOptimize(md5.getDigest());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void OpenSslMd5(benchmark::State& state) {
    const std::string message = Message(static_cast<size_t>(state.range(0)));
    const EVP_MD* md5 = EVP_md5();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(message.data(), message.size(), digest, &length, md5, nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(ProjectMd5)->Arg(16)->Arg(1 << 20);
BENCHMARK(OpenSslMd5)->Arg(16)->Arg(1 << 20);
BENCHMARK_MAIN();

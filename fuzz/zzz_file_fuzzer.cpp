// decompressZzzFile fed a file of arbitrary bytes. A result of success must have written exactly
// the bytes it counts, and it can never count more compressed bytes than the file holds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ZzzFile.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = kova_fuzz::ScratchDir() + "/input.zzz";
    const std::string output = kova_fuzz::ScratchDir() + "/input.dmp";
    kova_fuzz::WriteWholeFile(input, data, size);
    uint32_t inputBytes = 0;
    uint32_t outputBytes = 0;
    const int result = decompressZzzFile(input.c_str(), inputBytes, output.c_str(), outputBytes);
    if (inputBytes > size) std::abort();
    if (result == kZzzOk && kova_fuzz::FileSize(output) != static_cast<long long>(outputBytes)) std::abort();
    kova_fuzz::ClearScratchDir();
    return 0;
}

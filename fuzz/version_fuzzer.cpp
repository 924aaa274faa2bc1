// compareVersion and isMatchConfigItem fed arbitrary texts. The input is split at its first two
// zero bytes into key, actual value and required value (the texts may hold no other zero bytes,
// as strings from a configuration would not). compareVersion must be antisymmetric and give 0 for
// a text compared with itself; isMatchConfigItem must not throw.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SdkVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string pieces[3];
    size_t piece = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && piece < 2) {
            ++piece;
        } else {
            pieces[piece] += static_cast<char>(data[i]);
        }
    }
    const std::string& key = pieces[0];
    const std::string& actual = pieces[1];
    const std::string& required = pieces[2];

    if (compareVersion(actual, actual) != 0) std::abort();
    const int forward = compareVersion(actual, required);
    const int backward = compareVersion(required, actual);
    if (forward < -1 || forward > 1 || forward != -backward) std::abort();

    isMatchConfigItem(key, actual, required);
    isMatchConfigItem("sdkver", actual, required);
    return 0;
}

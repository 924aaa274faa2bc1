// The `log2bin` command fed a log of arbitrary bytes, through its command handler as the host's
// driver calls it. A log names the file it writes; so that no input can write outside the scratch
// directory, this target is linked with fopen and remove wrapped (-Wl,--wrap): a path outside the
// scratch directory is mapped to a file inside it, the same path always to the same file.
#include <cstdio>
#include <cstdint>
#include <string>

#include "HostCommands.h"
#include "fuzz_support.h"

extern "C" FILE* __real_fopen(const char* path, const char* mode);
extern "C" int __real_remove(const char* path);

namespace {

std::string Confined(const char* path) {
    const std::string& dir = kova_fuzz::ScratchDir();
    std::string text = path;
    if (text.compare(0, dir.size() + 1, dir + "/") == 0 && text.find("/..") == std::string::npos) return text;
    std::string name = "mapped_";
    for (char c : text.substr(0, 200)) name += c == '/' ? '_' : c;
    return dir + "/" + name;
}

}  // namespace

extern "C" FILE* __wrap_fopen(const char* path, const char* mode) {
    if (path == nullptr) return __real_fopen(path, mode);
    return __real_fopen(Confined(path).c_str(), mode);
}

extern "C" int __wrap_remove(const char* path) {
    if (path == nullptr) return -1;
    return __real_remove(Confined(path).c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string log = kova_fuzz::ScratchDir() + "/input.log";
    kova_fuzz::WriteWholeFile(log, data, size);
    char program[] = "kova_service_host";
    char command[] = "log2bin";
    char* argv[] = {program, command, &log[0], nullptr};
    CmdLog2bin(3, argv);
    kova_fuzz::ClearScratchDir();
    return 0;
}

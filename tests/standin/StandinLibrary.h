// A stand-in SDK library loaded with dlopen, as the addon and the service host load it, with its
// entry points and control functions.
#ifndef KOVA_TESTS_STANDIN_LIBRARY_H
#define KOVA_TESTS_STANDIN_LIBRARY_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "kova-api-i.h"
#include "kova_standin.h"

namespace standin_test {

using Json = nlohmann::json;

inline std::string EnvDir(const char* name) {
    const char* dir = std::getenv(name);
    return dir != nullptr ? std::string(dir) : std::string();
}
inline std::string AddonSdkPath() { return EnvDir("KOVA_ADDON_DIR") + "/libkova_sdk.so"; }
inline std::string HostSdkPath() { return EnvDir("KOVA_HOST_DIR") + "/libkova_sdk.so"; }
inline std::string VariantPath(const std::string& name) {
    return std::string(KOVA_TEST_SUPPORT_DIR) + "/sdk_variants/libkova_sdk_" + name + ".so";
}

struct StandinLibrary {
    void* handle = nullptr;
    PFN_CreateKOVAWinClient create = nullptr;
    PFN_DestroyKOVAWinClient destroy = nullptr;
    PFN_kova_standin_journal journal = nullptr;
    PFN_kova_standin_journal_clear clear = nullptr;
    PFN_kova_standin_command command = nullptr;
    std::string error;   // the loader's message when the library could not be loaded

    // Loads the library (RTLD_NOW, as the addon does); `handle` stays null when it cannot be loaded.
    explicit StandinLibrary(const std::string& path) {
        handle = dlopen(path.c_str(), RTLD_NOW);
        if (handle == nullptr) {
            const char* text = dlerror();
            error = text != nullptr ? text : path;
            return;
        }
        create = reinterpret_cast<PFN_CreateKOVAWinClient>(dlsym(handle, "CreateKOVAWinClient"));
        destroy = reinterpret_cast<PFN_DestroyKOVAWinClient>(dlsym(handle, "DestroyKOVAWinClient"));
        journal = reinterpret_cast<PFN_kova_standin_journal>(dlsym(handle, "kova_standin_journal"));
        clear = reinterpret_cast<PFN_kova_standin_journal_clear>(dlsym(handle, "kova_standin_journal_clear"));
        command = reinterpret_cast<PFN_kova_standin_command>(dlsym(handle, "kova_standin_command"));
    }
    bool Has(const char* symbol) const { return handle != nullptr && dlsym(handle, symbol) != nullptr; }

    Json Journal() const { return Json::parse(journal()); }
    int Command(const Json& cmd) const { return command(cmd.dump().c_str()); }
    // The args of the only journal entry of `op`.
    Json ArgsOf(const std::string& op) const {
        Json found;
        int count = 0;
        for (const Json& entry : Journal()) {
            if (entry["op"] == op) {
                found = entry["args"];
                ++count;
            }
        }
        EXPECT_EQ(count, 1) << "entries of " << op << " in " << journal();
        return found;
    }
};

// How every test starts: the stand-in reset, its client created, the journal empty.
inline void StartClean(StandinLibrary& library, solvane::kovawin::IKOV_API*& client) {
    ASSERT_NE(library.handle, nullptr) << library.error;
    ASSERT_EQ(library.Command({{"cmd", "reset"}}), 0);
    client = library.create();
    ASSERT_NE(client, nullptr);
    library.clear();
}

}  // namespace standin_test

#endif  // KOVA_TESTS_STANDIN_LIBRARY_H

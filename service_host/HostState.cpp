#include "HostState.h"

#include <exception>
#include <string>

PlatformModule s_moduleKOVASDK = nullptr;
PFN_startKovaLogUpload s_pfntStartKovaLogUpload = nullptr;
PFN_CreateKOVAWinClient s_pfnCreateKOVAWinClient = nullptr;
PFN_DestroyKOVAWinClient s_pfnDestroyKOVAWinClient = nullptr;
std::string s_channelSuffix;
ipc::channel s_logChannel;
ipc::channel s_screenCaptureChannel;
int64_t* s_excludedIds = nullptr;
int s_argc = 0;
char** s_argv = nullptr;

// The host's commands report a failed load with their own line, so the loader stays silent.
void PlatformReportLoadFailure(const std::string& /*path*/, const char* /*error*/) {}

PlatformModule LoadKOVASDK() {
    if (s_moduleKOVASDK != nullptr) return s_moduleKOVASDK;
    try {
        std::wstring path = PlatformGetCurrentModuleDir() + utf8_to_wide_string(GetLoadKOVASDKNameDefault());
        s_moduleKOVASDK = PlatformLoadLibrary(path, std::wstring());
    } catch (const std::exception&) {
        // A directory name that is not valid UTF-8 cannot be converted; the library then counts
        // as not loadable.
        s_moduleKOVASDK = nullptr;
    }
    return s_moduleKOVASDK;
}

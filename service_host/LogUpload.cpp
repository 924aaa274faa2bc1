// The `logUpload` command: the upload is the SDK's own work; the host loads the SDK, hands its
// upload entry the whole command line and exits with the entry's result.
#include "HostCommands.h"
#include "HostConsole.h"
#include "HostState.h"

int CmdLogUpload(int argc, char** argv) {
    if (LoadKOVASDK() == nullptr) {
        HostPrintLine("s_moduleKOVASDK == null");
        return 0;
    }
    s_pfntStartKovaLogUpload =
        reinterpret_cast<PFN_startKovaLogUpload>(PlatformGetProcAddress(s_moduleKOVASDK, "startKovaLogUpload"));
    if (s_pfntStartKovaLogUpload == nullptr) return 0;
    HostPrintLine("s_pfntStartKovaLogUpload");
    return s_pfntStartKovaLogUpload(argc, argv);
}

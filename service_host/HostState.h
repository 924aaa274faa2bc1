// Process-wide state of the service host, shared by its commands. Everything here lives until the
// process ends; the SDK library, once loaded, is never unloaded.
#ifndef KOVA_HOST_STATE_H
#define KOVA_HOST_STATE_H

#include <cstdint>
#include <string>

#include "OsCompat.h"
#include "channel.h"
#include "kova-api-i.h"

// The loaded SDK library, or null until a command loads it.
extern PlatformModule s_moduleKOVASDK;
// The SDK's log-upload entry, looked up by `logUpload`.
extern PFN_startKovaLogUpload s_pfntStartKovaLogUpload;
// The SDK's client entries, looked up by `screen_capture`; read by its threads and by the fatal-error
// filter, written before any of them runs.
extern PFN_CreateKOVAWinClient s_pfnCreateKOVAWinClient;
extern PFN_DestroyKOVAWinClient s_pfnDestroyKOVAWinClient;

// The channels of `screen_capture`: each name is its prefix followed directly by the suffix given
// on the command line. The host sends on the log channel and receives on the screen-capture
// channel (and sends its crash notice there). Both are destroyed at normal process exit.
constexpr const char kLogChannelPrefix[] = "log_print_ipc_channel";
constexpr const char kScreenCaptureChannelPrefix[] = "screen_capture_ipc_channel";
extern std::string s_channelSuffix;
extern ipc::channel s_logChannel;
extern ipc::channel s_screenCaptureChannel;
// The excluded window ids of `screen_capture`, handed to the SDK, which may keep the pointer for as
// long as the process runs: never freed, and held here so that the array stays reachable (a leak
// checker would otherwise report it).
extern int64_t* s_excludedIds;

// Copies of the process's argument count and vector, kept for commands whose crash handling
// reports the command line; the driver fills them only for the commands that ask for it.
extern int s_argc;
extern char** s_argv;

// Loads the SDK library once per process: GetLoadKOVASDKNameDefault() in the directory of the
// host's own executable, nowhere else (no "sdkname.txt", no library search path). Returns
// s_moduleKOVASDK, null when the library cannot be loaded; the caller reports that.
PlatformModule LoadKOVASDK();

#endif  // KOVA_HOST_STATE_H

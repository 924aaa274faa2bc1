// Process-wide state of the service host, shared by its commands. Everything here lives until the
// process ends; the SDK library, once loaded, is never unloaded.
#ifndef KOVA_HOST_STATE_H
#define KOVA_HOST_STATE_H

#include "OsCompat.h"
#include "kova-api-i.h"

// The loaded SDK library, or null until a command loads it.
extern PlatformModule s_moduleKOVASDK;
// The SDK's log-upload entry, looked up by `logUpload`.
extern PFN_startKovaLogUpload s_pfntStartKovaLogUpload;
// Copies of the process's argument count and vector, kept for commands whose crash handling
// reports the command line; the driver fills them only for the commands that ask for it.
extern int s_argc;
extern char** s_argv;

// Loads the SDK library once per process: GetLoadKOVASDKNameDefault() in the directory of the
// host's own executable, nowhere else (no "sdkname.txt", no library search path). Returns
// s_moduleKOVASDK, null when the library cannot be loaded; the caller reports that.
PlatformModule LoadKOVASDK();

#endif  // KOVA_HOST_STATE_H

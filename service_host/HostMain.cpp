// Command dispatch of kova_service_host.
#include <string>

#include "HostCommands.h"
#include "HostConsole.h"
#include "HostState.h"

namespace {

struct HostCommand {
    const char* word;  // matched exactly: same length, same bytes, case-sensitive
    int (*handler)(int argc, char** argv);
    bool keepsArgs;  // store argc/argv in s_argc/s_argv before the handler runs
};

// Matched in this order. `screen_capture` keeps the argument vector for its fatal-error filter.
const HostCommand kCommands[] = {
    {"logUpload", CmdLogUpload, false},
    {"log2bin", CmdLog2bin, false},
    {"unzzz", CmdUnzzz, false},
    {"test_sdkver", CmdTestSdkver, false},
    {"screen_capture", CmdScreenCapture, true},
};

}  // namespace

int HostMain(int argc, char** argv) {
    if (argc < 2 || argv == nullptr || argv[1] == nullptr) {
        HostPrintLine("kova_service_host log2bin [file.log]");
        HostPrintLine("kova_service_host unzzz [file.zzz]");
        return 0;
    }
    const std::string word = argv[1];
    for (const HostCommand& command : kCommands) {
        if (word == command.word) {
            if (command.keepsArgs) {
                s_argc = argc;
                s_argv = argv;
            }
            return command.handler(argc, argv);
        }
    }
    HostPrintLine("cmd not find");
    return 0;
}

// The driver of the built host, run as a process: usage lines, exact command words, exit codes,
// and the console convention (lines on standard output only).
#include <gtest/gtest.h>

#include "HostTestSupport.h"

using namespace hosttest;

namespace {

const char kUsage[] =
    "kova_service_host log2bin [file.log]\n"
    "kova_service_host unzzz [file.zzz]\n";

struct DispatchCase {
    const char* name;
    std::vector<std::string> argv;  // argument vector after the program path
    bool withProgramPath;           // false: the vector is handed over without argument 0
    const char* expectedOut;
};

const DispatchCase kDispatchCases[] = {
    {"no arguments at all", {}, false, kUsage},
    {"only the program path", {}, true, kUsage},
    {"word of another case", {"LogUpload"}, true, "cmd not find\n"},
    {"word with a trailing blank", {"log2bin "}, true, "cmd not find\n"},
    {"word with a leading blank", {" unzzz"}, true, "cmd not find\n"},
    {"prefix of a word", {"screen"}, true, "cmd not find\n"},
    {"screen_capture of another case", {"Screen_capture", "s", "15", "1", "0", "0"}, true, "cmd not find\n"},
    {"screen_capture with a trailing blank", {"screen_capture ", "s", "15", "1", "0", "0"}, true, "cmd not find\n"},
    {"screen_capture without its arguments", {"screen_capture"}, true, "screen_capture: not enough arguments\n"},
    {"word with a letter added", {"unzzzz", "a.zzz"}, true, "cmd not find\n"},
    {"empty word", {""}, true, "cmd not find\n"},
    {"unzzz without its file", {"unzzz"}, true, "kova_service_host unzzz [file.zzz] 3\n"},
    {"log2bin without its file", {"log2bin"}, true, "kova_service_host log2bin [logFile]\n"},
    {"unzzz on a missing file", {"unzzz", "missing.zzz"}, true,
     "open input file failed.\n"
     "decompress file faild.filename:missing.dmp\n"},
    {"log2bin on a missing file", {"log2bin", "missing.log"}, true, "open logFile failed\n"},
};

TEST(HostDispatch, CommandWordsAndUsage) {
    TempDir dir;
    ProcessOptions options;
    options.cwd = dir.path().string();
    for (const DispatchCase& c : kDispatchCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv;
        if (c.withProgramPath) argv.push_back(HostPath());
        argv.insert(argv.end(), c.argv.begin(), c.argv.end());
        ProcessResult r = RunProcess(HostPath(), argv, options);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, c.expectedOut);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
    }
    // No command above may leave a file behind.
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(HostDispatch, TestSdkverWritesTheFixedTable) {
    const char kExpected[] =
        " sdkver0:2.12.3 sdkver1:2.12.3\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3-SNAPSHOT infoItemValue:2.12.3 isfind:1\n"
        " sdkver0:2.12.3 sdkver1:2.12.3\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3 infoItemValue:2.12.3 isfind:1\n"
        " sdkver0:2.12.3 sdkver1:2.12.4\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3-SNAPSHOT infoItemValue:2.12.4 isfind:0\n"
        " sdkver0:2.12.3 sdkver1:v2.12.3\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3 infoItemValue:v2.12.3 isfind:0\n"
        " sdkver0:2.12.3 sdkver1:>2.12.0\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3-SNAPSHOT infoItemValue:>2.12.0 isfind:1\n"
        " sdkver0:2.13.3 sdkver1:>2.12.0\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.13.3 infoItemValue:>2.12.0 isfind:1\n"
        " sdkver0:2.12.3 sdkver1:>1.120\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3-SNAPSHOT infoItemValue:>1.120 isfind:1\n"
        " sdkver0:2.12.3 sdkver1:>1.12.5\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3 infoItemValue:>1.12.5 isfind:1\n"
        " sdkver0:2.12.3 sdkver1:>2.12\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3-SNAPSHOT infoItemValue:>2.12 isfind:1\n"
        " sdkver0:2.12.3 sdkver1:>2.12.15\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3 infoItemValue:>2.12.15 isfind:0\n"
        " sdkver0:2.12.3 sdkver1:<2.11\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3-SNAPSHOT infoItemValue:<2.11 isfind:0\n"
        " sdkver0:2.12.3 sdkver1:<2.12.3\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3 infoItemValue:<2.12.3 isfind:0\n"
        " sdkver0:2.12.3 sdkver1:<2.12.8\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3-SNAPSHOT infoItemValue:<2.12.8 isfind:1\n"
        " sdkver0:2.12.3 sdkver1:<3.12.3\n"
        " isMatchConfigItem infoItemKey:sdkver infoValue:v2.12.3 infoItemValue:<3.12.3 isfind:1\n";
    // Further arguments are ignored.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"test_sdkver"}, std::vector<std::string>{"test_sdkver", "x", "y"}}) {
        ProcessResult r = RunHost(args);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, kExpected);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
    }
}

}  // namespace

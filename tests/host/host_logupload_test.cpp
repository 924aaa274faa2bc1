// `logUpload` of the built host, run as a process from a directory of its own with or without an
// SDK library beside it. The stand-in SDK journals the argument vector its upload entry receives
// and returns the result given in its environment.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "HostTestSupport.h"

using namespace hosttest;

namespace {

// The host copied alone into a scratch directory; `sdk`, when given, copied beside it under the
// name the host loads.
struct HostCopy {
    TempDir dir;
    std::string host = dir / HostFileName();

    explicit HostCopy(const std::string& sdk = std::string()) {
        fs::copy_file(HostPath(), host);
        if (!sdk.empty()) fs::copy_file(sdk, dir / SdkFileName());
    }
};

// The stand-in SDK built without its upload entry, for the build under test.
std::string SdkWithoutUpload() {
    if (!UnderWine()) return KOVA_SDK_NO_LOGUPLOAD_PATH;
    const char* path = getenv("KOVA_WIN_SDK_NO_LOGUPLOAD");
    if (path == nullptr || *path == '\0') throw std::runtime_error("KOVA_WIN_SDK_NO_LOGUPLOAD is not set");
    return path;
}

// The argument vector of every startKovaLogUpload call in the journal, in call order, after a
// check that the journaled argument count matches it.
std::vector<std::vector<std::string>> UploadCalls(const std::string& journalPath) {
    std::vector<std::vector<std::string>> calls;
    std::istringstream journal(ReadFile(journalPath).value_or(""));
    std::string line;
    while (std::getline(journal, line)) {
        nlohmann::json entry = nlohmann::json::parse(line);
        if (entry.at("op") != "startKovaLogUpload") continue;
        // Journaled as [argc, [argv[0], ..., argv[argc - 1]]].
        const nlohmann::json& args = entry.at("args");
        calls.push_back(args.at(1).get<std::vector<std::string>>());
        EXPECT_EQ(args.at(0).get<size_t>(), calls.back().size());
    }
    return calls;
}

TEST(HostLogUpload, NoSdkBesideTheHost) {
    HostCopy copy;
    // An SDK on the library search path does not count: only the host's own directory does.
    // (Wine takes WINEPATH as the Windows PATH, where Windows looks for DLLs.)
    ProcessOptions options;
    options.env[UnderWine() ? "WINEPATH" : "LD_LIBRARY_PATH"] = HostDir();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"logUpload"}, std::vector<std::string>{"logUpload", "a", "b"}}) {
        ProcessResult r = RunHost(args, options, copy.host);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, "s_moduleKOVASDK == null\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
    }
}

TEST(HostLogUpload, SdkWithoutTheEntry) {
    HostCopy copy(SdkWithoutUpload());
    ProcessOptions options;
    options.env["KOVA_STANDIN_JOURNAL_FILE"] = copy.dir / "journal.jsonl";
    options.env["KOVA_STANDIN_LOGUPLOAD_RESULT"] = "7";
    ProcessResult r = RunHost({"logUpload", "a"}, options, copy.host);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(UploadCalls(copy.dir / "journal.jsonl").empty());
}

TEST(HostLogUpload, EntryGetsTheWholeCommandLineAndGivesTheExitCode) {
    HostCopy copy(HostDir() + "/" + SdkFileName());
    const std::string journal = copy.dir / "journal.jsonl";
    struct UploadCase {
        std::vector<std::string> args;
        const char* result;
        int exitCode;
    };
    const UploadCase cases[] = {
        {{"logUpload", "--url", "a b", ""}, "7", 7},
        {{"logUpload"}, "0", 0},  // the entry still receives the program path and the command word
    };
    for (const UploadCase& c : cases) {
        SCOPED_TRACE(c.result);
        fs::remove(journal);
        ProcessOptions options;
        options.env["KOVA_STANDIN_JOURNAL_FILE"] = journal;
        options.env["KOVA_STANDIN_LOGUPLOAD_RESULT"] = c.result;
        ProcessResult r = RunHost(c.args, options, copy.host);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, "s_pfntStartKovaLogUpload\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, c.exitCode);
        std::vector<std::string> argv{PathAsSeenByHost(copy.host)};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(UploadCalls(journal), std::vector<std::vector<std::string>>{argv});
    }
}

}  // namespace

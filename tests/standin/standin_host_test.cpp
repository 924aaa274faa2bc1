// The stand-in SDK in the service host's form: the host's forms of slots 21 and 23, the log upload
// entry point, the journal file and the crash on request, all as the host process meets them.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "StandinLibrary.h"

namespace standin_test {
namespace {

using Api = solvane::kovawin::IKOV_API;

class StandinHost : public ::testing::Test {
protected:
    static StandinLibrary& Library() {
        static StandinLibrary library(HostSdkPath());
        return library;
    }
    void SetUp() override { StartClean(Library(), client); }
    void TearDown() override {
        unsetenv("KOVA_STANDIN_JOURNAL_FILE");
        unsetenv("KOVA_STANDIN_LOGUPLOAD_RESULT");
        Library().destroy();
    }
    std::string TempPath(const char* name) { return ::testing::TempDir() + "standin_host_" + std::to_string(getpid()) + "_" + name; }

    Api* client = nullptr;
};

TEST_F(StandinHost, CaptureShareTakesTheHostsArguments) {
    int64_t excluded[2] = {5, int64_t{1} << 60};
    client->StartDesktopCaptureShare(15, 1, excluded, 2, "abc", 3);
    client->StartDesktopCaptureShare(30, 0, nullptr, 0, "", 0);
    client->StopDesktopCaptureShare();
    const Json journal = Library().Journal();
    ASSERT_EQ(journal.size(), 3u);
    EXPECT_EQ(journal[0]["args"], Json({15, 1, {5, "1152921504606846976"}, 2, "abc", 3}));
    EXPECT_EQ(journal[1]["args"], Json({30, 0, nullptr, 0, "", 0}));
    EXPECT_EQ(journal[2]["op"], "StopDesktopCaptureShare");
    EXPECT_EQ(journal[2]["args"], Json::array());
}

TEST_F(StandinHost, LogUploadJournalsItsCommandLineAndReturnsTheConfiguredResult) {
    auto upload = reinterpret_cast<PFN_startKovaLogUpload>(dlsym(Library().handle, "startKovaLogUpload"));
    ASSERT_NE(upload, nullptr);
    std::vector<std::string> words = {"/bin/kova_service_host", "logUpload", "--day=3"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    EXPECT_EQ(upload(2, argv.data()), 0);
    setenv("KOVA_STANDIN_LOGUPLOAD_RESULT", "7", 1);
    EXPECT_EQ(upload(3, argv.data()), 7);
    const Json journal = Library().Journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0]["args"], Json({2, {"/bin/kova_service_host", "logUpload"}}));
    EXPECT_EQ(journal[1]["args"], Json({3, {"/bin/kova_service_host", "logUpload", "--day=3"}}));

    StandinLibrary withoutUpload(VariantPath("no_logupload"));
    ASSERT_NE(withoutUpload.handle, nullptr) << withoutUpload.error;
    EXPECT_FALSE(withoutUpload.Has("startKovaLogUpload"));
    EXPECT_TRUE(withoutUpload.Has("CreateKOVAWinClient"));
}

TEST_F(StandinHost, JournalFileGetsOneLinePerCall) {
    const std::string path = TempPath("journal.jsonl");
    unlink(path.c_str());
    setenv("KOVA_STANDIN_JOURNAL_FILE", path.c_str(), 1);
    client->StartDesktopCaptureShare(10, 2, nullptr, 0, "s\n1", 3);
    client->StopDesktopCaptureShare();
    std::ifstream file(path);
    std::vector<Json> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(Json::parse(line));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["op"], "StartDesktopCaptureShare");
    EXPECT_EQ(lines[0]["args"][4], "s\n1");
    EXPECT_EQ(lines[1]["op"], "StopDesktopCaptureShare");
    unlink(path.c_str());
}

TEST_F(StandinHost, RequestedOperationDiesWithSegvAfterJournaling) {
    const std::string path = TempPath("crash.jsonl");
    unlink(path.c_str());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv("KOVA_STANDIN_JOURNAL_FILE", path.c_str(), 1);
        if (Library().Command({{"cmd", "crash_in"}, {"op", "StopDesktopCaptureShare"}}) != 0) _exit(3);
        client->StartDesktopCaptureShare(1, 0, nullptr, 0, "", 0);
        client->StopDesktopCaptureShare();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    std::ifstream file(path);
    std::vector<std::string> ops;
    for (std::string line; std::getline(file, line);) ops.push_back(Json::parse(line)["op"]);
    EXPECT_EQ(ops, std::vector<std::string>({"StartDesktopCaptureShare", "StopDesktopCaptureShare"}));
    unlink(path.c_str());
}

}  // namespace
}  // namespace standin_test

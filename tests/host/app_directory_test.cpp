// The application-directory table: executable names map to their directory names through their
// MD5 digests; unknown names get the digest itself.
#include "AppDirectory.h"

#include <gtest/gtest.h>

namespace {

struct AppDirectoryCase {
    const char* executableName;
    const char* directory;
};

TEST(AppDirectory, Lookup) {
    const AppDirectoryCase cases[] = {
        {"KovaMeeting", "Meeting"},
        {"KovaRooms", "Rooms"},
        {"KovaClassroom", "Classroom"},
        {"KovaLive", "Live"},
        {"KovaWorkspace", "Workspace"},
        {"kovameeting", "beb1a0f01b5f9e63d4c356aa01fb25d9"},  // names are compared by digest, so case counts
        {"node", "36c4536996ca5615dcf9911f068786dc"},
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
    };
    for (const AppDirectoryCase& c : cases) {
        SCOPED_TRACE(c.executableName);
        EXPECT_EQ(GetAppDirectoryName(c.executableName), c.directory);
    }
}

TEST(AppDirectory, LogDirectoryName) {
    EXPECT_EQ(GetKOVALogDirectoryName(""), "kova_sdk_logs");
    EXPECT_EQ(GetKOVALogDirectoryName("KovaLive"), "kova_sdk_logs_Live");
    EXPECT_EQ(GetKOVALogDirectoryName("node"), "kova_sdk_logs_36c4536996ca5615dcf9911f068786dc");
}

}  // namespace

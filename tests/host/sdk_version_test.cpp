// Version matching and its string helpers, called directly; the log lines are read from the
// captured standard output.
#include "SdkVersion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CompareCase {
    const char* a;
    const char* b;
    int expected;
};

TEST(SdkVersion, CompareVersion) {
    const CompareCase cases[] = {
        {"2.12.3", "2.12.3", 0},
        {"2.12.3.1", "2.12.3", 1},          // fourth component decides
        {"2.12.3", "2.12.3.1", -1},
        {"2.12.3.2", "2.12.3.10", -1},      // numbers, not text
        {"2.12.3-beta", "2.12.3", 0},       // equal numerically, different text
        {"2.12", "2.12.0.0", 0},
        {"2.12.10", "2.12.2", 1},
        {"2.12.3", "1.120", 1},
        {"2.11.9", "2.12", -1},
        {"2.12.3", "v2.12.0", 1},           // "v2" counts as 0
        {"3-beta.1", "3.1", 0},
        {" 3.0", "2.9", 1},                 // leading white space, as atoi
        {"-1", "0", -1},
        {"+4", "4", 0},
        {"2..12", "2.12", 0},               // empty pieces are dropped
        {".2.12.", "2.12", 0},
        {"2.12.3.4.9", "2.12.3.4.1", 0},    // pieces after the fourth are ignored
        {"99999999999999999999", "2147483647", 0},  // saturates instead of overflowing
        {"99999999999999999999", "2147483646", 1},
        {"", "0", 0},
        {"", "1", -1},
    };
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(compareVersion(c.a, c.b), c.expected);
    }
}

struct MatchCase {
    const char* key;
    const char* infoValue;
    const char* infoItemValue;
    bool expected;
    const char* sdkver0Line;  // null: no such line
};

TEST(SdkVersion, IsMatchConfigItem) {
    const MatchCase cases[] = {
        {"sdkver", "v2.12.3", "", false, nullptr},
        {"os", "linux", "linux", true, nullptr},
        {"os", "Linux", "linux", false, nullptr},
        {"os", "v2.12.3", "2.12.3", false, nullptr},
        {"Sdkver", "2.12.3", "2.12.3", true, nullptr},
        {"sdkver", "v", "2.12.3", false, " sdkver0: sdkver1:2.12.3"},
        {"sdkver", "-SNAPSHOT", ">1", false, " sdkver0: sdkver1:>1"},
        {"sdkver", "v2.12.3-dev", "2.12.3-de", true, " sdkver0:2.12.3-de sdkver1:2.12.3-de"},
        {"sdkver", "v1.0.0", ">v2.12.0", true, " sdkver0:1.0.0 sdkver1:>v2.12.0"},
        {"sdkver", "v0.9", ">v2.12.0", false, " sdkver0:0.9 sdkver1:>v2.12.0"},
        {"sdkver", "v2.12.3", "=2.12.3", false, " sdkver0:2.12.3 sdkver1:=2.12.3"},
        {"sdkver", "v2.12.0", "2.12", false, " sdkver0:2.12.0 sdkver1:2.12"},
        {"sdkver", "v2.12.10", ">2.12.2", true, " sdkver0:2.12.10 sdkver1:>2.12.2"},
        {"sdkver", "v2.12.3", "<2.12.3.1", true, " sdkver0:2.12.3 sdkver1:<2.12.3.1"},
        {"sdkver", "v2.12.3.0", ">2.12.3", false, " sdkver0:2.12.3.0 sdkver1:>2.12.3"},
        {"sdkver", "v2.12.3", ">", true, " sdkver0:2.12.3 sdkver1:>"},  // an empty bound counts as 0
        // A removal that forms another "-SNAPSHOT" removes that one too.
        {"sdkver", "v2.12.3-SNAP-SNAPSHOTSHOT", "2.12.3", true, " sdkver0:2.12.3 sdkver1:2.12.3"},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.infoValue + " " + c.infoItemValue);
        testing::internal::CaptureStdout();
        bool result = isMatchConfigItem(c.key, c.infoValue, c.infoItemValue);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.expected);
        std::string expectedOut;
        if (c.sdkver0Line != nullptr) expectedOut = std::string(c.sdkver0Line) + "\n";
        expectedOut += std::string(" isMatchConfigItem infoItemKey:") + c.key + " infoValue:" + c.infoValue +
                       " infoItemValue:" + c.infoItemValue + " isfind:" + (c.expected ? "1" : "0") + "\n";
        EXPECT_EQ(out, expectedOut);
    }
}

struct SplitCase {
    const char* text;
    const char* delimiters;
    std::vector<std::string> expected;
};

TEST(SdkVersion, SplitString) {
    const SplitCase cases[] = {
        {"", ".", {}},
        {"a.b", "", {}},
        {"2.12.3", ".", {"2", "12", "3"}},
        {"..a..b..", ".", {"a", "b"}},
        {"a,b;c", ",;", {"a", "b", "c"}},
        {"abc", ".", {"abc"}},
        {"...", ".", {}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.delimiters);
        EXPECT_EQ(splitString(c.text, c.delimiters), c.expected);
    }
}

struct ReplaceCase {
    const char* text;
    const char* search;
    const char* replacement;
    const char* expected;
};

TEST(SdkVersion, ReplaceAll) {
    const ReplaceCase cases[] = {
        {"v2.v12.3v", "v", "", "2.12.3"},
        {"2.12.3-SNAPSHOT", "-SNAPSHOT", "", "2.12.3"},
        {"-SNAP-SNAPSHOTSHOT", "-SNAPSHOT", "", ""},  // occurrences formed by a removal go too
        {"aabb", "ab", "", ""},
        {"xyz", "q", "", "xyz"},
        {"", "v", "", ""},
        {"abc", "", "x", "abc"},                      // nothing to search for
        {"aXbXc", "X", "--", "a--b--c"},
        {"aaa", "a", "aa", "aaaaaa"},                 // one pass: a replacement holding the text ends
        {"aab", "ab", "bbaa", "abbaa"},               // one pass: repeating would grow without end
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.search + " / " + c.replacement);
        EXPECT_EQ(replaceAll(c.text, c.search, c.replacement), c.expected);
    }
}

}  // namespace

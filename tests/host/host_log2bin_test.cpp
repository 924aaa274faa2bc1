// `log2bin` of the built host, run as a process on JSON-lines logs written here.
#include <gtest/gtest.h>

#include "HostTestSupport.h"

using namespace hosttest;

namespace {

std::string Entry(const std::string& c) { return "{\"c\":\"" + c + "\"}\n"; }

std::string Log(const std::string& path, const std::string& hex) {
    return Entry("clogan header") + Entry(path) + Entry(hex);
}

const std::string kPayload = "unpacked payload\n";
const std::string kZzz = ZzzChunk(kPayload);
const std::string kBadZzz = LittleEndian32(8) + std::string(8, 'q');

struct Log2binCase {
    const char* name;
    std::string log;
    std::string expectedOut;
    std::map<std::string, std::string> expectedFiles;  // every file the directory holds afterwards, log excluded
};

std::vector<Log2binCase> Cases() {
    const std::string marker = Entry("clogan header");
    return {
        {"Hello", Log("out.bin", "48656C6C6F"), "filename:out.bin\n", {{"out.bin", "Hello"}}},
        {"mixed-case digits", Log("out.bin", "48656c6C6f"), "filename:out.bin\n", {{"out.bin", "Hello"}}},
        {".zzz payload unpacked and removed", Log("x.zzz", Hex(kZzz)),
         "filename:x.zzz\ndecompress file success.filename:x.dmp\n", {{"x.dmp", kPayload}}},
        {".zzz payload that does not unpack", Log("x.zzz", Hex(kBadZzz)),
         "filename:x.zzz\ndecompress error occur.\ndecompress file failed.\n", {{"x.zzz", kBadZzz}, {"x.dmp", ""}}},
        {"first dot in a directory name", Log("logs.old/a.zzz", Hex(kZzz)), "filename:logs.old/a.zzz\n",
         {{"logs.old/a.zzz", kZzz}}},
        {"four entries", Log("out.bin", "48656C6C6F") + Entry("more"), "line not 5\n", {}},
        {"fourth entry first", Entry("more") + Log("out.bin", "48656C6C6F"), "line not 5\n", {}},
        {"two entries", marker + Entry("out.bin"), "line not 5\n", {}},
        {"no entries", "[1]\n\n", "line not 5\n", {}},
        {"marker of another case", Entry("Clogan header") + Entry("out.bin") + Entry("48"), "line not 5\n", {}},
        {"values between the lines, CRLF and empty lines",
         "\r\n[1,2]\n" + marker + "42\r\n\"text\"\ntrue\nnull\n\n" + Entry("out.bin") + "[{\"c\":\"x\"}]\n" +
             "{\"c\":\"48656C6C6F\",\"other\":[1]}\r\n",
         "filename:out.bin\n", {{"out.bin", "Hello"}}},
        {"escapes decoded", Log("o\\u0075t.bin", "48656C6C6F"), "filename:out.bin\n", {{"out.bin", "Hello"}}},
        {"odd length", Log("out.bin", "48656C6C6"), "filename:out.bin\n", {}},
        {"non-hexadecimal digit", Log("out.bin", "0g"), "filename:out.bin\n", {}},
        {"non-hexadecimal late", Log("out.bin", "4865 C"), "filename:out.bin\n", {}},
        {"empty data", Log("out.bin", ""), "filename:out.bin\n", {}},
        {"invalid JSON after the entries", Log("out.bin", "48656C6C6F") + "{c: 1}\n",
         "invalid log line 4: not a JSON value\n", {}},
        {"text after the value", marker + "{\"c\":\"out.bin\"} x\n" + Entry("48"),
         "invalid log line 2: not a JSON value\n", {}},
        {"blank line", marker + "   \n" + Entry("out.bin") + Entry("48"), "invalid log line 2: not a JSON value\n", {}},
        {"\"c\" missing", marker + "{\"d\":\"out.bin\"}\n" + Entry("48"),
         "invalid log line 2: \"c\" is missing or not a string\n", {}},
        {"\"c\" a number", "\n" + marker + Entry("out.bin") + "{\"c\":48}\n",
         "invalid log line 4: \"c\" is missing or not a string\n", {}},
        {"zero byte in the path", Log("out.bin\\u0000.zzz", "48"), "invalid file name: contains a zero byte\n", {}},
    };
}

TEST(HostLog2bin, Conversions) {
    for (const Log2binCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directories(dir.path() / "logs.old");
        WriteFile(dir / "in.log", c.log);
        ProcessOptions options;
        options.cwd = dir.path().string();
        ProcessResult r = RunHost({"log2bin", "in.log", "ignored"}, options);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, c.expectedOut);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);

        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
            if (!entry.is_regular_file() || entry.path().filename() == "in.log") continue;
            files[fs::relative(entry.path(), dir.path()).string()] = *ReadFile(entry.path().string());
        }
        EXPECT_EQ(files, c.expectedFiles);
    }
}

TEST(HostLog2bin, LogThatCannotBeRead) {
    TempDir dir;
    fs::create_directories(dir.path() / "folder.log");
    ProcessOptions options;
    options.cwd = dir.path().string();
    for (const char* log : {"missing.log", "folder.log"}) {
        SCOPED_TRACE(log);
        ProcessResult r = RunHost({"log2bin", log}, options);
        EXPECT_EQ(r.out, "open logFile failed\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
    }
}

}  // namespace

// `unzzz` of the built host, run as a process on .zzz files made here with zlib.
#include <gtest/gtest.h>

#include "HostTestSupport.h"

using namespace hosttest;

namespace {

constexpr size_t kMaxChunk = 16284;

const std::string kFirst = Pattern(kMaxChunk, 1);
const std::string kSecond = Pattern(kMaxChunk, 2);
const std::string kSmall = "a small chunk of text\n";
const std::string kChunk = ZzzChunk(kSmall);

const char kFailedDmp[] = "decompress file faild.filename:crash.dmp\n";
const char kSucceededDmp[] = "decompress file success.filename:crash.dmp\n";

struct UnzzzContentCase {
    const char* name;
    std::string zzz;                  // content of crash.zzz
    std::string expectedOut;
    std::string dmp;                  // expected content of crash.dmp (always created)
};

std::vector<UnzzzContentCase> ContentCases() {
    const std::string truncated = kChunk.substr(0, kChunk.size() - 5);
    const std::string garbage(64, 'g');
    return {
        {"empty file", "", kSucceededDmp, ""},
        {"one chunk", kChunk, kSucceededDmp, kSmall},
        {"two full chunks", ZzzChunk(kFirst) + ZzzChunk(kSecond), kSucceededDmp, kFirst + kSecond},
        {"chunk inflating to 16285 bytes", ZzzChunk(Pattern(kMaxChunk + 1, 3)),
         std::string("decompress error occur.\n") + kFailedDmp, ""},
        {"chunk with L = 0", LittleEndian32(0), std::string("decompress error occur.\n") + kFailedDmp, ""},
        {"1 stray byte", kChunk + "x", kSucceededDmp, kSmall},
        {"2 stray bytes", kChunk + "xy", kSucceededDmp, kSmall},
        {"3 stray bytes", kChunk + "xyz", kSucceededDmp, kSmall},
        {"chunk that is no zlib stream", LittleEndian32(64) + garbage,
         std::string("decompress error occur.\n") + kFailedDmp, ""},
        {"truncated chunk after a good one", kChunk + truncated,
         std::string("read chunk not match, error.\ndecompress error occur.\n") + kFailedDmp, kSmall},
        {"L = 0xffffffff with 10 bytes behind it", LittleEndian32(0xffffffffu) + std::string(10, 'z'),
         std::string("read chunk not match, error.\ndecompress error occur.\n") + kFailedDmp, ""},
        {"L past the end of a file larger than any chunk", LittleEndian32(0x7fffffffu) + Pattern(70000, 4),
         std::string("read chunk not match, error.\ndecompress error occur.\n") + kFailedDmp, ""},
        {"L longer than any chunk, file long enough", LittleEndian32(70000) + Pattern(70000, 5),
         std::string("decompress error occur.\n") + kFailedDmp, ""},
        // A length covering a whole stream and more than the file holds: the bytes that exist
        // still form a complete stream, so the chunk unpacks after the warning.
        {"L past the end, complete stream inside", LittleEndian32(1000) + Compress(kSmall),
         std::string("read chunk not match, error.\n") + kSucceededDmp, kSmall},
    };
}

TEST(HostUnzzz, ChunkContents) {
    for (const UnzzzContentCase& c : ContentCases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir / "crash.zzz", c.zzz);
        ProcessOptions options;
        options.cwd = dir.path().string();
        // A length field is never taken as an allocation size: with the address space capped, a
        // buffer of L bytes for a huge L would fail as "malloc rdbuff failed.".
        options.addressSpaceLimit = size_t{512} << 20;
        ProcessResult r = RunHost({"unzzz", "crash.zzz"}, options);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, c.expectedOut);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
        std::optional<std::string> dmp = ReadFile(dir / "crash.dmp");
        ASSERT_TRUE(dmp.has_value());
        EXPECT_EQ(dmp->size(), c.dmp.size());
        EXPECT_TRUE(*dmp == c.dmp);
        // The input is never removed.
        EXPECT_EQ(ReadFile(dir / "crash.zzz"), c.zzz);
    }
}

struct UnzzzArgumentCase {
    const char* name;
    std::string argument;
    std::string expectedOut;
    std::optional<std::string> dmpPath;  // where the unpacked file must appear, relative to the directory
};

TEST(HostUnzzz, ArgumentForms) {
    const UnzzzArgumentCase cases[] = {
        {"plain name", "crash.zzz", kSucceededDmp, "crash.dmp"},
        {"upper-case extension", "crash.ZZZ", "kova_service_host unzzz [file.zzz] 1\n", std::nullopt},
        {"second extension", "crash.zzz.bak", "kova_service_host unzzz [file.zzz] 1\n", std::nullopt},
        {"dot in a directory name", "logs.old/crash.zzz", "kova_service_host unzzz [file.zzz] 1\n", std::nullopt},
        {"no dot", "crash", "kova_service_host unzzz [file.zzz] 2\n", std::nullopt},
        {"directory without a dot", "sub/crash.zzz", "decompress file success.filename:sub/crash.dmp\n",
         "sub/crash.dmp"},
    };
    for (const UnzzzArgumentCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directories(dir.path() / "logs.old");
        fs::create_directories(dir.path() / "sub");
        for (const char* name : {"crash.zzz", "crash.ZZZ", "crash.zzz.bak", "logs.old/crash.zzz", "crash",
                                 "sub/crash.zzz"}) {
            WriteFile(dir / name, kChunk);
        }
        ProcessOptions options;
        options.cwd = dir.path().string();
        ProcessResult r = RunHost({"unzzz", c.argument, "ignored"}, options);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, c.expectedOut);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
        size_t dmpFiles = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
            if (entry.path().extension() == ".dmp") ++dmpFiles;
        }
        if (c.dmpPath) {
            EXPECT_EQ(ReadFile(dir / *c.dmpPath), kSmall);
            EXPECT_EQ(dmpFiles, 1u);
        } else {
            EXPECT_EQ(dmpFiles, 0u);
        }
    }
}

TEST(HostUnzzz, FilesThatCannotBeUsed) {
    TempDir dir;
    ProcessOptions options;
    options.cwd = dir.path().string();

    // The input is a directory.
    fs::create_directories(dir.path() / "folder.zzz");
    ProcessResult r = RunHost({"unzzz", "folder.zzz"}, options);
    EXPECT_EQ(r.out, "open input file failed.\ndecompress file faild.filename:folder.dmp\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(dir.path() / "folder.dmp"));

    // The output path is taken by a directory.
    WriteFile(dir / "taken.zzz", kChunk);
    fs::create_directories(dir.path() / "taken.dmp");
    r = RunHost({"unzzz", "taken.zzz"}, options);
    EXPECT_EQ(r.out, "open output file failed.\ndecompress file faild.filename:taken.dmp\n");

    // The output cannot be written: a full device never reports success.
    WriteFile(dir / "full.zzz", ZzzChunk(kFirst));
    fs::create_symlink("/dev/full", dir.path() / "full.dmp");
    r = RunHost({"unzzz", "full.zzz"}, options);
    EXPECT_EQ(r.out, "write output file failed.\ndecompress file faild.filename:full.dmp\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
}

}  // namespace

// Unpacking of ".zzz" files and the `unzzz` command.
#include "ZzzFile.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "HostCommands.h"
#include "HostConsole.h"

namespace {

// Closes both files on every path out of decompressZzzFile; reports whether the output's buffered
// bytes all reached the file.
struct ZzzFiles {
    FILE* input = nullptr;
    FILE* output = nullptr;

    bool CloseOutput() {
        bool ok = true;
        if (output != nullptr) {
            ok = fclose(output) == 0;
            output = nullptr;
        }
        return ok;
    }
    ~ZzzFiles() {
        if (input != nullptr) fclose(input);
        CloseOutput();
    }
};

bool IsDirectory(FILE* file) {
    struct stat info;
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

// Bytes between the read position and the end of a regular file; -1 when that is unknown (a pipe
// or a device).
long long RemainingBytes(FILE* file) {
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    off_t position = ftello(file);
    if (position < 0 || position > info.st_size) return -1;
    return static_cast<long long>(info.st_size - position);
}

uint32_t ReadLittleEndian32(const unsigned char bytes[4]) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace

int decompressZzzFile(const char* inputPath, uint32_t& inputBytes, const char* outputPath, uint32_t& outputBytes) {
    std::vector<unsigned char> outBuffer(kZzzMaxChunkOutput, 0);  // reused for every chunk
    inputBytes = 0;
    outputBytes = 0;

    ZzzFiles files;
    files.input = fopen(inputPath, "rb");
    // A directory opens for reading on Linux but holds no bytes; it is no file to unpack.
    if (files.input == nullptr || IsDirectory(files.input)) {
        HostPrintLine("open input file failed.");
        return kZzzOpenFailed;
    }
    files.output = fopen(outputPath, "wb");
    if (files.output == nullptr) {
        HostPrintLine("open output file failed.");
        return kZzzOpenFailed;
    }

    unsigned char header[kZzzChunkHeaderSize];
    while (fread(header, 1, kZzzChunkHeaderSize, files.input) == kZzzChunkHeaderSize) {
        const uint32_t length = ReadLittleEndian32(header);
        const long long remaining = RemainingBytes(files.input);
        const bool truncated = remaining >= 0 && length > static_cast<unsigned long long>(remaining);
        // Only the bytes that exist are read: a length running past the end of the file is a
        // truncated chunk, and no more than the file holds is allocated for it.
        const uint32_t wanted = truncated ? static_cast<uint32_t>(remaining) : length;
        if (wanted > kZzzMaxChunkLength) {
            if (truncated) HostPrintLine("read chunk not match, error.");
            HostPrintLine("decompress error occur.");
            return kZzzInflateFailed;
        }

        std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[wanted > 0 ? wanted : 1]);
        if (!chunk) {
            HostPrintLine("malloc rdbuff failed.");
            return kZzzAllocFailed;
        }
        const size_t got = fread(chunk.get(), 1, wanted, files.input);
        inputBytes += static_cast<uint32_t>(got);
        if (got < length) HostPrintLine("read chunk not match, error.");

        uLongf produced = kZzzMaxChunkOutput;
        if (uncompress(outBuffer.data(), &produced, chunk.get(), static_cast<uLong>(got)) != Z_OK) {
            HostPrintLine("decompress error occur.");
            return kZzzInflateFailed;
        }
        outputBytes += static_cast<uint32_t>(produced);
        if (fwrite(outBuffer.data(), 1, produced, files.output) != produced) {
            HostPrintLine("write output file failed.");
            return kZzzWriteFailed;
        }
    }
    if (!files.CloseOutput()) {
        HostPrintLine("write output file failed.");
        return kZzzWriteFailed;
    }
    return kZzzOk;
}

int CmdUnzzz(int argc, char** argv) {
    if (argc < 3) {
        HostPrintLine("kova_service_host unzzz [file.zzz] 3");
        return 0;
    }
    const std::string inputPath = argv[2];
    // The extension runs from the first "." of the whole argument, directories included.
    const size_t dot = inputPath.find('.');
    if (dot == std::string::npos) {
        HostPrintLine("kova_service_host unzzz [file.zzz] 2");
        return 0;
    }
    if (inputPath.compare(dot, std::string::npos, ".zzz") != 0) {
        HostPrintLine("kova_service_host unzzz [file.zzz] 1");
        return 0;
    }
    const std::string outputPath = inputPath.substr(0, dot) + ".dmp";
    uint32_t inputBytes = 0;
    uint32_t outputBytes = 0;
    if (decompressZzzFile(inputPath.c_str(), inputBytes, outputPath.c_str(), outputBytes) == kZzzOk) {
        HostPrintLine("decompress file success.", "filename:", outputPath);
    } else {
        HostPrintLine("decompress file faild.", "filename:", outputPath);
    }
    return 0;
}

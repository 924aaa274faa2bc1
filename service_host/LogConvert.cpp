// The `log2bin` command: a JSON-lines log carries a binary file as hexadecimal text in the "c"
// members of exactly three object lines (the marker "clogan header", the file's path, the bytes).
// The file is written back; a ".zzz" file is then unpacked into its ".dmp" file and removed.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "HostCommands.h"
#include "HostConsole.h"
#include "ZzzFile.h"

namespace {

const char kLogMarker[] = "clogan header";

// Collects the "c" member of every object line, in line order. Empty lines are skipped, and so
// are lines whose value is not an object. Returns false, after its own line naming the log line,
// when a line is not one JSON value or an object line lacks a string "c".
bool ReadLogEntries(std::istream& log, std::vector<std::string>& entries) {
    std::string line;
    for (size_t number = 1; std::getline(log, line); ++number) {
        // A carriage return before the line feed belongs to the line end, as in text-mode reading.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        nlohmann::json value;
        try {
            value = nlohmann::json::parse(line);
        } catch (const nlohmann::json::exception&) {
            HostPrintLine("invalid log line ", number, ": not a JSON value");
            return false;
        }
        if (!value.is_object()) continue;
        auto member = value.find("c");
        if (member == value.end() || !member->is_string()) {
            HostPrintLine("invalid log line ", number, ": \"c\" is missing or not a string");
            return false;
        }
        entries.push_back(member->get<std::string>());
    }
    return true;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two digits per byte, high nibble first. False at the first character that is no hex digit.
bool DecodeHex(const std::string& text, std::vector<unsigned char>& bytes) {
    bytes.clear();
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        int high = HexDigitValue(text[i]);
        int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            bytes.clear();
            return false;
        }
        bytes.push_back(static_cast<unsigned char>((high << 4) | low));
    }
    return true;
}

// Failures to open or write the file are not reported: the unpacking step that follows, if any,
// reports the file as unreadable.
void WriteBinaryFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

int CmdLog2bin(int argc, char** argv) {
    if (argc < 3) {
        HostPrintLine("kova_service_host log2bin [logFile]");
        return 0;
    }
    std::vector<std::string> entries;
    {
        std::ifstream log;
        // A directory opens as a stream on Linux but holds no lines; it is no log to read.
        if (!IsDirectory(argv[2])) log.open(argv[2]);
        if (!log.is_open()) {
            HostPrintLine("open logFile failed");
            return 0;
        }
        if (!ReadLogEntries(log, entries)) return 0;
    }
    if (entries.size() != 3 || entries[0] != kLogMarker) {
        HostPrintLine("line not 5");
        return 0;
    }
    const std::string& path = entries[1];
    // A "\u0000" escape would cut the path short at the file system and write to another file.
    if (path.find('\0') != std::string::npos) {
        HostPrintLine("invalid file name: contains a zero byte");
        return 0;
    }
    HostPrintLine("filename:", path);

    const std::string& hex = entries[2];
    if (hex.size() % 2 != 0) return 0;
    std::vector<unsigned char> bytes;
    if (!DecodeHex(hex, bytes) || bytes.empty()) return 0;
    WriteBinaryFile(path, bytes);

    // The extension runs from the first "." of the whole path, directories included.
    const size_t dot = path.find('.');
    if (dot == std::string::npos || path.compare(dot, std::string::npos, ".zzz") != 0) return 0;
    const std::string dmpPath = path.substr(0, dot) + ".dmp";
    uint32_t inputBytes = 0;
    uint32_t outputBytes = 0;
    if (decompressZzzFile(path.c_str(), inputBytes, dmpPath.c_str(), outputBytes) != kZzzOk) {
        HostPrintLine("decompress file failed.");
        return 0;
    }
    HostPrintLine("decompress file success.", "filename:", dmpPath);
    remove(path.c_str());
    return 0;
}

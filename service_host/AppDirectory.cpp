#include "AppDirectory.h"

#include <cstring>

#include "md5.h"

namespace {

struct AppDirectoryRow {
    char key[33];           // MD5 of the executable base name, 32 lower-case hexadecimal digits
    const char* directory;  // 2 to 19 ASCII letters
};

// Compared in this order; the first row whose key equals the digest wins.
const AppDirectoryRow kAppDirectories[] = {
    {"d934ab7fa0dda397ad1a7ace3a1eea90", "Meeting"},    // KovaMeeting
    {"7c26e38690b899b5ff44ead2fc5193d3", "Rooms"},      // KovaRooms
    {"47a4639df27c0e8e4be6cadae849018d", "Classroom"},  // KovaClassroom
    {"510b5fe214f7df9dd5ac02c95343ad67", "Live"},       // KovaLive
    {"48541fe75217d486f01082b23471bf76", "Workspace"},  // KovaWorkspace
};

}  // namespace

std::string GetAppDirectoryName(const std::string& executableName) {
    const std::string digest = MD5(executableName).toStr();
    for (const AppDirectoryRow& row : kAppDirectories) {
        if (std::memcmp(row.key, digest.data(), 32) == 0) return row.directory;
    }
    return digest;
}

std::string GetKOVALogDirectoryName(const std::string& executableName) {
    std::string name = "kova_sdk_logs";
    if (!executableName.empty()) name += "_" + GetAppDirectoryName(executableName);
    return name;
}

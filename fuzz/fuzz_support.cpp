#include "fuzz_support.h"

#include <dirent.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kova_fuzz {

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz set-up failed: %s: %s\n", what, std::strerror(errno));
    std::abort();
}

bool WriteText(const char* path, const char* text) {
    FILE* file = std::fopen(path, "w");
    if (file == nullptr) return false;
    const bool ok = std::fputs(text, file) >= 0;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

const std::string& ScratchDir() {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kova_fuzz_XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) Fail("mkdtemp");
        return pattern;
    }();
    return dir;
}

void ClearScratchDir() {
    const std::string& dir = ScratchDir();
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) Fail("opendir");
    while (dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        unlink((dir + "/" + entry->d_name).c_str());
    }
    closedir(listing);
}

void WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) Fail("fopen");
    if (size > 0 && std::fwrite(data, 1, size, file) != size) Fail("fwrite");
    if (std::fclose(file) != 0) Fail("fclose");
}

long long FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

void PrivateSharedMemory() {
    // Root may take a mount namespace directly; anyone else goes through a user namespace first,
    // mapped onto the same ids so that file ownership looks unchanged.
    if (unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = getuid();
        const gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) Fail("unshare");
        char map[64];
        WriteText("/proc/self/setgroups", "deny");
        std::snprintf(map, sizeof(map), "%u %u 1\n", static_cast<unsigned>(uid), static_cast<unsigned>(uid));
        if (!WriteText("/proc/self/uid_map", map)) Fail("uid_map");
        std::snprintf(map, sizeof(map), "%u %u 1\n", static_cast<unsigned>(gid), static_cast<unsigned>(gid));
        if (!WriteText("/proc/self/gid_map", map)) Fail("gid_map");
    }
    // Mounts made here must not propagate back to the machine's namespace.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail("mount --make-rprivate /");
    if (mount("kova_fuzz_shm", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0) Fail("mount tmpfs");
}

}  // namespace kova_fuzz

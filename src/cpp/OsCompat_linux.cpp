// Linux build of the platform helpers.
#include "OsCompat.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

constexpr size_t kPathBufferSize = 1024;

std::string ExecutablePath() {
    char buffer[PATH_MAX + 1] = {0};
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// Path of the file that contains this code: the loader's name for a shared object, the executable's
// own path when the code is linked into the main program.
std::string ModuleFilePath() {
    Dl_info info;
    std::memset(&info, 0, sizeof(info));
    std::string path;
    if (dladdr(reinterpret_cast<void*>(&ModuleFilePath), &info) != 0 && info.dli_fname != nullptr) {
        path = info.dli_fname;
    }
    std::string exe = ExecutablePath();
    char resolved[PATH_MAX + 1] = {0};
    if (path.empty() || path.find('/') == std::string::npos ||
        (realpath(path.c_str(), resolved) != nullptr && exe == resolved)) {
        path = exe;
    }
    if (path.size() > kPathBufferSize - 1) path.resize(kPathBufferSize - 1);
    return path;
}

}  // namespace

PlatformModule PlatformLoadLibrary(const std::wstring& path, const std::wstring& /*dllDirectory*/) {
    std::string utf8 = wide_to_utf8_string(path);
    void* handle = dlopen(utf8.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        PlatformReportLoadFailure(utf8, error != nullptr ? error : "");
    }
    return handle;
}

int PlatformFreeLibrary(PlatformModule module) {
    return module != nullptr ? dlclose(module) : -1;
}

void* PlatformGetProcAddress(PlatformModule module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return dlsym(module, name);
}

std::wstring PlatformGetCurrentModuleDir() {
    static std::wstring s_strCurrentModuleDir;
    if (!s_strCurrentModuleDir.empty()) return s_strCurrentModuleDir;
    std::string path = ModuleFilePath();
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) path.resize(slash + 1);
    s_strCurrentModuleDir = utf8_to_wide_string(path);
    return s_strCurrentModuleDir;
}

std::wstring PlatformGetSAIManagerElectronSDKParentDir() {
    static std::wstring s_strSAIManagerRootDir;
    if (!s_strSAIManagerRootDir.empty()) return s_strSAIManagerRootDir;
    std::string path = ModuleFilePath();
    for (int i = 0; i < 4; ++i) {
        size_t slash = path.rfind('/');
        if (slash == std::string::npos) break;
        path.resize(i < 3 ? slash : slash + 1);
    }
    s_strSAIManagerRootDir = utf8_to_wide_string(path);
    return s_strSAIManagerRootDir;
}

std::wstring PlatformGetExecutableName() {
    std::string path = ExecutablePath();
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return utf8_to_wide_string(name);
}

std::string getKOVALogDirectory() {
    std::string documents;
    if (const char* xdg = getenv("XDG_DOCUMENTS_DIR"); xdg != nullptr && *xdg != '\0') {
        documents = xdg;
    } else if (const char* home = getenv("HOME"); home != nullptr) {
        documents = std::string(home) + "/Documents";
    }
    std::string exe = ExecutablePath();
    size_t slash = exe.rfind('/');
    std::string base = slash == std::string::npos ? exe : exe.substr(slash + 1);
    return documents + "/kova_log." + base;
}

std::string GetLoadKOVASDKName() {
    std::ifstream file(getKOVALogDirectory() + "/sdkname.txt", std::ios::binary);
    if (!file) return std::string();
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string GetLoadKOVASDKNameDefault() {
    return "libkova_sdk.so";
}

bool PlatformFileExists(const std::wstring& path) {
    return access(wide_to_utf8_string(path).c_str(), F_OK) == 0;
}

int PlatformMakeDir(const std::wstring& path) {
    std::string utf8 = wide_to_utf8_string(path);
    if (access(utf8.c_str(), F_OK) == 0) return 1;
    size_t slash = path.rfind(L'/');
    if (slash == std::wstring::npos) return -1;
    int parent = PlatformMakeDir(path.substr(0, slash));
    if (parent == 0 || parent == 1) {
        if (mkdir(utf8.c_str(), 0755) == 0) return 0;
        return -1;
    }
    return parent;
}

bool LoadFileContent(const std::wstring& path, std::vector<uint8_t>& content) {
    std::ifstream file(wide_to_utf8_string(path), std::ios::binary);
    if (!file) return false;
    content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !content.empty();
}

bool SaveFileContent(const std::wstring& path, const std::vector<uint8_t>& content) {
    FILE* file = fopen(wide_to_utf8_string(path).c_str(), "wb");
    if (file == nullptr) return false;
    size_t length = 0;
    while (length < content.size() && content[length] != 0) ++length;
    if (length > 0) fwrite(content.data(), 1, length, file);
    fclose(file);
    return true;
}

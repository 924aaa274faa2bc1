// Windows build of the platform helpers.
#include "OsCompat.h"

#include <windows.h>
#include <dbghelp.h>
#include <direct.h>
#include <io.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>

#include "AppDirectory.h"

namespace {

constexpr DWORD kModulePathChars = 1024;
constexpr DWORD kExecutablePathChars = 2048;

// FOLDERID_RoamingAppData, spelled out so that no GUID library is needed.
const KNOWNFOLDERID kRoamingAppData = {0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};

// The module that holds `address`: normally found by address; should that fail, the symbol
// handler (initialised once per process) is asked for the base of the module holding this code.
HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (GetModuleHandleExA(flags, static_cast<LPCSTR>(address), &module) && module != nullptr) return module;
    static const BOOL s_symbolsReady = SymInitialize(GetCurrentProcess(), nullptr, TRUE);
    (void)s_symbolsReady;
    return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(
        SymGetModuleBase64(GetCurrentProcess(), reinterpret_cast<DWORD64>(&ModuleOf))));
}

// Full path of the module holding `address`, read into a zeroed buffer of 1024 characters.
std::wstring ModuleFileName(const void* address) {
    wchar_t path[kModulePathChars];
    std::memset(path, 0, sizeof(path));
    GetModuleFileNameW(ModuleOf(address), path, kModulePathChars);
    path[kModulePathChars - 1] = L'\0';
    return path;
}

std::string Utf8OrEmpty(const std::wstring& text) {
    try {
        return wide_to_utf8_string(text);
    } catch (const std::exception&) {
        return std::string();  // a lone surrogate in a file name: no UTF-8 form
    }
}

// Resolves the roaming application-data folder into `buffer` (260 characters, zeroed on entry)
// with the narrow or the wide shell call.
template <typename Char, typename PathFromIdList>
void AppDataPath(Char* buffer, size_t count, PathFromIdList pathFromIdList) {
    PIDLIST_ABSOLUTE idList = nullptr;
    if (FAILED(SHGetKnownFolderIDList(kRoamingAppData, 0, nullptr, &idList))) return;
    if (pathFromIdList(idList, buffer) != TRUE) {
        OutputDebugStringA("FALSE == SHGetPathFromIDList(pIDList, chAppDataPath)");
        std::memset(buffer, 0, count * sizeof(Char));
    }
    CoTaskMemFree(idList);
    buffer[count - 1] = 0;
}

}  // namespace

PlatformModule PlatformLoadLibrary(const std::wstring& path, const std::wstring& dllDirectory) {
    std::wstring saved;
    const bool redirect = !dllDirectory.empty();
    if (redirect) {
        const DWORD length = GetDllDirectoryW(0, nullptr);
        if (length > 1) {
            saved.assign(length - 1, L'\0');
            // A shorter answer than announced (the directory changed meanwhile) keeps what it wrote.
            const DWORD written = GetDllDirectoryW(length, &saved[0]);
            saved.resize(written < length ? written : 0);
        }
        SetDllDirectoryW(dllDirectory.c_str());
    }
    HMODULE module = LoadLibraryW(path.c_str());
    const DWORD error = module == nullptr ? GetLastError() : 0;
    if (redirect) SetDllDirectoryW(saved.c_str());
    if (module == nullptr) {
        char text[32];
        std::snprintf(text, sizeof(text), "error %lu", static_cast<unsigned long>(error));
        PlatformReportLoadFailure(Utf8OrEmpty(path), text);
    }
    return module;
}

int PlatformFreeLibrary(PlatformModule module) {
    return module != nullptr ? FreeLibrary(static_cast<HMODULE>(module)) : 0;
}

void* PlatformGetProcAddress(PlatformModule module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

std::wstring PlatformGetCurrentModuleDir() {
    static std::wstring s_strCurrentModuleDir;
    if (!s_strCurrentModuleDir.empty()) return s_strCurrentModuleDir;
    std::wstring path = ModuleFileName(__builtin_return_address(0));
    const size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos) path.resize(slash + 1);
    s_strCurrentModuleDir = path;
    return s_strCurrentModuleDir;
}

std::wstring PlatformGetSAIManagerElectronSDKParentDir() {
    static std::wstring s_strSAIManagerRootDir;
    if (!s_strSAIManagerRootDir.empty()) return s_strSAIManagerRootDir;
    std::wstring path = ModuleFileName(__builtin_return_address(0));
    for (int i = 0; i < 4; ++i) {
        const size_t slash = path.rfind(L'\\');
        if (slash == std::wstring::npos) break;
        path.resize(i < 3 ? slash : slash + 1);
    }
    s_strSAIManagerRootDir = path;
    return s_strSAIManagerRootDir;
}

std::wstring PlatformGetExecutableName() {
    wchar_t path[kExecutablePathChars];
    std::memset(path, 0, sizeof(path));
    GetModuleFileNameW(nullptr, path, kExecutablePathChars - 1);
    std::wstring name = path;
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}

std::string PlatformGetAppDataDir() {
    char path[MAX_PATH];
    std::memset(path, 0, sizeof(path));
    AppDataPath(path, MAX_PATH, [](PIDLIST_ABSOLUTE list, char* out) { return SHGetPathFromIDListA(list, out); });
    return path;
}

std::wstring PlatformGetAppDataDirW() {
    wchar_t path[MAX_PATH];
    std::memset(path, 0, sizeof(path));
    AppDataPath(path, MAX_PATH, [](PIDLIST_ABSOLUTE list, wchar_t* out) { return SHGetPathFromIDListW(list, out); });
    return path;
}

std::wstring PlatformGetSAIManagerOpenGLCheckDir() {
    return PlatformGetAppDataDirW() + L"\\kova_saimanager_openglcheck\\";
}

std::string getKOVALogDirectory() {
    const std::string name = GetKOVALogDirectoryName(Utf8OrEmpty(PlatformGetExecutableName()));
    const std::string appData = PlatformGetAppDataDir();
    return appData.empty() ? std::string() : appData + "\\" + name;
}

std::string GetLoadKOVASDKName() {
    std::ifstream file(getKOVALogDirectory() + "\\sdkname.txt");
    if (!file) return std::string();
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string GetLoadKOVASDKNameDefault() {
    return "kova_sdk.dll";
}

std::wstring ansi_to_wide_string(const std::string& text) {
    const int length = static_cast<int>(text.size()) + 1;  // the terminating zero included
    const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), length, nullptr, 0);
    if (size <= 1) return std::wstring();
    std::wstring out(static_cast<size_t>(size), L'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, text.c_str(), length, &out[0], size);
    out.resize(written > 0 ? static_cast<size_t>(written - 1) : 0);
    return out;
}

std::string wide_to_ansi_string(const std::wstring& text) {
    const int length = static_cast<int>(text.size()) + 1;
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text.c_str(), length, &out[0], size, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<size_t>(written - 1) : 0);
    return out;
}

bool PlatformFileExists(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(path.c_str(), &found);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FindClose(handle);
    return true;
}

int PlatformMakeDir(const std::wstring& path) {
    if (_waccess(path.c_str(), 0) == 0) return 1;
    // Both separators count: Windows takes either in a path.
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return -1;
    const int parent = PlatformMakeDir(path.substr(0, slash));
    if (parent == 0 || parent == 1) return _wmkdir(path.c_str()) == 0 ? 0 : -1;
    return parent;
}

bool LoadFileContent(const std::wstring& path, std::vector<uint8_t>& content) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return false;
    content.clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) content.insert(content.end(), buffer, buffer + n);
    std::fclose(file);
    return !content.empty();
}

bool SaveFileContent(const std::wstring& path, const std::vector<uint8_t>& content) {
    FILE* file = _wfopen(path.c_str(), L"w");
    if (file == nullptr) return false;
    size_t length = 0;
    while (length < content.size() && content[length] != 0) ++length;
    if (length > 0) std::fwrite(content.data(), 1, length, file);
    std::fclose(file);
    return true;
}

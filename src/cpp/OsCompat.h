// Platform helpers: one operation set shared by the addon and the service host, with one build per
// operating system (OsCompat_linux.cpp, OsCompat_win.cpp; the UTF-8 codec in OsCompat_codec.cpp).
// Paths handed between these functions are wide strings where the signature says so, UTF-8 narrow
// strings otherwise. Nothing else in the tree includes a platform header for these facilities.
#ifndef KOVA_OS_COMPAT_H
#define KOVA_OS_COMPAT_H

#include <cstdint>
#include <string>
#include <vector>

using PlatformModule = void*;

// Loads a shared library; dllDirectory is used only by the Windows build. Null on failure, after
// PlatformReportLoadFailure.
PlatformModule PlatformLoadLibrary(const std::wstring& path, const std::wstring& dllDirectory);
int PlatformFreeLibrary(PlatformModule module);
void* PlatformGetProcAddress(PlatformModule module, const char* name);

// Directory of the file that holds this code (the addon, or the host executable), ending in a
// separator. Cached after the first call; the first call must not race another.
std::wstring PlatformGetCurrentModuleDir();
// That directory three levels up, ending in a separator.
std::wstring PlatformGetSAIManagerElectronSDKParentDir();
// The executable's file name without directory and without its last extension.
std::wstring PlatformGetExecutableName();

// Per-user log directory (not created).
std::string getKOVALogDirectory();
// Content of "sdkname.txt" in the log directory, byte for byte, or empty.
std::string GetLoadKOVASDKName();
// The SDK library's default file name.
std::string GetLoadKOVASDKNameDefault();

// UTF-8 <-> wide codec: one wide character per code point. Invalid input, or a code point that
// does not fit one wide character (above U+FFFF where wchar_t has 16 bits), throws
// std::range_error("bad conversion").
std::wstring utf8_to_wide_string(const std::string& text);
std::string wide_to_utf8_string(const std::wstring& text);

bool PlatformFileExists(const std::wstring& path);
// Creates the directory and its missing parents: 1 when it already exists, 0 when created, -1 on failure.
int PlatformMakeDir(const std::wstring& path);
// Whole file into `content`; false when it cannot be opened or is empty.
bool LoadFileContent(const std::wstring& path, std::vector<uint8_t>& content);
// Truncates and writes `content` up to its first zero byte; false when the file cannot be opened.
bool SaveFileContent(const std::wstring& path, const std::vector<uint8_t>& content);

#ifdef _WIN32
// Narrow strings in the system's ANSI code page <-> wide strings; empty when the text does not
// convert (or is empty).
std::wstring ansi_to_wide_string(const std::string& text);
std::string wide_to_ansi_string(const std::wstring& text);
// The roaming application-data folder of the user, empty when the shell does not know it.
std::string PlatformGetAppDataDir();
std::wstring PlatformGetAppDataDirW();
// That folder followed by "\kova_saimanager_openglcheck\".
std::wstring PlatformGetSAIManagerOpenGLCheckDir();
#endif

// Called by PlatformLoadLibrary when a load fails, with the UTF-8 path and the loader's error text.
// Each deliverable defines it: the addon logs the failure, the service host stays silent.
void PlatformReportLoadFailure(const std::string& path, const char* error);

#endif  // KOVA_OS_COMPAT_H

// The Windows platform helpers, called in a real Windows process: the codecs, module and
// executable paths, the roaming application-data and log directories, library loading with a DLL
// directory, and the file helpers. kova_sdk.dll (the stand-in) and ctr_client.dll lie beside this
// program.
#include <shlobj.h>

#include <cstdio>
#include <stdexcept>

#include "OsCompat.h"
#include "WinTestSupport.h"
#include "md5.h"

using namespace wintest;

namespace {

std::vector<std::string> g_loadFailures;

std::wstring TempDirectory() {
    wchar_t base[MAX_PATH + 1] = {0};
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + Widen(UniqueName("oscompat"));
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.append(buffer, n);
        std::fclose(f);
    }
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::wstring CurrentDllDirectory() {
    wchar_t buffer[1024] = {0};
    GetDllDirectoryW(1024, buffer);
    return buffer;
}

}  // namespace

void PlatformReportLoadFailure(const std::string& path, const char* error) {
    g_loadFailures.push_back(path + " | " + (error != nullptr ? error : ""));
}

TEST(Codec, Utf8ToSixteenBitWideCharacters) {
    EXPECT_EQ(utf8_to_wide_string(""), L"");
    EXPECT_EQ(utf8_to_wide_string("kova_sdk.dll"), L"kova_sdk.dll");
    EXPECT_EQ(utf8_to_wide_string("\xc3\xa9\xe2\x82\xac\xef\xbf\xbf"), std::wstring(L"\x00e9\x20ac\xffff"));
    EXPECT_EQ(wide_to_utf8_string(std::wstring(L"\x00e9\x20ac\xffff")), "\xc3\xa9\xe2\x82\xac\xef\xbf\xbf");

    // Code points beyond U+FFFF have no single 16-bit character; malformed input fails alike.
    const char* const kBad[] = {"\xf0\x9f\x98\x80", "\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "a\x80"};
    for (const char* bad : kBad) {
        SCOPED_TRACE(bad);
        try {
            utf8_to_wide_string(bad);
            ADD_FAILURE() << "no error";
        } catch (const std::range_error& e) {
            EXPECT_STREQ(e.what(), "bad conversion");
        }
    }
    EXPECT_THROW(wide_to_utf8_string(std::wstring(1, static_cast<wchar_t>(0xD800))), std::range_error);
}

TEST(Codec, AnsiCodePage) {
    EXPECT_EQ(ansi_to_wide_string("C:\\kova\\x.txt"), L"C:\\kova\\x.txt");
    EXPECT_EQ(wide_to_ansi_string(L"C:\\kova\\x.txt"), "C:\\kova\\x.txt");
    EXPECT_EQ(ansi_to_wide_string(""), L"");
    EXPECT_EQ(wide_to_ansi_string(L""), "");
}

TEST(Paths, ModuleAndExecutable) {
    const std::wstring self = SelfPath();
    const std::wstring dir = PlatformGetCurrentModuleDir();
    EXPECT_EQ(dir, SelfDir());
    EXPECT_EQ(PlatformGetCurrentModuleDir(), dir) << "cached";

    // Three levels above the module's directory, with a trailing backslash.
    std::wstring expected = self;
    for (int i = 0; i < 3; ++i) expected.resize(expected.rfind(L'\\'));
    expected.resize(expected.rfind(L'\\') + 1);
    EXPECT_EQ(PlatformGetSAIManagerElectronSDKParentDir(), expected);

    EXPECT_EQ(PlatformGetExecutableName(), L"oscompat_win_test");
    EXPECT_EQ(GetLoadKOVASDKNameDefault(), "kova_sdk.dll");
}

TEST(Paths, RoamingAppDataAndLogDirectory) {
    wchar_t shellPath[MAX_PATH] = {0};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, shellPath), S_OK);
    const std::wstring appData = PlatformGetAppDataDirW();
    ASSERT_FALSE(appData.empty());
    EXPECT_EQ(appData, shellPath);
    EXPECT_EQ(ansi_to_wide_string(PlatformGetAppDataDir()), appData);

    const std::wstring openGl = PlatformGetSAIManagerOpenGLCheckDir();
    EXPECT_EQ(openGl, appData + L"\\kova_saimanager_openglcheck\\");
    EXPECT_EQ(openGl.size() - appData.size(), 29u);

    // No row of the application table names this program: the digest itself is the directory.
    const std::string logDir = getKOVALogDirectory();
    EXPECT_EQ(logDir, PlatformGetAppDataDir() + "\\kova_sdk_logs_" + MD5(std::string("oscompat_win_test")).toStr());

    // sdkname.txt there, read whole in text mode; empty when missing.
    EXPECT_EQ(GetLoadKOVASDKName(), "");
    ASSERT_EQ(PlatformMakeDir(ansi_to_wide_string(logDir)), 0);
    const std::wstring nameFile = ansi_to_wide_string(logDir) + L"\\sdkname.txt";
    WriteBytes(nameFile, "other_sdk.dll\r\n  ");
    EXPECT_EQ(GetLoadKOVASDKName(), "other_sdk.dll\n  ");
    DeleteFileW(nameFile.c_str());
    RemoveDirectoryW(ansi_to_wide_string(logDir).c_str());
}

TEST(Library, LoadsByPathAndThroughADllDirectoryWhichIsRestored) {
    g_loadFailures.clear();
    PlatformModule sdk = PlatformLoadLibrary(PlatformGetCurrentModuleDir() + L"kova_sdk.dll", L"");
    ASSERT_NE(sdk, nullptr);
    EXPECT_NE(PlatformGetProcAddress(sdk, "CreateKOVAWinClient"), nullptr);
    EXPECT_NE(PlatformGetProcAddress(sdk, "startKovaLogUpload"), nullptr);
    EXPECT_EQ(PlatformGetProcAddress(sdk, "NoSuchEntry"), nullptr);
    EXPECT_EQ(PlatformGetProcAddress(nullptr, "CreateKOVAWinClient"), nullptr);

    // A copy under a name found only in the given DLL directory.
    const std::wstring dir = TempDirectory();
    ASSERT_TRUE(CopyFileW((PlatformGetCurrentModuleDir() + L"kova_sdk.dll").c_str(), (dir + L"\\standin_copy.dll").c_str(),
                          FALSE));
    ASSERT_TRUE(SetDllDirectoryW(L"C:\\windows"));
    EXPECT_EQ(PlatformLoadLibrary(L"standin_copy.dll", L""), nullptr);
    ASSERT_EQ(g_loadFailures.size(), 1u);
    EXPECT_EQ(g_loadFailures[0], "standin_copy.dll | error 126");  // ERROR_MOD_NOT_FOUND
    PlatformModule copy = PlatformLoadLibrary(L"standin_copy.dll", dir);
    EXPECT_NE(copy, nullptr);
    EXPECT_EQ(CurrentDllDirectory(), L"C:\\windows") << "the previous DLL directory is back";
    SetDllDirectoryW(nullptr);
    EXPECT_NE(PlatformFreeLibrary(copy), 0);
    DeleteFileW((dir + L"\\standin_copy.dll").c_str());
    RemoveDirectoryW(dir.c_str());
}

// The application finds the controller library's four functions by their plain C names.
TEST(Library, ControllerLibraryExportsItsFunctionsByTheirCNames) {
    PlatformModule library = PlatformLoadLibrary(PlatformGetCurrentModuleDir() + L"ctr_client.dll", L"");
    ASSERT_NE(library, nullptr);
    for (const char* name : {"CTR_SetClientCallBack", "CTR_CreateClient", "CTR_SendDataToServer", "CTR_StopClient"}) {
        EXPECT_NE(PlatformGetProcAddress(library, name), nullptr) << name;
    }
    EXPECT_EQ(PlatformGetProcAddress(library, "_Z16CTR_CreateClientPcti"), nullptr);
}

TEST(Files, MakeDirExistsLoadAndSave) {
    const std::wstring dir = TempDirectory();
    const std::wstring nested = dir + L"\\a\\b\\c";
    EXPECT_EQ(PlatformMakeDir(nested), 0);
    EXPECT_EQ(PlatformMakeDir(nested), 1);
    EXPECT_TRUE(PlatformFileExists(nested));
    EXPECT_EQ(PlatformMakeDir(L"no_separator_here"), -1);

    const std::wstring file = dir + L"\\a\\data.txt";
    EXPECT_FALSE(PlatformFileExists(file));
    std::vector<uint8_t> content;
    EXPECT_FALSE(LoadFileContent(file, content)) << "missing";
    // Text mode: "\n" becomes "\r\n"; the first zero byte ends the text.
    const std::string text = "line 1\nline 2";
    std::vector<uint8_t> saved(text.begin(), text.end());
    saved.push_back(0);
    saved.push_back('x');
    EXPECT_TRUE(SaveFileContent(file, saved));
    EXPECT_TRUE(PlatformFileExists(file));
    EXPECT_EQ(FileBytes(file), "line 1\r\nline 2");
    ASSERT_TRUE(LoadFileContent(file, content));
    EXPECT_EQ(std::string(content.begin(), content.end()), "line 1\r\nline 2") << "read in binary";
    EXPECT_EQ(PlatformMakeDir(file + L"\\below"), -1) << "a file in the way";

    EXPECT_TRUE(SaveFileContent(file, std::vector<uint8_t>{0}));
    EXPECT_FALSE(LoadFileContent(file, content)) << "empty";
    EXPECT_FALSE(SaveFileContent(dir + L"\\missing\\x.txt", saved));

    DeleteFileW(file.c_str());
    RemoveDirectoryW(nested.c_str());
    RemoveDirectoryW((dir + L"\\a\\b").c_str());
    RemoveDirectoryW((dir + L"\\a").c_str());
    RemoveDirectoryW(dir.c_str());
}

// The install-path operations called directly: the system path's capacity rules, PATH, expanding
// and loading, and the module list with its failures.
#include <string>

#include <gtest/gtest.h>

#include "host.h"
#include "test_support.h"
#include "win/environment.h"
#include "win/lasterror.h"
#include "win/module.h"

using namespace qvcom_test;

namespace {

// Keeps this process's PATH and the host's process-wide paths from leaking between tests.
class InstallPaths : public ::testing::Test {
protected:
    void SetUp() override {
        const DWORD n = GetEnvironmentVariableW(u"PATH", nullptr, 0);
        savedPath_.resize(n);
        GetEnvironmentVariableW(u"PATH", savedPath_.data(), n);
        if (!savedPath_.empty())
            savedPath_.pop_back();
        g_szWindowsFolder[0] = u'\0';
        g_szSystemDirectory[0] = u'\0';
        UnloadAllModules();
    }
    void TearDown() override {
        UnloadAllModules();
        SetEnvironmentVariableW(u"PATH", savedPath_.c_str());
        g_szWindowsFolder[0] = u'\0';
        g_szSystemDirectory[0] = u'\0';
    }

    static std::u16string path() {
        WCHAR buffer[32768];
        const DWORD n = GetEnvironmentVariableW(u"PATH", buffer, 32768);
        return std::u16string(buffer, n);
    }
    static void usePaths(const char16_t* windowsFolder, const char16_t* systemDirectory) {
        lstrcpyW(g_szWindowsFolder, windowsFolder);
        lstrcpyW(g_szSystemDirectory, systemDirectory);
    }

    std::u16string savedPath_;
};

const MODULE_ENTRY* listFor(FARPROC* init, FARPROC* uninit) {
    static MODULE_ENTRY list[3];
    list[0] = {u"INSTALLPATH\\System32\\qvcomsrv.dll", "QVComInitialize", init};
    list[1] = {u"installpath\\system32\\QVCOMSRV.DLL", "QVComUninitialize", uninit};
    list[2] = {u"", nullptr, nullptr};
    return list;
}

} // namespace

TEST_F(InstallPaths, SystemPathFromTheInstallKey) {
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetSystemPath(buffer, MAX_PATH), 0u) << "no install key";

    for (const char16_t* folder : {u"C:\\WINDOWS\\", u"C:\\WINDOWS"}) {
        writeInstallKey(folder);
        lstrcpyW(buffer, u"untouched");
        EXPECT_EQ(GetSystemPath(buffer, 5), 20u) << sky::narrow(folder);
        EXPECT_EQ(std::u16string(buffer), u"untouched");
        EXPECT_EQ(GetSystemPath(buffer, 19), 20u);
        EXPECT_EQ(std::u16string(buffer), u"untouched");
        EXPECT_EQ(GetSystemPath(buffer, 20), 19u);
        EXPECT_EQ(std::u16string(buffer), u"C:\\WINDOWS\\System32");
    }
    // A system path of 260 characters is the longest; it needs a capacity of 261.
    WCHAR large[MAX_PATH + 1];
    writeInstallKey(u"C:\\" + std::u16string(248, u'w') + u"\\");
    EXPECT_EQ(GetSystemPath(large, MAX_PATH), 261u);
    EXPECT_EQ(GetSystemPath(large, MAX_PATH + 1), 260u);
    writeInstallKey(u"C:\\" + std::u16string(248, u'w'));
    EXPECT_EQ(GetSystemPath(large, MAX_PATH + 1), 260u) << "the backslash is added";
    writeInstallKey(u"C:\\" + std::u16string(249, u'w') + u"\\");
    EXPECT_EQ(GetSystemPath(large, MAX_PATH + 1), 0u);
    writeInstallKey(u"C:\\" + std::u16string(249, u'w'));
    EXPECT_EQ(GetSystemPath(large, MAX_PATH + 1), 0u);
    writeInstallKey(u"C:\\" + std::u16string(257, u'w'));
    EXPECT_EQ(GetSystemPath(large, MAX_PATH + 1), 0u) << "no room for the backslash";
    // Only REG_SZ counts.
    setText(HKEY_LOCAL_MACHINE, installKey, u"WindowsFolder", u"C:\\WINDOWS\\", REG_EXPAND_SZ);
    EXPECT_EQ(GetSystemPath(buffer, MAX_PATH), 0u);
    // An empty value is no folder: not the relative "System32".
    writeInstallKey(u"");
    lstrcpyW(buffer, u"untouched");
    EXPECT_EQ(GetSystemPath(buffer, MAX_PATH), 0u);
    EXPECT_EQ(std::u16string(buffer), u"untouched");
}

TEST_F(InstallPaths, PathGainsTheMissingEntriesOnce) {
    usePaths(u"C:\\WINDOWS\\", u"C:\\WINDOWS\\system32");
    SetEnvironmentVariableW(u"PATH", u"/usr/bin");
    ASSERT_TRUE(UpdatePath());
    EXPECT_EQ(path(), u"/usr/bin;C:\\WINDOWS\\System32\\Vantor\\Tarn;C:\\WINDOWS\\System32");
    ASSERT_TRUE(UpdatePath());
    EXPECT_EQ(path(), u"/usr/bin;C:\\WINDOWS\\System32\\Vantor\\Tarn;C:\\WINDOWS\\System32");

    // Another case is the same entry; a trailing backslash makes another one.
    SetEnvironmentVariableW(u"PATH", u"c:\\windows\\system32;;x");
    ASSERT_TRUE(UpdatePath());
    EXPECT_EQ(path(), u"c:\\windows\\system32;;x;C:\\WINDOWS\\System32\\Vantor\\Tarn");
    SetEnvironmentVariableW(u"PATH", u"C:\\WINDOWS\\System32\\");
    ASSERT_TRUE(UpdatePath());
    EXPECT_EQ(path(), u"C:\\WINDOWS\\System32\\;C:\\WINDOWS\\System32\\Vantor\\Tarn;"
                      u"C:\\WINDOWS\\System32");

    // No PATH at all: the entries alone.
    SetEnvironmentVariableW(u"PATH", nullptr);
    ASSERT_TRUE(UpdatePath());
    EXPECT_EQ(path(), u"C:\\WINDOWS\\System32\\Vantor\\Tarn;C:\\WINDOWS\\System32");

    // A PATH that would grow too long is left as it was.
    const std::u16string full = u"x" + std::u16string(32740, u'y');
    ASSERT_TRUE(SetEnvironmentVariableW(u"PATH", full.c_str()));
    EXPECT_FALSE(UpdatePath());
    EXPECT_EQ(path(), full);

    // The limit counts the terminator: a PATH may grow to 32,766 characters, not to 32,767. The
    // PATH holds the second and third entries, so only the first (31 characters) is added.
    const std::u16string present = u"C:\\WINDOWS\\System32;";
    const std::u16string longest = present + std::u16string(32766 - 32 - present.size(), u'y');
    ASSERT_TRUE(SetEnvironmentVariableW(u"PATH", longest.c_str()));
    ASSERT_TRUE(UpdatePath());
    EXPECT_EQ(path(), longest + u";C:\\WINDOWS\\System32\\Vantor\\Tarn");
    EXPECT_EQ(path().size(), 32766u);
    const std::u16string oneMore = longest + u"y";
    ASSERT_TRUE(SetEnvironmentVariableW(u"PATH", oneMore.c_str()));
    SetLastError(0);
    EXPECT_FALSE(UpdatePath());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(path(), oneMore);
}

TEST_F(InstallPaths, ExpandAndLoadJoinsWithOneBackslash) {
    installObjectModel(sky::testing::buildBin() / "testmodules" / "skytest_qvcomsrv_ok.dll");
    usePaths(u"C:\\WINDOWS\\", u"C:\\WINDOWS\\system32");
    for (const char16_t* pattern :
         {u"INSTALLPATH\\System32\\qvcomsrv.dll", u"InstallPath\\System32\\qvcomsrv.dll",
          u"SYSPATH\\qvcomsrv.dll", u"syspath\\qvcomsrv.dll",
          u"C:\\WINDOWS\\System32\\qvcomsrv.dll"}) {
        HMODULE module = ExpandAndLoad(pattern);
        EXPECT_NE(module, nullptr) << sky::narrow(pattern) << " " << GetLastError();
        if (module)
            FreeLibrary(module);
    }
    usePaths(u"C:\\WINDOWS", u"C:\\WINDOWS\\system32");
    HMODULE joined = ExpandAndLoad(u"INSTALLPATH\\System32\\qvcomsrv.dll");
    EXPECT_NE(joined, nullptr);
    FreeLibrary(joined);
    // SYSPATH joins as written: no backslash is added.
    EXPECT_EQ(ExpandAndLoad(u"SYSPATHqvcomsrv.dll"), nullptr);
}

TEST_F(InstallPaths, ModuleListLoadsOneModuleForTwoRecords) {
    writeInstallKey();
    installObjectModel(sky::testing::buildBin() / "testmodules" / "skytest_qvcomsrv_ok.dll");
    FARPROC init = nullptr, uninit = nullptr;
    ASSERT_TRUE(LoadModuleList(listFor(&init, &uninit))) << GetLastError();
    EXPECT_NE(init, nullptr);
    EXPECT_NE(uninit, nullptr);
    EXPECT_EQ(LoadedModuleCount(), 1u);
    EXPECT_EQ(std::u16string(g_szWindowsFolder), u"C:\\WINDOWS\\");
    EXPECT_NE(path().find(u"C:\\WINDOWS\\System32\\Vantor\\Tarn"), std::u16string::npos);
    // A second load adds to the set.
    ASSERT_TRUE(LoadModuleList(listFor(&init, &uninit)));
    EXPECT_EQ(LoadedModuleCount(), 2u);
    UnloadAllModules();
    EXPECT_EQ(LoadedModuleCount(), 0u);
    EXPECT_EQ(GetModuleHandleW(u"qvcomsrv.dll"), nullptr);
}

TEST_F(InstallPaths, ModuleListFailures) {
    FARPROC init = nullptr, uninit = nullptr;
    // No install key: fails before PATH is touched, with the registry's reason.
    SetEnvironmentVariableW(u"PATH", u"/bin");
    SetLastError(0);
    EXPECT_FALSE(LoadModuleList(listFor(&init, &uninit)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(path(), u"/bin");
    EXPECT_EQ(g_szWindowsFolder[0], u'\0');

    // An empty Windows folder is a missing one: the module would be looked for at a relative path.
    writeInstallKey(u"");
    SetLastError(0);
    EXPECT_FALSE(LoadModuleList(listFor(&init, &uninit)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(path(), u"/bin");
    EXPECT_EQ(g_szWindowsFolder[0], u'\0');

    // No module file.
    writeInstallKey();
    EXPECT_FALSE(LoadModuleList(listFor(&init, &uninit)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadedModuleCount(), 0u);

    // A module without the second export is unloaded again.
    installObjectModel(sky::testing::buildBin() / "testmodules" / "skytest_qvcomsrv_noexit.dll");
    EXPECT_FALSE(LoadModuleList(listFor(&init, &uninit)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(LoadedModuleCount(), 0u);
    EXPECT_EQ(GetModuleHandleW(u"qvcomsrv.dll"), nullptr);
}

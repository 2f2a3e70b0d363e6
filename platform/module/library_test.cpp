#include <cstdlib>

#include <gtest/gtest.h>

#include "sky/text.h"
#include "test_modules.h"

namespace fs = std::filesystem;
using namespace sky::testing;

namespace {

constexpr char16_t kCodePath[] = u"C:\\WINDOWS\\System32\\skytest_code.dll";

using AddFunction = int (*)(int, int);

// Sets PATH for one test and puts the old value back.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& value) {
        if (const char* old = std::getenv("PATH"))
            old_ = old;
        setenv("PATH", value.c_str(), 1);
    }
    ~ScopedPath() { setenv("PATH", old_.c_str(), 1); }

private:
    std::string old_;
};

std::u16string fileNameOf(HMODULE module) {
    WCHAR buffer[1024];
    const DWORD n = GetModuleFileNameW(module, buffer, 1024);
    return std::u16string(buffer, n);
}

} // namespace

TEST(LoadLibrary, LoadsAModuleRunsItAndFindsItsExports) {
    install("skytest_code.dll", kCodePath);
    const HMODULE module = LoadLibraryW(kCodePath);
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_FALSE(LDR_IS_RESOURCE(module));
    EXPECT_TRUE(codeModuleConstructorRan());

    const auto add = reinterpret_cast<AddFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "SkyTestAdd")));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(40, 2), 42);

    // Only the module's own exports: not what it sees through the modules it needs.
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "malloc"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    // Exports have no ordinals here.
    EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(1)), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(LoadLibrary, CountsReferencesPerModuleWhateverPathNamesIt) {
    install("skytest_code.dll", kCodePath);
    const HMODULE first = LoadLibraryW(kCodePath);
    ASSERT_NE(first, nullptr);
    // Another spelling of the same file is the same module.
    const HMODULE second = LoadLibraryW(u"c:\\windows\\SYSTEM32\\SKYTEST_CODE.DLL");
    EXPECT_EQ(second, first);
    // A bare name of a loaded module is that module.
    EXPECT_EQ(LoadLibraryW(u"skytest_code"), first);

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(GetModuleHandleW(u"skytest_code.dll"), first) << "one reference left";
    EXPECT_NE(GetProcAddress(first, "SkyTestAdd"), nullptr);

    EXPECT_TRUE(FreeLibrary(first));
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleW(u"skytest_code.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(first, "SkyTestAdd"), nullptr);
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(LoadLibrary, SearchesABareNameLikeWindows) {
    // Not in the program's directory, the current directory or the system directory: PATH.
    install("skytest_code.dll", u"C:\\Tools\\Skytest\\skytest_code.dll");
    {
        ScopedPath path("C:\\Nowhere;;C:\\Tools\\Skytest");
        const HMODULE module = LoadLibraryW(u"SKYTEST_CODE"); // ".dll" is added
        ASSERT_NE(module, nullptr) << GetLastError();
        EXPECT_EQ(fileNameOf(module), u"C:\\Tools\\Skytest\\skytest_code.dll");
        FreeLibrary(module);
    }
    // The system directory comes before PATH.
    install("skytest_code.dll", u"C:\\WINDOWS\\system32\\skytest_code.dll");
    {
        ScopedPath path("C:\\Tools\\Skytest");
        const HMODULE module = LoadLibraryW(u"skytest_code.dll");
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(fileNameOf(module), u"C:\\WINDOWS\\system32\\skytest_code.dll");
        FreeLibrary(module);
    }
    // A trailing dot means "no extension": no such file.
    EXPECT_EQ(LoadLibraryW(u"skytest_code."), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(LoadLibrary, ReportsMissingFilesAndFilesThatAreNoModules) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"C:\\WINDOWS\\System32\\missing.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryW(u"no_such_module_anywhere"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryW(u"D:\\other\\drive.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));

    fs::create_directories(sky::machine::driveC() / "dir.dll");
    EXPECT_EQ(LoadLibraryW(u"C:\\dir.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));

    writeFile(sky::machine::driveC() / "text.dll", "MZ this is not a module\n");
    for (const DWORD flags : {0u, unsigned(LOAD_LIBRARY_AS_DATAFILE)}) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryExW(u"C:\\text.dll", nullptr, flags), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT)) << flags;
    }
    writeFile(sky::machine::driveC() / "empty.dll", "");
    EXPECT_EQ(LoadLibraryW(u"C:\\empty.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));
}

TEST(LoadLibrary, ReportsWhatTheLoaderRefuses) {
    const std::u16string unresolved =
        sky::machine::toWindowsPath(builtModule("skytest_unresolved.dll"));
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(unresolved.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DLL_INIT_FAILED));

    const std::u16string dependent =
        sky::machine::toWindowsPath(builtModule("skytest_dependent.dll"));
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(dependent.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));

    // Both still serve as data files: their own code is not needed for that.
    const HMODULE data = LoadLibraryExW(dependent.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(data, nullptr);
    FreeLibrary(data);
}

TEST(LoadLibrary, RejectsBadArguments) {
    EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadLibraryW(u""), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    install("skytest_code.dll", kCodePath);
    EXPECT_EQ(LoadLibraryExW(kCodePath, nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadLibraryExW(kCodePath, INVALID_HANDLE_VALUE, 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(0x1000), "x"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(DataFile, RunsNoCodeAndServesOnlyResources) {
    // A fresh copy: even a loader that had seen the module before would have to run it again.
    install("skytest_code.dll", kCodePath);
    const HMODULE data = LoadLibraryExW(kCodePath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr) << GetLastError();
    EXPECT_TRUE(LDR_IS_DATAFILE(data));
    EXPECT_FALSE(codeModuleConstructorRan());

    WCHAR text[64];
    EXPECT_EQ(LoadStringW(data, 1, text, 64), 23);
    EXPECT_EQ(std::u16string(text), u"from a module with code");

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(data, "SkyTestAdd"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetModuleFileNameW(data, text, 64), 0u);
    EXPECT_EQ(GetModuleHandleW(u"skytest_code.dll"), nullptr) << "a data file is no loaded module";

    // Every data-file load is a mapping of its own.
    const HMODULE again = LoadLibraryExW(kCodePath, nullptr, LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE);
    EXPECT_NE(again, data);
    const HMODULE image = LoadLibraryExW(kCodePath, nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    EXPECT_TRUE(LDR_IS_IMAGEMAPPING(image));
    const HMODULE unresolved = LoadLibraryExW(kCodePath, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    EXPECT_NE(unresolved, nullptr);
    EXPECT_EQ(GetProcAddress(unresolved, "SkyTestAdd"), nullptr);
    EXPECT_FALSE(codeModuleConstructorRan());
    EXPECT_TRUE(FreeLibrary(unresolved));
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_TRUE(FreeLibrary(image));
    EXPECT_TRUE(FreeLibrary(data));
    EXPECT_FALSE(FreeLibrary(data));
    EXPECT_EQ(LoadStringW(data, 1, text, 64), 0) << "a freed handle serves nothing";
}

TEST(DataFile, OfALoadedModuleIsThatModule) {
    install("skytest_code.dll", kCodePath);
    const HMODULE module = LoadLibraryW(kCodePath);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(LoadLibraryExW(kCodePath, nullptr, LOAD_LIBRARY_AS_DATAFILE), module);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_NE(GetModuleHandleW(kCodePath), nullptr) << "the data-file load holds a reference";
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(ModuleName, GivesTheWindowsPathWithWindowsBufferRules) {
    install("skytest_code.dll", u"C:\\Program Files\\Skytest\\skytest_code.dll");
    const HMODULE module = LoadLibraryW(u"c:\\program files\\skytest\\skytest_code.dll");
    ASSERT_NE(module, nullptr);
    const std::u16string full = u"C:\\Program Files\\Skytest\\skytest_code.dll"; // as on disk
    const DWORD length = static_cast<DWORD>(full.size());

    WCHAR buffer[128];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetModuleFileNameW(module, buffer, length + 1), length);
    EXPECT_EQ(std::u16string(buffer), full);

    // One short: truncated, terminated, the buffer size returned, ERROR_INSUFFICIENT_BUFFER.
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(module, buffer, length), length);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(buffer), full.substr(0, length - 1));
    EXPECT_EQ(buffer[length], u'#') << "nothing written past the buffer";

    EXPECT_EQ(GetModuleFileNameW(module, buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 0);
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(module, buffer, 0), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    FreeLibrary(module);
}

TEST(ModuleName, KnowsTheProgramAndModulesTheLoaderBroughtIn) {
    const HMODULE program = GetModuleHandleW(nullptr);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(fileNameOf(nullptr), fileNameOf(program));
    const fs::path self = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(fileNameOf(program), sky::machine::toWindowsPath(self));
    // Programs have no extension here; on Windows they end in ".exe".
    const std::u16string name = sky::widen(self.filename().string());
    EXPECT_EQ(GetModuleHandleW((name + u".EXE").c_str()), program);
    EXPECT_EQ(GetModuleHandleW((name + u".").c_str()), program);
    EXPECT_EQ(GetModuleHandleW(name.c_str()), nullptr) << "a bare name means name.dll";
    EXPECT_TRUE(FreeLibrary(program)) << "the program stays loaded";

    // The platform library came with the program, not through LoadLibraryW.
    const HMODULE platform = GetModuleHandleW(u"libskyplatform.so");
    ASSERT_NE(platform, nullptr);
    EXPECT_TRUE(fileNameOf(platform).ends_with(u"\\libskyplatform.so"));
    EXPECT_NE(GetProcAddress(platform, "LoadStringW"), nullptr);

    HMODULE byAddress = nullptr;
    EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&LoadStringW), &byAddress));
    EXPECT_EQ(byAddress, platform);
    EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCWSTR>(&fileNameOf), &byAddress));
    EXPECT_EQ(byAddress, program);
    EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN |
                                        GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                    nullptr, &byAddress));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(ModuleName, GetModuleHandleExCountsAReference) {
    install("skytest_code.dll", kCodePath);
    const HMODULE module = LoadLibraryW(kCodePath);
    ASSERT_NE(module, nullptr);
    HMODULE same = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(0, u"skytest_code.dll", &same));
    EXPECT_EQ(same, module);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(u"skytest_code.dll"), module) << "GetModuleHandleExW's reference";
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(u"skytest_code.dll"), nullptr);
}

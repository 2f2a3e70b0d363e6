#include <cstdio>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "sky/text.h"
#include "test_modules.h"

namespace fs = std::filesystem;
using namespace sky::testing;

namespace {

constexpr char16_t kStrings[] = u"C:\\Skytest\\resource\\en\\skytest_strings.dll";
constexpr char16_t kCode[] = u"C:\\WINDOWS\\System32\\skytest_code.dll";
constexpr WORD kEnglishUS = 0x0409, kGerman = 0x0407;

// A module loaded for the length of a test.
class Loaded {
public:
    Loaded(const std::u16string& path, DWORD flags)
        : handle_(LoadLibraryExW(path.c_str(), nullptr, flags)) {}
    ~Loaded() {
        if (handle_)
            FreeLibrary(handle_);
    }
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
    HMODULE get() const { return handle_; }

private:
    HMODULE handle_;
};

std::u16string loadString(HMODULE module, UINT id, int capacity = 256) {
    std::u16string buffer(static_cast<std::size_t>(std::max(capacity, 1)), u'#');
    const int n = LoadStringW(module, id, buffer.data(), capacity);
    return buffer.substr(0, static_cast<std::size_t>(n));
}

std::string resourceBytes(HMODULE module, HRSRC resource) {
    const HGLOBAL loaded = LoadResource(module, resource);
    const auto* data = static_cast<const char*>(LockResource(loaded));
    return data ? std::string(data, SizeofResource(module, resource)) : std::string();
}

// A file that the build put into the test modules as a resource.
std::string sourceFile(const std::string& name) {
    const std::string bytes = readFile(builtModule(name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

// A copy of `module` with the byte at `offset` of its resource section set to `value`.
void damageResourceSection(const fs::path& module, std::size_t offset, char value) {
    std::string bytes = readFile(module);
    const std::size_t at = bytes.find("SKYR");
    ASSERT_NE(at, std::string::npos);
    bytes[at + offset] = value;
    writeFile(module, bytes);
}

} // namespace

TEST(LoadString, ReadsEveryKindOfStringFromADataFile) {
    install("skytest_strings.dll", kStrings);
    Loaded strings(kStrings, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(strings.get(), nullptr) << GetLastError();
    const HMODULE m = strings.get();

    EXPECT_EQ(loadString(m, 0), u"zero");
    EXPECT_EQ(loadString(m, 15), u"last of the first block");
    EXPECT_EQ(loadString(m, 16), u"first of the second block");
    EXPECT_EQ(loadString(m, 100), u"Skyloom test strings");
    EXPECT_EQ(loadString(m, 102), u"He said \"hi\", \"twice\"\tand\\leftAA\n");
    EXPECT_EQ(loadString(m, 112), u"starts a block");
    EXPECT_EQ(loadString(m, 127), u"concatenated");
    EXPECT_EQ(loadString(m, 128), u"Gr\u00fc\u00dfe \u20ac");
    EXPECT_EQ(loadString(m, 65535), u"the very last");
}

TEST(LoadString, MissingAndEmptyStringsGiveZero) {
    install("skytest_strings.dll", kStrings);
    Loaded strings(kStrings, LOAD_LIBRARY_AS_DATAFILE);
    WCHAR buffer[16] = u"unchanged";
    for (const UINT id : {101u, 103u, 17u, 5000u, 0x10000u}) {
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        SetLastError(0);
        EXPECT_EQ(LoadStringW(strings.get(), id, buffer, 16), 0) << id;
        EXPECT_EQ(buffer[0], 0) << id;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND)) << id;
    }
}

TEST(LoadString, TruncatesToTheBufferAndHandsOutThePointerForm) {
    install("skytest_strings.dll", kStrings);
    Loaded strings(kStrings, LOAD_LIBRARY_AS_DATAFILE);
    const HMODULE m = strings.get();
    const std::u16string title = u"Skyloom test strings"; // 20 characters

    WCHAR buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(LoadStringW(m, 100, buffer, 5), 4);
    EXPECT_EQ(std::u16string(buffer), u"Skyl");
    EXPECT_EQ(buffer[5], u'#');
    EXPECT_EQ(LoadStringW(m, 100, buffer, 1), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(LoadStringW(m, 100, buffer, 20), 19);
    EXPECT_EQ(LoadStringW(m, 100, buffer, 21), 20);
    EXPECT_EQ(std::u16string(buffer), title);

    // cchBufferMax 0: the buffer receives a pointer to the text in the resource, unterminated.
    const WCHAR* inPlace = nullptr;
    EXPECT_EQ(LoadStringW(m, 100, reinterpret_cast<LPWSTR>(&inPlace), 0), 20);
    ASSERT_NE(inPlace, nullptr);
    EXPECT_EQ(std::u16string(inPlace, 20), title);
    EXPECT_EQ(LoadStringW(m, 16, reinterpret_cast<LPWSTR>(&inPlace), 0), 25);
    EXPECT_EQ(std::u16string(inPlace, 25), u"first of the second block");
    EXPECT_EQ(LoadStringW(m, 5000, reinterpret_cast<LPWSTR>(&inPlace), 0), 0);
    EXPECT_EQ(inPlace, nullptr);

    EXPECT_EQ(LoadStringW(m, 100, nullptr, 10), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadStringW(m, 100, buffer, -1), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(LoadString, WorksOnAModuleLoadedAsCodeAndOnTheProgramItself) {
    install("skytest_strings.dll", kStrings);
    // A resource-only module is a valid module: loading it as code runs nothing and works.
    Loaded strings(kStrings, 0);
    ASSERT_NE(strings.get(), nullptr) << GetLastError();
    EXPECT_FALSE(LDR_IS_RESOURCE(strings.get()));
    EXPECT_EQ(loadString(strings.get(), 16), u"first of the second block");
    EXPECT_EQ(GetProcAddress(strings.get(), "anything"), nullptr);

    install("skytest_code.dll", kCode);
    Loaded code(kCode, 0);
    ASSERT_NE(code.get(), nullptr);
    EXPECT_EQ(loadString(code.get(), 1), u"from a module with code");

    // A program reads its own resources from its file.
    const fs::path program = builtModule("skytest_self");
    std::unique_ptr<FILE, int (*)(FILE*)> run(popen(program.c_str(), "r"), pclose);
    ASSERT_NE(run, nullptr);
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, run.get()), nullptr);
    EXPECT_STREQ(line, "the program's own string|16\n");
    EXPECT_EQ(pclose(run.release()), 0);
}

TEST(LoadString, PrefersTheNeutralThenTheUsEnglishTable) {
    install("skytest_strings.dll", kStrings);
    Loaded strings(kStrings, LOAD_LIBRARY_AS_DATAFILE);
    const HMODULE m = strings.get();
    EXPECT_EQ(loadString(m, 100), u"Skyloom test strings");

    // The German block exists beside the English one and is reached by language.
    const HRSRC german = FindResourceExW(m, RT_STRING, MAKEINTRESOURCEW(100 / 16 + 1), kGerman);
    ASSERT_NE(german, nullptr);
    const std::string block = resourceBytes(m, german);
    const std::u16string title = u"Skyloom Testtexte";
    ASSERT_GE(block.size(), 2 * 4 + 2 + 2 * title.size());
    // Strings 96 to 99 are empty (one length word each), then string 100.
    WORD length = 0;
    std::memcpy(&length, block.data() + 8, 2);
    EXPECT_EQ(length, title.size());
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(block.data() + 10), length), title);
}

TEST(Resources, BinaryResourcesComeBackByteForByte) {
    install("skytest_code.dll", kCode);
    for (const DWORD flags : {0u, unsigned(LOAD_LIBRARY_AS_DATAFILE)}) {
        Loaded code(kCode, flags);
        const HMODULE m = code.get();
        ASSERT_NE(m, nullptr);
        const HRSRC typelib = FindResourceExW(m, u"TYPELIB", MAKEINTRESOURCEW(1), kEnglishUS);
        ASSERT_NE(typelib, nullptr) << GetLastError();
        EXPECT_EQ(SizeofResource(m, typelib), 28u);
        EXPECT_EQ(resourceBytes(m, typelib), sourceFile("blob.bin"));
        // Names are found ignoring case, and "#1" is the identifier 1.
        EXPECT_EQ(FindResourceW(m, u"#1", u"typelib"), typelib);
        EXPECT_FALSE(FreeResource(LoadResource(m, typelib)));
    }
}

TEST(Resources, FallBackAcrossLanguagesAsWindowsDoes) {
    install("skytest_code.dll", kCode);
    Loaded code(kCode, LOAD_LIBRARY_AS_DATAFILE);
    const HMODULE m = code.get();
    const HRSRC us = FindResourceExW(m, u"TYPELIB", MAKEINTRESOURCEW(1), kEnglishUS);
    // English (United Kingdom) finds English (United States): the same primary language.
    EXPECT_EQ(FindResourceExW(m, u"TYPELIB", MAKEINTRESOURCEW(1), 0x0809), us);
    // The default search takes English when there is no neutral resource.
    EXPECT_EQ(FindResourceW(m, MAKEINTRESOURCEW(1), u"TYPELIB"), us);
    // A language of its own finds a neutral resource ...
    const HRSRC neutral = FindResourceExW(m, u"TYPELIB", MAKEINTRESOURCEW(2), 0x040C);
    ASSERT_NE(neutral, nullptr);
    EXPECT_EQ(resourceBytes(m, neutral), sourceFile("neutral.bin"));
    // ... but not one of another language.
    SetLastError(0);
    EXPECT_EQ(FindResourceExW(m, u"TYPELIB", MAKEINTRESOURCEW(1), 0x040C), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_LANG_NOT_FOUND));
    // The default search ends with whatever language there is.
    EXPECT_NE(FindResourceW(m, MAKEINTRESOURCEW(7), RT_RCDATA), nullptr);
    EXPECT_NE(FindResourceExW(m, RT_RCDATA, MAKEINTRESOURCEW(7), 0x0807), nullptr);
}

TEST(Resources, ReportWhatIsMissing) {
    install("skytest_code.dll", kCode);
    Loaded code(kCode, LOAD_LIBRARY_AS_DATAFILE);
    const HMODULE m = code.get();
    EXPECT_EQ(FindResourceW(m, MAKEINTRESOURCEW(1), RT_BITMAP), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(FindResourceW(m, MAKEINTRESOURCEW(3), u"TYPELIB"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceW(m, u"NAMED", u"TYPELIB"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));

    // A module without resources at all.
    const std::u16string plain = sky::machine::toWindowsPath(builtModule("skytest_unresolved.dll"));
    Loaded none(plain, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(none.get(), nullptr);
    EXPECT_EQ(FindResourceW(none.get(), MAKEINTRESOURCEW(1), RT_RCDATA), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));

    // A resource handle of one module means nothing to another.
    const HRSRC typelib = FindResourceW(m, MAKEINTRESOURCEW(1), u"TYPELIB");
    EXPECT_EQ(SizeofResource(none.get(), typelib), 0u);
    EXPECT_EQ(LoadResource(none.get(), typelib), nullptr);
}

TEST(Resources, EnumeratesNames) {
    install("skytest_code.dll", kCode);
    Loaded code(kCode, LOAD_LIBRARY_AS_DATAFILE);
    std::vector<std::u16string> names;
    const auto collect = [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
        auto* out = reinterpret_cast<std::vector<std::u16string>*>(param);
        out->push_back(IS_INTRESOURCE(name) ? u"#" + sky::widen(std::to_string(
                                                         LOWORD(reinterpret_cast<ULONG_PTR>(name))))
                                            : std::u16string(name));
        return TRUE;
    };
    EXPECT_TRUE(
        EnumResourceNamesW(code.get(), u"TYPELIB", collect, reinterpret_cast<LONG_PTR>(&names)));
    EXPECT_EQ(names, (std::vector<std::u16string>{u"#1", u"#2"}));

    const auto stop = [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR) -> BOOL { return FALSE; };
    EXPECT_FALSE(EnumResourceNamesW(code.get(), u"TYPELIB", stop, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_ENUM_USER_STOP));
    EXPECT_FALSE(EnumResourceNamesW(code.get(), RT_ICON, collect, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(Resources, ADamagedSectionIsAnErrorNotACrash) {
    const std::u16string path = u"C:\\Skytest\\damaged.dll";
    const fs::path file = *sky::machine::toHostPath(path);
    // An entry count far beyond the section, then a data offset outside it.
    for (const auto& [offset, value] : {std::pair<std::size_t, char>{11, '\x7f'}, {29, '\x7f'}}) {
        install("skytest_code.dll", path);
        damageResourceSection(file, offset, value);
        SetLastError(0);
        EXPECT_EQ(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));

        // The code itself is sound, so the module loads; its resources are reported damaged.
        Loaded code(path, 0);
        ASSERT_NE(code.get(), nullptr);
        EXPECT_EQ(FindResourceW(code.get(), MAKEINTRESOURCEW(1), u"TYPELIB"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_DATA));
        WCHAR text[8];
        EXPECT_EQ(LoadStringW(code.get(), 1, text, 8), 0);
        EXPECT_EQ(text[0], 0);
    }
    // A file cut short in its section table.
    install("skytest_strings.dll", path);
    std::string bytes = readFile(file);
    writeFile(file, bytes.substr(0, bytes.size() - 40));
    EXPECT_EQ(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_EXE_FORMAT));
}

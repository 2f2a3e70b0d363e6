// The machine's code pages and conversion to and from them.
#include <string>

#include <gtest/gtest.h>

#include "sky/codepage.h"
#include "sky/registry.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/registry.h"
#include "win/sysinfo.h"

namespace {

void writeNls(const char16_t* key, const char16_t* name, std::u16string value) {
    const std::u16string path = std::u16string(u"System\\CurrentControlSet\\Control\\Nls\\") + key;
    sky::registry::Key handle;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, handle.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(handle.get(), name, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
}

std::string toBytes(UINT codePage, std::u16string_view text, BOOL* usedDefault = nullptr,
                    const char* defaultChar = nullptr) {
    char buffer[128];
    const int count = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                          buffer, sizeof buffer, defaultChar, usedDefault);
    EXPECT_GT(count, 0) << GetLastError();
    return std::string(buffer, static_cast<std::size_t>(count > 0 ? count : 0));
}

std::u16string toText(UINT codePage, std::string_view bytes, DWORD flags = 0) {
    WCHAR buffer[128];
    const int count = MultiByteToWideChar(codePage, flags, bytes.data(),
                                          static_cast<int>(bytes.size()), buffer, 128);
    return std::u16string(buffer, static_cast<std::size_t>(count > 0 ? count : 0));
}

} // namespace

TEST(CodePage, MachineCodePagesFollowTheRegistry) {
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(GetOEMCP(), 437u);
    writeNls(u"CodePage", u"ACP", u"1251");
    EXPECT_EQ(GetACP(), 1251u);
    // A code page the machine cannot convert is not taken.
    writeNls(u"CodePage", u"ACP", u"99999");
    EXPECT_EQ(GetACP(), 1252u);
    // Without an ACP value of its own, the machine has its locale's.
    writeNls(u"CodePage", u"ACP", u"");
    writeNls(u"Language", u"Default", u"0411");
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_TRUE(IsValidCodePage(932));
    EXPECT_TRUE(IsValidCodePage(65001));
    EXPECT_FALSE(IsValidCodePage(12345));
    EXPECT_FALSE(IsValidCodePage(CP_ACP));
}

TEST(CodePage, AnsiRoundTripAndCharactersOutsideTheCodePage) {
    const std::u16string text = u"Gr\u00fc\u00dfe \u20ac 5";
    const std::string bytes = toBytes(CP_ACP, text);
    EXPECT_EQ(bytes, "Gr\xfc\xdf"
                     "e \x80 5");
    EXPECT_EQ(toText(CP_ACP, bytes), text);

    BOOL usedDefault = FALSE;
    EXPECT_EQ(toBytes(1252, u"A\u65e5\u672cB", &usedDefault), "A??B");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(toBytes(1252, u"A\u65e5B", &usedDefault, "*"), "A*B");
    EXPECT_EQ(toBytes(1252, u"plain", &usedDefault), "plain");
    EXPECT_FALSE(usedDefault);
    // A character beyond the basic plane counts as its two halves.
    EXPECT_EQ(toBytes(1252, u"\U0001F600"), "??");

    // Japanese through the machine's code page once it is 932.
    writeNls(u"CodePage", u"ACP", u"932");
    const std::u16string japanese = u"\u65e5\u672c\u8a9e\u30c6\u30ad\u30b9\u30c8 ok";
    const std::string shiftJis = toBytes(CP_ACP, japanese);
    EXPECT_EQ(shiftJis.size(), 17u);
    EXPECT_EQ(toText(CP_ACP, shiftJis), japanese);
    EXPECT_EQ(sky::fromAnsi(sky::toAnsi(japanese)), japanese);
}

TEST(CodePage, SizeRules) {
    // -1 takes the terminator along.
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, nullptr, 0), 3);
    WCHAR wide[8];
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, wide, 8), 4);
    EXPECT_EQ(std::u16string(wide), u"abc");
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9t\u00e9", -1, nullptr, 0, nullptr, nullptr),
              6);
    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9t\u00e9", -1, narrow, 6, nullptr, nullptr),
              6);
    EXPECT_STREQ(narrow, "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00e9t\u00e9", -1, narrow, 5, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    for (int length : {0, -2}) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", length, wide, 8), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePage, Utf8InvalidInputIsReplacedOrRefused) {
    EXPECT_EQ(toText(CP_UTF8, "a\xff"
                              "b"),
              u"a\ufffdb");
    SetLastError(0);
    WCHAR wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xff", 2, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));

    const char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_EQ(toBytes(CP_UTF8, std::u16string_view(lone, 3)), "a\xef\xbf\xbd"
                                                              "b");
    char narrow[8];
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 3, narrow, 8, nullptr, nullptr),
        0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 3, narrow, 8, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(CodePage, HelpersForFiles) {
    bool lossy = true;
    EXPECT_EQ(sky::toAnsi(u"caf\u00e9", CP_ACP, &lossy), "caf\xe9");
    EXPECT_FALSE(lossy);
    EXPECT_EQ(sky::toAnsi(u"\u0416", 1252, &lossy), "?");
    EXPECT_TRUE(lossy);
    EXPECT_EQ(sky::toAnsi(u"\u0416", 1251), "\xc6");
    EXPECT_EQ(sky::fromAnsi("\xc6", 1251), u"\u0416");
    EXPECT_EQ(sky::fromAnsi("caf\xe9"), u"caf\u00e9");
    EXPECT_THROW(sky::toAnsi(u"x", 12345), std::invalid_argument);
    EXPECT_THROW(sky::fromAnsi("x", 1200), std::invalid_argument);
}

TEST(CodePage, BytesTheTableLeavesUndefinedAreTheControlsOfTheSameNumber) {
    // Code page 1252 defines every byte but five; Windows reads each of those as the C1 control
    // of its number and writes it back, strict or not, so no byte is lost on the way through text.
    const std::string undefined = "\x81\x8d\x8f\x90\x9d";
    const std::u16string controls = u"\u0081\u008d\u008f\u0090\u009d";
    EXPECT_EQ(toText(1252, undefined), controls);
    EXPECT_EQ(toText(1252, undefined, MB_ERR_INVALID_CHARS), controls);
    BOOL usedDefault = TRUE;
    EXPECT_EQ(toBytes(1252, controls, &usedDefault), undefined);
    EXPECT_FALSE(usedDefault);
    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, controls.data(), 5, narrow, 8,
                                  nullptr, nullptr),
              5);
    EXPECT_EQ(sky::fromAnsi("A\x90Z", 1252), u"A\u0090Z");
    EXPECT_EQ(sky::toAnsi(u"A\u0090Z", 1252), "A\x90Z");

    // A control whose byte the code page gives to a character of its own has no byte.
    EXPECT_EQ(toBytes(1252, u"\u0080\u0099", &usedDefault), "??");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(toText(1252, "\x80\x99"), u"\u20ac\u2122");

    // The other single-byte code pages of the family do the same with their own gaps.
    EXPECT_EQ(toText(1250, "\x81\x83\x88\x90\x98"), u"\u0081\u0083\u0088\u0090\u0098");
    EXPECT_EQ(toBytes(1250, u"\u0081\u0083\u0088\u0090\u0098"), "\x81\x83\x88\x90\x98");
    EXPECT_EQ(toText(1251, "\x98"), u"\u0098");
    EXPECT_EQ(toBytes(1251, u"\u0098"), "\x98");
    EXPECT_EQ(toText(1253, "\x81\x88"), u"\u0081\u0088");
    EXPECT_EQ(toText(874, "\x81\x9f"), u"\u0081\u009f");
    // Elsewhere an undefined byte is still refused when asked to be strict.
    WCHAR wide[8];
    EXPECT_EQ(MultiByteToWideChar(1253, MB_ERR_INVALID_CHARS, "\xaa", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

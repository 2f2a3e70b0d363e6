// The version and locale a machine reports, by default and when its registry says otherwise.
#include <string>

#include <gtest/gtest.h>

#include "sky/registry.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/registry.h"
#include "win/sysinfo.h"

namespace {

void writeString(HKEY root, const char16_t* path, const char16_t* name, std::u16string value) {
    sky::registry::Key key;
    ASSERT_EQ(
        RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
}

constexpr const char16_t* kVersion = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char16_t* kLanguage = u"System\\CurrentControlSet\\Control\\Nls\\Language";

OSVERSIONINFOEXW queryVersion(DWORD size = sizeof(OSVERSIONINFOEXW)) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = size;
    EXPECT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
    return info;
}

std::u16string localeText(LCID lcid, LCTYPE type) {
    WCHAR buffer[64] = {};
    const int count = GetLocaleInfoW(lcid, type, buffer, 64);
    EXPECT_GT(count, 0) << "type " << type << " error " << GetLastError();
    return std::u16string(buffer);
}

} // namespace

TEST(Version, NewMachineIsServer2003WithServicePack2) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 2u);
    EXPECT_EQ(info.dwBuildNumber, 3790u);
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(std::u16string(info.szCSDVersion), u"Service Pack 2");

    const OSVERSIONINFOEXW extended = queryVersion();
    EXPECT_EQ(extended.wServicePackMajor, 2);
    EXPECT_EQ(extended.wProductType, VER_NT_SERVER);
    EXPECT_EQ(GetVersion(), 5u | (2u << 8) | (3790u << 16));
}

TEST(Version, OnlyTheTwoStructureSizesAreAccepted) {
    for (DWORD size : {0u, 148u, 275u, 280u, 285u}) {
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = size;
        SetLastError(0);
        EXPECT_FALSE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info))) << size;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(info.dwMajorVersion, 0u);
    }
}

TEST(Version, ComesFromTheRegistry) {
    writeString(HKEY_LOCAL_MACHINE, kVersion, u"CurrentVersion", u"4.0");
    writeString(HKEY_LOCAL_MACHINE, kVersion, u"CurrentBuildNumber", u"1381");
    writeString(HKEY_LOCAL_MACHINE, kVersion, u"CSDVersion", u"Service Pack 5");
    OSVERSIONINFOEXW info = queryVersion(sizeof(OSVERSIONINFOW));
    EXPECT_EQ(info.dwMajorVersion, 4u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
    EXPECT_EQ(info.dwBuildNumber, 1381u);
    EXPECT_EQ(std::u16string(info.szCSDVersion), u"Service Pack 5");
    // The short structure ends at the service-pack text.
    EXPECT_EQ(info.wServicePackMajor, 0);
    EXPECT_EQ(queryVersion().wServicePackMajor, 5);

    // A machine that records its version but no service pack has none.
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, kVersion), ERROR_SUCCESS);
    writeString(HKEY_LOCAL_MACHINE, kVersion, u"CurrentVersion", u"4.0");
    info = queryVersion();
    EXPECT_EQ(info.dwBuildNumber, 3790u);
    EXPECT_EQ(std::u16string(info.szCSDVersion), u"");
    EXPECT_EQ(info.wServicePackMajor, 0);
}

TEST(Version, UnreadableValuesKeepTheDefaults) {
    writeString(HKEY_LOCAL_MACHINE, kVersion, u"CurrentVersion", u"five");
    writeString(HKEY_LOCAL_MACHINE, kVersion, u"CurrentBuildNumber", u"38x");
    const OSVERSIONINFOEXW info = queryVersion();
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 2u);
    EXPECT_EQ(info.dwBuildNumber, 3790u);
}

TEST(Locale, NewMachineIsEnglishUnitedStates) {
    EXPECT_EQ(GetSystemDefaultLCID(), 0x0409u);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
    EXPECT_EQ(GetSystemDefaultLangID(), 0x0409);
    EXPECT_EQ(localeText(GetSystemDefaultLCID(), LOCALE_SISO639LANGNAME), u"en");
    EXPECT_EQ(localeText(GetSystemDefaultLCID(), LOCALE_SISO3166CTRYNAME), u"US");
    EXPECT_EQ(localeText(LOCALE_SYSTEM_DEFAULT, LOCALE_SNAME), u"en-US");
    EXPECT_EQ(localeText(LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE), u"0409");
    EXPECT_EQ(localeText(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE), u"1252");
    EXPECT_EQ(localeText(0x0009, LOCALE_SENGLANGUAGE), u"English");
}

TEST(Locale, FollowsTheBufferRules) {
    WCHAR buffer[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SISO639LANGNAME, nullptr, 0), 3);
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SISO639LANGNAME, buffer, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SISO639LANGNAME, buffer, 3), 3);
    EXPECT_EQ(std::u16string(buffer, 3), std::u16string(u"en\0", 3));
    EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_SISO639LANGNAME, nullptr, 5), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoW(0x0999, LOCALE_SISO639LANGNAME, buffer, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetLocaleInfoW(0x0409, 0x7777, buffer, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

    DWORD number = 0;
    EXPECT_EQ(GetLocaleInfoW(0x0411, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                             reinterpret_cast<LPWSTR>(&number), 2),
              2);
    EXPECT_EQ(number, 932u);
    EXPECT_EQ(GetLocaleInfoW(0x0411, LOCALE_SISO639LANGNAME | LOCALE_RETURN_NUMBER,
                             reinterpret_cast<LPWSTR>(&number), 2),
              0);
}

TEST(Locale, SystemAndUserLocalesComeFromTheRegistry) {
    const struct {
        const char16_t* stored;
        LCID lcid;
        const char16_t* language;
        const char16_t* country;
    } machines[] = {
        {u"0407", 0x0407, u"de", u"DE"},
        {u"040C", 0x040c, u"fr", u"FR"},
        {u"0809", 0x0809, u"en", u"GB"},
        {u"0411", 0x0411, u"ja", u"JP"},
    };
    for (const auto& machine : machines) {
        writeString(HKEY_LOCAL_MACHINE, kLanguage, u"Default", machine.stored);
        EXPECT_EQ(GetSystemDefaultLCID(), machine.lcid);
        EXPECT_EQ(localeText(GetSystemDefaultLCID(), LOCALE_SISO639LANGNAME), machine.language);
        EXPECT_EQ(localeText(LOCALE_SYSTEM_DEFAULT, LOCALE_SISO3166CTRYNAME), machine.country);
        // Without a locale of their own, users have the system's.
        EXPECT_EQ(GetUserDefaultLCID(), machine.lcid);
    }
    writeString(HKEY_CURRENT_USER, u"Control Panel\\International", u"Locale", u"00000C0C");
    EXPECT_EQ(GetUserDefaultLCID(), 0x0c0cu);
    EXPECT_EQ(localeText(LOCALE_USER_DEFAULT, LOCALE_SNAME), u"fr-CA");
    EXPECT_EQ(GetSystemDefaultLCID(), 0x0411u);

    // What cannot be read leaves the default.
    writeString(HKEY_LOCAL_MACHINE, kLanguage, u"Default", u"German");
    EXPECT_EQ(GetSystemDefaultLCID(), 0x0409u);
}

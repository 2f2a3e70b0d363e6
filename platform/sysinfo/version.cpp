// The operating-system version, as the machine's registry records it.
#include <algorithm>
#include <cstring>
#include <string>

#include "profile.h"
#include "sky/registry.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/sysinfo.h"

namespace {

using sky::sysinfo::kVersionKey;

// An English (United States) Windows Server 2003 with Service Pack 2.
constexpr DWORD kDefaultMajor = 5;
constexpr DWORD kDefaultMinor = 2;
constexpr DWORD kDefaultBuild = 3790;
constexpr std::u16string_view kDefaultServicePack = u"Service Pack 2";

struct Version {
    DWORD major = kDefaultMajor;
    DWORD minor = kDefaultMinor;
    DWORD build = kDefaultBuild;
    std::u16string servicePack;
    WORD servicePackMajor = 0;
    BYTE productType = VER_NT_SERVER;
};

// "5.2" -> 5, 2. False unless both numbers are there.
bool parseVersion(std::u16string_view text, DWORD& major, DWORD& minor) {
    DWORD parts[2] = {0, 0};
    std::size_t part = 0;
    bool digits = false;
    for (const WCHAR c : text) {
        if (c >= u'0' && c <= u'9' && parts[part] < 100000) {
            parts[part] = parts[part] * 10 + (c - u'0');
            digits = true;
        } else if (c == u'.' && part == 0 && digits) {
            part = 1;
            digits = false;
        } else {
            return false;
        }
    }
    if (part != 1 || !digits)
        return false;
    major = parts[0];
    minor = parts[1];
    return true;
}

// The number of "Service Pack <n>", 0 for any other text.
WORD servicePackNumber(std::u16string_view text) {
    constexpr std::u16string_view prefix = u"Service Pack ";
    if (text.substr(0, prefix.size()) != prefix)
        return 0;
    WORD number = 0;
    for (const WCHAR c : text.substr(prefix.size())) {
        if (c < u'0' || c > u'9' || number > 1000)
            break;
        number = static_cast<WORD>(number * 10 + (c - u'0'));
    }
    return number;
}

// Each value that is missing or unreadable keeps its default, except the service pack: a
// machine that records a version but no CSDVersion has no service pack installed.
Version readVersion() {
    Version version;
    const auto current =
        sky::registry::readString(HKEY_LOCAL_MACHINE, kVersionKey, u"CurrentVersion");
    if (current)
        parseVersion(*current, version.major, version.minor);
    if (auto build =
            sky::sysinfo::readNumber(HKEY_LOCAL_MACHINE, kVersionKey, u"CurrentBuildNumber", 10))
        version.build = *build;
    const auto servicePack =
        sky::registry::readString(HKEY_LOCAL_MACHINE, kVersionKey, u"CSDVersion");
    if (servicePack)
        version.servicePack = *servicePack;
    else if (!current)
        version.servicePack = kDefaultServicePack;
    version.servicePackMajor = servicePackNumber(version.servicePack);
    const auto product = sky::registry::readString(
        HKEY_LOCAL_MACHINE, sky::sysinfo::kProductOptionsKey, u"ProductType");
    if (product == u"WinNT")
        version.productType = VER_NT_WORKSTATION;
    else if (product == u"LanmanNT")
        version.productType = VER_NT_DOMAIN_CONTROLLER;
    return version;
}

} // namespace

extern "C" BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
    if (!lpVersionInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const Version version = readVersion();
    OSVERSIONINFOW& info = *lpVersionInformation;
    info.dwMajorVersion = version.major;
    info.dwMinorVersion = version.minor;
    info.dwBuildNumber = version.build;
    info.dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info.szCSDVersion, 0, sizeof info.szCSDVersion);
    const std::size_t length =
        std::min<std::size_t>(version.servicePack.size(), std::size(info.szCSDVersion) - 1);
    std::copy_n(version.servicePack.begin(), length, info.szCSDVersion);
    if (size == sizeof(OSVERSIONINFOEXW)) {
        auto& extended = reinterpret_cast<OSVERSIONINFOEXW&>(info);
        extended.wServicePackMajor = version.servicePackMajor;
        extended.wServicePackMinor = 0;
        extended.wSuiteMask = VER_SUITE_TERMINAL;
        extended.wProductType = version.productType;
        extended.wReserved = 0;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetVersion() {
    const Version version = readVersion();
    return (version.major & 0xFF) | ((version.minor & 0xFF) << 8) |
           ((version.build & 0x7FFF) << 16);
}

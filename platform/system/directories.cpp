// The machine's system, Windows and temporary directories, the current directory, and the user.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "buffer_rules.h"
#include "sky/machine.h"
#include "sky/remote.h"
#include "sky/syserror.h"
#include "sky/text.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/lasterror.h"

namespace fs = std::filesystem;

namespace {

constexpr char16_t windowsDirectory[] = u"C:\\WINDOWS";
constexpr char16_t systemDirectory[] = u"C:\\WINDOWS\\system32";
constexpr char16_t machineTemp[] = u"C:\\WINDOWS\\Temp";

// A directory named by TMP or TEMP, in Windows form: a host path becomes Z:\... (or C:\...).
std::u16string temporaryFromVariable(const WCHAR* name) {
    WCHAR value[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    std::u16string path(value, length);
    if (path[0] == u'/')
        path = sky::machine::toWindowsPath(sky::narrow(path));
    return path;
}

} // namespace

extern "C" UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return sky::copyToBuffer(systemDirectory, lpBuffer, uSize);
}

extern "C" UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    return sky::copyToBuffer(windowsDirectory, lpBuffer, uSize);
}

extern "C" DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    std::u16string path = temporaryFromVariable(u"TMP");
    if (path.empty())
        path = temporaryFromVariable(u"TEMP");
    if (path.empty()) {
        path = machineTemp;
        std::error_code ec;
        if (const auto host = sky::machine::toHostPath(path))
            fs::create_directories(*host, ec);
    }
    if (path.back() != u'\\')
        path += u'\\';
    return sky::copyToBuffer(path, lpBuffer, nBufferLength);
}

extern "C" DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
    std::error_code ec;
    const fs::path current = fs::current_path(ec);
    if (ec) {
        SetLastError(sky::win32ErrorFromErrno(ec.value()));
        return 0;
    }
    return sky::copyToBuffer(sky::machine::toWindowsPath(current), lpBuffer, nBufferLength);
}

extern "C" BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName) {
    if (!lpPathName || !*lpPathName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto host = sky::machine::toHostPath(lpPathName);
    if (!host) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (chdir(host->c_str()) != 0) {
        const int error = errno;
        std::error_code ec;
        if (error == ENOTDIR && fs::exists(*host, ec))
            SetLastError(ERROR_DIRECTORY);
        else if (error == ENOENT && !fs::is_directory(host->parent_path(), ec))
            SetLastError(ERROR_PATH_NOT_FOUND);
        else
            SetLastError(sky::win32ErrorFromErrno(error));
        return FALSE;
    }
    return TRUE;
}

namespace {

std::string processUserName() {
    passwd entry{};
    passwd* found = nullptr;
    std::string storage(16384, '\0');
    if (getpwuid_r(geteuid(), &entry, storage.data(), storage.size(), &found) == 0 && found)
        return found->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return std::to_string(geteuid());
}

} // namespace

extern "C" BOOL WINAPI GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer) {
    if (!pcbBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Serving a call from another process after CoImpersonateClient: the caller.
    const char16_t* caller = sky::remote::impersonatedUser();
    const std::u16string wide = caller ? std::u16string(caller) : sky::widen(processUserName());
    const DWORD result = sky::copyToBuffer(wide, lpBuffer, *pcbBuffer);
    if (result > wide.size()) {
        *pcbBuffer = result;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *pcbBuffer = result + 1;
    return TRUE;
}

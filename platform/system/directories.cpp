// The machine's system, Windows and temporary directories, the current directory, and the user.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <optional>
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

// The password database's file as a name was read from it: another file under its name, or the
// file written since, and the name is looked up again.
struct PasswordFile {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const PasswordFile& other) const {
        const auto same = [](const timespec& a, const timespec& b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return device == other.device && inode == other.inode && size == other.size &&
               same(modified, other.modified) && same(changed, other.changed);
    }
};

std::optional<PasswordFile> passwordFile() {
    struct stat status {};
    if (stat("/etc/passwd", &status) != 0)
        return std::nullopt;
    return PasswordFile{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                        status.st_ctim};
}

// The effective user's name, as the password database gives it. Looking it up reads and parses
// the whole database, and servers ask for it with every change they record, so the name is
// kept for the effective user and the database file as they were when it was read (a name a
// directory service gave is kept until the effective user changes).
std::string processUserName() {
    struct Known {
        uid_t user;
        PasswordFile file;
        std::string name;
    };
    static std::mutex mutex;
    static std::optional<Known> known;
    const uid_t user = geteuid();
    const std::optional<PasswordFile> file = passwordFile();
    if (file) {
        std::lock_guard lock(mutex);
        if (known && known->user == user && known->file == *file)
            return known->name;
    }
    passwd entry{};
    passwd* found = nullptr;
    std::string storage(16384, '\0');
    if (getpwuid_r(user, &entry, storage.data(), storage.size(), &found) == 0 && found) {
        std::string name = found->pw_name;
        if (file) {
            std::lock_guard lock(mutex);
            known = Known{user, *file, name};
        }
        return name;
    }
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

#include "windows_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "results.h"
#include "sky/machine.h"
#include "sky/remote.h"
#include "sky/syserror.h"
#include "sky/text.h"

namespace qvcomsrv {

namespace {

// Refuses a name that no file may have, or one on no drive of this machine, naming it.
HRESULT checkName(std::u16string_view path) {
    const std::string shown = sky::narrow(path);
    if (path.empty())
        return withErrorInfo(E_INVALIDARG, "No file name was given.");
    if (!sky::remote::isValidWindowsPath(path))
        return withErrorInfo(kInvalidFileName, "The file name " + shown +
                                                   " is not valid: a file name cannot hold any of "
                                                   "< > : \" | ? * or control characters.");
    // By the path's form: the caller's side opens the file, and the service looks at none of
    // the caller's files with its own rights.
    if (!sky::machine::isOnAMachineDrive(path))
        return withErrorInfo(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                             "The path " + shown + " is not on a drive of this machine.");
    return S_OK;
}

HRESULT fileFailure(int error, bool folderMissing, std::string_view action,
                    std::u16string_view path) {
    std::string text = "The file " + sky::narrow(path) + " cannot be ";
    text += action;
    text += ": ";
    text += std::strerror(error);
    text += ".";
    DWORD code = sky::win32ErrorFromErrno(error);
    // As Windows tells a missing folder from a missing file.
    if (error == ENOENT && folderMissing)
        code = ERROR_PATH_NOT_FOUND;
    return withErrorInfo(HRESULT_FROM_WIN32(static_cast<long>(code)), text);
}

HRESULT notAFile(std::string_view action, std::u16string_view path, mode_t mode) {
    const char* kind = S_ISDIR(mode)    ? "a folder"
                       : S_ISFIFO(mode) ? "a named pipe"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "a device";
    return withErrorInfo(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
                         "The file " + sky::narrow(path) + " cannot be " + std::string(action) +
                             ": it is " + kind + ", not a file.");
}

// The file `path` for `use`, opened with the caller's rights: by the caller's side of a call
// from another process (the service never opens a file for another program), by this process
// in process. A regular file's descriptor in `fd`, or the failure naming the file.
HRESULT openForCaller(std::u16string_view path, sky::dispatch::FileUse use, std::string_view action,
                      int& fd) {
    const sky::remote::MemberFile file = sky::remote::callerFile(path, use);
    fd = file.fd;
    if (fd >= 0)
        return S_OK;
    if (file.notHanded)
        return withErrorInfo(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
                             "The file " + sky::narrow(path) + " cannot be " + std::string(action) +
                                 ": the calling program did not open it. The service opens no "
                                 "file for another program; a program of an older version "
                                 "of the calls between processes cannot hand files over.");
    if (file.error == 0 && file.kind != 0)
        return notAFile(action, path, static_cast<mode_t>(file.kind));
    return fileFailure(file.error, file.folderMissing, action, path);
}

HRESULT tooLarge(std::u16string_view path, std::size_t limit) {
    return withErrorInfo(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                         "The file " + sky::narrow(path) + " is larger than " +
                             std::to_string(limit >> 20) + " MiB (" + std::to_string(limit) +
                             " bytes), the most an icon file may hold.");
}

} // namespace

HRESULT readWindowsFile(std::u16string_view path, sky::farm::Bytes& bytes, std::size_t limit) {
    if (HRESULT hr = checkName(path); FAILED(hr))
        return hr;
    int fd = -1;
    if (HRESULT hr = openForCaller(path, sky::dispatch::FileUse::Read, "read", fd); FAILED(hr))
        return hr;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return fileFailure(error, false, "read", path);
    }
    if (static_cast<std::uintmax_t>(info.st_size) > limit) {
        ::close(fd);
        return tooLarge(path, limit);
    }
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t buffer[65536];
    while (true) {
        // A file that grows while it is read still stops one byte past the limit.
        const std::size_t room = limit + 1 - bytes.size();
        const ssize_t got =
            ::pread(fd, buffer, std::min(sizeof buffer, room), static_cast<off_t>(bytes.size()));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return fileFailure(error, false, "read", path);
        }
        if (got == 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (bytes.size() > limit) {
            ::close(fd);
            bytes.clear();
            return tooLarge(path, limit);
        }
    }
    ::close(fd);
    return S_OK;
}

HRESULT writeWindowsFile(std::u16string_view path, const sky::farm::Bytes& bytes) {
    if (HRESULT hr = checkName(path); FAILED(hr))
        return hr;
    int fd = -1;
    if (HRESULT hr = openForCaller(path, sky::dispatch::FileUse::Write, "written", fd); FAILED(hr))
        return hr;
    // The file is written over from its start and then cut to the icon's length, so a call
    // that fails before it writes leaves the file as it was, and a file that is empty already
    // (the usual case: made moments ago for this call) is never truncated. A truncate to
    // nothing is what costs: ext4 writes such a file out to the disk when it is closed, and a
    // scratch file removed moments later has its blocks freed there again.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return fileFailure(error, false, "written", path);
        }
        done += static_cast<std::size_t>(put);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || (static_cast<std::uintmax_t>(info.st_size) > bytes.size() &&
                                    ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0)) {
        const int error = errno;
        ::close(fd);
        return fileFailure(error, false, "written", path);
    }
    if (::close(fd) != 0)
        return fileFailure(errno, false, "written", path);
    return S_OK;
}

} // namespace qvcomsrv

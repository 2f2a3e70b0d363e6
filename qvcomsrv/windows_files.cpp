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
#include "sky/syserror.h"
#include "sky/text.h"

namespace qvcomsrv {

namespace {

// Characters no Windows file name may hold; ':' only after a drive letter.
bool isValidWindowsPath(std::u16string_view path) {
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == u':' &&
        ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')))
        start = 2;
    for (std::size_t i = start; i < path.size(); ++i) {
        const char16_t c = path[i];
        if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' ||
            c == u'?' || c == u'*')
            return false;
    }
    return true;
}

// The host path of `path`, or a failure naming it.
HRESULT hostPath(std::u16string_view path, std::filesystem::path& host) {
    const std::string shown = sky::narrow(path);
    if (path.empty())
        return withErrorInfo(E_INVALIDARG, "No file name was given.");
    if (!isValidWindowsPath(path))
        return withErrorInfo(kInvalidFileName, "The file name " + shown +
                                                   " is not valid: a file name cannot hold any of "
                                                   "< > : \" | ? * or control characters.");
    std::optional<std::filesystem::path> mapped = sky::machine::toHostPath(path);
    if (!mapped)
        return withErrorInfo(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                             "The path " + shown + " is not on a drive of this machine.");
    host = std::move(*mapped);
    return S_OK;
}

HRESULT fileFailure(int error, std::string_view action, std::u16string_view path,
                    const std::filesystem::path& host) {
    std::string text = "The file " + sky::narrow(path) + " cannot be ";
    text += action;
    text += ": ";
    text += std::strerror(error);
    text += ".";
    DWORD code = sky::win32ErrorFromErrno(error);
    // As Windows tells a missing folder from a missing file.
    std::error_code ec;
    if (error == ENOENT && !std::filesystem::is_directory(host.parent_path(), ec))
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

// An open that failed: a pipe without its other end and a socket cannot be opened at all (ENXIO).
HRESULT openFailure(int error, std::string_view action, std::u16string_view path,
                    const std::filesystem::path& host) {
    struct stat info {};
    if (error == ENXIO && ::stat(host.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return notAFile(action, path, info.st_mode);
    return fileFailure(error, action, path, host);
}

// Ok when the open file `fd` is a regular file; otherwise closes it and fails naming the kind.
HRESULT onlyRegularFile(int fd, std::string_view action, std::u16string_view path,
                        const std::filesystem::path& host, struct stat& info) {
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return fileFailure(error, action, path, host);
    }
    if (S_ISREG(info.st_mode))
        return S_OK;
    ::close(fd);
    return notAFile(action, path, info.st_mode);
}

// Opens without blocking (a pipe without its other end, a device), then refuses anything that is
// not a regular file; the descriptor is left blocking, as regular files are read and written.
int openFile(const std::filesystem::path& host, int flags) {
    return ::open(host.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
}

HRESULT tooLarge(std::u16string_view path, std::size_t limit) {
    return withErrorInfo(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE),
                         "The file " + sky::narrow(path) + " is larger than " +
                             std::to_string(limit >> 20) + " MiB (" + std::to_string(limit) +
                             " bytes), the most an icon file may hold.");
}

} // namespace

HRESULT readWindowsFile(std::u16string_view path, sky::farm::Bytes& bytes, std::size_t limit) {
    std::filesystem::path host;
    if (HRESULT hr = hostPath(path, host); FAILED(hr))
        return hr;
    const int fd = openFile(host, O_RDONLY);
    if (fd < 0)
        return openFailure(errno, "read", path, host);
    struct stat info {};
    if (HRESULT hr = onlyRegularFile(fd, "read", path, host, info); FAILED(hr))
        return hr;
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
        const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, room));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return fileFailure(error, "read", path, host);
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
    std::filesystem::path host;
    if (HRESULT hr = hostPath(path, host); FAILED(hr))
        return hr;
    // Emptied only once it is known to be a file: a pipe or device is never written to.
    const int fd = openFile(host, O_WRONLY | O_CREAT);
    if (fd < 0)
        return openFailure(errno, "written", path, host);
    struct stat info {};
    if (HRESULT hr = onlyRegularFile(fd, "written", path, host, info); FAILED(hr))
        return hr;
    if (::ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        return fileFailure(error, "written", path, host);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return fileFailure(error, "written", path, host);
        }
        done += static_cast<std::size_t>(put);
    }
    if (::close(fd) != 0)
        return fileFailure(errno, "written", path, host);
    return S_OK;
}

} // namespace qvcomsrv

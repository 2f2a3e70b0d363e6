#include "windows_files.h"

#include <fcntl.h>
#include <unistd.h>

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

} // namespace

HRESULT readWindowsFile(std::u16string_view path, sky::farm::Bytes& bytes) {
    std::filesystem::path host;
    if (HRESULT hr = hostPath(path, host); FAILED(hr))
        return hr;
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fileFailure(errno, "read", path, host);
    bytes.clear();
    std::uint8_t buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
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
    }
    ::close(fd);
    return S_OK;
}

HRESULT writeWindowsFile(std::u16string_view path, const sky::farm::Bytes& bytes) {
    std::filesystem::path host;
    if (HRESULT hr = hostPath(path, host); FAILED(hr))
        return hr;
    const int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fileFailure(errno, "written", path, host);
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

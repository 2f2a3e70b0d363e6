#include "sky/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace sky {

namespace {

namespace fs = std::filesystem;

std::error_code systemError(int error) {
    return {error, std::generic_category()};
}

// Writes every byte to `fd`, going on after interruptions and partial writes.
bool writeAll(int fd, std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// A device, a FIFO or a link that leads nowhere yet: opened and written as it stands.
std::error_code writeInPlace(const fs::path& path, std::string_view bytes, mode_t newFileMode) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, newFileMode);
    if (fd < 0)
        return systemError(errno);
    const bool ok = writeAll(fd, bytes);
    const int error = errno;
    if (::close(fd) != 0 && ok)
        return systemError(errno);
    return ok ? std::error_code() : systemError(error);
}

// A regular file (or none): a new file beside it, written, synced, and renamed over it.
std::error_code replaceWhole(const fs::path& file, std::string_view bytes, mode_t mode,
                             bool keepMode) {
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    const std::string stem = "." + file.filename().string() + ".new-" + std::to_string(getpid());
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = folder / (stem + "-" + std::to_string(attempt));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    keepMode ? mode_t{0600} : mode);
        if (fd < 0 && errno != EEXIST)
            return systemError(errno);
    }
    if (fd < 0)
        return systemError(EEXIST);
    bool ok = writeAll(fd, bytes) && (!keepMode || ::fchmod(fd, mode) == 0) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), file.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return systemError(error);
    }
    return {};
}

} // namespace

std::error_code writeOutputFile(const fs::path& path, std::string_view bytes, mode_t newFileMode) {
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) {
        if (!S_ISREG(target.st_mode))
            return writeInPlace(path, bytes, newFileMode);
        // Through any symbolic links to the file itself, which is what is replaced.
        std::error_code error;
        const fs::path file = fs::canonical(path, error);
        if (error)
            return error;
        return replaceWhole(file, bytes, target.st_mode & 07777, true);
    }
    if (errno != ENOENT)
        return systemError(errno);
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0)
        return writeInPlace(path, bytes, newFileMode); // a link to a file not made yet
    return replaceWhole(path, bytes, newFileMode, false);
}

} // namespace sky

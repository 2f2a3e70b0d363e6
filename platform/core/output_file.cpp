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

// Writes what `produce` makes to `fd`, gathered into writes of about a mebibyte; false with errno
// set when a write failed, or with ECANCELED when the producer gave up.
bool writeProduced(int fd, const OutputProducer& produce) {
    constexpr std::size_t kGathered = std::size_t{1} << 20;
    std::string gathered;
    bool failed = false;
    int error = 0;
    const auto flush = [&] {
        failed = !writeAll(fd, gathered);
        error = errno;
        gathered.clear();
        return !failed;
    };
    const bool made = produce([&](std::string_view piece) {
        if (failed)
            return false;
        if (gathered.size() + piece.size() > kGathered && !gathered.empty() && !flush())
            return false;
        if (piece.size() >= kGathered) {
            failed = !writeAll(fd, piece);
            error = errno;
            return !failed;
        }
        gathered += piece;
        return true;
    });
    if (!failed && made && !gathered.empty())
        flush();
    errno = failed ? error : made ? 0 : ECANCELED;
    return made && !failed;
}

// A device, a FIFO or a link that leads nowhere yet: opened and written as it stands.
std::error_code writeInPlace(const fs::path& path, const OutputProducer& produce,
                             mode_t newFileMode) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, newFileMode);
    if (fd < 0)
        return systemError(errno);
    const bool ok = writeProduced(fd, produce);
    const int error = errno;
    if (::close(fd) != 0 && ok)
        return systemError(errno);
    return ok ? std::error_code() : systemError(error);
}

// A regular file (or none): a new file beside it, written, synced, and renamed over it.
std::error_code replaceWhole(const fs::path& file, const OutputProducer& produce, mode_t mode,
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
    bool ok =
        writeProduced(fd, produce) && (!keepMode || ::fchmod(fd, mode) == 0) && ::fsync(fd) == 0;
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
    // The bytes go in one piece; a write that fails is reported by the writer.
    const OutputProducer whole = [bytes](const OutputWriter& write) {
        write(bytes);
        return true;
    };
    return writeOutputFile(path, whole, newFileMode);
}

std::error_code writeOutputFile(const fs::path& path, const OutputProducer& produce,
                                mode_t newFileMode) {
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) {
        if (!S_ISREG(target.st_mode))
            return writeInPlace(path, produce, newFileMode);
        // Through any symbolic links to the file itself, which is what is replaced.
        std::error_code error;
        const fs::path file = fs::canonical(path, error);
        if (error)
            return error;
        return replaceWhole(file, produce, target.st_mode & 07777, true);
    }
    if (errno != ENOENT)
        return systemError(errno);
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0)
        return writeInPlace(path, produce, newFileMode); // a link to a file not made yet
    return replaceWhole(path, produce, newFileMode, false);
}

} // namespace sky

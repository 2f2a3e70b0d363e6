#include "definitions/file_system.h"

#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/runtime_errors.h"
#include "sky/machine.h"
#include "sky/text.h"

namespace brask {

namespace fs = std::filesystem;

namespace {

std::u16string withoutTrailingBackslash(std::u16string path) {
    while (!path.empty() && path.back() == u'\\') {
        path.pop_back();
    }
    return path;
}

// A Windows call that fills a buffer and returns the length, or the size needed.
template <class Call> std::u16string bufferText(Call call) {
    std::u16string text(MAX_PATH, u'\0');
    for (;;) {
        const DWORD length = call(static_cast<DWORD>(text.size()), text.data());
        if (length == 0) {
            throw runtimeError(kPathNotFound);
        }
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(length);
    }
}

} // namespace

fs::path hostPath(std::u16string_view windowsPath) {
    std::optional<fs::path> host = sky::machine::toHostPath(windowsPath);
    if (!host) {
        throw runtimeError(kPathNotFound);
    }
    return *host;
}

ToolError fileError(const std::error_code& error, const fs::path& host) {
    const std::errc condition = static_cast<std::errc>(error.value());
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        switch (condition) {
        case std::errc::no_such_file_or_directory: {
            std::error_code ignored;
            const fs::path folder = host.parent_path();
            return runtimeError(folder.empty() || fs::is_directory(folder, ignored)
                                    ? kFileNotFound
                                    : kPathNotFound);
        }
        case std::errc::not_a_directory:
            return runtimeError(kPathNotFound);
        case std::errc::permission_denied:
        case std::errc::operation_not_permitted:
        case std::errc::read_only_file_system:
            return runtimeError(kPermissionDenied);
        case std::errc::filename_too_long:
        case std::errc::invalid_argument:
            return runtimeError(kBadFileName);
        default:
            break;
        }
    }
    return runtimeError(kPathFileAccessError);
}

std::u16string workingDirectory() {
    return withoutTrailingBackslash(
        bufferText([](DWORD size, LPWSTR buffer) { return GetCurrentDirectoryW(size, buffer); }));
}

std::u16string temporaryFolder() {
    return withoutTrailingBackslash(
        bufferText([](DWORD size, LPWSTR buffer) { return GetTempPathW(size, buffer); }));
}

bool isFileName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") {
        return false;
    }
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7F ||
            std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) {
            return false;
        }
    }
    return true;
}

bool folderExists(std::u16string_view folder) {
    std::error_code ignored;
    return fs::is_directory(hostPath(folder), ignored);
}

void createFolder(std::u16string_view folder) {
    const fs::path host = hostPath(folder);
    std::error_code error;
    if (!fs::create_directory(host, error) && error) {
        throw fileError(error, host / "x");
    }
}

void deleteFilesWithExtension(std::u16string_view folder, std::u16string_view extension) {
    const fs::path host = hostPath(folder);
    std::error_code error;
    fs::directory_iterator entries(host, error);
    if (error) {
        throw fileError(error, host);
    }
    const std::u16string wanted = sky::upper(extension);
    for (const fs::directory_entry& entry : entries) {
        std::error_code kind;
        if (!entry.is_regular_file(kind)) {
            continue;
        }
        const std::u16string name = sky::upper(sky::widen(entry.path().filename().string()));
        if (name.size() > wanted.size() && name.ends_with(wanted)) {
            if (!fs::remove(entry.path(), error) && error) {
                throw fileError(error, entry.path());
            }
        }
    }
}

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// A descriptor closed when it goes.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

} // namespace

namespace {

// The source of a copy, opened without waiting (a pipe without a writer) and looked at before
// anything is read: only a regular file is copied.
Descriptor openCopySource(const fs::path& source) {
    Descriptor in{::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (in.fd < 0) {
        throw fileError(lastError(), source);
    }
    struct stat info {};
    if (::fstat(in.fd, &info) != 0) {
        throw fileError(lastError(), source);
    }
    if (!S_ISREG(info.st_mode)) {
        throw fileError(std::make_error_code(std::errc::no_such_file_or_directory), source);
    }
    return in;
}

// Copies at most `limit` bytes of `in` into `out`; the number of bytes copied.
std::uintmax_t copyBytes(const Descriptor& in, const fs::path& source, int out,
                         const fs::path& target, std::uintmax_t limit) {
    char buffer[65536];
    std::uintmax_t copied = 0;
    while (copied < limit) {
        const ssize_t got = ::read(
            in.fd, buffer,
            static_cast<std::size_t>(std::min<std::uintmax_t>(sizeof buffer, limit - copied)));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw fileError(lastError(), source);
        }
        if (got == 0) {
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put < 0) {
                throw fileError(lastError(), target);
            }
            done += put;
        }
        copied += static_cast<std::uintmax_t>(got);
    }
    return copied;
}

} // namespace

void copyFile(std::u16string_view from, std::u16string_view to, std::uintmax_t limit) {
    const fs::path source = hostPath(from);
    const fs::path target = hostPath(to);
    const Descriptor in = openCopySource(source);
    Descriptor out{::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
    if (out.fd < 0) {
        throw fileError(lastError(), target);
    }
    copyBytes(in, source, out.fd, target, limit);
    const int closed = ::close(out.fd);
    out.fd = -1;
    if (closed != 0) {
        throw fileError(lastError(), target);
    }
}

ScratchFile::ScratchFile(std::u16string path) : path_(std::move(path)), host_(hostPath(path_)) {
    std::error_code ignored;
    fs::remove(host_,
               ignored); // left by a run that was killed, or planted: a link goes, not its target
    fd_ = ::open(host_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        throw fileError(lastError(), host_);
    }
}

ScratchFile::~ScratchFile() {
    ::close(fd_);
    std::error_code ignored;
    fs::remove(host_, ignored);
}

void ScratchFile::fillFrom(std::u16string_view from, std::uintmax_t limit) {
    const fs::path source = hostPath(from);
    const Descriptor in = openCopySource(source);
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        throw fileError(lastError(), host_);
    }
    const std::uintmax_t copied = copyBytes(in, source, fd_, host_, limit);
    // Cut only what a longer copy before left: a file is never truncated to nothing here.
    if (copied < held_ && ::ftruncate(fd_, static_cast<off_t>(copied)) != 0) {
        throw fileError(lastError(), host_);
    }
    held_ = copied;
}

void deleteFile(std::u16string_view path) {
    const fs::path host = hostPath(path);
    std::error_code error;
    if (!fs::remove(host, error)) {
        throw fileError(error ? error : std::make_error_code(std::errc::no_such_file_or_directory),
                        host);
    }
}

} // namespace brask

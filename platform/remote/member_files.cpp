// Files that members open for their callers: opened with the opener's own rights, without
// blocking, regular files only (sky/remote.h). A client opens a member's file arguments with this
// before the call and hands the descriptors over; an object in the caller's own process opens them
// with it when it needs them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "sky/machine.h"
#include "sky/remote.h"

namespace sky::remote {

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

MemberFile openMemberFile(std::u16string_view name, dispatch::FileUse use, bool* created) {
    MemberFile file;
    if (created)
        *created = false;
    // A name that no file may have is never opened (nor created): the member refuses it.
    if (name.empty() || !isValidWindowsPath(name)) {
        file.error = EINVAL;
        return file;
    }
    const std::optional<std::filesystem::path> host = sky::machine::toHostPath(name);
    if (!host) {
        file.error = ENOENT;
        file.folderMissing = true;
        return file;
    }
    const int flags =
        O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (use == dispatch::FileUse::Write ? O_WRONLY : O_RDONLY);
    int fd = ::open(host->c_str(), flags);
    if (fd < 0 && errno == ENOENT && use == dispatch::FileUse::Write) {
        fd = ::open(host->c_str(), flags | O_CREAT | O_EXCL, 0644);
        if (fd >= 0 && created)
            *created = true;
        else if (fd < 0 && errno == EEXIST) // made by someone else meanwhile
            fd = ::open(host->c_str(), flags);
    }
    struct stat info {};
    if (fd < 0) {
        file.error = errno;
        // A pipe without its other end and a socket cannot be opened at all (ENXIO).
        if (file.error == ENXIO && ::stat(host->c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            file.error = 0;
            file.kind = info.st_mode & S_IFMT;
        }
        std::error_code ec;
        if (file.error == ENOENT && !std::filesystem::is_directory(host->parent_path(), ec))
            file.folderMissing = true;
        return file;
    }
    if (::fstat(fd, &info) != 0) {
        file.error = errno;
        ::close(fd);
        return file;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        file.kind = info.st_mode & S_IFMT;
        return file;
    }
    file.fd = fd;
    return file;
}

} // namespace sky::remote

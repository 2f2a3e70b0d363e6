#include "module_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "sky/elf_file.h"

namespace fs = std::filesystem;
using sky::resources::Resource;

namespace sky::rc {

namespace {

std::runtime_error systemError(const std::string& what, const fs::path& file) {
    return std::runtime_error(what + " " + file.string() + ": " + std::strerror(errno));
}

// Replaces `path` with `bytes` through a temporary file in the same directory and a rename.
void replaceFile(const fs::path& path, const std::vector<BYTE>& bytes, mode_t mode) {
    const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string temp = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        throw systemError("cannot create a file in", dir);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const bool ok = written == bytes.size() && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        const int reason = ok ? errno : savedErrno;
        unlink(temp.c_str());
        errno = reason;
        throw systemError("cannot write", path);
    }
}

std::vector<BYTE> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw systemError("cannot read", path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

std::vector<Resource> readResources(const fs::path& module) {
    resources::Directory directory;
    switch (resources::readModule(module, directory)) {
    case resources::ReadStatus::Ok:
        return directory.copy();
    case resources::ReadStatus::CannotOpen:
        throw std::runtime_error("cannot read " + module.string());
    case resources::ReadStatus::NotModule:
        throw std::runtime_error(module.string() + " is not a module or program of this machine");
    case resources::ReadStatus::Damaged:
        break;
    }
    throw std::runtime_error("the resources of " + module.string() + " are damaged");
}

void writeResourceModule(const fs::path& path, const std::vector<Resource>& resources) {
    const std::vector<BYTE> section = resources::serialize(resources);
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    replaceFile(path, elf::dataOnlyModule(resources::kSectionName, section), 0755);
}

void addResources(const fs::path& named, std::vector<Resource> added) {
    std::error_code ec;
    const fs::path module = fs::canonical(named, ec); // a link stays a link to the new file
    if (ec)
        throw std::runtime_error("cannot read " + named.string());
    std::vector<Resource> all = readResources(module);
    for (Resource& r : added) {
        std::erase_if(all, [&r](const Resource& old) {
            return old.type == r.type && old.name == r.name && old.language == r.language;
        });
        all.push_back(std::move(r));
    }
    struct stat st {};
    if (stat(module.c_str(), &st) != 0)
        throw systemError("cannot read", module);
    const std::vector<BYTE> image = readFile(module);
    replaceFile(module, elf::withSection(image, resources::kSectionName, resources::serialize(all)),
                st.st_mode & 07777);
}

} // namespace sky::rc

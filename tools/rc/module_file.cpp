#include "module_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "sky/elf_file.h"
#include "sky/output_file.h"

namespace fs = std::filesystem;
using sky::resources::Resource;

namespace sky::rc {

namespace {

std::runtime_error systemError(const std::string& what, const fs::path& file) {
    return std::runtime_error(what + " " + file.string() + ": " + std::strerror(errno));
}

// Writes a module: a regular file is replaced whole through a temporary file beside it (a
// failure leaves the old module) and keeps its mode; a new one gets 0755 less the umask; a device
// or FIFO is written into as it stands.
void replaceFile(const fs::path& path, const std::vector<BYTE>& bytes) {
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (const std::error_code ec = writeOutputFile(path, data, 0755))
        throw std::runtime_error("cannot write " + path.string() + ": " + ec.message());
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
    replaceFile(path, elf::dataOnlyModule(resources::kSectionName, section));
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
    const std::vector<BYTE> image = readFile(module); // replaced, it keeps its mode
    replaceFile(module,
                elf::withSection(image, resources::kSectionName, resources::serialize(all)));
}

} // namespace sky::rc

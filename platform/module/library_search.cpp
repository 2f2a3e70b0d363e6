#include "library_search.h"

#include <sys/stat.h>

#include <cstdlib>
#include <vector>

#include "sky/machine.h"
#include "sky/text.h"
#include "win/errors.h"

namespace fs = std::filesystem;

namespace sky::module {

namespace {

constexpr std::u16string_view kSystemDirectory = u"C:\\WINDOWS\\system32";

// The directories a bare name is looked for in, in order, as Windows paths.
std::vector<std::u16string> searchDirectories() {
    std::error_code ec;
    std::vector<std::u16string> dirs = {
        machine::toWindowsPath(programFile().parent_path()),
        machine::toWindowsPath(fs::current_path(ec)),
        std::u16string(kSystemDirectory),
    };
    const char* path = std::getenv("PATH");
    const std::u16string entries = widen(path ? path : "");
    std::size_t start = 0;
    while (start <= entries.size()) {
        std::size_t end = entries.find(u';', start);
        if (end == std::u16string::npos)
            end = entries.size();
        std::u16string entry = entries.substr(start, end - start);
        if (entry.size() >= 2 && entry.front() == u'"' && entry.back() == u'"')
            entry = entry.substr(1, entry.size() - 2);
        if (!entry.empty())
            dirs.push_back(std::move(entry));
        start = end + 1;
    }
    return dirs;
}

bool isFile(const fs::path& file) {
    std::error_code ec;
    return fs::is_regular_file(file, ec);
}

} // namespace

fs::path programFile() {
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec);
}

bool sameFile(const fs::path& a, const fs::path& b) {
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::u16string withDefaultExtension(std::u16string_view name) {
    const std::size_t slash = name.find_last_of(u"\\/");
    const std::u16string_view last =
        slash == std::u16string_view::npos ? name : name.substr(slash + 1);
    std::u16string out(name);
    if (!last.empty() && last.back() == u'.')
        out.pop_back();
    else if (!last.empty() && last.find(u'.') == std::u16string_view::npos)
        out += u".dll";
    return out;
}

bool hasPath(std::u16string_view name) {
    return name.find_first_of(u"\\/:") != std::u16string_view::npos;
}

std::optional<fs::path> locateLibrary(std::u16string_view name, DWORD& error) {
    error = ERROR_MOD_NOT_FOUND;
    if (hasPath(name)) {
        std::optional<fs::path> file = machine::toHostPath(name);
        if (file && isFile(*file))
            return file;
        return std::nullopt;
    }
    for (const std::u16string& dir : searchDirectories()) {
        std::u16string candidate = dir;
        if (!candidate.empty() && candidate.back() != u'\\' && candidate.back() != u'/')
            candidate += u'\\';
        candidate += name;
        std::optional<fs::path> file = machine::toHostPath(candidate);
        if (file && isFile(*file))
            return file;
    }
    return std::nullopt;
}

} // namespace sky::module

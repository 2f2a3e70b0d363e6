#include "program_lookup.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "sky/machine.h"
#include "sky/syserror.h"
#include "sky/text.h"
#include "win/environment.h"
#include "win/errors.h"

namespace fs = std::filesystem;

namespace sky {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

bool hasDirectory(std::u16string_view name) {
    return name.find_first_of(u"\\/:") != std::u16string_view::npos;
}

bool hasExtension(std::u16string_view name) {
    const std::size_t slash = name.find_last_of(u"\\/");
    const std::u16string_view base =
        slash == std::u16string_view::npos ? name : name.substr(slash + 1);
    return base.find(u'.') != std::u16string_view::npos;
}

// What the tries of one lookup found.
struct Search {
    std::optional<fs::path> found;
    bool directorySeen = false;

    // Looks at one Windows path.
    bool tryPath(std::u16string_view windowsPath) {
        const auto host = machine::toHostPath(windowsPath);
        if (!host)
            return false;
        std::error_code ec;
        const fs::file_status status = fs::status(*host, ec);
        if (!ec && fs::exists(status) && !fs::is_directory(status)) {
            found = *host;
            return true;
        }
        directorySeen = directorySeen || fs::is_directory(host->parent_path(), ec);
        return false;
    }

    // A name with ".exe" added first when it has no extension.
    bool tryName(std::u16string_view windowsPath) {
        if (!hasExtension(windowsPath) && tryPath(std::u16string(windowsPath) + u".exe"))
            return true;
        return tryPath(windowsPath);
    }

    FoundProgram result() const {
        if (found)
            return {*found, ERROR_SUCCESS};
        return {{},
                static_cast<DWORD>(directorySeen ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND)};
    }
};

std::u16string windowsDirectoryOf(const fs::path& hostDirectory) {
    return machine::toWindowsPath(hostDirectory);
}

// The directories a bare program name is searched in, in Windows' order, as Windows paths.
std::vector<std::u16string> searchDirectories() {
    std::vector<std::u16string> directories;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec)
        directories.push_back(windowsDirectoryOf(self.parent_path()));
    const fs::path current = fs::current_path(ec);
    if (!ec)
        directories.push_back(windowsDirectoryOf(current));
    directories.push_back(u"C:\\WINDOWS\\system32");
    directories.push_back(u"C:\\WINDOWS\\system");
    directories.push_back(u"C:\\WINDOWS");
    std::vector<WCHAR> path(GetEnvironmentVariableW(u"PATH", nullptr, 0) + 1);
    const DWORD length =
        GetEnvironmentVariableW(u"PATH", path.data(), static_cast<DWORD>(path.size()));
    const std::u16string_view entries(path.data(), length < path.size() ? length : 0);
    // Windows separates PATH entries with ';'. The host's PATH lists Unix directories with ':',
    // and a Windows program may have appended ";C:\..." entries to it: a piece that starts with
    // '/' is split again at ':'.
    const auto split = [](std::u16string_view list, char16_t separator, auto&& each) {
        for (std::size_t start = 0; start <= list.size();) {
            std::size_t end = list.find(separator, start);
            if (end == std::u16string_view::npos)
                end = list.size();
            if (end > start)
                each(list.substr(start, end - start));
            start = end + 1;
        }
    };
    split(entries, u';', [&](std::u16string_view piece) {
        // A Windows entry may be quoted ("C:\Program Files\Tools").
        if (piece.size() >= 2 && piece.front() == u'"' && piece.back() == u'"')
            piece = piece.substr(1, piece.size() - 2);
        if (piece.empty())
            return;
        if (piece[0] == u'/')
            split(piece, u':', [&](std::u16string_view entry) { directories.emplace_back(entry); });
        else
            directories.emplace_back(piece);
    });
    return directories;
}

void tryProgramName(std::u16string_view name, Search& search) {
    if (hasDirectory(name)) {
        search.tryName(name);
        return;
    }
    for (const std::u16string& directory : searchDirectories()) {
        std::u16string path = directory;
        if (!path.empty() && path.back() != u'\\' && path.back() != u'/')
            path += u'\\';
        if (search.tryName(path + std::u16string(name)))
            return;
    }
    search.directorySeen = true;
}

// The ELF header says whether a file is a program: an executable, or a position-independent one
// (which, unlike a shared module, names a program interpreter).
template <class Header, class ProgramHeader> bool isElfProgram(int fd) {
    Header header;
    if (pread(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return false;
    if (header.e_type == ET_EXEC)
        return true;
    if (header.e_type != ET_DYN)
        return false;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        ProgramHeader program;
        const off_t offset = static_cast<off_t>(header.e_phoff + i * header.e_phentsize);
        if (pread(fd, &program, sizeof program, offset) != static_cast<ssize_t>(sizeof program))
            return false;
        if (program.p_type == PT_INTERP)
            return true;
    }
    return false;
}

} // namespace

FoundProgram findApplication(std::u16string_view applicationName) {
    Search search;
    if (!search.tryPath(applicationName)) {
        // Windows refuses to run a directory with "access denied".
        std::error_code ec;
        const auto host = machine::toHostPath(applicationName);
        if (host && fs::is_directory(*host, ec))
            return {{}, ERROR_ACCESS_DENIED};
    }
    return search.result();
}

FoundProgram findCommandProgram(std::u16string_view line) {
    Search search;
    while (!line.empty() && isBlank(line[0]))
        line.remove_prefix(1);
    if (!line.empty() && line[0] == u'"') {
        const std::size_t close = line.find(u'"', 1);
        tryProgramName(line.substr(1, close == std::u16string_view::npos ? close : close - 1),
                       search);
        return search.result();
    }
    // Unquoted: every prefix that ends before a blank, shortest first, then the whole line.
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && !isBlank(line[i]))
            continue;
        if (i == 0 || isBlank(line[i - 1]))
            continue;
        tryProgramName(line.substr(0, i), search);
        if (search.found)
            break;
    }
    return search.result();
}

DWORD checkExecutable(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return win32ErrorFromErrno(errno);
    unsigned char magic[EI_NIDENT] = {};
    const ssize_t n = pread(fd, magic, sizeof magic, 0);
    bool program = false;
    if (n >= 2 && magic[0] == '#' && magic[1] == '!') {
        program = true;
    } else if (n == EI_NIDENT && std::memcmp(magic, ELFMAG, SELFMAG) == 0) {
        program = magic[EI_CLASS] == ELFCLASS64 ? isElfProgram<Elf64_Ehdr, Elf64_Phdr>(fd)
                                                : isElfProgram<Elf32_Ehdr, Elf32_Phdr>(fd);
    }
    close(fd);
    return program ? ERROR_SUCCESS : ERROR_BAD_EXE_FORMAT;
}

} // namespace sky

#include "sky/machine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "folder_index.h"
#include "machine_access.h"
#include "sky/text.h"

namespace fs = std::filesystem;

namespace sky::machine {

namespace {

fs::path userRoot() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        return fs::path(xdg) / "skyloom" / "machine";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "share" / "skyloom" / "machine";
}

// Whether this process carries the group `gid`, as its effective or a supplementary group: the
// groups the file system grants the machine folder's group rights by.
bool carriesGroup(gid_t gid) {
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Finds the entry of `dir` whose name equals `name` ignoring case; the exact name wins.
std::optional<fs::path> findNoCase(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    if (fs::exists(dir / name, ec))
        return dir / name;
    if (auto found = detail::findEntryNoCase(dir, name))
        return dir / *found;
    return std::nullopt;
}

// The backslash- or slash-separated components of `path`, empty ones included, in order.
std::vector<std::u16string_view> components(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(u"\\/", start);
        if (end == std::u16string_view::npos)
            end = path.size();
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// `parts` below `base` when they name an existing entry exactly as written and climb nowhere:
// then the exact name wins at every level, and one look-up of the whole path answers for one
// per component. A path with "." or ".." is left to the lexical walk, since the file system
// would follow them through links and past the root of the drive.
std::optional<fs::path> existingAsWritten(const fs::path& base,
                                          const std::vector<std::u16string_view>& parts) {
    fs::path written = base;
    for (const std::u16string_view part : parts) {
        if (part == u"." || part == u"..")
            return std::nullopt;
        if (!part.empty())
            written /= narrow(part);
    }
    std::error_code ec;
    if (!fs::exists(written, ec))
        return std::nullopt;
    return written;
}

// Appends the backslash- or slash-separated components of `rest` to `base`, matching existing
// components case-insensitively. As on Windows, ".." at the root stays at the root: `base` lies
// `depth` components below its drive's root (its directory), and nothing climbs above that.
fs::path appendComponents(fs::path base, std::u16string_view rest, std::size_t depth = 0) {
    const std::vector<std::u16string_view> parts = components(rest);
    if (auto written = existingAsWritten(base, parts))
        return *written;
    bool exists = true;
    for (const std::u16string_view part : parts) {
        if (part.empty() || part == u".")
            continue;
        if (part == u"..") {
            if (depth > 0) {
                base = base.parent_path();
                --depth;
            }
            continue;
        }
        ++depth;
        const std::string name = narrow(part);
        if (exists) {
            if (auto found = findNoCase(base, name)) {
                base = *found;
                continue;
            }
            exists = false;
        }
        base /= name;
    }
    return base;
}

bool isDriveLetter(WCHAR c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

} // namespace

fs::path defaultRoot(const fs::path& systemMachine) {
    struct stat info {};
    if (stat(systemMachine.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        const uid_t user = geteuid();
        if (user == 0 || user == info.st_uid || carriesGroup(info.st_gid))
            return systemMachine;
    }
    return userRoot();
}

fs::path root() {
    const char* named = std::getenv("SKYLOOM_MACHINE");
    fs::path dir = named && *named ? fs::path(named) : defaultRoot();
    std::error_code ec;
    // A relative name is taken from the current directory once, here: whatever is recorded
    // from the path is then the same machine from any directory.
    if (dir.is_relative())
        dir = fs::absolute(dir, ec).lexically_normal();
    fs::create_directories(dir / "drive_c", ec);
    detail::secureMachine(dir);
    return dir;
}

fs::path driveC() {
    return root() / "drive_c";
}

bool isOnAMachineDrive(std::u16string_view path) {
    if (!path.empty() && path[0] == u'/')
        return true; // a Unix absolute path
    if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == u':') {
        const WCHAR drive = foldUpper(path[0]);
        return drive == u'C' || drive == u'Z';
    }
    // A UNC path (\\server\share) names another machine's files.
    return !(path.size() >= 2 && (path[0] == u'\\' || path[0] == u'/') &&
             (path[1] == u'\\' || path[1] == u'/'));
}

std::optional<fs::path> toHostPath(std::u16string_view path) {
    if (!isOnAMachineDrive(path))
        return std::nullopt;
    if (!path.empty() && path[0] == u'/')
        return fs::path(narrow(path));
    if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == u':') {
        const std::u16string_view rest = path.substr(2);
        if (foldUpper(path[0]) == u'C')
            return appendComponents(driveC(), rest);
        return appendComponents(fs::path("/"), rest);
    }
    if (!path.empty() && path[0] == u'\\') {
        // A path rooted on the current drive: drive C, as programs here start from it.
        return appendComponents(driveC(), path);
    }
    // Relative to the current directory, which lies on drive C or on Z:, and ".." climbs to
    // that drive's root at most.
    std::error_code ec;
    const fs::path current = fs::current_path(ec);
    const fs::path withinC = current.lexically_relative(driveC());
    const bool onC = !withinC.empty() && *withinC.begin() != "..";
    std::size_t depth = 0;
    for (const auto& part : onC ? withinC : current.relative_path()) {
        if (!part.empty() && part != ".")
            ++depth;
    }
    return appendComponents(current, path, depth);
}

std::u16string toWindowsPath(const fs::path& hostPath) {
    std::error_code ec;
    fs::path absolute = fs::absolute(hostPath, ec).lexically_normal();
    const fs::path drive = fs::weakly_canonical(driveC(), ec);
    fs::path canonical = fs::weakly_canonical(absolute, ec);
    if (ec)
        canonical = absolute;
    std::u16string out;
    const fs::path relative = canonical.lexically_relative(drive);
    if (!relative.empty() && *relative.begin() != "..") {
        out = u"C:";
        for (const auto& part : relative) {
            if (part == ".")
                continue;
            out += u'\\';
            out += widen(part.string());
        }
        if (out == u"C:")
            out += u'\\';
        return out;
    }
    out = u"Z:";
    for (const auto& part : absolute.relative_path()) {
        if (part.empty())
            continue;
        out += u'\\';
        out += widen(part.string());
    }
    if (out == u"Z:")
        out += u'\\';
    return out;
}

} // namespace sky::machine

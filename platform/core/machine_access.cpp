// Who may read and write what of a machine. The machine directory is the gate: owner rwx, group
// r-x, others nothing, so that a stranger reaches nothing inside, whatever the modes below it.
// Inside, the hive is read by the group and written by the owner, the farm stores and their
// remembered connections are the owner's alone, and the runtime folders (the rendezvous) are
// entered by the group and written by the owner alone, so that no user can take a socket's name.
#include "machine_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <string>

#include "sky/machine.h"

namespace fs = std::filesystem;

namespace sky::machine {

namespace {

constexpr mode_t machineMode = 02750; // owner rwx, group r-x, set-group-id
constexpr mode_t runtimeMode = 02750;
constexpr mode_t farmsMode = 0700;
constexpr mode_t hiveMode = 0640;
constexpr mode_t storeMode = 0600;

// Sets the mode of an entry of the owner's (a link is left alone) when it differs.
void setMode(const fs::path& path, mode_t mode, bool folder) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || info.st_uid != geteuid())
        return;
    if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode))
        return;
    if ((info.st_mode & 07777) != mode)
        chmod(path.c_str(), mode);
}

// Makes a folder of the owner with exactly `mode` (the umask does not narrow it, a folder there
// already is set to it).
void makeFolder(const fs::path& path, mode_t mode) {
    mkdir(path.c_str(), mode & 0777);
    setMode(path, mode, true);
}

} // namespace

uid_t owner() {
    struct stat info {};
    return stat(root().c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

gid_t group() {
    struct stat info {};
    return stat(root().c_str(), &info) == 0 ? info.st_gid : static_cast<gid_t>(-1);
}

fs::path runtimeFolder(std::string_view below) {
    const fs::path machine = root();
    const fs::path run = machine / "run";
    if (below.empty()) {
        if (geteuid() == owner())
            makeFolder(run, runtimeMode);
        return run;
    }
    const fs::path folder = run / below;
    if (geteuid() == owner()) {
        makeFolder(run, runtimeMode);
        makeFolder(folder, runtimeMode);
    }
    return folder;
}

namespace detail {

void secureMachine(const fs::path& machine) {
    static std::mutex mutex;
    static std::set<std::string> done;
    {
        std::lock_guard lock(mutex);
        if (!done.insert(machine.string()).second)
            return;
    }
    struct stat info {};
    if (stat(machine.c_str(), &info) != 0 || info.st_uid != geteuid())
        return;
    setMode(machine, machineMode, true);
    for (const char* suffix : {"", "-wal", "-shm"})
        setMode(machine / (std::string("registry.db") + suffix), hiveMode, false);
    makeFolder(machine / "farms", farmsMode);
    std::error_code ec;
    for (fs::directory_iterator it(machine / "farms", ec), end; !ec && it != end; it.increment(ec))
        setMode(it->path(), storeMode, false);
    const fs::path run = machine / "run";
    if (fs::is_directory(run, ec)) {
        setMode(run, runtimeMode, true);
        setMode(run / "com", runtimeMode, true);
    }
}

} // namespace detail

} // namespace sky::machine

// Who may use the machine's channels, and where the machine's service manager listens.
#include <dlfcn.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "../remote/mailbox.h"
#include "sky/machine.h"
#include "sky/services.h"

namespace sky::services {

bool peerOf(int socket, Peer& peer) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    peer.pid = credentials.pid;
    peer.uid = credentials.uid;
    peer.gid = credentials.gid;
    peer.groups.assign(64, 0);
    size = static_cast<socklen_t>(peer.groups.size() * sizeof(gid_t));
    if (getsockopt(socket, SOL_SOCKET, SO_PEERGROUPS, peer.groups.data(), &size) != 0) {
        if (errno != ERANGE)
            return false;
        peer.groups.assign(size / sizeof(gid_t), 0);
        if (getsockopt(socket, SOL_SOCKET, SO_PEERGROUPS, peer.groups.data(), &size) != 0)
            return false;
    }
    peer.groups.resize(size / sizeof(gid_t));
    return true;
}

bool mayUseMachine(const Peer& peer) {
    if (peer.uid == machine::owner())
        return true;
    const gid_t group = machine::group();
    return group != static_cast<gid_t>(-1) &&
           (peer.gid == group ||
            std::find(peer.groups.begin(), peer.groups.end(), group) != peer.groups.end());
}

bool mayUseMachine(uid_t account) {
    if (account == machine::owner())
        return true;
    const gid_t group = machine::group();
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (group == static_cast<gid_t>(-1) ||
        getpwuid_r(account, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (found->pw_gid == group)
        return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(static_cast<std::size_t>(count));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

std::string accountName(uid_t account) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(account, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(account);
}

std::filesystem::path managerSocket(const std::filesystem::path& machineDirectory) {
    return machineDirectory / "run" / "skyscm.sock";
}

namespace {

// A socket file's address, through /proc/self/fd when the path is too long; the descriptor of
// the folder (or -1) is closed once the call has been made.
template <class Call>
int atSocketFile(const std::filesystem::path& folder, const std::string& name, Call call) {
    sockaddr_un address{};
    int folderFd = -1;
    if (!remote::socketAddress(folder, name, address, folderFd)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool done = fd >= 0 && call(fd, address);
    const int error = errno;
    if (folderFd >= 0)
        close(folderFd);
    if (!done && fd >= 0)
        close(fd);
    errno = error;
    return done ? fd : -1;
}

} // namespace

int listenAt(const std::filesystem::path& folder, const std::string& name) {
    return atSocketFile(folder, name, [&](int fd, const sockaddr_un& address) {
        unlink(address.sun_path);
        // Owner and group may connect; the folder keeps everyone else away.
        return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
               chmod(address.sun_path, 0660) == 0 && listen(fd, 64) == 0;
    });
}

int connectTo(const std::filesystem::path& folder, const std::string& name) {
    return atSocketFile(folder, name, [](int fd, const sockaddr_un& address) {
        int result;
        do
            result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        while (result != 0 && errno == EINTR);
        return result == 0;
    });
}

std::filesystem::path managerProgram() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&managerProgram), &info) && info.dli_fname)
        return std::filesystem::path(info.dli_fname).parent_path() / "skyscm";
    return "skyscm";
}

} // namespace sky::services

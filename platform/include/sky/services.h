// The platform's own entry points around the service manager.
//
// The machine's service manager is a small per-machine process (the program skyscm, beside
// libskyplatform.so) that runs as the machine's owner: started on demand by the owner's first
// service call, or kept running by the owner (skyscm --foreground, or its systemd unit). It
// listens on a socket file in the machine's runtime folder (<machine>/run/skyscm.sock), which only
// the owner may write, and serves only the machine's users (mayUseMachine). A client makes sure
// the peer it reached runs as the machine's owner before it says anything.
#pragma once

#include "sky/export.h"

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "win/types.h"

namespace sky::services {

// Who is at the other end of a connected local socket, as the system saw it when the connection
// was made: its process, user, group and supplementary groups.
struct Peer {
    pid_t pid = 0;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    std::vector<gid_t> groups;
};

// The peer of a connected local socket; false when the system does not say.
SKY_API bool peerOf(int socket, Peer& peer);

// Whether an account may use the machine's channels: the machine's owner and the members of the
// machine's group (sky::machine::owner(), group()). Nobody else, root included. For a peer the
// process's own groups count, as they do for its access to the machine's files; for an account,
// the groups the system's user database gives it.
SKY_API bool mayUseMachine(const Peer& peer);
SKY_API bool mayUseMachine(uid_t account);

// The name of an account as the system's user database gives it, else its number.
SKY_API std::string accountName(uid_t account);

// The socket of a machine's service manager: <machine>/run/skyscm.sock.
SKY_API std::filesystem::path managerSocket(const std::filesystem::path& machineDirectory);

// Binds and listens on a local socket file `name` in `folder` (mode 0660: the folder decides who
// reaches it), replacing what is there; or connects to it. A path longer than a socket address
// holds is reached through /proc/self/fd. -1 with errno set on failure.
SKY_API int listenAt(const std::filesystem::path& folder, const std::string& name);
SKY_API int connectTo(const std::filesystem::path& folder, const std::string& name);

// Why the last service call of this thread that could not reach the machine's manager failed, in
// words for a person (empty when it did not fail so): who runs the manager and how to start it.
SKY_API std::string lastProblem();

// The manager program that serves this machine.
SKY_API std::filesystem::path managerProgram();

// Sends every running service of the machine the shutdown control (those that do not accept it
// are ended), as a machine going down does, and returns once all have stopped (at most 20 s,
// then the rest are killed). For tests, which stop whatever they started. Returns ERROR_SUCCESS or
// the error of reaching the manager.
SKY_API DWORD shutdownServices();

} // namespace sky::services

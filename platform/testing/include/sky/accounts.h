// Other local accounts for tests across a security boundary: unused user and group ids (nobody's
// in the user database), run as with setpriv. Switching accounts takes root.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "sky/machine.h"

namespace sky::testing {

// An id from `from` on that names neither a user nor a group.
inline uid_t unusedAccount(uid_t from) {
    uid_t id = from;
    while (getpwuid(id) || getgrgid(static_cast<gid_t>(id)))
        ++id;
    return id;
}

// A shell prefix that runs a command as `user` with the one group `group`.
inline std::string runAs(uid_t user, gid_t group) {
    return "setpriv --reuid=" + std::to_string(user) + " --regid=" + std::to_string(group) +
           " --clear-groups ";
}

// Makes `group` the machine's group, for everything the machine holds: an account run with it is
// then a user of the machine (sky::services::mayUseMachine), as a member of the group is.
inline bool giveMachineGroup(gid_t group) {
    const std::filesystem::path root = sky::machine::root();
    bool all = lchown(root.c_str(), static_cast<uid_t>(-1), group) == 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        all = lchown(entry.path().c_str(), static_cast<uid_t>(-1), group) == 0 && all;
    return all;
}

// Gives the machine, everything it holds, to `owner`.
inline bool giveMachineTo(uid_t owner) {
    const std::filesystem::path root = sky::machine::root();
    bool all = lchown(root.c_str(), owner, static_cast<gid_t>(-1)) == 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        all = lchown(entry.path().c_str(), owner, static_cast<gid_t>(-1)) == 0 && all;
    return all;
}

} // namespace sky::testing

// The accounts' own hives: each account's HKEY_USERS\<account> lives in a hive of its own,
// <machine>/profiles/<account>/ntuser.db, owned by the account and read and written by it alone
// (the folder 0700, the file 0600). The profiles folder is the owner's, and the machine's users
// may make their own folder in it (01770: none may remove or rename another's). A folder that
// is not its account's (made by another user before the account came) is never used: the
// account's calls are refused until the machine's owner removes it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "hive.h"

namespace sky::registry {

// <machine>/profiles.
std::filesystem::path profilesFolder(const std::filesystem::path& machine);

// The process's own account's hive on `machine`, made on first use (the folder too). The keys the
// machine's hive still holds for the account (a machine from before accounts had hives of their
// own) are copied into a new one; `machineWriter` tells whether this process writes the
// machine's hive (else it reads it as it stands in its file). ERROR_ACCESS_DENIED when the
// account's folder is not its own or cannot be made.
LONG openOwnHive(const std::filesystem::path& machine, const std::u16string& user,
                 bool machineWriter, std::unique_ptr<Hive>& hive, std::string& problem);

// The hive of another account, by its folded name: ERROR_FILE_NOT_FOUND when it has none,
// ERROR_ACCESS_DENIED when this process may not read it (nobody but the account may, and the
// superuser, as an administrator may on Windows).
LONG openOtherHive(const std::filesystem::path& machine, std::string_view foldedName,
                   std::unique_ptr<Hive>& hive, std::string& problem);

} // namespace sky::registry

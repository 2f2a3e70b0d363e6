// Who may use the machine's channels, and where the machine's service manager listens.
#include <dlfcn.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "service_key.h"
#include "sky/machine.h"
#include "sky/services.h"
#include "sky/text.h"
#include "win/registry.h"

namespace sky::services {

namespace {

std::u16string accountName(uid_t account) {
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(account, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    return widen(found->pw_name);
}

} // namespace

bool mayUseMachine(uid_t account) {
    struct stat info {};
    if (stat(machine::root().c_str(), &info) == 0 && info.st_uid == account)
        return true;
    const std::u16string name = accountName(account);
    if (name.empty())
        return false;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, machineUsersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    const std::u16string users = detail::readText(key, machineUsersValue);
    RegCloseKey(key);
    for (const std::u16string& user : splitMultiString(users)) {
        if (equalNoCase(user, name))
            return true;
    }
    return false;
}

std::string managerSocketName(const std::filesystem::path& machineDirectory) {
    std::error_code ec;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(machineDirectory, ec);
    if (ec)
        canonical = machineDirectory;
    // FNV-1a: the same name in every process, whatever the library's build.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : canonical.string()) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "skyloom/services/%016llx",
                  static_cast<unsigned long long>(hash));
    return name;
}

std::filesystem::path managerProgram() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&managerProgram), &info) && info.dli_fname)
        return std::filesystem::path(info.dli_fname).parent_path() / "skyscm";
    return "skyscm";
}

} // namespace sky::services

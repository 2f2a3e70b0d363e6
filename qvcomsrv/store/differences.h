// What differs between two states of an application: the fields and settings with their old and
// new values, the servers, users and groups gained and lost, and whether the icon changed. The
// audit trail records it for every save, and BraskAdmin's import preview shows it.
#pragma once

#include <string>
#include <vector>

#include "qvcomsrv/store/model.h"

namespace sky::farm {

// A setting, or a field ("AppName", "ParentFolderDN", "AppType", "Description"), that differs.
struct SettingChange {
    std::string name;
    SettingValue before;
    SettingValue after;
    bool operator==(const SettingChange&) const = default;
};

struct ApplicationDifferences {
    std::vector<SettingChange> settings;
    std::vector<std::string> serversGained, serversLost;
    std::vector<Account> usersGained, usersLost;
    std::vector<Account> groupsGained, groupsLost;
    bool iconChanged = false;

    bool empty() const;
};

// Servers are compared by name and accounts by sameAccount, ignoring case. Icons are compared
// byte for byte when both are loaded (an empty icon and a missing one are the same: the default
// icon); an icon not loaded on either side counts as unchanged.
ApplicationDifferences differencesBetween(const Application& before, const Application& after);

} // namespace sky::farm

#include "qvcomsrv/store/merge.h"

#include <algorithm>

namespace sky::farm {

namespace {

template <typename T> void takeIfChanged(T& target, const T& loaded, const T& edited) {
    if (!(edited == loaded))
        target = edited;
}

bool containsName(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return sameName(n, name); });
}

std::vector<std::string> mergeServers(std::vector<std::string> current,
                                      const std::vector<std::string>& loaded,
                                      const std::vector<std::string>& edited) {
    for (const std::string& name : loaded) {
        if (!containsName(edited, name))
            std::erase_if(current, [&](const std::string& n) { return sameName(n, name); });
    }
    for (const std::string& name : edited) {
        if (!containsName(loaded, name) && !containsName(current, name))
            current.push_back(name);
    }
    return current;
}

bool containsExactly(const std::vector<Account>& accounts, const Account& account) {
    return std::find(accounts.begin(), accounts.end(), account) != accounts.end();
}

// An account whose type the caller changed counts as removed and granted again.
std::vector<Account> mergeAccounts(std::vector<Account> current, const std::vector<Account>& loaded,
                                   const std::vector<Account>& edited) {
    for (const Account& account : loaded) {
        if (!containsExactly(edited, account))
            std::erase_if(current, [&](const Account& a) { return a.sameAccount(account); });
    }
    for (const Account& account : edited) {
        if (containsExactly(loaded, account))
            continue;
        auto same = std::find_if(current.begin(), current.end(),
                                 [&](const Account& a) { return a.sameAccount(account); });
        if (same != current.end())
            *same = account;
        else
            current.push_back(account);
    }
    return current;
}

} // namespace

Application mergeChanges(const Application& current, const Application& loaded,
                         const Application& edited) {
    Application merged = current;
    takeIfChanged(merged.name, loaded.name, edited.name);
    takeIfChanged(merged.folder, loaded.folder, edited.folder);
    takeIfChanged(merged.type, loaded.type, edited.type);
    takeIfChanged(merged.description, loaded.description, edited.description);
    for (std::size_t i = 0; i < AppSettings::size(); ++i) {
        const auto id = static_cast<AppSetting>(i);
        if (!(edited.settings.get(id) == loaded.settings.get(id)))
            (void)merged.settings.set(id, edited.settings.get(id));
    }
    merged.servers = mergeServers(current.servers, loaded.servers, edited.servers);
    merged.users = mergeAccounts(current.users, loaded.users, edited.users);
    merged.groups = mergeAccounts(current.groups, loaded.groups, edited.groups);
    if (edited.icon && (!loaded.icon || *edited.icon != *loaded.icon))
        merged.icon = edited.icon;
    return merged;
}

} // namespace sky::farm

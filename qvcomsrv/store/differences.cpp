#include "qvcomsrv/store/differences.h"

#include <algorithm>
#include <set>

#include "qvcomsrv/store/names.h"

namespace sky::farm {

namespace {

// The names in `from` that `in` lacks, ignoring case; each name folded once.
std::vector<std::string> missingNames(const std::vector<std::string>& from,
                                      const std::vector<std::string>& in) {
    std::vector<std::string> names;
    if (from == in)
        return names;
    std::set<std::string> keys;
    for (const std::string& name : in)
        keys.insert(nameKey(name));
    for (const std::string& name : from) {
        if (!keys.contains(nameKey(name)))
            names.push_back(name);
    }
    return names;
}

// The items of `from` that `in` lacks, by `same`.
template <class T, class Same>
std::vector<T> missing(const std::vector<T>& from, const std::vector<T>& in, Same same) {
    std::vector<T> items;
    if (from == in)
        return items;
    for (const T& item : from) {
        if (std::none_of(in.begin(), in.end(), [&](const T& other) { return same(item, other); }))
            items.push_back(item);
    }
    return items;
}

void field(ApplicationDifferences& differences, std::string_view name, SettingValue before,
           SettingValue after) {
    if (before != after)
        differences.settings.push_back({std::string(name), std::move(before), std::move(after)});
}

} // namespace

bool ApplicationDifferences::empty() const {
    return settings.empty() && serversGained.empty() && serversLost.empty() &&
           usersGained.empty() && usersLost.empty() && groupsGained.empty() && groupsLost.empty() &&
           !iconChanged;
}

ApplicationDifferences differencesBetween(const Application& before, const Application& after) {
    ApplicationDifferences differences;
    field(differences, "AppName", before.name, after.name);
    if (!sameName(before.folder, after.folder))
        field(differences, "ParentFolderDN", before.folder, after.folder);
    field(differences, "AppType", before.type, after.type);
    field(differences, "Description", before.description, after.description);
    for (std::size_t i = 0; i < kAppSettingCount; ++i) {
        const auto setting = static_cast<AppSetting>(i);
        field(differences, definition(setting).name, before.settings.get(setting),
              after.settings.get(setting));
    }
    differences.serversGained = missingNames(after.servers, before.servers);
    differences.serversLost = missingNames(before.servers, after.servers);
    const auto sameAccount = [](const Account& a, const Account& b) { return a.sameAccount(b); };
    differences.usersGained = missing(after.users, before.users, sameAccount);
    differences.usersLost = missing(before.users, after.users, sameAccount);
    differences.groupsGained = missing(after.groups, before.groups, sameAccount);
    differences.groupsLost = missing(before.groups, after.groups, sameAccount);
    differences.iconChanged = before.icon && after.icon && *before.icon != *after.icon;
    return differences;
}

} // namespace sky::farm

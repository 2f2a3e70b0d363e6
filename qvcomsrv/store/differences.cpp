#include "qvcomsrv/store/differences.h"

#include <algorithm>
#include <optional>
#include <set>

#include "qvcomsrv/store/names.h"

namespace sky::farm {

namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Whether `in` holds `name` in another case, when all of them are ASCII (whose folding is that of
// A to Z); nullopt when any is not.
std::optional<bool> holdsAsciiName(const std::vector<std::string>& in, std::string_view name) {
    if (!isAscii(name))
        return std::nullopt;
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    bool found = false;
    for (const std::string& held : in) {
        if (!isAscii(held))
            return std::nullopt;
        found = found || std::equal(held.begin(), held.end(), name.begin(), name.end(),
                                    [&](char a, char b) { return upper(a) == upper(b); });
    }
    return found;
}

// The names in `from` that `in` lacks, ignoring case. A name that `in` holds as it is needs no
// folding, nor do names in ASCII; the others are folded once each, and `in` once, only when
// there are such names.
std::vector<std::string> missingNames(const std::vector<std::string>& from,
                                      const std::vector<std::string>& in) {
    std::vector<std::string> names;
    if (from == in)
        return names;
    std::set<std::string> keys;
    bool folded = false;
    for (const std::string& name : from) {
        if (std::find(in.begin(), in.end(), name) != in.end())
            continue;
        if (const std::optional<bool> held = holdsAsciiName(in, name)) {
            if (!*held)
                names.push_back(name);
            continue;
        }
        if (!folded) {
            for (const std::string& held : in)
                keys.insert(nameKey(held));
            folded = true;
        }
        if (keys.empty() || !keys.contains(nameKey(name)))
            names.push_back(name);
    }
    return names;
}

// The items of `from` that `in` lacks, by `same`; an item that `in` holds as it is is not
// compared by `same`.
template <class T, class Same>
std::vector<T> missing(const std::vector<T>& from, const std::vector<T>& in, Same same) {
    std::vector<T> items;
    if (from == in)
        return items;
    for (const T& item : from) {
        if (std::find(in.begin(), in.end(), item) != in.end())
            continue;
        if (std::none_of(in.begin(), in.end(), [&](const T& other) { return same(item, other); }))
            items.push_back(item);
    }
    return items;
}

void field(ApplicationDifferences& differences, std::string_view name, const SettingValue& before,
           const SettingValue& after) {
    if (before != after)
        differences.settings.push_back({std::string(name), before, after});
}

} // namespace

bool ApplicationDifferences::empty() const {
    return settings.empty() && serversGained.empty() && serversLost.empty() &&
           usersGained.empty() && usersLost.empty() && groupsGained.empty() && groupsLost.empty() &&
           !iconChanged;
}

ApplicationDifferences differencesBetween(const Application& before, const Application& after) {
    ApplicationDifferences differences;
    if (before.name != after.name)
        field(differences, "AppName", before.name, after.name);
    if (before.folder != after.folder && !sameName(before.folder, after.folder))
        field(differences, "ParentFolderDN", before.folder, after.folder);
    if (before.type != after.type)
        field(differences, "AppType", before.type, after.type);
    if (before.description != after.description)
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

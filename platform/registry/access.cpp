// The user that registry access is checked for, and the write denials that stand in for the
// security of keys.
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include "session.h"
#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"

namespace sky::registry {

std::u16string currentUser() {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return widen(found->pw_name);
    if (const char* user = std::getenv("USER"); user && *user)
        return widen(user);
    return u"user" + widen(std::to_string(geteuid()));
}

namespace {

// Runs `work` on the existing key that `subKey` names below `root`; one that `writes` needs a
// hive the process may write.
template <class Work>
LSTATUS onKey(HKEY root, std::u16string_view subKey, bool writes, Work&& work) {
    const std::u16string path(subKey);
    std::vector<std::u16string> names;
    if (LONG status = splitPath(path.c_str(), names))
        return status;
    return Session::run([&](Session& session) -> LONG {
        OpenKey base;
        if (LONG status = session.resolve(root, base, false))
            return status;
        KeyRef key{0, pathBelow(base.key.path, names)};
        bool denied = false;
        Hive* hive = nullptr;
        const KeyId check = base.predefined ? 0 : base.key.id;
        if (LONG status = session.lookup(check, key.path, key.id, denied, hive))
            return status;
        if (writes && !session.mayWrite(*hive))
            return ERROR_ACCESS_DENIED;
        return work(*hive, key);
    });
}

LSTATUS checkUser(std::u16string_view user) {
    return user.empty() ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

} // namespace

LSTATUS denyWrite(HKEY root, std::u16string_view subKey, std::u16string_view user) {
    if (LSTATUS status = checkUser(user))
        return status;
    return onKey(root, subKey, true,
                 [&](Hive& hive, const KeyRef& key) { return hive.addDenial(key.path, user); });
}

LSTATUS allowWrite(HKEY root, std::u16string_view subKey, std::u16string_view user) {
    if (LSTATUS status = checkUser(user))
        return status;
    return onKey(root, subKey, true,
                 [&](Hive& hive, const KeyRef& key) { return hive.removeDenial(key.path, user); });
}

LSTATUS deniedUsers(HKEY root, std::u16string_view subKey, std::vector<std::u16string>& users) {
    users.clear();
    return onKey(root, subKey, false,
                 [&](Hive& hive, const KeyRef& key) { return hive.denials(key.path, users); });
}

std::optional<ContentMark> contentMark() {
    ContentMark mark;
    // The machine's hive alone: what callers keep comes from there (classes, the farm store the
    // machine serves), and the own account's hive would cost a second look at every mark.
    const LONG status = Session::run([&](Session& session) {
        mark.connection = session.connection();
        return session.machineHive().contentVersion(mark.othersCommits, mark.ownChanges);
    });
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    return mark;
}

std::optional<std::u16string> readString(HKEY root, std::u16string_view subKey,
                                         std::u16string_view valueName) {
    const std::u16string path(subKey);
    const std::u16string name(valueName);
    Key key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    for (;;) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::nullopt;
        std::u16string text(size / sizeof(WCHAR) + 1, u'\0');
        const LONG status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                             reinterpret_cast<LPBYTE>(text.data()), &size);
        if (status == ERROR_MORE_DATA)
            continue; // rewritten in between: ask again
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::nullopt;
        text.resize(size / sizeof(WCHAR));
        while (!text.empty() && text.back() == u'\0')
            text.pop_back();
        return text;
    }
}

} // namespace sky::registry

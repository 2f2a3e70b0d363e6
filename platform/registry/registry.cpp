// The Win32 registry functions over the session and the hive: argument checks, access rights,
// the handle rules and the buffer-size rules of Windows.
#include <algorithm>
#include <cstring>
#include <utility>

#include "session.h"
#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"

using namespace sky::registry;

namespace {

constexpr std::size_t kMaxValueName = 16383;
// Windows' limits on keys: a name of at most 255 characters, at most 512 levels below a root.
constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxKeyDepth = 512;

// Whether a key at `path` (a folded full path) would lie deeper than a key may.
bool tooDeep(std::string_view path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')) > kMaxKeyDepth;
}

bool isString(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Copies data out by the rules of RegQueryValueExW: no buffer asks for the size; a short buffer
// gets ERROR_MORE_DATA and the size. A string is stored as it was given, terminated or not, and
// reported with its stored size; when it lacks a terminator and the buffer has room for one
// beyond it, one is written there (not counted), so that a reader with room gets terminated text.
LONG deliverData(DWORD type, const std::vector<BYTE>& data, LPBYTE buffer, LPDWORD size) {
    if (!size)
        return ERROR_SUCCESS;
    const auto needed = static_cast<DWORD>(data.size());
    if (buffer && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (buffer && needed) {
        std::memcpy(buffer, data.data(), needed);
        const bool terminated =
            needed % sizeof(WCHAR) == 0 && data[needed - 1] == 0 && data[needed - 2] == 0;
        if (isString(type) && !terminated && *size - needed >= sizeof(WCHAR))
            std::memset(buffer + needed, 0, sizeof(WCHAR));
    }
    *size = needed;
    return ERROR_SUCCESS;
}

// Copies a name out by the rules of the enumeration functions: the count is in characters with
// the terminator going in and without it coming out; a short buffer leaves it unchanged.
LONG deliverName(const std::u16string& name, LPWSTR buffer, LPDWORD count) {
    if (name.size() >= *count)
        return ERROR_MORE_DATA;
    std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *count = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void deliverTime(std::uint64_t time, PFILETIME out) {
    if (out) {
        out->dwLowDateTime = static_cast<DWORD>(time);
        out->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
}

std::u16string_view valueName(LPCWSTR name) {
    return name ? std::u16string_view(name) : std::u16string_view();
}

// The rights asked for, with MAXIMUM_ALLOWED standing for all of them.
REGSAM requested(REGSAM desired) {
    REGSAM rights = specificRights(desired);
    if (rights & MAXIMUM_ALLOWED)
        rights = (rights & ~static_cast<REGSAM>(MAXIMUM_ALLOWED)) | KEY_ALL_ACCESS;
    return rights;
}

// The rights a handle to an existing key gets: what was asked, unless the user is denied
// writing there; MAXIMUM_ALLOWED then gives what is left.
LONG grant(REGSAM desired, bool denied, REGSAM& granted) {
    granted = requested(desired);
    if (!denied || !(granted & kWriteRights))
        return ERROR_SUCCESS;
    if (!(desired & MAXIMUM_ALLOWED))
        return ERROR_ACCESS_DENIED;
    granted &= ~kWriteRights;
    return ERROR_SUCCESS;
}

// The key a path names below a handle (the handle's own key for an empty path), the hive it
// lies in, and whether the user may not write there.
LONG locate(Session& session, const OpenKey& base, const std::vector<std::u16string>& names,
            KeyRef& key, bool& denied, Hive*& hive) {
    key.path = pathBelow(base.key.path, names);
    return session.lookup(base.predefined ? 0 : base.key.id, key.path, key.id, denied, hive);
}

bool isHiveRoot(const OpenKey& base, const KeyRef& key, bool sameKey) {
    return key.id == kLocalMachineId || key.id == kUsersId || (base.predefined && sameKey);
}

// Deletes a key named below a handle, alone or with its whole tree.
LONG deleteKey(HKEY hKey, LPCWSTR lpSubKey, bool tree) {
    std::vector<std::u16string> names;
    if (LONG status = splitPath(lpSubKey, names))
        return status;
    return Session::run([&](Session& session) -> LONG {
        OpenKey base;
        KeyRef key;
        bool denied = false;
        Hive* hive = nullptr;
        if (LONG status = session.resolve(hKey, base, false))
            return status;
        if (LONG status = locate(session, base, names, key, denied, hive))
            return status;
        if (isHiveRoot(base, key, names.empty()))
            return ERROR_ACCESS_DENIED;
        if (names.empty()) {
            if (LONG status = session.require(base, DELETE))
                return status;
        }
        if (denied)
            return ERROR_ACCESS_DENIED;
        if (tree) {
            if (LONG status = session.checkWrite(*hive, key.path, true))
                return status;
        }
        return hive->remove(key, tree);
    });
}

// Runs `work(hive, key id)` on the key behind a handle that carries `rights`.
template <class Work> LONG withKey(HKEY hKey, REGSAM rights, Work&& work) {
    return Session::run([&](Session& session) -> LONG {
        OpenKey key;
        Hive* hive = nullptr;
        if (LONG status = session.resolve(hKey, key))
            return status;
        if (LONG status = session.require(key, rights))
            return status;
        if (LONG status = session.hiveFor(key.key.path, hive))
            return status;
        return work(*hive, key.key.id);
    });
}

} // namespace

extern "C" LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired,
                                        PHKEY phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::u16string> names;
    if (LONG status = splitPath(lpSubKey, names))
        return status;
    return Session::run([&](Session& session) -> LONG {
        OpenKey base;
        KeyRef key;
        bool denied = false;
        Hive* hive = nullptr;
        REGSAM granted = 0;
        if (LONG status = session.resolve(hKey, base, names.empty()))
            return status;
        if (LONG status = locate(session, base, names, key, denied, hive))
            return status;
        if (LONG status = grant(samDesired, denied, granted))
            return status;
        *phkResult = session.add(key, granted);
        return ERROR_SUCCESS;
    });
}

extern "C" LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR lpClass, DWORD,
                                          REGSAM samDesired, const LPSECURITY_ATTRIBUTES,
                                          PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::u16string> names;
    if (LONG status = splitPath(lpSubKey, names))
        return status;
    for (const std::u16string& name : names) {
        if (name.size() > kMaxKeyName)
            return ERROR_INVALID_PARAMETER;
    }
    const std::u16string_view className = lpClass ? std::u16string_view(lpClass) : u"";
    return Session::run([&](Session& session) -> LONG {
        OpenKey base;
        KeyRef key;
        bool denied = false;
        bool created = false;
        Hive* hive = nullptr;
        REGSAM granted = 0;
        if (LONG status = session.resolve(hKey, base, names.empty()))
            return status;
        LONG status = locate(session, base, names, key, denied, hive);
        if (status == ERROR_FILE_NOT_FOUND) {
            if (tooDeep(key.path))
                return ERROR_INVALID_PARAMETER;
            // A view whose own key is missing gets it made first.
            if (base.key.id == 0) {
                if (LONG failed = session.resolve(hKey, base))
                    return failed;
            }
            // The key goes into the hive of its path, whatever hive the handle's key lies in
            // (HKEY_USERS itself is the machine's, an account's key below it the account's).
            if (LONG refused = session.hiveFor(key.path, hive, true))
                return refused;
            const auto mayCreateUnder = [&](const KeyRef& parent) -> LONG {
                if (parent.id == base.key.id) {
                    if (LONG refused = session.require(base, KEY_CREATE_SUB_KEY))
                        return refused;
                }
                return session.checkWrite(*hive, parent.path);
            };
            status = hive->create(base.key, names, className, mayCreateUnder, key, created);
            denied = false; // a key the user could create is not denied to them
        }
        if (status != ERROR_SUCCESS)
            return status;
        if (LONG refused = grant(samDesired, denied, granted))
            return refused;
        *phkResult = session.add(key, granted);
        if (lpdwDisposition)
            *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    return Session::close(hKey);
}

extern "C" LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    return deleteKey(hKey, lpSubKey, false);
}

extern "C" LSTATUS WINAPI SHDeleteKeyW(HKEY hkey, LPCWSTR pszSubKey) {
    return deleteKey(hkey, pszSubKey, true);
}

LSTATUS sky::registry::setValueBytes(HKEY key, std::u16string_view name, DWORD type,
                                     const BYTE* data, DWORD size) {
    if (name.size() > kMaxValueName || name.find(u'\0') != std::u16string_view::npos)
        return ERROR_INVALID_PARAMETER;
    if (!data && size)
        return ERROR_NOACCESS;
    return withKey(key, KEY_SET_VALUE, [&](Hive& hive, KeyId id) -> LONG {
        return hive.setValue(id, name, type, data, size);
    });
}

extern "C" LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType,
                                         const BYTE* lpData, DWORD cbData) {
    const std::u16string_view name = valueName(lpValueName);
    if (name.size() > kMaxValueName)
        return ERROR_INVALID_PARAMETER;
    if (!lpData && cbData)
        return ERROR_NOACCESS;
    if ((dwType == REG_DWORD && cbData != 4) || (dwType == REG_QWORD && cbData != 8))
        return ERROR_INVALID_PARAMETER;
    // Strings too are kept byte for byte: no terminator is added and none is taken away.
    return withKey(hKey, KEY_SET_VALUE, [&](Hive& hive, KeyId key) -> LONG {
        return hive.setValue(key, name, dwType, lpData, cbData);
    });
}

extern "C" LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                           LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    return withKey(hKey, KEY_QUERY_VALUE, [&](Hive& hive, KeyId key) -> LONG {
        Value value;
        if (LONG status = hive.getValue(key, valueName(lpValueName), value)) {
            // Asked for the size only, a missing value has none.
            if (status == ERROR_FILE_NOT_FOUND && lpcbData && !lpData)
                *lpcbData = 0;
            return status;
        }
        if (lpType)
            *lpType = value.type;
        return deliverData(value.type, value.data, lpData, lpcbData);
    });
}

extern "C" LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return withKey(hKey, KEY_SET_VALUE, [&](Hive& hive, KeyId key) -> LONG {
        return hive.removeValue(key, valueName(lpValueName));
    });
}

extern "C" LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                        LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                        PFILETIME lpftLastWriteTime) {
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    return withKey(hKey, KEY_ENUMERATE_SUB_KEYS, [&](Hive& hive, KeyId key) -> LONG {
        SubKey subKey;
        if (LONG status = hive.subKeyAt(key, dwIndex, subKey))
            return status;
        if (LONG status = deliverName(subKey.name, lpName, lpcchName))
            return status;
        if (lpClass) {
            if (LONG status = deliverName(subKey.className, lpClass, lpcchClass))
                return status;
        }
        deliverTime(subKey.written, lpftLastWriteTime);
        return ERROR_SUCCESS;
    });
}

extern "C" LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                        LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) {
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    return withKey(hKey, KEY_QUERY_VALUE, [&](Hive& hive, KeyId key) -> LONG {
        Value value;
        if (LONG status = hive.valueAt(key, dwIndex, value))
            return status;
        if (lpType)
            *lpType = value.type;
        // A name that does not fit still tells the value's type and the size of its data.
        if (LONG status = deliverName(value.name, lpValueName, lpcchValueName)) {
            if (lpcbData)
                *lpcbData = static_cast<DWORD>(value.data.size());
            return status;
        }
        return deliverData(value.type, value.data, lpData, lpcbData);
    });
}

extern "C" LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass,
                                           LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                           LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                           LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                           LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                           PFILETIME lpftLastWriteTime) {
    if (lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    return withKey(hKey, KEY_QUERY_VALUE, [&](Hive& hive, KeyId key) -> LONG {
        KeyInfo info;
        if (LONG status = hive.info(key, info))
            return status;
        if (lpClass) {
            if (info.className.size() >= *lpcchClass) {
                *lpcchClass = static_cast<DWORD>(info.className.size());
                return ERROR_MORE_DATA;
            }
            std::memcpy(lpClass, info.className.c_str(),
                        (info.className.size() + 1) * sizeof(WCHAR));
        }
        if (lpcchClass)
            *lpcchClass = static_cast<DWORD>(info.className.size());
        const std::pair<LPDWORD, DWORD> outputs[] = {
            {lpcSubKeys, info.subKeys},
            {lpcbMaxSubKeyLen, info.maxSubKeyLen},
            {lpcbMaxClassLen, info.maxClassLen},
            {lpcValues, info.values},
            {lpcbMaxValueNameLen, info.maxValueNameLen},
            {lpcbMaxValueLen, info.maxValueLen},
            {lpcbSecurityDescriptor, 0},
        };
        for (const auto& [out, value] : outputs) {
            if (out)
                *out = value;
        }
        deliverTime(info.written, lpftLastWriteTime);
        return ERROR_SUCCESS;
    });
}

// The record lives in the machine's registry: HKLM\Software\Vantor\Skyloom\FarmStore, values
// "Type" and, for a SQLite store, "Path", for a PostgreSQL store "ConnectionString" (REG_SZ).
// The Type is read ignoring case, so records that say "sqlite" keep working; it is written as
// this build spells it.
#include "qvcomsrv/store/machine_selection.h"

#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"

namespace sky::farm::selection {

namespace {

constexpr char16_t kKey[] = u"Software\\Vantor\\Skyloom\\FarmStore";
constexpr char kKeyName[] = "HKLM\\Software\\Vantor\\Skyloom\\FarmStore";

// A registry failure in words: what the hive reported, else the error code's meaning.
Status registryFailure(const std::string& doing, LSTATUS error) {
    std::string why = sky::registry::lastHiveProblem();
    if (error == ERROR_ACCESS_DENIED)
        why = "access is denied";
    else if (why.empty())
        why = "error " + std::to_string(error);
    const std::string message =
        "The machine's registry cannot " + doing + " " + kKeyName + " (" + why + ").";
    if (error == ERROR_REGISTRY_CORRUPT || error == ERROR_BADDB)
        return Status::corrupt(message);
    return Status::ioError(message);
}

Status setString(HKEY key, const char16_t* name, const std::string& value) {
    const std::u16string wide = sky::widen(value);
    const auto bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(char16_t));
    const LSTATUS rc =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()), bytes);
    return rc == ERROR_SUCCESS ? Status::ok() : registryFailure("write", rc);
}

// The value that says where a store of this kind is.
const char16_t* whereValue(std::string_view type) {
    return canonicalStoreType(type) == kPostgresStoreType ? u"ConnectionString" : u"Path";
}

} // namespace

Result<std::optional<StoreLocation>> read() {
    sky::registry::Key key;
    const LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.put());
    if (rc == ERROR_FILE_NOT_FOUND)
        return std::optional<StoreLocation>();
    if (rc != ERROR_SUCCESS)
        return registryFailure("read", rc);
    auto type = sky::registry::readString(HKEY_LOCAL_MACHINE, kKey, u"Type");
    const std::string typeName = type ? sky::narrow(*type) : std::string();
    const char16_t* where = whereValue(typeName);
    auto path = sky::registry::readString(HKEY_LOCAL_MACHINE, kKey, where);
    if (!type || !path || type->empty() || path->empty())
        return Status::corrupt(std::string("The machine's record of its farm store, ") + kKeyName +
                               ", needs the text values Type and " + sky::narrow(where) + ".");
    const std::string canonical = canonicalStoreType(typeName);
    return std::optional<StoreLocation>(
        StoreLocation{canonical.empty() ? typeName : canonical, sky::narrow(*path)});
}

Status write(const StoreLocation& location) {
    sky::registry::Key key;
    const LSTATUS rc =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        return registryFailure("write", rc);
    // Where first: a reader between the writes sees the new place with the old type, which
    // differs only when the kind of store changes, and then reads the old kind's own value.
    const std::string canonical = canonicalStoreType(location.type);
    const char16_t* where = whereValue(location.type);
    if (Status s = setString(key.get(), where, location.path); !s)
        return s;
    if (Status s = setString(key.get(), u"Type", canonical.empty() ? location.type : canonical); !s)
        return s;
    // The other kind's value goes, so that the record says one thing.
    const char16_t* other = where == std::u16string_view(u"Path") ? u"ConnectionString" : u"Path";
    if (LSTATUS rc = RegDeleteValueW(key.get(), other);
        rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return registryFailure("write", rc);
    return Status::ok();
}

Status clear() {
    const LSTATUS rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND)
        return Status::ok();
    return registryFailure("remove", rc);
}

} // namespace sky::farm::selection

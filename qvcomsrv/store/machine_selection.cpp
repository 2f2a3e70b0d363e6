// The record lives in the machine's registry: HKLM\Software\Vantor\Skyloom\FarmStore, values
// "Type" and "Path" (REG_SZ).
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

} // namespace

Result<std::optional<StoreLocation>> read() {
    sky::registry::Key key;
    const LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, key.put());
    if (rc == ERROR_FILE_NOT_FOUND)
        return std::optional<StoreLocation>();
    if (rc != ERROR_SUCCESS)
        return registryFailure("read", rc);
    auto type = sky::registry::readString(HKEY_LOCAL_MACHINE, kKey, u"Type");
    auto path = sky::registry::readString(HKEY_LOCAL_MACHINE, kKey, u"Path");
    if (!type || !path || type->empty() || path->empty())
        return Status::corrupt(std::string("The machine's record of its farm store, ") + kKeyName +
                               ", needs the text values Type and Path.");
    return std::optional<StoreLocation>(StoreLocation{sky::narrow(*type), sky::narrow(*path)});
}

Status write(const StoreLocation& location) {
    sky::registry::Key key;
    const LSTATUS rc =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        return registryFailure("write", rc);
    // Path first: a reader between the two writes sees the new path with the old type, which
    // differs only when the kind of store changes.
    if (Status s = setString(key.get(), u"Path", location.path); !s)
        return s;
    return setString(key.get(), u"Type", location.type);
}

} // namespace sky::farm::selection

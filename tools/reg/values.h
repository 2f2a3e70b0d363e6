// Reading keys for reg, and values as reg shows and takes them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keyname.h"
#include "script.h"
#include "win/registry.h"

namespace reg {

// The values of a key in the registry's order.
LONG readValues(HKEY key, std::vector<ScriptValue>& values);
// The names of the subkeys of a key, in the registry's order.
LONG readSubKeys(HKEY key, std::vector<std::u16string>& names);
// A value by name; value.name is the name as given.
LONG readValue(HKEY key, const std::u16string& name, ScriptValue& value);
// A value by name, with the name as the registry keeps it.
LONG readStoredValue(HKEY key, const std::u16string& name, ScriptValue& value);
LONG writeValue(HKEY key, const ScriptValue& value);

// Calls `visit(key, name)` for a key and every key below it, each before its subkeys, in the
// registry's order.
template <class Visit> LONG walkTree(HKEY key, const KeyName& name, Visit&& visit) {
    if (LONG status = visit(key, name))
        return status;
    std::vector<std::u16string> subKeys;
    if (LONG status = readSubKeys(key, subKeys))
        return status;
    for (const auto& subKeyName : subKeys) {
        HKEY subKey = nullptr;
        if (LONG status = RegOpenKeyExW(key, subKeyName.c_str(), 0, KEY_READ, &subKey))
            return status;
        const LONG status = walkTree(subKey, name.child(subKeyName), visit);
        RegCloseKey(subKey);
        if (status)
            return status;
    }
    return 0;
}

// REG_SZ, REG_DWORD, ...
std::u16string typeName(DWORD type);
std::optional<DWORD> typeFromName(std::u16string_view name);

// How query shows data: text, 0x-numbers, hex digits, list items joined by `separator`.
std::u16string displayData(const ScriptValue& value, std::u16string_view separator);

// Data as typed after /d for a type; nullopt when it does not fit the type.
std::optional<std::vector<BYTE>> parseData(DWORD type, std::u16string_view text,
                                           std::u16string_view separator);

} // namespace reg

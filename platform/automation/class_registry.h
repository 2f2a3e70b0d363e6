// Class registrations under HKEY_CLASSES_ROOT: ProgID keys, CLSID keys, AppID keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "win/guid.h"

namespace sky::automation {

// A string value of HKEY_CLASSES_ROOT\<subkey> (an empty name: the key's default value);
// nullopt when the key or the value is missing or is not a string.
std::optional<std::u16string> readClassesString(std::u16string_view subkey,
                                                std::u16string_view valueName = {});

// Whether HKEY_CLASSES_ROOT\<subkey> exists.
bool classesKeyExists(std::u16string_view subkey);

// "CLSID\{...}": the key of a class.
std::u16string classKey(const CLSID& clsid);

} // namespace sky::automation

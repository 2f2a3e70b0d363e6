// Key names as people type them: a root (HKLM, HKEY_LOCAL_MACHINE, ...) and a path below it.
#pragma once

#include <string>
#include <string_view>

#include "win/registry.h"

namespace reg {

struct KeyName {
    HKEY root = nullptr;
    std::u16string rootName; // the full name: HKEY_LOCAL_MACHINE
    std::u16string subKey;   // as typed, without leading or trailing backslashes

    // The full name: the root's full name and the path as typed.
    std::u16string full() const;
    // The name of a key below this one.
    KeyName child(std::u16string_view name) const;
};

// Parses "HKLM\Software\Test" (roots abbreviated or in full, in any case). False for an unknown
// root or a remote machine.
bool parseKeyName(std::u16string_view text, KeyName& key);

} // namespace reg

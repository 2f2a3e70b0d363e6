// Where the machine profile lives in the registry, and reading it.
#pragma once

#include <optional>
#include <string_view>

#include "win/types.h"

namespace sky::sysinfo {

inline constexpr std::u16string_view kVersionKey =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr std::u16string_view kProductOptionsKey =
    u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
inline constexpr std::u16string_view kLanguageKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Nls\\Language";
inline constexpr std::u16string_view kCodePageKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";
inline constexpr std::u16string_view kUserInternationalKey = u"Control Panel\\International";

// A REG_SZ value read as an unsigned number in `base` (surrounding blanks allowed); nullopt when
// the value is missing, of another type or not such a number.
std::optional<DWORD> readNumber(HKEY root, std::u16string_view key, std::u16string_view name,
                                int base);

} // namespace sky::sysinfo

#include "profile.h"

#include "sky/hex.h"
#include "sky/registry.h"

namespace sky::sysinfo {

std::optional<DWORD> readNumber(HKEY root, std::u16string_view key, std::u16string_view name,
                                int base) {
    const auto text = sky::registry::readString(root, key, name);
    if (!text)
        return std::nullopt;
    std::u16string_view digits(*text);
    while (!digits.empty() && digits.front() == u' ')
        digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == u' ')
        digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const WCHAR c : digits) {
        const int digit = sky::digitValue(c, base);
        if (digit < 0)
            return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    if (value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<DWORD>(value);
}

} // namespace sky::sysinfo

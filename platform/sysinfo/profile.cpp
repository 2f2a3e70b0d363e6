#include "profile.h"

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
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0 || digit >= base)
            return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    if (value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<DWORD>(value);
}

} // namespace sky::sysinfo

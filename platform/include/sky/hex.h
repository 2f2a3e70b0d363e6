// Digits and GUIDs in text: the one reader of each, for the platform and the tools, whatever the
// character type (UTF-16 text of the programs, UTF-8 text of the compilers).
#pragma once

#include <cstddef>
#include <string_view>

#include "win/guid.h"

namespace sky {

// The value of `c` as a digit of a number in `base` (2 to 16): '0' to '9', then 'a' to 'f' in
// either case; -1 when it is not a digit of that base.
constexpr int digitValue(char32_t c, int base = 16) {
    int value = -1;
    if (c >= U'0' && c <= U'9')
        value = static_cast<int>(c - U'0');
    else if (c >= U'a' && c <= U'f')
        value = static_cast<int>(c - U'a') + 10;
    else if (c >= U'A' && c <= U'F')
        value = static_cast<int>(c - U'A') + 10;
    return value < base ? value : -1;
}

// Characters of a GUID's digits, "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", and of its registry
// form in braces.
inline constexpr std::size_t kGuidDigitsLength = 36;
inline constexpr std::size_t kGuidTextLength = 38;

// Reads a GUID written as "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (hex digits in either case):
// exactly that, nothing before or after. Leaves `guid` alone when the text is no GUID.
template <class Char>
constexpr bool parseGuidDigits(std::basic_string_view<Char> text, GUID& guid) {
    if (text.size() != kGuidDigitsLength || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-')
        return false;
    // The groups' positions; the last two groups are the eight bytes of Data4.
    std::size_t at = 0;
    const auto read = [&](int digits, unsigned long long& value) {
        value = 0;
        for (int i = 0; i < digits; ++i, ++at) {
            const int digit = digitValue(static_cast<char32_t>(text[at]));
            if (digit < 0)
                return false;
            value = value << 4 | static_cast<unsigned>(digit);
        }
        return true;
    };
    GUID result{};
    unsigned long long value = 0;
    if (!read(8, value))
        return false;
    result.Data1 = static_cast<DWORD>(value);
    ++at;
    if (!read(4, value))
        return false;
    result.Data2 = static_cast<WORD>(value);
    ++at;
    if (!read(4, value))
        return false;
    result.Data3 = static_cast<WORD>(value);
    ++at;
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            ++at; // the dash before the last group
        if (!read(2, value))
            return false;
        result.Data4[i] = static_cast<BYTE>(value);
    }
    guid = result;
    return true;
}

// The same in the registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
template <class Char>
constexpr bool parseBracedGuid(std::basic_string_view<Char> text, GUID& guid) {
    if (text.size() != kGuidTextLength || text.front() != '{' || text.back() != '}')
        return false;
    return parseGuidDigits(text.substr(1, kGuidDigitsLength), guid);
}

} // namespace sky

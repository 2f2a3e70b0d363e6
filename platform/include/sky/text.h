// Text helpers for the platform and its programs: UTF-16 <-> UTF-8 and the ordinal,
// case-insensitive comparison that Windows uses for registry names, switches and identifiers.
#pragma once

#include <string>
#include <string_view>

#include "sky/export.h"
#include "win/types.h"

namespace sky {

// Length of a NUL-terminated UTF-16 string, in code units.
SKY_API std::size_t length(const WCHAR* text);

// UTF-8 -> UTF-16 and back. Ill-formed input is replaced with U+FFFD, never rejected.
SKY_API std::u16string widen(std::string_view utf8);
SKY_API std::string narrow(std::u16string_view utf16);
inline std::string narrow(const WCHAR* utf16) {
    return utf16 ? narrow(std::u16string_view(utf16, length(utf16))) : std::string();
}

// Upper-case folding of one code unit as Windows folds names: ASCII and Latin-1.
SKY_API WCHAR foldUpper(WCHAR c);
SKY_API std::u16string upper(std::u16string_view text);

// Ordinal comparison ignoring case (<0, 0, >0) and equality.
SKY_API int compareNoCase(std::u16string_view a, std::u16string_view b);
inline bool equalNoCase(std::u16string_view a, std::u16string_view b) {
    return compareNoCase(a, b) == 0;
}

} // namespace sky

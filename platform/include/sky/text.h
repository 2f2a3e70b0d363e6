// Text helpers for the platform and its programs: UTF-16 <-> UTF-8 and the ordinal,
// case-insensitive comparison that Windows uses for registry names, switches and identifiers.
//
// Case folding is the one rule by which every name is matched without regard to case (registry
// key and value names, programmatic identifiers, environment variable names, the farm store's
// names): each character is replaced by its simple upper-case mapping from the Unicode character
// database (ICU's), one character to one character, for every script ("Ωmega" and "ωMEGA" fold
// alike, so do "Straße" and "STRAßE", but not "Straße" and "STRASSE"), where the capital's lower
// case is the character again, as in Windows' case table: "ı", "ſ", "µ", final "ς" and the
// title-case digraphs stay as they are. It is not locale-dependent ("i" folds to "I" in every
// locale), and a folded text has the length of the original. Stores that keep folded names record
// `foldingRule()` and fold again when it changes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// The folding of one character of the Basic Multilingual Plane; a surrogate is left as it is.
SKY_API WCHAR foldUpper(WCHAR c);
// The folding of a text (characters beyond the BMP included), in UTF-16 and in UTF-8.
SKY_API std::u16string upper(std::u16string_view text);
SKY_API std::string upperUtf8(std::string_view utf8);

// Names made in this order (UTF-8) that have to stay distinct when folded, as siblings in a store
// of names do: each keeps its spelling unless an earlier one folds alike; then it becomes
// "NAME (n)" with the first n for which no name of the list folds alike. Returns the names to
// keep, in the same order. Stores of folded names use it when the folding rule changes.
SKY_API std::vector<std::string> keepApartWhenFolded(const std::vector<std::string>& names);

// Names the folding rule and the Unicode version of its table ("simple upper case that comes
// back, Unicode 15.0"), so that a store of folded names can tell whether they were folded by the
// rule in force.
SKY_API const char* foldingRule();

// Ordinal comparison ignoring case (<0, 0, >0) and equality.
SKY_API int compareNoCase(std::u16string_view a, std::u16string_view b);
inline bool equalNoCase(std::u16string_view a, std::u16string_view b) {
    return compareNoCase(a, b) == 0;
}

} // namespace sky

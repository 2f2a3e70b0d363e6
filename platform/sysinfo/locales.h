// The locales the machine knows: names and code pages by locale identifier.
#pragma once

#include "win/types.h"

namespace sky::sysinfo {

struct Locale {
    LANGID language;             // the locale identifier without sort order
    const char16_t* isoLanguage; // ISO 639
    const char16_t* isoCountry;  // ISO 3166
    const char16_t* englishLanguage;
    const char16_t* englishCountry;
    UINT ansiCodePage;
    UINT oemCodePage;
    DWORD countryCode; // international dialling code, as Windows numbers countries
};

// The locale of an identifier (its sort order ignored); a neutral sublanguage finds the
// language's first locale. Null when unknown.
const Locale* findLocale(LCID lcid);

// English (United States), what a machine is when nothing says otherwise.
inline constexpr LCID kDefaultLcid = 0x0409;

} // namespace sky::sysinfo

// The machine's locales: the system's and the user's, and what GetLocaleInfoW tells of them.
#include <cstring>
#include <string>

#include "locales.h"
#include "profile.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/registry.h"
#include "win/sysinfo.h"

using sky::sysinfo::findLocale;
using sky::sysinfo::Locale;

namespace {

constexpr LCTYPE kTypeFlags = LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP | LOCALE_RETURN_NUMBER;

// Four hex digits, as Windows writes a language identifier ("0409").
std::u16string hex4(DWORD value) {
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    std::u16string text(4, u'0');
    for (int i = 3; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = digits[value & 0xF];
    return text;
}

std::u16string decimal(DWORD value) {
    return sky::widen(std::to_string(value));
}

// The answer for one type: its text, and its number where the type is a number.
bool describe(const Locale& locale, LCTYPE type, std::u16string& text, DWORD& number,
              bool& numeric) {
    numeric = true;
    switch (type) {
    case LOCALE_ILANGUAGE:
    case LOCALE_IDEFAULTLANGUAGE:
        number = locale.language;
        text = hex4(number);
        return true;
    case LOCALE_ICOUNTRY:
    case LOCALE_IDEFAULTCOUNTRY:
        number = locale.countryCode;
        text = decimal(number);
        return true;
    case LOCALE_IDEFAULTANSICODEPAGE:
        number = locale.ansiCodePage;
        text = decimal(number);
        return true;
    case LOCALE_IDEFAULTCODEPAGE:
        number = locale.oemCodePage;
        text = decimal(number);
        return true;
    default:
        break;
    }
    numeric = false;
    switch (type) {
    case LOCALE_SISO639LANGNAME:
        text = locale.isoLanguage;
        return true;
    case LOCALE_SISO3166CTRYNAME:
        text = locale.isoCountry;
        return true;
    case LOCALE_SNAME:
        text = std::u16string(locale.isoLanguage) + u"-" + locale.isoCountry;
        return true;
    case LOCALE_SENGLANGUAGE:
        text = locale.englishLanguage;
        return true;
    case LOCALE_SENGCOUNTRY:
    case LOCALE_SCOUNTRY:
        text = locale.englishCountry;
        return true;
    case LOCALE_SLANGUAGE:
        text = std::u16string(locale.englishLanguage) + u" (" + locale.englishCountry + u")";
        return true;
    default:
        return false;
    }
}

// Copies out by the rules of the locale functions: the count includes the terminator; 0 asks
// for it; a short buffer fails with ERROR_INSUFFICIENT_BUFFER.
int deliver(const WCHAR* data, int count, LPWSTR buffer, int capacity) {
    if (capacity == 0)
        return count;
    if (capacity < count) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, data, static_cast<std::size_t>(count) * sizeof(WCHAR));
    return count;
}

LCID resolve(LCID lcid) {
    switch (LANGIDFROMLCID(lcid)) {
    case LOCALE_SYSTEM_DEFAULT:
        return GetSystemDefaultLCID();
    case LOCALE_USER_DEFAULT:
    case LOCALE_NEUTRAL:
        return GetUserDefaultLCID();
    default:
        return lcid;
    }
}

} // namespace

extern "C" LCID WINAPI GetSystemDefaultLCID() {
    const auto lcid =
        sky::sysinfo::readNumber(HKEY_LOCAL_MACHINE, sky::sysinfo::kLanguageKey, u"Default", 16);
    return lcid && *lcid ? *lcid : sky::sysinfo::kDefaultLcid;
}

extern "C" LCID WINAPI GetUserDefaultLCID() {
    const auto lcid = sky::sysinfo::readNumber(HKEY_CURRENT_USER,
                                               sky::sysinfo::kUserInternationalKey, u"Locale", 16);
    return lcid && *lcid ? *lcid : GetSystemDefaultLCID();
}

extern "C" LANGID WINAPI GetSystemDefaultLangID() {
    return LANGIDFROMLCID(GetSystemDefaultLCID());
}

extern "C" LANGID WINAPI GetUserDefaultLangID() {
    return LANGIDFROMLCID(GetUserDefaultLCID());
}

extern "C" int WINAPI GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
    if (cchData < 0 || (cchData > 0 && !lpLCData)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto* locale = findLocale(resolve(Locale));
    if (!locale) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string text;
    DWORD number = 0;
    bool numeric = false;
    if (!describe(*locale, LCType & ~kTypeFlags, text, number, numeric) ||
        ((LCType & LOCALE_RETURN_NUMBER) && !numeric)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (LCType & LOCALE_RETURN_NUMBER) {
        // The number itself, in the space of two characters.
        WCHAR cells[2];
        std::memcpy(cells, &number, sizeof number);
        return deliver(cells, 2, lpLCData, cchData);
    }
    return deliver(text.c_str(), static_cast<int>(text.size() + 1), lpLCData, cchData);
}

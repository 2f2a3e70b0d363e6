// lstr* functions and the ordinal comparison.
#include "win/strings.h"

#include <string_view>

#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/sysinfo.h"

namespace {

int sign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

std::u16string_view view(LPCWSTR text) {
    return text ? std::u16string_view(text, sky::length(text)) : std::u16string_view();
}

// CompareStringW in the user's locale as -1, 0 or 1; NULL sorts before every string, the empty
// one included, and equals only NULL.
int compareInUserLocale(LPCWSTR a, LPCWSTR b, DWORD flags) {
    if (!a || !b)
        return a ? 1 : (b ? -1 : 0);
    const int result = CompareStringW(LOCALE_USER_DEFAULT, flags, a, -1, b, -1);
    return result == 0 ? 0 : result - CSTR_EQUAL;
}

} // namespace

extern "C" int WINAPI lstrlenW(LPCWSTR lpString) {
    return static_cast<int>(sky::length(lpString));
}

extern "C" LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1 || !lpString2)
        return nullptr;
    LPWSTR out = lpString1;
    while ((*out++ = *lpString2++) != 0) {
    }
    return lpString1;
}

extern "C" LPWSTR WINAPI lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength) {
    if (!lpString1 || !lpString2)
        return nullptr;
    if (iMaxLength <= 0)
        return lpString1;
    int i = 0;
    for (; i < iMaxLength - 1 && lpString2[i]; ++i)
        lpString1[i] = lpString2[i];
    lpString1[i] = 0;
    return lpString1;
}

extern "C" LPWSTR WINAPI lstrcatW(LPWSTR lpString1, LPCWSTR lpString2) {
    if (!lpString1 || !lpString2)
        return nullptr;
    lstrcpyW(lpString1 + sky::length(lpString1), lpString2);
    return lpString1;
}

extern "C" int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2) {
    return compareInUserLocale(lpString1, lpString2, 0);
}

extern "C" int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2) {
    return compareInUserLocale(lpString1, lpString2, NORM_IGNORECASE);
}

extern "C" int WINAPI CompareStringOrdinal(LPCWSTR lpString1, int cchCount1, LPCWSTR lpString2,
                                           int cchCount2, BOOL bIgnoreCase) {
    if (!lpString1 || !lpString2 || cchCount1 < -1 || cchCount2 < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string_view a =
        cchCount1 == -1 ? view(lpString1) : std::u16string_view(lpString1, cchCount1);
    const std::u16string_view b =
        cchCount2 == -1 ? view(lpString2) : std::u16string_view(lpString2, cchCount2);
    const int order = bIgnoreCase ? sky::compareNoCase(a, b) : a.compare(b);
    return CSTR_EQUAL + sign(order);
}

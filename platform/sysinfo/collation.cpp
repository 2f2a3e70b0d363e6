// CompareStringW: the locale's collation from ICU, with the word sort's treatment of hyphens and
// apostrophes on top.
//
// One collator is opened per locale and set of flags and kept for the life of the process; ICU's
// collators may be used from several threads at once for comparing. A thread remembers the last
// one it used, so that sorting a list takes the lock once per list rather than once per pair.
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include <unicode/ucol.h>

#include "locales.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/strings.h"
#include "win/sysinfo.h"

namespace {

constexpr DWORD kKnownFlags = NORM_IGNORECASE | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS |
                              SORT_DIGITSASNUMBERS | LINGUISTIC_IGNORECASE |
                              LINGUISTIC_IGNOREDIACRITIC | SORT_STRINGSORT | NORM_IGNOREKANATYPE |
                              NORM_IGNOREWIDTH | NORM_LINGUISTIC_CASING;

// The flags that change the collator; the others are handled around it or accepted as they are.
constexpr DWORD kCollatorFlags = NORM_IGNORECASE | LINGUISTIC_IGNORECASE | NORM_IGNORENONSPACE |
                                 LINGUISTIC_IGNOREDIACRITIC | NORM_IGNORESYMBOLS |
                                 SORT_DIGITSASNUMBERS;

// The ICU locale of a locale identifier ("" for the invariant locale); false when the machine
// does not know it.
bool icuLocaleOf(LCID lcid, std::string& name) {
    switch (LANGIDFROMLCID(lcid)) {
    case LOCALE_SYSTEM_DEFAULT:
        lcid = GetSystemDefaultLCID();
        break;
    case LOCALE_USER_DEFAULT:
    case LOCALE_NEUTRAL:
        lcid = GetUserDefaultLCID();
        break;
    default:
        break;
    }
    if (LANGIDFROMLCID(lcid) == LOCALE_INVARIANT) {
        name.clear();
        return true;
    }
    const sky::sysinfo::Locale* locale = sky::sysinfo::findLocale(lcid);
    if (!locale)
        return false;
    name = sky::narrow(locale->isoLanguage) + "_" + sky::narrow(locale->isoCountry);
    return true;
}

UCollator* openCollator(const std::string& locale, DWORD flags) {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open(locale.c_str(), &status);
    if (U_FAILURE(status))
        return nullptr;
    const bool ignoreCase = flags & (NORM_IGNORECASE | LINGUISTIC_IGNORECASE);
    const bool ignoreAccents = flags & (NORM_IGNORENONSPACE | LINGUISTIC_IGNOREDIACRITIC);
    if (ignoreAccents) {
        // Letters only; case still counts unless it is ignored too.
        ucol_setStrength(collator, UCOL_PRIMARY);
        ucol_setAttribute(collator, UCOL_CASE_LEVEL, ignoreCase ? UCOL_OFF : UCOL_ON, &status);
    } else {
        ucol_setStrength(collator, ignoreCase ? UCOL_SECONDARY : UCOL_TERTIARY);
    }
    if (flags & NORM_IGNORESYMBOLS) {
        // Blanks, punctuation, symbols and currency signs are skipped altogether.
        ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_SHIFTED, &status);
        ucol_setMaxVariable(collator, UCOL_REORDER_CODE_CURRENCY, &status);
    }
    if (flags & SORT_DIGITSASNUMBERS)
        ucol_setAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    if (U_FAILURE(status)) {
        ucol_close(collator);
        return nullptr;
    }
    return collator;
}

// The process's collators by locale and flags; never closed, as a thread may hold one.
UCollator* collatorFor(const std::string& locale, DWORD flags) {
    struct Last {
        std::string locale;
        DWORD flags = 0;
        UCollator* collator = nullptr;
    };
    thread_local Last last;
    if (last.collator && last.flags == flags && last.locale == locale)
        return last.collator;

    static std::mutex mutex;
    static std::map<std::pair<std::string, DWORD>, UCollator*> collators;
    std::lock_guard<std::mutex> lock(mutex);
    UCollator*& collator = collators[{locale, flags}];
    if (!collator)
        collator = openCollator(locale, flags);
    if (collator)
        last = {locale, flags, collator};
    return collator;
}

bool isWordSortMark(WCHAR c) {
    return c == u'-' || c == u'\'';
}

// The text without its hyphens and apostrophes, and where they stood in it (as positions in the
// text without them, each followed by the mark).
void splitMarks(std::u16string_view text, std::u16string& letters, std::u16string& marks) {
    letters.clear();
    marks.clear();
    for (const WCHAR c : text) {
        if (isWordSortMark(c)) {
            marks.push_back(static_cast<WCHAR>(letters.size()));
            marks.push_back(c);
        } else {
            letters.push_back(c);
        }
    }
}

int collate(UCollator* collator, std::u16string_view a, std::u16string_view b) {
    return ucol_strcoll(collator, a.data(), static_cast<int32_t>(a.size()), b.data(),
                        static_cast<int32_t>(b.size()));
}

int order(UCollator* collator, DWORD flags, std::u16string_view a, std::u16string_view b) {
    const auto hasMarks = [](std::u16string_view text) {
        for (const WCHAR c : text) {
            if (isWordSortMark(c))
                return true;
        }
        return false;
    };
    if ((flags & SORT_STRINGSORT) || (!hasMarks(a) && !hasMarks(b)))
        return collate(collator, a, b);
    std::u16string lettersA, marksA, lettersB, marksB;
    splitMarks(a, lettersA, marksA);
    splitMarks(b, lettersB, marksB);
    if (const int byLetters = collate(collator, lettersA, lettersB))
        return byLetters;
    // Otherwise equal: the first mark that differs decides; a later mark, or none, sorts first.
    for (std::size_t i = 0; i < marksA.size() && i < marksB.size(); i += 2) {
        if (marksA[i] != marksB[i])
            return marksA[i] > marksB[i] ? UCOL_LESS : UCOL_GREATER;
        if (marksA[i + 1] != marksB[i + 1])
            return marksA[i + 1] < marksB[i + 1] ? UCOL_LESS : UCOL_GREATER;
    }
    if (marksA.size() == marksB.size())
        return UCOL_EQUAL;
    return marksA.size() < marksB.size() ? UCOL_LESS : UCOL_GREATER;
}

std::u16string_view counted(PCNZWCH text, int count) {
    return count < 0 ? std::u16string_view(text, sky::length(text))
                     : std::u16string_view(text, static_cast<std::size_t>(count));
}

} // namespace

extern "C" int WINAPI CompareStringW(LCID Locale, DWORD dwCmpFlags, PCNZWCH lpString1,
                                     int cchCount1, PCNZWCH lpString2, int cchCount2) {
    if (!lpString1 || !lpString2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwCmpFlags & ~kKnownFlags) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    std::string locale;
    if (!icuLocaleOf(Locale, locale)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    UCollator* collator = collatorFor(locale, dwCmpFlags & kCollatorFlags);
    if (!collator) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int result =
        order(collator, dwCmpFlags, counted(lpString1, cchCount1), counted(lpString2, cchCount2));
    return result < 0 ? CSTR_LESS_THAN : (result > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL);
}

// CompareStringW: the locale's collation from ICU, tailored to answer as Windows' sort does, with
// the word sort's treatment of hyphens and apostrophes on top.
//
// Windows' order differs from the Unicode collation algorithm's in punctuation and symbols and in
// a few letters; the tailoring below (kWindowsOrder, kExpansions) gives them Windows' places, on
// top of the locale's own tailoring. Case is ignored by folding both texts with the platform's
// one case rule (sky::upper, the rule of registry and store names) and comparing them with case
// counting, so that lstrcmpiW and the registry agree on what differs only in case. Width and kana
// type are ignored by mapping the texts too.
//
// One collator is opened per locale and set of flags and kept for the life of the process; ICU's
// collators may be used from several threads at once for comparing. A thread remembers the last
// one it used, so that sorting a list takes the lock once per list rather than once per pair.
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/unorm2.h>

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

constexpr DWORD kIgnoreCase = NORM_IGNORECASE | LINGUISTIC_IGNORECASE;

// Windows' order of punctuation and symbols, before digits and letters: the hyphens and the
// apostrophe first (they weigh almost nothing in the word sort, below), then the blanks, the
// ASCII punctuation in code order, Latin-1's and the general punctuation, the currency signs, the
// mathematical signs and the other symbols (the micro sign among them: it is no Greek letter
// here). Long s sorts after s, a letter of its own.
constexpr char16_t kWindowsOrder[] =
    u"&[before 1]' ' < \\' < '-' < \u2010 < \u2011 < \u2027 < \u2012 < \u2013 < \u2014 < \u2015"
    u" &' ' < \u3000 < \u00a0 < '\u0009' < '!' < '\"' < '#' < '$' < '%' < '&' < '(' < ')' < '*'"
    u" < ',' < '.' < '/' < ':' < ';' < '?' < '@' < '[' < \\\\ < ']' < '^' < '_' < '`' < '{'"
    u" < '|' < '}' < '~' < \u00a1 < \u00a6 < \u00a8 < \u00af < \u00b4 < \u00b8 < \u00bf < \u2016"
    u" < \u2017 < \u2018 < \u2019 < \u201a < \u201b < \u201c < \u201d < \u201e < \u201f < \u2032"
    u" < \u2033 < \u2036 < \u2034 < \u2037 < \u2035 < \u2038 < \u2039 < \u203a < \u00a2 < \u00a3"
    u" < \u00a4 < \u00a5 < \u20ac < '+' < '<' < '=' < '>' < \u00b1 < \u00ab < \u00bb < \u00d7"
    u" < \u00f7 < \u00a7 < \u00a9 < \u00ac < \u00ae < \u00b0 < \u00b5 < \u00b6 < \u00b7 < \u2025"
    u" < \u2026 < \u2020 < \u2021 < \u2022 < \u2023 < \u2030 < \u2031"
    u" &s < \u017f";

// Letters that are two letters in the sort: sharp s is ss, the ligatures are their letters, thorn
// is th. With case ignored the texts are folded to capitals first, so the letters that keep their
// small form there (sharp s, the fi and fl ligatures) equal the capitals.
constexpr char16_t kExpansions[] =
    u" &ss = \u00df &SS = \u1e9e &fi = \ufb01 &fl = \ufb02 &ae = \u00e6 &AE = \u00c6"
    u" &oe = \u0153 &OE = \u0152 &ij = \u0133 &IJ = \u0132 &d\u017e = \u01c6 &D\u017d = \u01c4"
    u" &th = \u00fe &TH = \u00de";
constexpr char16_t kFoldedExpansions[] =
    u" &SS = \u00df = \u1e9e &FI = \ufb01 &FL = \ufb02 &AE = \u00c6 &OE = \u0152 &IJ = \u0132"
    u" &D\u017d = \u01c4 &TH = \u00de";

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
    // The locale's own tailoring, then Windows' order on top of it.
    UErrorCode status = U_ZERO_ERROR;
    UCollator* base = ucol_open(locale.c_str(), &status);
    if (U_FAILURE(status))
        return nullptr;
    int32_t length = 0;
    const UChar* localeRules = ucol_getRules(base, &length);
    std::u16string rules(localeRules, static_cast<std::size_t>(length));
    ucol_close(base);
    const bool ignoreCase = flags & kIgnoreCase;
    rules += u" ";
    rules += kWindowsOrder;
    rules += ignoreCase ? kFoldedExpansions : kExpansions;
    UParseError where;
    UCollator* collator = ucol_openRules(rules.data(), static_cast<int32_t>(rules.size()),
                                         UCOL_DEFAULT, UCOL_TERTIARY, &where, &status);
    if (U_FAILURE(status))
        return nullptr;
    if (flags & (NORM_IGNORENONSPACE | LINGUISTIC_IGNOREDIACRITIC)) {
        // Letters only; case still counts unless it is ignored too.
        ucol_setStrength(collator, UCOL_PRIMARY);
        ucol_setAttribute(collator, UCOL_CASE_LEVEL, ignoreCase ? UCOL_OFF : UCOL_ON, &status);
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
    // Ignored symbols take the marks with them.
    if ((flags & (SORT_STRINGSORT | NORM_IGNORESYMBOLS)) || (!hasMarks(a) && !hasMarks(b)))
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

// A full-width or half-width form as its ordinary character (full-width A as A, half-width
// katakana as the full-width ones), any other character as it is.
void appendWithoutWidth(WCHAR c, std::u16string& out) {
    const auto type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
    if (type == U_DT_WIDE || type == U_DT_NARROW) {
        UErrorCode status = U_ZERO_ERROR;
        const UNormalizer2* compatibility = unorm2_getNFKCInstance(&status);
        UChar decomposition[4];
        const int32_t n = U_SUCCESS(status) ? unorm2_getRawDecomposition(compatibility, c,
                                                                         decomposition, 4, &status)
                                            : -1;
        if (U_SUCCESS(status) && n > 0) {
            out.append(decomposition, static_cast<std::size_t>(n));
            return;
        }
    }
    out.push_back(c);
}

// The text as the flags compare it: folded by the one case rule when case is ignored, in the
// ordinary widths when width is, and with hiragana for katakana when kana type is.
std::u16string_view prepared(std::u16string_view text, DWORD flags, std::u16string& storage) {
    if (!(flags & (kIgnoreCase | NORM_IGNOREWIDTH | NORM_IGNOREKANATYPE)))
        return text;
    storage.clear();
    if (flags & NORM_IGNOREWIDTH) {
        for (const WCHAR c : text)
            appendWithoutWidth(c, storage);
    } else {
        storage.assign(text);
    }
    if (flags & NORM_IGNOREKANATYPE) {
        for (WCHAR& c : storage) {
            if (c >= u'\u30a1' && c <= u'\u30f6')
                c = static_cast<WCHAR>(c - 0x60);
        }
    }
    if (flags & kIgnoreCase)
        storage = sky::upper(storage);
    return storage;
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
    std::u16string first, second;
    const int result =
        order(collator, dwCmpFlags, prepared(counted(lpString1, cchCount1), dwCmpFlags, first),
              prepared(counted(lpString2, cchCount2), dwCmpFlags, second));
    return result < 0 ? CSTR_LESS_THAN : (result > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL);
}

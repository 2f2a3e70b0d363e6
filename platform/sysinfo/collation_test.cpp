// CompareStringW and the lstrcmp functions: the word sort of a sorted list, the machine's locale,
// the flags, and the argument rules.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/registry.h"
#include "win/strings.h"
#include "win/sysinfo.h"

namespace {

int compare(const std::u16string& a, const std::u16string& b, DWORD flags = NORM_IGNORECASE,
            LCID locale = LOCALE_USER_DEFAULT) {
    return CompareStringW(locale, flags, a.c_str(), -1, b.c_str(), -1);
}

// Sorts as a sorted list box does and gives the texts back in UTF-8, for readable failures.
std::vector<std::string> sorted(std::vector<std::u16string> texts, DWORD flags = NORM_IGNORECASE,
                                LCID locale = LOCALE_USER_DEFAULT) {
    std::stable_sort(texts.begin(), texts.end(), [&](const auto& a, const auto& b) {
        return compare(a, b, flags, locale) == CSTR_LESS_THAN;
    });
    std::vector<std::string> out;
    for (const auto& text : texts)
        out.push_back(sky::narrow(text));
    return out;
}

void setUserLocale(const char16_t* lcid) {
    sky::registry::Key key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Control Panel\\International", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    const std::u16string value(lcid);
    ASSERT_EQ(RegSetValueExW(key.get(), u"Locale", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
}

TEST(CompareString, SortsNamesAsAWindowsListBoxDoes) {
    EXPECT_EQ(sorted({u"Zeta", u"OfficeXP", u"alpha", u"Office\\Word", u"_Setup"}),
              (std::vector<std::string>{"_Setup", "alpha", "Office\\Word", "OfficeXP", "Zeta"}));
    // Every pair of neighbours in that order, both ways round.
    const std::u16string chain[] = {u"_Setup", u"alpha", u"Office\\Word", u"OfficeXP", u"Zeta"};
    for (std::size_t i = 0; i + 1 < std::size(chain); ++i) {
        EXPECT_EQ(compare(chain[i], chain[i + 1]), CSTR_LESS_THAN) << sky::narrow(chain[i]);
        EXPECT_EQ(compare(chain[i + 1], chain[i]), CSTR_GREATER_THAN) << sky::narrow(chain[i]);
    }
}

TEST(CompareString, HyphensAndApostrophesWeighAlmostNothing) {
    EXPECT_EQ(sorted({u"coopt", u"co-op", u"cook", u"Cooper", u"coop", u"cop"}),
              (std::vector<std::string>{"cook", "coop", "co-op", "Cooper", "coopt", "cop"}));
    EXPECT_EQ(sorted({u"its", u"it's", u"itself", u"it"}),
              (std::vector<std::string>{"it", "its", "it's", "itself"}));
    // The mark still tells the texts apart, and a later mark sorts first.
    EXPECT_EQ(compare(u"coop", u"co-op"), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"coo-p", u"co-op"), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"CO-OP", u"co-op"), CSTR_EQUAL);
    // With SORT_STRINGSORT they are punctuation like any other, before the letters.
    EXPECT_EQ(compare(u"co-op", u"coop", NORM_IGNORECASE | SORT_STRINGSORT), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"co-op", u"cook", NORM_IGNORECASE | SORT_STRINGSORT), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"co-op", u"cook"), CSTR_GREATER_THAN);
}

TEST(CompareString, PunctuationAndSymbolsBeforeDigitsBeforeLetters) {
    EXPECT_EQ(sorted({u"a", u"9", u"1st", u"$", u"#hash", u"!bang", u"+plus", u"Z", u"\u00e9"}),
              (std::vector<std::string>{"!bang", "#hash", "$", "+plus", "1st", "9", "a", "\xc3\xa9",
                                        "Z"}));
}

TEST(CompareString, PunctuationAndSymbolsInWindowsOrder) {
    EXPECT_EQ(sorted({u"~tilde", u"_Setup", u"$dollar", u"#hash"}),
              (std::vector<std::string>{"#hash", "$dollar", "_Setup", "~tilde"}));
    EXPECT_EQ(compare(u"_", u"."), CSTR_GREATER_THAN);
    EXPECT_EQ(lstrcmpiW(u"#", u"."), -1);
    EXPECT_EQ(lstrcmpiW(u"_", u"."), 1);
    // Blanks, the ASCII punctuation in code order, the currency signs, the mathematical signs
    // and other symbols, then digits and letters; each pair of neighbours both ways, with and
    // without case, word sort and string sort alike.
    const std::u16string chain[] = {
        u" ",      u"!",      u"\"",     u"#", u"$", u"%", u"&",      u"(",      u")",
        u"*",      u",",      u".",      u"/", u":", u";", u"?",      u"@",      u"[",
        u"\\",     u"]",      u"^",      u"_", u"`", u"{", u"|",      u"}",      u"~",
        u"\u00a3", u"\u20ac", u"+",      u"<", u"=", u">", u"\u00ab", u"\u00d7", u"\u00a7",
        u"\u00a9", u"\u00b0", u"\u00b5", u"0", u"9", u"a", u"Z"};
    for (const DWORD flags : {DWORD{0}, DWORD{NORM_IGNORECASE}, DWORD{SORT_STRINGSORT}}) {
        for (std::size_t i = 0; i + 1 < std::size(chain); ++i) {
            EXPECT_EQ(compare(chain[i], chain[i + 1], flags), CSTR_LESS_THAN)
                << sky::narrow(chain[i]) << " " << flags;
            EXPECT_EQ(compare(chain[i + 1] + u"x", chain[i] + u"y", flags), CSTR_GREATER_THAN)
                << sky::narrow(chain[i]) << " " << flags;
        }
    }
    // The micro sign is a symbol, no Greek letter.
    EXPECT_EQ(lstrcmpiW(u"\u00b5", u"\u03bc"), -1);
    EXPECT_EQ(lstrcmpiW(u"\u00b5", u"1"), -1);
}

TEST(CompareString, StringSortPutsApostropheAndHyphenBeforeBlanks) {
    EXPECT_EQ(compare(u"'o", u"-o", SORT_STRINGSORT), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"co'op", u"co-op", SORT_STRINGSORT), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"co'op", u"co-op", SORT_STRINGSORT | NORM_IGNORECASE), CSTR_LESS_THAN);
    EXPECT_EQ(sorted({u"!bang", u" space", u"-minus", u"'apos", u"alpha"}, SORT_STRINGSORT),
              (std::vector<std::string>{"'apos", "-minus", " space", "!bang", "alpha"}));
    // The word sort passes over them: among the letters, the apostrophe first where all else is
    // equal.
    EXPECT_EQ(sorted({u"!bang", u" space", u"-minus", u"'apos", u"alpha"}),
              (std::vector<std::string>{" space", "!bang", "alpha", "'apos", "-minus"}));
    EXPECT_EQ(compare(u"'o", u"-o"), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"co'op", u"co-op"), CSTR_LESS_THAN);
}

TEST(CompareString, IgnoringSymbolsPassesOverBlanksAndPunctuation) {
    EXPECT_EQ(compare(u"a ", u"a", NORM_IGNORESYMBOLS), CSTR_EQUAL);
    EXPECT_EQ(compare(u"a ", u"a", 0), CSTR_GREATER_THAN);
    EXPECT_EQ(compare(u"\tjust! a, test; string 1/*+-.", u"justateststring1", NORM_IGNORESYMBOLS),
              CSTR_EQUAL);
    EXPECT_EQ(compare(u"\tjust! a, test; string 1/*+-.", u"justateststring1", 0), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"_Setup", u"alpha", NORM_IGNORESYMBOLS), CSTR_GREATER_THAN);
    EXPECT_EQ(compare(u"co'op", u"co-op", NORM_IGNORESYMBOLS), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\u2026", u"...", NORM_IGNORESYMBOLS), CSTR_EQUAL);
}

TEST(CompareString, WidthAndKanaTypeCountUnlessIgnored) {
    EXPECT_EQ(compare(u"\uff21", u"A", 0), CSTR_GREATER_THAN);
    EXPECT_EQ(compare(u"\uff21", u"A"), CSTR_GREATER_THAN);
    EXPECT_EQ(compare(u"\uff41", u"A"), CSTR_GREATER_THAN);
    EXPECT_EQ(compare(u"\uff21\uff22\uff23", u"abc"), CSTR_GREATER_THAN);
    EXPECT_EQ(compare(u"\uff21", u"A", NORM_IGNOREWIDTH), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\uff41", u"A", NORM_IGNOREWIDTH), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"\uff21\uff22\uff23", u"abc", NORM_IGNORECASE | NORM_IGNOREWIDTH),
              CSTR_EQUAL);
    // Half-width katakana, and hiragana against katakana (which of them comes first is ICU's).
    EXPECT_NE(compare(u"\uff71", u"\u30a2", 0), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\uff71", u"\u30a2", NORM_IGNOREWIDTH), CSTR_EQUAL);
    EXPECT_NE(compare(u"\u3042", u"\u30a2"), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\u3042", u"\u30a2", NORM_IGNOREKANATYPE), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\uff71", u"\u3042", NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH), CSTR_EQUAL);
}

TEST(CompareString, LettersThatSortAsTwo) {
    // Sharp s, the ligatures and thorn sort as the letters they stand for.
    for (const DWORD flags : {DWORD{0}, DWORD{NORM_IGNORECASE}, DWORD{SORT_STRINGSORT}}) {
        EXPECT_EQ(compare(u"Stra\u00dfe", u"Strasse", flags), CSTR_EQUAL) << flags;
        EXPECT_EQ(compare(u"\u00c6ble", u"AEble", flags), CSTR_EQUAL) << flags;
        EXPECT_EQ(compare(u"\u00e6ble", u"aeble", flags), CSTR_EQUAL) << flags;
        EXPECT_EQ(compare(u"\ufb01", u"fi", flags), CSTR_EQUAL) << flags;
        EXPECT_EQ(compare(u"\u0153", u"oe", flags), CSTR_EQUAL) << flags;
        EXPECT_EQ(compare(u"\u00fe", u"th", flags), CSTR_EQUAL) << flags;
        EXPECT_EQ(compare(u"Stra\u00dfe", u"Strase", flags), CSTR_GREATER_THAN) << flags;
        EXPECT_EQ(compare(u"Stra\u00dfe", u"Strat", flags), CSTR_LESS_THAN) << flags;
    }
    // Their case counts unless ignored.
    EXPECT_EQ(compare(u"Stra\u00dfe", u"STRASSE", 0), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"Stra\u00dfe", u"STRASSE"), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\u1e9e", u"\u00df", 0), CSTR_GREATER_THAN);
    EXPECT_EQ(compare(u"\u1e9e", u"\u00df"), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\ufb01", u"FI", 0), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"\ufb01", u"FI"), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\u00e6", u"AE", 0), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"\u00e6", u"AE"), CSTR_EQUAL);
}

TEST(CompareString, IgnoresCaseByThePlatformsOneCaseRule) {
    // What the registry takes for one name lstrcmpiW takes for equal, and what it keeps apart
    // lstrcmpiW keeps apart: dotless i, long s, the micro sign, final sigma and the title-case
    // digraphs have no capital in Windows' case table.
    const std::u16string letters[] = {
        u"i",      u"I",      u"\u0131", u"\u0130", u"s",      u"S",      u"\u017f",
        u"\u00b5", u"\u03bc", u"\u039c", u"\u03c2", u"\u03c3", u"\u03a3", u"\u01c4",
        u"\u01c5", u"\u01c6", u"\u00ff", u"\u0178", u"k",      u"K",      u"\u00e5",
        u"\u00c5", u"\u0436", u"\u0416", u"\u10d0", u"\u1c90", u"\uab70", u"\u13a0"};
    for (const auto& a : letters) {
        for (const auto& b : letters) {
            EXPECT_EQ(lstrcmpiW(a.c_str(), b.c_str()) == 0, sky::equalNoCase(a, b))
                << sky::narrow(a) << " / " << sky::narrow(b);
        }
    }
    EXPECT_EQ(lstrcmpiW(u"\u0131", u"i"), 1);
    EXPECT_EQ(lstrcmpiW(u"\u0131", u"I"), 1);
    EXPECT_EQ(lstrcmpiW(u"\u017f", u"s"), 1);
    EXPECT_EQ(lstrcmpiW(u"\u017f", u"S"), 1);
    EXPECT_EQ(lstrcmpiW(u"\u00ff", u"\u0178"), 0);
    EXPECT_EQ(lstrcmpiW(u"\u03bb\u03cc\u03b3\u03bf\u03c3", u"\u039b\u038c\u0393\u039f\u03a3"), 0);
    EXPECT_NE(lstrcmpiW(u"\u03bb\u03cc\u03b3\u03bf\u03c2", u"\u039b\u038c\u0393\u039f\u03a3"), 0);
}

TEST(CompareString, CaseWeighsLessThanAccentsAndAccentsLessThanLetters) {
    EXPECT_EQ(
        sorted({u"c\u00f4t\u00e9", u"cote", u"c\u00f4te", u"cot\u00e9"}, 0),
        (std::vector<std::string>{"cote", "cot\xc3\xa9", "c\xc3\xb4te", "c\xc3\xb4t\xc3\xa9"}));
    EXPECT_EQ(compare(u"a", u"A", 0), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"A", u"b", 0), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"Zeta", u"zETA"), CSTR_EQUAL);
    EXPECT_EQ(compare(u"\u03a9mega", u"\u03c9MEGA"), CSTR_EQUAL);
    EXPECT_EQ(
        compare(u"\u041c\u043e\u0441\u043a\u0432\u0430", u"\u043c\u041e\u0421\u041a\u0412\u0410"),
        CSTR_EQUAL);
    EXPECT_EQ(compare(u"resume", u"r\u00e9sum\u00e9"), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"resume", u"R\u00c9SUM\u00c9", NORM_IGNORECASE | NORM_IGNORENONSPACE),
              CSTR_EQUAL);
    EXPECT_EQ(compare(u"resume", u"R\u00e9sum\u00e9", NORM_IGNORENONSPACE), CSTR_LESS_THAN)
        << "case still counts when only accents are ignored";
}

TEST(CompareString, FollowsTheMachinesLocale) {
    // Swedish sorts o with diaeresis after z; English among the o's.
    EXPECT_EQ(compare(u"\u00f6l", u"zebra"), CSTR_LESS_THAN);
    EXPECT_EQ(compare(u"\u00f6l", u"zebra", NORM_IGNORECASE, 0x041d), CSTR_GREATER_THAN);
    EXPECT_EQ(lstrcmpiW(u"\u00f6l", u"zebra"), -1);
    setUserLocale(u"0000041D");
    EXPECT_EQ(compare(u"\u00f6l", u"zebra"), CSTR_GREATER_THAN);
    EXPECT_EQ(lstrcmpiW(u"\u00f6l", u"ZEBRA"), 1);
    EXPECT_EQ(compare(u"\u00f6l", u"zebra", NORM_IGNORECASE, LOCALE_INVARIANT), CSTR_LESS_THAN);
}

TEST(CompareString, FlagsForSymbolsAndNumbers) {
    EXPECT_EQ(compare(u"a.b c", u"abc", NORM_IGNORESYMBOLS), CSTR_EQUAL);
    EXPECT_EQ(compare(u"$5", u"5", NORM_IGNORESYMBOLS), CSTR_EQUAL);
    EXPECT_NE(compare(u"a.b c", u"abc"), CSTR_EQUAL);
    EXPECT_EQ(compare(u"Server10", u"server9", NORM_IGNORECASE | SORT_DIGITSASNUMBERS),
              CSTR_GREATER_THAN);
    EXPECT_EQ(compare(u"Server10", u"server9"), CSTR_LESS_THAN);
}

TEST(CompareString, CountsNullsLocalesAndFlagsFollowTheWin32Rules) {
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, u"abcdef", 3, u"ABC", -1),
              CSTR_EQUAL);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, u"ab", 2, u"abc", -5), CSTR_LESS_THAN);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, u"", 0, u"", -1), CSTR_EQUAL);

    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, nullptr, -1, u"a", -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(CompareStringW(0x7777, 0, u"a", -1, u"a", -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0x40000000u, u"a", -1, u"a", -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));

    SetLastError(0);
    EXPECT_EQ(CompareStringW(LOCALE_USER_DEFAULT, 0, nullptr, -1, u"", -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A null string sorts before every string, the empty one too, and equals only itself.
    EXPECT_EQ(lstrcmpW(nullptr, u""), -1);
    EXPECT_EQ(lstrcmpW(u"", nullptr), 1);
    EXPECT_EQ(lstrcmpW(nullptr, nullptr), 0);
    EXPECT_EQ(lstrcmpW(u"a", nullptr), 1);
    EXPECT_EQ(lstrcmpiW(nullptr, u""), -1);
    EXPECT_EQ(lstrcmpiW(u"", nullptr), 1);
    EXPECT_EQ(lstrcmpiW(nullptr, nullptr), 0);
    EXPECT_EQ(lstrcmpiW(nullptr, u"a"), -1);
}

} // namespace

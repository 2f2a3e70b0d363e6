// The one case-folding rule: every script, one character to one character, the same in UTF-16
// and UTF-8, and the ordinal comparison that follows from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sky/text.h"

namespace {

using sky::compareNoCase;
using sky::equalNoCase;
using sky::upper;

TEST(CaseFolding, MatchesNamesOfEveryScriptWithoutRegardToCase) {
    // Greek, with the tonos kept as accents are (the final sigma is no case of sigma: below).
    EXPECT_TRUE(equalNoCase(u"\u03a9mega", u"\u03c9MEGA"));
    EXPECT_TRUE(equalNoCase(u"\u03bb\u03cc\u03b3\u03bf\u03c3", u"\u039b\u038c\u0393\u039f\u03a3"));
    // Cyrillic.
    EXPECT_TRUE(equalNoCase(u"\u041c\u043e\u0441\u043a\u0432\u0430",
                            u"\u043c\u041e\u0421\u041a\u0412\u0410"));
    // Latin beyond Latin-1: Czech, Polish, and y with diaeresis.
    EXPECT_TRUE(equalNoCase(u"\u010de\u0161tina", u"\u010cE\u0160TINA"));
    EXPECT_TRUE(equalNoCase(u"\u0142\u00f3d\u017a", u"\u0141\u00d3D\u0179"));
    EXPECT_EQ(upper(u"\u00ff"), u"\u0178");
    // Armenian and Georgian Mtavruli, and a script beyond the BMP (Deseret).
    EXPECT_TRUE(equalNoCase(u"\u0561\u0562", u"\u0531\u0532"));
    EXPECT_TRUE(equalNoCase(u"\U00010428\U00010429", u"\U00010400\U00010401"));
    // Accents are not case: they still tell names apart.
    EXPECT_FALSE(equalNoCase(u"cafe", u"CAF\u00c9"));
    EXPECT_FALSE(equalNoCase(u"\u03c9", u"\u038f"));
}

TEST(CaseFolding, IsOneCharacterForOneAndKeepsTheLength) {
    // Sharp s has no one-character capital in the simple mapping: it stays, so "Straße" never
    // matches "STRASSE", and a name keeps its length when folded.
    EXPECT_EQ(upper(u"Stra\u00dfe"), u"STRA\u00dfE");
    EXPECT_FALSE(equalNoCase(u"Stra\u00dfe", u"STRASSE"));
    EXPECT_EQ(upper(u"\ufb01"), u"\ufb01"); // the fi ligature has no simple capital
    EXPECT_EQ(upper(u"\u01c6"), u"\u01c4"); // dz with caron
    const std::u16string mixed = u"a\u00e9\u03c9\u0436\U00010428\u00df-";
    EXPECT_EQ(upper(mixed).size(), mixed.size());
    // Unpaired surrogates are left as they are.
    const std::u16string broken = {u'a', char16_t(0xD801), u'b', char16_t(0xDC28)};
    EXPECT_EQ(upper(broken), (std::u16string{u'A', char16_t(0xD801), u'B', char16_t(0xDC28)}));
    EXPECT_EQ(sky::foldUpper(0xD801), 0xD801);
}

TEST(CaseFolding, OnlyCapitalsThatComeBackAsTheLetterAreTaken) {
    // Windows' case table keeps a capital only where its small letter is the letter again:
    // dotless i, long s, the micro sign, final sigma, long s with dot and the title-case
    // digraphs stay themselves, so a name "ı" and a name "i" are two names.
    for (const char16_t c : {u'\u0131', u'\u017f', u'\u00b5', u'\u03c2', u'\u1e9b', u'\u01c5',
                             u'\u01c8', u'\u01cb', u'\u01f2', u'\u0345', u'\u03d0', u'\u1fbe'}) {
        EXPECT_EQ(sky::foldUpper(c), c) << std::hex << static_cast<int>(c);
    }
    EXPECT_FALSE(equalNoCase(u"\u0131", u"i"));
    EXPECT_FALSE(equalNoCase(u"\u0131", u"I"));
    EXPECT_FALSE(equalNoCase(u"\u017f", u"S"));
    EXPECT_FALSE(equalNoCase(u"\u00b5", u"\u039c"));
    EXPECT_FALSE(equalNoCase(u"\u03bb\u03cc\u03b3\u03bf\u03c2", u"\u039b\u038c\u0393\u039f\u03a3"));
    EXPECT_FALSE(equalNoCase(u"\u01c5", u"\u01c4"));
    // Their partners fold as before: Greek small mu and sigma, dz with caron, dotted capital I's
    // small letter, y with diaeresis, Cherokee small letters and Greek with ypogegrammeni.
    EXPECT_EQ(sky::foldUpper(u'\u03bc'), u'\u039c');
    EXPECT_EQ(sky::foldUpper(u'\u03c3'), u'\u03a3');
    EXPECT_EQ(sky::foldUpper(u'\u01c6'), u'\u01c4');
    EXPECT_EQ(sky::foldUpper(u'\u00ff'), u'\u0178');
    EXPECT_EQ(sky::foldUpper(u'\uab70'), u'\u13a0');
    EXPECT_EQ(sky::foldUpper(u'\u1f80'), u'\u1f88');
    EXPECT_TRUE(equalNoCase(u"\u03bb\u03cc\u03b3\u03bf\u03c3", u"\u039b\u038c\u0393\u039f\u03a3"));
    // Beyond the BMP by the same rule (Deseret comes back).
    EXPECT_EQ(upper(u"\U00010428"), u"\U00010400");
    // Every mapping taken comes back; with Unicode 15.0, 1163 characters of the BMP have one,
    // as many as the reference's case table has for it.
    int mapped = 0;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        const auto unit = static_cast<char16_t>(c);
        const char16_t capital = sky::foldUpper(unit);
        if (capital == unit)
            continue;
        ++mapped;
        EXPECT_EQ(sky::foldUpper(capital), capital) << std::hex << static_cast<int>(c);
    }
    if (std::string(sky::foldingRule()).ends_with("Unicode 15.0")) {
        EXPECT_EQ(mapped + 26, 1163);
    }
}

TEST(CaseFolding, IsTheSameInUtf8AndUtf16) {
    for (const std::u16string& name :
         {std::u16string(u"Office\\Word"), std::u16string(u"\u03a9mega"),
          std::u16string(u"\u043c\u043e\u0441\u043a\u0432\u0430 \U00010428 \u00e9t\u00e9 \u00df"),
          std::u16string(u"plain ascii 123 _-")}) {
        EXPECT_EQ(sky::upperUtf8(sky::narrow(name)), sky::narrow(upper(name)));
    }
}

TEST(CaseFolding, ComparesInTheOrderOfTheFoldedCodeUnits) {
    const std::u16string names[] = {u"abc",      u"ABD",        u"abcd",       u"\u00e9t\u00e9",
                                    u"\u00c9TE", u"\u03c9",     u"\u03a9mega", u"\U00010428x",
                                    u"\ufb01",   u"\U00010400", u"",           u"Zeta"};
    for (const auto& a : names) {
        for (const auto& b : names) {
            const int expected = upper(a).compare(upper(b));
            const int order = compareNoCase(a, b);
            EXPECT_EQ(order < 0, expected < 0) << sky::narrow(a) << " / " << sky::narrow(b);
            EXPECT_EQ(order == 0, expected == 0) << sky::narrow(a) << " / " << sky::narrow(b);
        }
    }
    EXPECT_EQ(compareNoCase(u"\u03a9mega", u"\u03c9MEGA"), 0);
    EXPECT_LT(compareNoCase(u"Zeta", u"\u03c9"), 0);
}

TEST(CaseFolding, NamesThatFoldAlikeAreKeptApartWithTheFirstFreeNumber) {
    // The first of each spelling keeps it; a later one takes the first number no name of the
    // list could claim ("ωmega (2)" is there already, so the second Omega becomes "(3)").
    EXPECT_EQ(sky::keepApartWhenFolded(
                  {"\u03a9mega", "Word", "\u03c9MEGA", "\u03c9mega (2)", "WORD", "word"}),
              (std::vector<std::string>{"\u03a9mega", "Word", "\u03c9MEGA (3)", "\u03c9mega (2)",
                                        "WORD (2)", "word (3)"}));
    EXPECT_EQ(sky::keepApartWhenFolded({"Stra\u00dfe", "STRASSE"}),
              (std::vector<std::string>{"Stra\u00dfe", "STRASSE"}));
    EXPECT_TRUE(sky::keepApartWhenFolded({}).empty());
}

TEST(CaseFolding, NamesItsRuleAndTheUnicodeVersionOfItsTable) {
    const std::string rule = sky::foldingRule();
    EXPECT_EQ(rule.rfind("simple upper case that comes back, Unicode ", 0), 0u) << rule;
    EXPECT_GT(rule.size(), std::string("simple upper case that comes back, Unicode ").size());
}

} // namespace

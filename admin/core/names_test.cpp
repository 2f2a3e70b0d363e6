#include "core/names.h"

#include <gtest/gtest.h>

#include "sky/text.h"

namespace brask {
namespace {

TEST(NamesTest, ApplicationEntryDropsOnlyTheLeadingPrefix) {
    EXPECT_EQ(applicationEntry(u"Applications/Office/Word"), u"Office\\Word");
    EXPECT_EQ(applicationEntry(u"Applications/Notepad"), u"Notepad");
    EXPECT_EQ(applicationEntry(u"Applications/Tools/Applications/Setup"),
              u"Tools\\Applications\\Setup");
}

TEST(NamesTest, NameWithoutPrefixKeepsEverySegment) {
    EXPECT_EQ(applicationEntry(u"Other/Tool"), u"Other\\Tool");
    EXPECT_EQ(applicationEntry(u"Applications"), u"Applications");
}

TEST(NamesTest, EntryTurnsBackIntoTheDistinguishedName) {
    for (std::u16string dn : {u"Applications/Office/Word", u"Applications/Notepad",
                              u"Applications/Tools/Applications/Setup"}) {
        EXPECT_EQ(applicationDistinguishedName(applicationEntry(dn)), dn);
    }
}

TEST(NamesTest, SortedListIgnoresCaseAndKeepsEqualEntriesInOrder) {
    std::vector<std::u16string> items{u"beta", u"Alpha", u"ALPHA", u"gamma", u"alpha", u"Beta"};
    sortLikeListBox(items);
    EXPECT_EQ(items, (std::vector<std::u16string>{u"Alpha", u"ALPHA", u"alpha", u"beta", u"Beta",
                                                  u"gamma"}));
}

TEST(NamesTest, SortedListFollowsTheWindowsWordSort) {
    std::vector<std::u16string> items{u"Zeta",   u"co-op", u"OfficeXP",     u"alpha",  u"cook",
                                      u"_Setup", u"coop",  u"Office\\Word", u"Cooper", u"1st"};
    sortLikeListBox(items);
    EXPECT_EQ(items,
              (std::vector<std::u16string>{u"_Setup", u"1st", u"alpha", u"cook", u"coop", u"co-op",
                                           u"Cooper", u"Office\\Word", u"OfficeXP", u"Zeta"}));
    EXPECT_TRUE(listBoxLess(u"Office\\Word", u"OfficeXP"));
    EXPECT_FALSE(listBoxLess(u"OfficeXP", u"Office\\Word"));
    EXPECT_FALSE(listBoxLess(u"ZETA", u"zeta")) << "case makes no difference";
    // Punctuation and symbols in Windows' order: "#" < "$" < "_" < "~", and "." before "_".
    items = {u"~tilde", u"_Setup", u"$dollar", u"#hash", u".dot"};
    sortLikeListBox(items);
    EXPECT_EQ(items,
              (std::vector<std::u16string>{u"#hash", u"$dollar", u".dot", u"_Setup", u"~tilde"}));
}

// Names found among a list's entries as equalNoCase finds them (accents and letters beyond the
// first plane too), the first of equal entries answering; each text folded once, so the work
// grows with the entries plus the names, not with their product (a command naming a thousand
// applications of a farm of a hundred thousand compared a hundred million pairs before).
TEST(NamesTest, EntryIndexFindsWithoutRegardToCaseFoldingEachTextOnce) {
    std::vector<std::u16string> entries{u"Office\\Word", u"office\\WORD", u"\u00c9t\u00e9",
                                        u"\U00010428x"};
    for (int i = 0; i < 1000; ++i) {
        entries.push_back(u"Set\\App " + sky::widen(std::to_string(i)));
    }
    EntryIndex index(entries);
    EXPECT_EQ(index.find(u"OFFICE\\word"), 0u);
    EXPECT_EQ(index.find(u"\u00e9T\u00c9"), 2u);
    EXPECT_EQ(index.find(u"\U00010400X"), 3u);
    EXPECT_EQ(index.find(u"set\\app 999"), 1003u);
    EXPECT_EQ(index.find(u"Office\\Word "), std::nullopt);
    EXPECT_EQ(index.find(u""), std::nullopt);
    EXPECT_EQ(index.foldedTexts(), entries.size() + 6);
    for (const std::u16string& entry : entries) {
        EXPECT_TRUE(sky::equalNoCase(entries[*index.find(entry)], entry));
    }
}

} // namespace
} // namespace brask

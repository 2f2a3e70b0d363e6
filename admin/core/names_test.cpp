#include "core/names.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace brask

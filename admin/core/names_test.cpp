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

} // namespace
} // namespace brask

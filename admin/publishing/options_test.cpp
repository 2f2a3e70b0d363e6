// The options editor's number rule and list look-up, and the completion texts of the runs.
#include <gtest/gtest.h>

#include "publishing/options.h"
#include "publishing/runs.h"

namespace brask {
namespace {

TEST(BoxNumber, TakesWholeSixteenBitNumbersAndNothingElse) {
    EXPECT_EQ(parseBoxNumber(u"640"), 640);
    EXPECT_EQ(parseBoxNumber(u"  -32768 "), -32768);
    EXPECT_EQ(parseBoxNumber(u"+32767"), 32767);
    EXPECT_EQ(parseBoxNumber(u"007"), 7);
    for (std::u16string_view wrong :
         {u"32768", u"-32769", u"1.5", u"1e3", u"", u" ", u"-", u"+-1", u"12a", u"1 000", u"1,000",
          u"99999999999999999999999", u"\uff11"}) {
        EXPECT_FALSE(parseBoxNumber(wrong).has_value());
    }
}

TEST(OptionEntries, AreFoundByTextIgnoringCaseOrByPosition) {
    EXPECT_EQ(findOptionEntry(kAudioList, u"audio OFF"), 1);
    EXPECT_EQ(findOptionEntry(kWindowSizeList, u"percent of client desktop..."), 5);
    EXPECT_EQ(findOptionEntry(kWindowSizeList, u"6"), 6);
    EXPECT_EQ(findOptionEntry(kWindowSizeList, u"7"), std::nullopt);
    EXPECT_EQ(findOptionEntry(kWindowSizeList, u"-1"), std::nullopt);
    EXPECT_EQ(findOptionEntry(kWindowSizeList, u"1600x1200"), std::nullopt);
    EXPECT_EQ(findOptionEntry(kEncryptionList, u"RC5 (128-bit)"), 4);
    EXPECT_EQ(findOptionEntry(kEncryptionList, u""), std::nullopt);
    // The value written for an entry is not its position.
    EXPECT_EQ(kAudioList.valueAt(*findOptionEntry(kAudioList, u"Audio on")), 2);
}

TEST(OptionEntries, TheInitialChoicesAreTheDialogs) {
    const OptionValues initial = initialOptionValues();
    EXPECT_EQ(initial.windowColor, 2);
    EXPECT_EQ(initial.windowType, 1);
    EXPECT_EQ(initial.encryption, 1);
    EXPECT_EQ(initial.soundType, 2);
    EXPECT_EQ(initial.windowScale, 90);
    EXPECT_EQ(initial.windowHeight, 480);
    EXPECT_EQ(initial.windowWidth, 640);
}

TEST(CompletionText, CountsAndLostChanges) {
    EXPECT_EQ(completionText(kChangedVerb, 3, kApplicationsUnit), u"Changed  3 applications");
    EXPECT_EQ(completionText(kClonedVerb, 1, kServersUnit), u"Cloned 1 servers");
    EXPECT_EQ(completionText(kPublishCommand.completionVerb, 12, kApplicationsUnit, 10),
              u"Published 12 applications\r\n10 changes could not be saved");
    EXPECT_EQ(completionText(kUnpublishCommand.completionVerb, 0, kApplicationsUnit, 0),
              u"Unpublished 0 applications");
}

} // namespace
} // namespace brask

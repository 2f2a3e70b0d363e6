#include "core/messages.h"

#include <gtest/gtest.h>

namespace brask {
namespace {

const std::u16string kBlanks80(80, u' ');

TEST(MessagesTest, UnexpectedErrorReportLaysOutEveryLine) {
    EXPECT_EQ(unexpectedErrorText(-2147467259, u"Unspecified failure"),
              kBlanks80 + u"\rUnexpected error.\r\r\r     Error :-2147467259\r\r"
                          u"     Unspecified failure\r");
}

TEST(MessagesTest, UnexpectedErrorNumbersAreSignedDecimal) {
    EXPECT_NE(unexpectedErrorText(53, u"File not found").find(u"     Error :53\r"),
              std::u16string::npos);
    // The most negative result code is shown as it is, never in hexadecimal.
    EXPECT_NE(unexpectedErrorText(INT32_MIN, u"x").find(u"Error :-2147483648\r"),
              std::u16string::npos);
}

TEST(MessagesTest, EmptyDescriptionKeepsItsLine) {
    EXPECT_EQ(unexpectedErrorText(-1, u""),
              kBlanks80 + u"\rUnexpected error.\r\r\r     Error :-1\r\r     \r");
}

TEST(MessagesTest, RefusalText) {
    EXPECT_EQ(refusalText(), kBlanks80 + u"\r     You must be a Vantor administrator.\r\r\r");
}

TEST(MessagesTest, NoticeUsesCarriageReturnAndLineFeed) {
    EXPECT_EQ(noticeText(kNoApplicationsSelected), u"Sorry: \r\nNo Applications Selected");
    EXPECT_EQ(noticeText(kNoServerSelected), u"Sorry: \r\nNo Server Selected");
}

} // namespace
} // namespace brask

#include "core/messages.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "sky/messagebox.h"

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

// The boxes as the platform receives them: icon, title, text and a single OK button.
TEST(MessagesTest, BoxesGoThroughThePlatformsMessageBox) {
    sky::RecordingPresenter recorder;
    sky::ScopedMessageBoxPresenter installed(recorder);
    const auto owner = reinterpret_cast<HWND>(0x1234);

    showUnexpectedError(owner, -2147467259, u"Unspecified failure");
    showRefusal(nullptr);
    showNotice(owner, kNoApplicationsSelected, kPublishTitle);
    showNotice(owner, kNoServerSelected, kCloneTitle);

    const auto boxes = recorder.boxes();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].owner, owner);
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[0].type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].text, unexpectedErrorText(-2147467259, u"Unspecified failure"));

    EXPECT_EQ(boxes[1].owner, nullptr);
    EXPECT_EQ(boxes[1].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[1].caption, u"Error");
    EXPECT_EQ(boxes[1].text, refusalText());

    EXPECT_EQ(boxes[2].icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(boxes[2].type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes[2].caption, u"Publish");
    EXPECT_EQ(boxes[2].text, u"Sorry: \r\nNo Applications Selected");
    EXPECT_EQ(boxes[3].caption, u"Clone");
    EXPECT_EQ(boxes[3].text, u"Sorry: \r\nNo Server Selected");
}

} // namespace
} // namespace brask

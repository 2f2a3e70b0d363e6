#include "core/console_feedback.h"

#include <sstream>

#include <gtest/gtest.h>

#include "core/messages.h"

namespace brask {
namespace {

TEST(ConsoleFeedbackTest, BoxTextsBecomeLines) {
    EXPECT_EQ(consoleText(u"a\rb\r\nc"), "a\nb\nc\n");
    EXPECT_EQ(consoleText(u"a\r\r"), "a\n\n");
    EXPECT_EQ(consoleText(u""), "\n");
    EXPECT_EQ(consoleText(u"Gr\u00fc\u00dfe"), "Gr\xc3\xbc\xc3\x9f"
                                               "e\n");
}

TEST(ConsoleFeedbackTest, ErrorReportKeepsTheBoxLayout) {
    std::ostringstream errors;
    ConsoleFeedback feedback(errors, false);
    feedback.reportError(-2147467259, u"Unspecified failure");
    const std::string box(80, ' ');
    EXPECT_EQ(errors.str(), box + "\nUnexpected error.\n\n\n     Error :-2147467259\n\n"
                                  "     Unspecified failure\n");
}

TEST(ConsoleFeedbackTest, NoticeNamesItsTitle) {
    std::ostringstream errors;
    ConsoleFeedback feedback(errors, false);
    feedback.notice(kNoServerSelected, kCloneTitle);
    EXPECT_EQ(errors.str(), "Clone: Sorry: \nNo Server Selected\n");
}

TEST(ConsoleFeedbackTest, ProgressOnlyWhenAskedAndOnlyOnChange) {
    std::ostringstream quiet;
    ConsoleFeedback silent(quiet, false);
    silent.progress(50);
    silent.progressDone();
    EXPECT_EQ(quiet.str(), "");

    std::ostringstream shown;
    ConsoleFeedback terminal(shown, true);
    terminal.progress(0);
    terminal.progress(0.2f);
    terminal.progress(33);
    terminal.progressDone();
    EXPECT_EQ(shown.str(), "\r0%\r33%\r    \r");
}

TEST(ConsoleFeedbackTest, StatusLinesOnlyOnATerminal) {
    std::ostringstream quiet;
    ConsoleFeedback piped(quiet, false);
    piped.status(u"Office/Word");
    EXPECT_EQ(quiet.str(), "");

    std::ostringstream shown;
    ConsoleFeedback terminal(shown, true);
    terminal.status(u"");
    terminal.status(u"Office/Word");
    terminal.status(u"Caf\u00e9");
    EXPECT_EQ(shown.str(), "Office/Word\nCaf\xc3\xa9\n");
}

} // namespace
} // namespace brask

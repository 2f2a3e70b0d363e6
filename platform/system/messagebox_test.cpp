#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "sky/messagebox.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/winuser.h"

namespace {

HWND window(std::uintptr_t value) {
    return reinterpret_cast<HWND>(value);
}

} // namespace

TEST(MessageBox, GoesToTheInstalledPresenter) {
    sky::RecordingPresenter recorder;
    sky::ScopedMessageBoxPresenter scope(recorder);
    const std::u16string refusal =
        std::u16string(80, u' ') + u"\r     You must be a Vantor administrator.\r\r\r";
    EXPECT_EQ(MessageBoxW(window(0x1234), refusal.c_str(), u"Error", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, u"Sorry: \r\nNo Server Selected", u"Clone",
                          MB_OK | MB_ICONINFORMATION | MB_APPLMODAL),
              IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_OK), IDOK);

    const auto boxes = recorder.boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].owner, window(0x1234));
    EXPECT_EQ(boxes[0].icon, MB_ICONHAND);
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].text, refusal) << "the text exactly as given, CRs and blanks included";
    EXPECT_EQ(boxes[1].icon, MB_ICONASTERISK);
    EXPECT_EQ(boxes[1].caption, u"Clone");
    EXPECT_EQ(boxes[2].caption, u"Error") << "a NULL caption is \"Error\"";
    EXPECT_EQ(boxes[2].text, u"");
}

TEST(MessageBox, AnswersWithTheDefaultOrAChosenButton) {
    sky::RecordingPresenter recorder;
    sky::ScopedMessageBoxPresenter scope(recorder);
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"q", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"q", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"q", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"q", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"q", MB_ABORTRETRYIGNORE | MB_DEFBUTTON3), IDIGNORE);
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"q", MB_OK | MB_DEFBUTTON2), IDOK)
        << "a default beyond the last button falls back to the first";
    recorder.answerWith(IDRETRY);
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"q", MB_RETRYCANCEL | MB_ICONEXCLAMATION), IDRETRY);
    EXPECT_EQ(recorder.boxes().back().icon, MB_ICONWARNING);

    EXPECT_EQ(sky::messageBoxButtons(MB_CANCELTRYCONTINUE),
              (std::vector<int>{IDCANCEL, IDTRYAGAIN, IDCONTINUE}));
    const std::size_t before = recorder.boxes().size();
    SetLastError(0);
    EXPECT_EQ(MessageBoxW(nullptr, u"?", u"q", 7), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MSGBOX_STYLE));
    EXPECT_EQ(recorder.boxes().size(), before) << "a bad style shows nothing";
}

TEST(MessageBox, PresentersNestAndComeBack) {
    sky::RecordingPresenter outer(IDCANCEL);
    sky::RecordingPresenter inner(IDNO);
    {
        sky::ScopedMessageBoxPresenter outerScope(outer);
        {
            sky::ScopedMessageBoxPresenter innerScope(inner);
            EXPECT_EQ(MessageBoxW(nullptr, u"a", u"b", MB_YESNO), IDNO);
        }
        // A box from another thread reaches the same presenter.
        int answer = 0;
        std::thread([&] { answer = MessageBoxW(nullptr, u"c", u"d", MB_OKCANCEL); }).join();
        EXPECT_EQ(answer, IDCANCEL);
    }
    EXPECT_EQ(inner.boxes().size(), 1u);
    ASSERT_EQ(outer.boxes().size(), 1u);
    EXPECT_EQ(outer.boxes()[0].text, u"c");
    EXPECT_EQ(sky::setMessageBoxPresenter(nullptr), nullptr) << "the console presenter is back";
}

TEST(MessageBox, ConsolePresenterWritesToStandardError) {
    ::testing::internal::CaptureStderr();
    const int answer = MessageBoxW(nullptr, u"     Error :53\r\r     File not found\r", u"Error",
                                   MB_YESNO | MB_DEFBUTTON2 | MB_ICONSTOP);
    const std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(written, "Error\n     Error :53\n\n     File not found\n\n");
}

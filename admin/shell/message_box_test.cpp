#include "shell/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <windows.h>

#include "shell/busy_cursor.h"
#include "shell/qt_test_app.h"

namespace brask {
namespace {

class MessageBoxTest : public ::testing::Test {
protected:
    MessageBoxTest() { testing::qtTestApp(); }
};

// Presses the button with this text on the next modal box, once it is open.
void pressOnNextBox(const QString& buttonText) {
    QTimer::singleShot(0, [buttonText] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text().remove('&') == buttonText) {
                button->click();
                return;
            }
        }
        ADD_FAILURE() << "no button " << buttonText.toStdString();
        box->reject();
    });
}

TEST_F(MessageBoxTest, BuildsTheBoxThePlatformAsksFor) {
    auto error = buildMessageBox(nullptr, u"a\rb\r\nc", u"Error", MB_OK | MB_ICONERROR);
    EXPECT_EQ(error->windowTitle(), "Error");
    EXPECT_EQ(error->text(), "a\nb\nc");
    EXPECT_EQ(error->icon(), QMessageBox::Critical);
    ASSERT_EQ(error->buttons().size(), 1);
    EXPECT_EQ(error->buttons()[0]->property("answer").toInt(), IDOK);

    auto notice = buildMessageBox(nullptr, u"x", u"Clone", MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(notice->icon(), QMessageBox::Information);

    auto question =
        buildMessageBox(nullptr, u"?", u"Q", MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
    EXPECT_EQ(question->icon(), QMessageBox::Question);
    EXPECT_EQ(question->buttons().size(), 3);
    EXPECT_EQ(question->defaultButton()->property("answer").toInt(), IDNO);
    EXPECT_EQ(question->escapeButton()->property("answer").toInt(), IDCANCEL);
}

TEST_F(MessageBoxTest, MessageBoxWShowsAQtBoxAndReturnsTheButtonPressed) {
    QtMessageBoxPresenter presenter;
    sky::ScopedMessageBoxPresenter installed(presenter);
    pressOnNextBox("OK");
    EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", MB_OK), IDOK);
    pressOnNextBox("No");
    EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", MB_YESNO), IDNO);
}

TEST_F(MessageBoxTest, TheHourglassGivesWayToTheArrowWhileABoxIsOpen) {
    QtMessageBoxPresenter presenter;
    sky::ScopedMessageBoxPresenter installed(presenter);
    BusyCursor busy;
    Qt::CursorShape overBox = Qt::WaitCursor;
    QTimer::singleShot(0, [&overBox] {
        overBox = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                 : Qt::BlankCursor;
    });
    pressOnNextBox("OK");
    EXPECT_EQ(MessageBoxW(nullptr, u"report", u"Error", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(overBox, Qt::ArrowCursor);
    // The operation goes on under the hourglass.
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

TEST_F(MessageBoxTest, OwnerIsFoundAgainFromItsHandle) {
    QWidget owner;
    const HWND handle = platformHandle(&owner);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(windowFromHandle(handle), &owner);
    EXPECT_EQ(windowFromHandle(nullptr), nullptr);
    auto box = buildMessageBox(windowFromHandle(handle), u"", u"", MB_OK);
    EXPECT_EQ(box->parentWidget(), &owner);
}

} // namespace
} // namespace brask

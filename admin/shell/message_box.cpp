#include "shell/message_box.h"

#include <QAbstractButton>
#include <QPushButton>

#include "shell/busy_cursor.h"
#include "shell/look.h"

namespace brask {

namespace {

constexpr char kAnswerProperty[] = "answer";

QMessageBox::Icon iconOf(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONASTERISK:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The buttons MessageBoxW can ask for: a standard Qt button, or a caption of its own.
struct AnswerButton {
    int answer;
    QMessageBox::StandardButton standard;
    const char* caption;
};

constexpr AnswerButton kAnswerButtons[] = {
    {IDOK, QMessageBox::Ok, nullptr},
    {IDCANCEL, QMessageBox::Cancel, nullptr},
    {IDABORT, QMessageBox::Abort, nullptr},
    {IDRETRY, QMessageBox::Retry, nullptr},
    {IDIGNORE, QMessageBox::Ignore, nullptr},
    {IDYES, QMessageBox::Yes, nullptr},
    {IDNO, QMessageBox::No, nullptr},
    {IDTRYAGAIN, QMessageBox::NoButton, "&Try Again"},
    {IDCONTINUE, QMessageBox::NoButton, "&Continue"},
};

QAbstractButton* addAnswer(QMessageBox& box, int answer) {
    for (const AnswerButton& known : kAnswerButtons) {
        if (known.answer != answer) {
            continue;
        }
        QAbstractButton* button = known.caption
                                      ? box.addButton(known.caption, QMessageBox::AcceptRole)
                                      : box.addButton(known.standard);
        button->setProperty(kAnswerProperty, answer);
        return button;
    }
    return nullptr;
}

} // namespace

HWND platformHandle(QWidget* widget) {
    return widget ? reinterpret_cast<HWND>(widget->window()->winId()) : nullptr;
}

QWidget* windowFromHandle(HWND handle) {
    return handle ? QWidget::find(reinterpret_cast<WId>(handle)) : nullptr;
}

QString messageBoxLines(std::u16string_view text) {
    QString lines = QString::fromStdU16String(std::u16string(text));
    lines.replace("\r\n", "\n");
    lines.replace('\r', '\n');
    return lines;
}

std::unique_ptr<QMessageBox> buildMessageBox(QWidget* owner, std::u16string_view text,
                                             std::u16string_view caption, UINT type) {
    auto box = std::make_unique<QMessageBox>(owner);
    box->setObjectName("MessageBox");
    box->setFont(formFont());
    box->setWindowTitle(QString::fromStdU16String(std::u16string(caption)));
    box->setTextFormat(Qt::PlainText);
    box->setText(messageBoxLines(text));
    box->setIcon(iconOf(type));
    const int defaultAnswer = sky::messageBoxDefaultButton(type);
    for (int answer : sky::messageBoxButtons(type)) {
        QAbstractButton* button = addAnswer(*box, answer);
        if (answer == defaultAnswer) {
            box->setDefaultButton(qobject_cast<QPushButton*>(button));
        }
        if (answer == IDCANCEL) {
            box->setEscapeButton(button);
        }
    }
    return box;
}

int messageBoxAnswer(const QMessageBox& box, UINT type) {
    if (const QAbstractButton* clicked = box.clickedButton()) {
        return clicked->property(kAnswerProperty).toInt();
    }
    return sky::messageBoxDefaultButton(type);
}

int QtMessageBoxPresenter::show(HWND owner, std::u16string_view text, std::u16string_view caption,
                                UINT type) {
    std::unique_ptr<QMessageBox> box =
        buildMessageBox(windowFromHandle(owner), text, caption, type);
    ArrowPointer arrow;
    box->exec();
    return messageBoxAnswer(*box, type);
}

} // namespace brask

// The platform's message boxes (MessageBoxW) shown as Qt message boxes: the text with its carriage
// returns as line breaks, the caption as title, the icon and the buttons the type asks for.
#pragma once

#include <memory>
#include <string_view>

#include <QMessageBox>

#include "sky/messagebox.h"

namespace brask {

// The handle that names a window to the platform (a message box's owner), and back.
HWND platformHandle(QWidget* widget);
QWidget* windowFromHandle(HWND handle);

// A message box text as Qt lays it out: carriage return, or carriage return and line feed, becomes
// a line break.
QString messageBoxLines(std::u16string_view text);

// The box for a MessageBoxW request. Each button carries, in its "answer" property, the value
// MessageBoxW returns for it (IDOK, IDCANCEL, ...).
std::unique_ptr<QMessageBox> buildMessageBox(QWidget* owner, std::u16string_view text,
                                             std::u16string_view caption, UINT type);

// The answer of a box that has been closed: its clicked button's, or its default button's when it
// was closed another way.
int messageBoxAnswer(const QMessageBox& box, UINT type);

// Shows every MessageBoxW of the process as a modal Qt message box.
class QtMessageBoxPresenter final : public sky::MessageBoxPresenter {
public:
    int show(HWND owner, std::u16string_view text, std::u16string_view caption, UINT type) override;
};

} // namespace brask

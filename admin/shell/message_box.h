// The platform's message box, shown as a Qt message box: the text with its carriage returns as
// line breaks, the caption as title, the icon and the single OK button.
#pragma once

#include <memory>
#include <string_view>

#include <QMessageBox>

namespace brask {

// A message box text as Qt lays it out: carriage return, or carriage return and line feed, becomes
// a line break.
QString messageBoxLines(std::u16string_view text);

std::unique_ptr<QMessageBox> buildMessageBox(QWidget* owner, std::u16string_view text,
                                             std::u16string_view caption, QMessageBox::Icon icon);

} // namespace brask

#include "shell/message_box.h"

#include "shell/look.h"

namespace brask {

QString messageBoxLines(std::u16string_view text) {
    QString lines = QString::fromStdU16String(std::u16string(text));
    lines.replace("\r\n", "\n");
    lines.replace('\r', '\n');
    return lines;
}

std::unique_ptr<QMessageBox> buildMessageBox(QWidget* owner, std::u16string_view text,
                                             std::u16string_view caption, QMessageBox::Icon icon) {
    auto box =
        std::make_unique<QMessageBox>(icon, QString::fromStdU16String(std::u16string(caption)),
                                      messageBoxLines(text), QMessageBox::Ok, owner);
    box->setObjectName("MessageBox");
    box->setTextFormat(Qt::PlainText);
    box->setFont(formFont());
    return box;
}

} // namespace brask

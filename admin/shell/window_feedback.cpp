#include "shell/window_feedback.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>

#include "core/messages.h"
#include "shell/message_box.h"

namespace brask {

void MessageBoxFeedback::reportError(std::int32_t number, std::u16string_view description) {
    showUnexpectedError(platformHandle(owner_), number, description);
}

void MessageBoxFeedback::notice(std::u16string_view reason, std::u16string_view title) {
    showNotice(platformHandle(owner_), reason, title);
}

void StatusFeedback::progress(float value) {
    bar_->setValue(static_cast<int>(value));
    bar_->show();
    // The command runs inside one event: paint the bar now.
    bar_->repaint();
}

void StatusFeedback::progressDone() {
    bar_->setValue(0);
    bar_->hide();
}

void StatusFeedback::status(std::u16string_view text) {
    if (!label_) {
        return;
    }
    label_->setText(QString::fromStdU16String(std::u16string(text)));
    label_->setVisible(!text.empty());
    label_->repaint();
}

} // namespace brask

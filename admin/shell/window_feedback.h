// Feedback for the windows: reports and notices as message boxes owned by a window, progress and
// status in a window's own controls.
#pragma once

#include "core/feedback.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace brask {

// Reports and notices as message boxes owned by `owner`; no progress or status display.
class MessageBoxFeedback : public Feedback {
public:
    explicit MessageBoxFeedback(QWidget* owner) : owner_(owner) {}

    void progress(float) override {}
    void progressDone() override {}
    void status(std::u16string_view) override {}
    void reportError(std::int32_t number, std::u16string_view description) override;
    void notice(std::u16string_view reason, std::u16string_view title) override;

private:
    QWidget* owner_;
};

// The same, with progress in a progress bar and status in a label (if any), both shown while in
// use.
class StatusFeedback final : public MessageBoxFeedback {
public:
    StatusFeedback(QWidget* owner, QProgressBar* bar, QLabel* label)
        : MessageBoxFeedback(owner), bar_(bar), label_(label) {}

    void progress(float value) override;
    void progressDone() override;
    void status(std::u16string_view text) override;

private:
    QProgressBar* bar_;
    QLabel* label_;
};

} // namespace brask

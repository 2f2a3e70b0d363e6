#include "core/console_feedback.h"

#include <cmath>
#include <ostream>

#include "core/messages.h"
#include "sky/text.h"

namespace brask {

std::string consoleText(std::u16string_view boxText) {
    std::u16string lines;
    lines.reserve(boxText.size() + 1);
    for (std::size_t i = 0; i < boxText.size(); ++i) {
        if (boxText[i] == u'\r') {
            lines += u'\n';
            if (i + 1 < boxText.size() && boxText[i + 1] == u'\n') {
                ++i;
            }
        } else {
            lines += boxText[i];
        }
    }
    if (lines.empty() || lines.back() != u'\n') {
        lines += u'\n';
    }
    return sky::narrow(lines);
}

ConsoleFeedback::ConsoleFeedback(std::ostream& errors, bool showProgress)
    : errors_(errors), showProgress_(showProgress) {}

void ConsoleFeedback::progress(float value) {
    const int percent = static_cast<int>(std::lround(value));
    if (!showProgress_ || percent == shownPercent_) {
        return;
    }
    shownPercent_ = percent;
    errors_ << '\r' << percent << '%' << std::flush;
}

void ConsoleFeedback::progressDone() {
    if (shownPercent_ >= 0) {
        errors_ << "\r    \r" << std::flush;
    }
    shownPercent_ = -1;
}

void ConsoleFeedback::status(std::u16string_view text) {
    if (showProgress_ && !text.empty()) {
        errors_ << consoleText(text);
    }
}

void ConsoleFeedback::reportError(std::int32_t number, std::u16string_view description) {
    progressDone();
    errors_ << consoleText(unexpectedErrorText(number, description));
}

void ConsoleFeedback::notice(std::u16string_view reason, std::u16string_view title) {
    progressDone();
    errors_ << sky::narrow(title) << ": " << consoleText(noticeText(reason));
}

} // namespace brask

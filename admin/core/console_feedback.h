// Feedback for the command-line mode: reports and notices go to the error stream with the message
// boxes' own texts, each line break (carriage return, or carriage return and line feed) written as
// a line feed. On a terminal (when asked for) progress is shown as a percentage that rewrites
// itself and each status text as a line of its own; otherwise neither is shown.
#pragma once

#include <iosfwd>
#include <string>

#include "core/feedback.h"

namespace brask {

// A message box text as a console shows it: UTF-8 with line feeds, ending in a line feed.
std::string consoleText(std::u16string_view boxText);

class ConsoleFeedback final : public Feedback {
public:
    ConsoleFeedback(std::ostream& errors, bool showProgress);

    void progress(float value) override;
    void progressDone() override;
    void status(std::u16string_view text) override;
    void reportError(std::int32_t number, std::u16string_view description) override;
    void notice(std::u16string_view reason, std::u16string_view title) override;

private:
    std::ostream& errors_;
    bool showProgress_;
    int shownPercent_ = -1;
};

} // namespace brask

// How a running command tells the user what it is doing: a progress value, a status line, the
// unexpected-error report and the nothing-selected notice. The main window shows them in its
// progress bar, status label and message boxes; the command-line mode writes them to its streams.
#pragma once

#include <cstdint>
#include <string_view>

namespace brask {

class Feedback {
public:
    // Shows the progress of a loop, 0 to 100.
    virtual void progress(float value) = 0;
    // The loop is over: the progress display goes away and its value returns to 0.
    virtual void progressDone() = 0;
    // A one-line status text; empty hides it.
    virtual void status(std::u16string_view text) = 0;
    // The unexpected-error report for a failure with this number and description.
    virtual void reportError(std::int32_t number, std::u16string_view description) = 0;
    // The nothing-selected notice with this reason and title.
    virtual void notice(std::u16string_view reason, std::u16string_view title) = 0;

protected:
    ~Feedback() = default;
};

} // namespace brask

// The error path of an operation: the first failure, of the object model (sky::ComError) or of the
// tool itself (ToolError), abandons the rest and shows the unexpected-error report once.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "core/feedback.h"
#include "sky/com_error.h"

namespace brask {

// The number a file dialog raises when the user cancels it: the command ends without a report.
inline constexpr std::int32_t kCancelError = 32755;

// A failure of the tool's own, such as a program that cannot be started: the number and the text
// the report shows.
class ToolError : public std::exception {
public:
    ToolError(std::int32_t number, std::u16string description);

    std::int32_t number() const noexcept { return number_; }
    const std::u16string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::int32_t number_;
    std::u16string description_;
    std::string what_;
};

// Runs `operation`; a sky::ComError or ToolError ends it with the unexpected-error report through
// `feedback`, except a cancelled dialog (kCancelError), which ends it silently. True when the
// operation ran to its end. `lastLine()`, asked when the operation failed, is what it did before
// the failure: when not empty, the report ends with it, after a blank line.
template <class LastLine, class Operation>
bool withErrorPath(Feedback& feedback, LastLine&& lastLine, Operation&& operation) {
    const auto report = [&](std::int32_t number, std::u16string_view description) {
        const std::u16string done = lastLine();
        if (done.empty()) {
            feedback.reportError(number, description);
        } else {
            feedback.reportError(number, std::u16string(description) + u"\r\r     " + done);
        }
    };
    try {
        operation();
        return true;
    } catch (const sky::ComError& error) {
        report(error.result(), error.description());
    } catch (const ToolError& error) {
        if (error.number() != kCancelError) {
            report(error.number(), error.description());
        }
    }
    return false;
}

template <class Operation> bool withErrorPath(Feedback& feedback, Operation&& operation) {
    return withErrorPath(
        feedback, [] { return std::u16string(); }, std::forward<Operation>(operation));
}

} // namespace brask

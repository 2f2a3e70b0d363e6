#include "core/messages.h"

#include <windows.h>

namespace brask {

namespace {

// The first line of the error boxes: it only makes the box wide.
const std::u16string kWideLine(80, u' ');

std::u16string decimal(std::int64_t number) {
    std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

} // namespace

std::u16string unexpectedErrorText(std::int32_t number, std::u16string_view description) {
    std::u16string text = kWideLine;
    text += u"\rUnexpected error.\r\r\r";
    text += u"     Error :" + decimal(number) + u"\r\r";
    text += u"     ";
    text += description;
    text += u"\r";
    return text;
}

std::u16string stoppedText(std::size_t done, std::optional<std::size_t> steps,
                           std::u16string_view unit, std::size_t lostChanges) {
    std::u16string text = u"Done before the error: " + decimal(static_cast<std::int64_t>(done));
    if (steps) {
        text += u" of " + decimal(static_cast<std::int64_t>(*steps));
    }
    text += unit;
    if (lostChanges > 0) {
        text += u" (" + decimal(static_cast<std::int64_t>(lostChanges)) +
                u" changes could not be saved)";
    }
    return text;
}

std::u16string refusalText() {
    return kWideLine + u"\r     You must be a Vantor administrator.\r\r\r";
}

std::u16string noticeText(std::u16string_view reason) {
    std::u16string text = u"Sorry: \r\n";
    text += reason;
    return text;
}

void showUnexpectedError(HWND owner, std::int32_t number, std::u16string_view description) {
    const std::u16string text = unexpectedErrorText(number, description);
    const std::u16string title(kErrorTitle);
    MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

void showRefusal(HWND owner) {
    const std::u16string text = refusalText();
    const std::u16string title(kErrorTitle);
    MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

void showNotice(HWND owner, std::u16string_view reason, std::u16string_view title) {
    const std::u16string text = noticeText(reason);
    const std::u16string caption(title);
    MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

} // namespace brask

// The tool's three kinds of message box: the unexpected-error report, the administrator refusal and
// the nothing-selected notice. Each is a platform message box with a single OK button; the texts
// are built here once, so that the windows and the command-line mode say the same thing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "win/types.h"

namespace brask {

// Titles and reasons of the nothing-selected notice.
inline constexpr std::u16string_view kErrorTitle = u"Error";
inline constexpr std::u16string_view kPublishTitle = u"Publish";
inline constexpr std::u16string_view kCloneTitle = u"Clone";
inline constexpr std::u16string_view kNoApplicationsSelected = u"No Applications Selected";
inline constexpr std::u16string_view kNoServerSelected = u"No Server Selected";

// A line of 80 blanks, a carriage return, "Unexpected error.", two empty lines, "     Error :" with
// the number in signed decimal, an empty line, five blanks and the description, and a final
// carriage return. Lines end in a carriage return alone.
std::u16string unexpectedErrorText(std::int32_t number, std::u16string_view description);

// What a run that a failure ended did before it, the report's last line: "Done before the error:
// 1816 of 6000 pairs" (without " of N" when the run did not know its length beforehand) and, when
// changes were lost on the way, " (2 changes could not be saved)". `unit` is " pairs",
// " servers" or " applications".
inline constexpr std::u16string_view kApplicationsUnit = u" applications";
std::u16string stoppedText(std::size_t done, std::optional<std::size_t> steps,
                           std::u16string_view unit, std::size_t lostChanges);

// The line of 80 blanks, then "     You must be a Vantor administrator." and three carriage
// returns.
std::u16string refusalText();

// "Sorry: ", carriage return and line feed, then the reason.
std::u16string noticeText(std::u16string_view reason);

// The boxes themselves, through the platform's MessageBoxW, owned by `owner` (may be null). Each
// has one OK button and returns when the user presses it.
void showUnexpectedError(HWND owner, std::int32_t number, std::u16string_view description);
void showRefusal(HWND owner);
void showNotice(HWND owner, std::u16string_view reason, std::u16string_view title);

} // namespace brask

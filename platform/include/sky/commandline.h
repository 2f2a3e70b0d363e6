// Windows command lines: splitting by the rules of CommandLineToArgvW and of a C program's
// start-up, and quoting arguments so that either splitting gives them back.
//
// Rules, after the program name:
//   - blanks (space, tab) outside quotes separate arguments; "" makes an empty argument;
//   - 2n backslashes before a quote give n backslashes and the quote opens or closes quoting;
//     2n+1 backslashes before a quote give n backslashes and a literal quote;
//     backslashes anywhere else are literal;
//   - inside quotes, "" gives a literal quote; then CommandLineToArgvW ends the quoting
//     (`exe "two""quotes next` is `two"quotes`, `next`; three quotes in a row are one literal
//     quote wherever they stand), while the C runtime's start-up, which makes a program's argv,
//     goes on quoting (`two"quotes next`).
// The program name (first argument) follows a simpler rule: if it starts with a quote it runs to
// the next quote, else to the first blank; backslashes are literal and it is never escaped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sky/export.h"

namespace sky {

// What a doubled quote inside quotes does after giving its literal quote (see above).
enum class DoubledQuote {
    EndsQuoting,  // CommandLineToArgvW
    KeepsQuoting, // the C runtime's argv of a started program
};

// The arguments of a command line; an empty (or all-blank after the program name) line gives
// just the program name, an empty line gives nothing.
SKY_API std::vector<std::u16string> splitCommandLine(std::u16string_view commandLine,
                                                     DoubledQuote rule = DoubledQuote::EndsQuoting);

// One argument (not the program name) in the form that splitCommandLine reads back by either
// rule (a quote in it is always written with a backslash, never doubled).
SKY_API std::u16string quoteArgument(std::u16string_view argument);

// The program name in the form the program-name rule reads back: quoted when it holds a blank.
// A quote cannot appear in a program name and is dropped.
SKY_API std::u16string quoteProgramName(std::u16string_view program);

// A whole command line: the program name, then each argument quoted, separated by one blank.
SKY_API std::u16string joinCommandLine(const std::vector<std::u16string>& arguments);

} // namespace sky

// Windows command lines: splitting by the rules of CommandLineToArgvW and quoting arguments so
// that splitting gives them back.
//
// Rules, after the program name:
//   - blanks (space, tab) outside quotes separate arguments; "" makes an empty argument;
//   - 2n backslashes before a quote give n backslashes and the quote opens or closes quoting;
//     2n+1 backslashes before a quote give n backslashes and a literal quote;
//     backslashes anywhere else are literal;
//   - inside quotes, "" gives a literal quote and quoting continues.
// The program name (first argument) follows a simpler rule: if it starts with a quote it runs to
// the next quote, else to the first blank; backslashes are literal and it is never escaped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sky/export.h"

namespace sky {

// The arguments of a command line; an empty (or all-blank after the program name) line gives
// just the program name, an empty line gives nothing.
SKY_API std::vector<std::u16string> splitCommandLine(std::u16string_view commandLine);

// One argument (not the program name) in the form that splitCommandLine reads back.
SKY_API std::u16string quoteArgument(std::u16string_view argument);

// The program name in the form the program-name rule reads back: quoted when it holds a blank.
// A quote cannot appear in a program name and is dropped.
SKY_API std::u16string quoteProgramName(std::u16string_view program);

// A whole command line: the program name, then each argument quoted, separated by one blank.
SKY_API std::u16string joinCommandLine(const std::vector<std::u16string>& arguments);

} // namespace sky

// What reg says to a person, and the yes/no questions it asks. Text goes out as UTF-8; errors
// go to standard error. Each function that ends an operation returns its exit code.
#pragma once

#include <string>
#include <string_view>

#include "win/types.h"

namespace reg {

void say(std::u16string_view line);

// "The operation completed successfully."; 0.
int succeeded();
// The text for a registry error code ("Access is denied.").
std::u16string errorText(LONG code);
// "ERROR: " and the text for a registry error code; 1.
int failed(LONG code);
// "ERROR: " and a message; 1.
int failedWith(std::u16string_view message);
// "ERROR: Invalid syntax." and where to find the usage of `operation` (ADD, QUERY, ...); 1.
int invalidSyntax(std::u16string_view operation, std::u16string_view detail = {});
// "ERROR: Invalid key name." and the usage hint; 1.
int invalidKeyName(std::u16string_view operation);
// "The operation was canceled by the user."; 1, since nothing was done.
int canceled();

// Asks `question` followed by " (Yes/No)? " and reads a line from standard input: "y" or "yes"
// in any case is yes; anything else, or no input at all, is no.
bool confirm(std::u16string_view question);

} // namespace reg

// Wide string literals and memory macros as a Unicode build of Windows spells them.
#pragma once

#include <cstring>

// A wide string literal: u"..." here, where WCHAR is char16_t (L"..." on Windows).
#define TEXT(quote) u##quote
#define ZeroMemory(destination, length) std::memset((destination), 0, (length))

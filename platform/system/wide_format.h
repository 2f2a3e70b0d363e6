// The formatting engine behind swprintf_s, _snwprintf, swprintf and wsprintfW.
#pragma once

#include <cstdarg>
#include <string>

#include "win/types.h"

namespace sky {

// The size prefix of a conversion: hh, h, l (32 bits, as Windows' long), ll/I64/q, I32, I/z/j/t
// (pointer size), L (long double), w (wide text).
enum class FormatSize { Default, Char, Short, Long, LongLong, Pointer, LongDouble, Wide };

// Reads a size prefix at p, if any, and returns the position after it.
const WCHAR* parseFormatSize(const WCHAR* p, FormatSize& size);

// va_list is an array type on some targets; a struct lets helpers take it by reference.
struct VarArgs {
    va_list list;
};

// Appends the formatted text to out. Returns false for a format the Windows C library would
// refuse (an unknown conversion, %n); out then holds what was formatted up to that point.
bool formatWide(std::u16string& out, const WCHAR* format, va_list args);

} // namespace sky

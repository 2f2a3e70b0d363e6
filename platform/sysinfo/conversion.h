// Code-page conversion over iconv, without the Win32 buffer rules.
#pragma once

#include <string>
#include <string_view>

#include "win/types.h"

namespace sky::sysinfo {

enum class Conversion {
    Done,
    UnknownCodePage, // no converter for the code page
    InvalidText,     // strict, and the text has what the other side cannot hold
};

// A concrete code page for CP_ACP, CP_OEMCP, CP_THREAD_ACP and CP_MACCP; others stay as they are.
UINT concreteCodePage(UINT codePage);

// Whether text can be converted to and from the (concrete) code page.
bool isConvertible(UINT codePage);

// Bytes -> UTF-16. Undefined sequences become U+FFFD, or with `strict` fail the conversion; but a
// byte 0x80-0x9F that a Windows single-byte code page (874, 1250-1258) leaves undefined is the C1
// control of the same number, both ways, as on Windows.
Conversion decode(UINT codePage, std::string_view bytes, bool strict, std::u16string& text);

// UTF-16 -> bytes. A character the code page lacks (or a lone surrogate) becomes `replacement`
// and sets `replaced`, or with `strict` fails the conversion.
Conversion encode(UINT codePage, std::u16string_view text, std::string_view replacement,
                  bool strict, std::string& bytes, bool& replaced);

} // namespace sky::sysinfo

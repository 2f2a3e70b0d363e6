// Text in the machine's code pages, for files that programs write and read in the system's ANSI
// code page (definition files, snapshots, registry scripts).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "sky/export.h"
#include "win/sysinfo.h"

namespace sky {

// UTF-16 text in a code page: CP_ACP (the machine's ANSI code page), CP_OEMCP, CP_UTF8 or a
// number. A character the code page lacks becomes "?" and sets *lossy. A code page that cannot
// be converted throws std::invalid_argument.
//
// CP_ACP reads the machine's registry on every call; a writer of many lines resolves GetACP()
// once and passes the number.
SKY_API std::string toAnsi(std::u16string_view text, UINT codePage = CP_ACP, bool* lossy = nullptr);

// Bytes in a code page as UTF-16 text. A byte sequence the code page does not define becomes
// U+FFFD.
SKY_API std::u16string fromAnsi(std::string_view bytes, UINT codePage = CP_ACP);

} // namespace sky

// The registry form of a GUID, shared by the identifier functions and activation.
#pragma once

#include <cstddef>

#include "win/guid.h"

namespace sky::automation {

// Characters in "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", without the terminator.
inline constexpr std::size_t guidTextLength = 38;

// Writes the upper-case registry form and a terminator: out holds guidTextLength + 1 characters.
void formatGuid(const GUID& guid, WCHAR* out);

// Parses exactly the braced form (hex in any case, nothing after the closing brace).
bool parseGuid(const WCHAR* text, GUID& guid);

} // namespace sky::automation

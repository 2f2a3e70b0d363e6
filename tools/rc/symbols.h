// Names the resource compiler knows without a #define: language and sublanguage identifiers
// (LANG_ENGLISH, SUBLANG_ENGLISH_US, ...) and the predefined resource types (RT_RCDATA, ...).
#pragma once

#include <optional>
#include <string_view>

#include "win/types.h"

namespace sky::rc {

// The value of a LANG_* or SUBLANG_* name.
std::optional<long> languageSymbol(std::string_view name);

// The number of a predefined resource type, by its RT_ name (RT_RCDATA) or, when `keyword` is
// set, by the statement keyword that a resource script uses (RCDATA, HTML, MANIFEST).
std::optional<WORD> resourceType(std::string_view name, bool keyword = false);

// The RT_ name of a predefined type number, or an empty view.
std::string_view resourceTypeName(WORD type);

} // namespace sky::rc

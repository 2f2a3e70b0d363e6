// Finding one resource in a module: the lookup behind FindResourceExW and LoadStringW.
#pragma once

#include <span>

#include "sky/resources.h"
#include "win/types.h"

namespace sky::module {

// The entry of `entries` (one type and name) that serves `language`:
//   a given language: that language, its primary language with SUBLANG_NEUTRAL and then
//     SUBLANG_DEFAULT, any other language with the same primary language (lowest first), and
//     the neutral languages (LANG_NEUTRAL with SUBLANG_NEUTRAL, _DEFAULT, _SYS_DEFAULT, and
//     LANG_INVARIANT); nothing else.
//   LANG_NEUTRAL (the default search of FindResourceW and LoadStringW): the neutral languages,
//     English (United States), any English, and finally the lowest language present.
const resources::Entry* chooseLanguage(std::span<const resources::Entry> entries, WORD language);

// The resource, or null with the last error set: ERROR_MOD_NOT_FOUND (no such module),
// ERROR_RESOURCE_DATA_NOT_FOUND (a module without resources), ERROR_RESOURCE_TYPE_NOT_FOUND,
// ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_RESOURCE_LANG_NOT_FOUND, ERROR_INVALID_DATA (a damaged
// resource section).
const resources::Entry* findResource(HMODULE module, const resources::ResourceId& type,
                                     const resources::ResourceId& name, WORD language);

} // namespace sky::module

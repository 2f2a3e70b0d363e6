// Where a library name leads: Windows' rules for the default extension and the search order of a
// bare module name, over the machine's drives.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "win/types.h"

namespace sky::module {

// The running program's file.
std::filesystem::path programFile();

// Whether two paths name the same file.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The name as Windows reads it: a last component without an extension gains ".dll"; a trailing
// dot means "no extension" and is dropped.
std::u16string withDefaultExtension(std::u16string_view name);

// Whether the name holds a path (a directory or drive) rather than a bare module name.
bool hasPath(std::u16string_view name);

// The file that a library name (after withDefaultExtension) names. A name with a path is mapped
// to the host as it stands; a bare name is looked for in the program's directory, the current
// directory, the system directory C:\WINDOWS\system32 and then each directory of PATH (Windows
// paths separated by ";"), the first existing file winning. Nullopt with ERROR_MOD_NOT_FOUND when
// nothing is found.
std::optional<std::filesystem::path> locateLibrary(std::u16string_view name, DWORD& error);

} // namespace sky::module

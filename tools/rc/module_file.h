// Reading and writing the resources of module files: a new resource-only module, or the
// resource section of an existing program or module replaced in place.
#pragma once

#include <filesystem>
#include <vector>

#include "sky/resources.h"

namespace sky::rc {

// The resources of a module or program file. Throws std::runtime_error with the reason when the
// file cannot be read, is not a module of this machine, or its resource section is damaged.
std::vector<resources::Resource> readResources(const std::filesystem::path& module);

// Writes a new module that carries `resources` and no code, replacing any file at `path`
// (missing directories are created).
void writeResourceModule(const std::filesystem::path& path,
                         const std::vector<resources::Resource>& resources);

// Adds `added` to the resources of an existing module or program, each one replacing a resource
// of the same type, name and language. The file is replaced as a whole, keeping its permissions,
// so a running program is not disturbed.
void addResources(const std::filesystem::path& module, std::vector<resources::Resource> added);

} // namespace sky::rc

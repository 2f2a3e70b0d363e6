// The modes of a machine's files: who may read and write what (see sky/machine.h).
#pragma once

#include <filesystem>

namespace sky::machine::detail {

// Once per process and machine, when the process runs as the machine's owner: makes the folders
// the machine needs (farms, run) and takes away what strangers could read or users could write.
void secureMachine(const std::filesystem::path& machine);

} // namespace sky::machine::detail

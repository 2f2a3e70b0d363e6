// Starting programs: the platform's own entry points beside CreateProcessW.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sky/export.h"
#include "win/process.h"
#include "win/types.h"

namespace sky {

// Everything CreateProcessW can say about a new process, and what a platform component that
// starts programs (the service manager, say) may add: variables for the child only and host file
// descriptors the child keeps under the same numbers.
struct ProcessLaunch {
    // The program; empty: the first token of commandLine, found as CreateProcessW finds it.
    std::u16string applicationName;
    // The child's command line; none: the application name.
    std::optional<std::u16string> commandLine;
    // The whole environment as NAME=value entries; none: this process's environment.
    std::optional<std::vector<std::u16string>> environment;
    // NAME=value entries set for the child on top of the environment (names ignore case).
    std::vector<std::u16string> environmentOverrides;
    // The child's current directory (Windows path); empty: this process's.
    std::u16string currentDirectory;
    // Host descriptors the child inherits with the same numbers.
    std::vector<int> inheritedDescriptors;
};

// Starts a process as CreateProcessW does. On success fills info (both handles must be closed)
// and returns TRUE; else FALSE with the thread's last error set.
SKY_API BOOL launchProcess(const ProcessLaunch& launch, PROCESS_INFORMATION& info);

// Runs a command line as a shell's program start does: the program is its first token, nothing
// waits for it and no handle is kept. Returns the process id, or 0 with the last error set
// (ERROR_FILE_NOT_FOUND when the program is missing).
SKY_API DWORD startProgram(std::u16string_view commandLine);
// The same with the program named apart from the command line.
SKY_API DWORD startProgram(std::u16string_view applicationPath, std::u16string_view commandLine);

} // namespace sky

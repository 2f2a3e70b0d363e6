// Finding the program CreateProcessW is to start, as Windows finds it, and checking that the file
// is a program.
#pragma once

#include <filesystem>
#include <string_view>

#include "win/types.h"

namespace sky {

struct FoundProgram {
    std::filesystem::path hostPath;
    DWORD error = 0; // ERROR_SUCCESS, ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND
};

// lpApplicationName: a Windows path, relative to the current directory, taken as written.
FoundProgram findApplication(std::u16string_view applicationName);

// The first token of a command line. A quoted token is one name; an unquoted one is tried at each
// blank ("C:\Program Files\x.exe" tries "C:\Program" first). A name without extension gets ".exe"
// (and is then tried as written). A bare name is searched in the calling program's directory, the
// current directory, C:\WINDOWS\system32, C:\WINDOWS\system, C:\WINDOWS and the PATH entries.
FoundProgram findCommandProgram(std::u16string_view commandLine);

// ERROR_SUCCESS for an executable (an ELF program or a "#!" script), ERROR_BAD_EXE_FORMAT for any
// other file (a module, a text file), or the error that kept the file from being read.
DWORD checkExecutable(const std::filesystem::path& path);

} // namespace sky

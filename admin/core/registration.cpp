#include "core/registration.h"

#include <windows.h>

#include "core/runtime_errors.h"
#include "sky/process.h"

namespace brask {

namespace {

constexpr std::u16string_view kProgram = u"\\qvreg.exe";

std::u16string currentDirectory() {
    std::u16string folder(MAX_PATH, u'\0');
    for (;;) {
        const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
        if (length == 0) {
            const DWORD error = GetLastError();
            throw ToolError(static_cast<std::int32_t>(error),
                            sky::resultText(HRESULT_FROM_WIN32(error)));
        }
        if (length < folder.size()) {
            folder.resize(length);
            return folder;
        }
        folder.resize(length);
    }
}

// Runs one command line and waits for it to end, at most kRunTimeoutMs; neither its exit code nor
// a run that outlasts the wait stops the pass-through.
void run(std::u16string_view folder, const std::u16string& commandLine) {
    sky::ProcessLaunch launch;
    launch.applicationName = std::u16string(folder) + std::u16string(kProgram);
    launch.commandLine = commandLine;
    PROCESS_INFORMATION info{};
    if (sky::launchProcess(launch, info)) {
        WaitForSingleObject(info.hProcess, kRunTimeoutMs);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        throw runtimeError(kFileNotFound);
    }
    throw ToolError(static_cast<std::int32_t>(error), sky::resultText(HRESULT_FROM_WIN32(error)));
}

} // namespace

std::u16string unregisterCommandLine(std::u16string_view folder, std::u16string_view server) {
    return std::u16string(folder) + std::u16string(kProgram) + u" /u" + std::u16string(server);
}

std::u16string registerCommandLine(std::u16string_view folder, std::u16string_view server) {
    return std::u16string(folder) + std::u16string(kProgram) + u" " + std::u16string(server);
}

void reregisterForServer(std::u16string_view server) {
    const std::u16string folder = currentDirectory();
    run(folder, unregisterCommandLine(folder, server));
    run(folder, registerCommandLine(folder, server));
}

} // namespace brask

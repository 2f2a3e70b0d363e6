// skytest_service: a service program for the service manager's tests.
//
//   skytest_service [--exit-code N] [--specific N] [--record FILE] [--no-dispatcher]
//                   [--slow-stop MS]
//
// Started as a service it registers its handler, reports START_PENDING and then RUNNING
// (accepting stop and shutdown), appends what happens to FILE ("main <args>", "control <code>",
// "stopped"), and on stop or shutdown reports STOP_PENDING and then STOPPED with the given exit
// codes. Interrogation and other codes only report. --no-dispatcher ends at once with exit code 7
// without connecting; started by hand it prints the dispatcher's error and exits with it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "win/service.h"

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
HANDLE stopEvent = nullptr;
DWORD exitCode = 0;
DWORD specificCode = 0;
DWORD slowStop = 0;
std::string recordFile;

void note(const std::string& line) {
    if (recordFile.empty())
        return;
    if (FILE* f = std::fopen(recordFile.c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

void WINAPI handler(DWORD control) {
    note("control " + std::to_string(control));
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        status.dwCurrentState = SERVICE_STOP_PENDING;
        SetEvent(stopEvent);
    }
    SetServiceStatus(statusHandle, &status);
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
    std::string line = "main";
    for (DWORD i = 0; i < argc; ++i) {
        line += ' ';
        for (const WCHAR* c = argv[i]; *c; ++c)
            line += static_cast<char>(*c);
    }
    note(line);
    statusHandle = RegisterServiceCtrlHandlerW(argv[0], handler);
    if (!statusHandle)
        return;
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetServiceStatus(statusHandle, &status);
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    SetServiceStatus(statusHandle, &status);
    WaitForSingleObject(stopEvent, INFINITE);
    if (slowStop)
        Sleep(slowStop);
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwControlsAccepted = 0;
    status.dwWin32ExitCode = exitCode;
    status.dwServiceSpecificExitCode = specificCode;
    note("stopped");
    SetServiceStatus(statusHandle, &status);
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--no-dispatcher")
            return 7;
        if (i + 1 < argc && arg == "--exit-code")
            exitCode = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        else if (i + 1 < argc && arg == "--specific")
            specificCode = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        else if (i + 1 < argc && arg == "--record")
            recordFile = argv[++i];
        else if (i + 1 < argc && arg == "--slow-stop")
            slowStop = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
    }
    WCHAR name[] = u"ProbeService";
    const SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD error = GetLastError();
        std::fprintf(stderr, "dispatcher: %u\n", error);
        return static_cast<int>(error);
    }
    return 0;
}

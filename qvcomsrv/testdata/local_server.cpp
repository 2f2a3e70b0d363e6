// qvcomsrv_local_server: serves the object model module to other processes the way the QVCom
// service does (QVComInitialize, wait on the event it hands back, QVComUninitialize), for tests
// that start the server themselves or install it as a service.
//
//   qvcomsrv_local_server MODULE            MODULE: the module's Windows or host path
//   qvcomsrv_local_server MODULE -Service   the same as the service "QVCom", for the machine's
//                                           service manager
//
// By hand it prints "ready" once the class objects are published; answers a line "objects" on
// standard input with the number of objects it serves to other processes; stops when its standard
// input ends or the module's event is signalled. Exit code 0, or 1 with a line on standard error.
#include <windows.h>

#include <cstdio>
#include <string_view>
#include <thread>

#include "qvcomsrv.h"
#include "sky/remote.h"
#include "sky/text.h"

namespace {

std::u16string modulePath;
HMODULE module = nullptr;
QVComInitializeProc initialize = nullptr;
QVComUninitializeProc uninitialize = nullptr;

bool load() {
    module = LoadLibraryW(modulePath.c_str());
    if (!module)
        return false;
    initialize = reinterpret_cast<QVComInitializeProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "QVComInitialize")));
    uninitialize = reinterpret_cast<QVComUninitializeProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "QVComUninitialize")));
    return initialize && uninitialize;
}

HRESULT start(HANDLE& stop) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    const HRESULT hr = initialize(&version, nullptr, &stop);
    if (FAILED(hr))
        uninitialize(1);
    return hr;
}

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{};
HANDLE serviceStop = nullptr;

void report(DWORD state, DWORD exitCode = 0) {
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    SetServiceStatus(statusHandle, &status);
}

void WINAPI control(DWORD code) {
    if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
        status.dwCurrentState = SERVICE_STOP_PENDING;
        SetEvent(serviceStop);
    }
    SetServiceStatus(statusHandle, &status);
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    statusHandle = RegisterServiceCtrlHandlerW(u"QVCom", control);
    if (!statusHandle)
        return;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    report(SERVICE_START_PENDING);
    if (!load() || FAILED(start(serviceStop))) {
        report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
        return;
    }
    report(SERVICE_RUNNING);
    WaitForSingleObject(serviceStop, INFINITE);
    uninitialize(1);
    report(SERVICE_STOPPED);
}

int byHand() {
    if (!load()) {
        std::fprintf(stderr, "cannot load the module or its entries: error %u\n",
                     static_cast<unsigned>(GetLastError()));
        return 1;
    }
    HANDLE stop = nullptr;
    if (const HRESULT hr = start(stop); FAILED(hr)) {
        std::fprintf(stderr, "QVComInitialize failed: 0x%08X\n", static_cast<unsigned>(hr));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::thread([stop] {
        char line[64];
        while (std::fgets(line, sizeof line, stdin)) {
            if (std::string_view(line) == "objects\n") {
                std::printf("objects %zu\n", sky::remote::exportedObjects());
                std::fflush(stdout);
            }
        }
        SetEvent(stop);
    }).detach();
    WaitForSingleObject(stop, INFINITE);
    uninitialize(1);
    FreeLibrary(module);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::string_view(argv[2]) != "-Service")) {
        std::fprintf(stderr, "usage: qvcomsrv_local_server MODULE [-Service]\n");
        return 2;
    }
    modulePath = sky::widen(argv[1]);
    if (argc == 2)
        return byHand();
    WCHAR name[] = u"QVCom";
    const SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}

// qvcomsrv_local_server: serves the object model module to other processes the way the QVCom
// service does (QVComInitialize, wait on the event it hands back, QVComUninitialize), for tests
// that start the server themselves.
//
//   qvcomsrv_local_server MODULE     MODULE: the module's Windows or host path
//
// Prints "ready" once the class objects are published; answers a line "objects" on standard
// input with the number of objects it serves to other processes; stops when its standard input
// ends or the module's event is signalled. Exit code 0, or the failing HRESULT's low byte with a
// line on standard error.
#include <windows.h>

#include <cstdio>
#include <string_view>
#include <thread>

#include "qvcomsrv.h"
#include "sky/remote.h"
#include "sky/text.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qvcomsrv_local_server MODULE\n");
        return 2;
    }
    const std::u16string path = sky::widen(argv[1]);
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) {
        std::fprintf(stderr, "cannot load %s: error %u\n", argv[1],
                     static_cast<unsigned>(GetLastError()));
        return 1;
    }
    auto initialize = reinterpret_cast<QVComInitializeProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "QVComInitialize")));
    auto uninitialize = reinterpret_cast<QVComUninitializeProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "QVComUninitialize")));
    if (!initialize || !uninitialize) {
        std::fprintf(stderr, "the module lacks its entries\n");
        return 1;
    }
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    HANDLE stop = nullptr;
    const HRESULT hr = initialize(&version, nullptr, &stop);
    if (FAILED(hr)) {
        std::fprintf(stderr, "QVComInitialize failed: 0x%08X\n", static_cast<unsigned>(hr));
        uninitialize(1);
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

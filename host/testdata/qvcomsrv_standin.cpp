// Stand-ins for the object model module qvcomsrv.dll, for qvcom's tests. One source, three modules:
//   skytest_qvcomsrv_ok.dll      initialises (hands back a manual-reset event) and uninitialises
//   skytest_qvcomsrv_fail.dll    QVComInitialize fails with E_ACCESSDENIED
//   skytest_qvcomsrv_noexit.dll  has no QVComUninitialize
// Each appends what it is asked to <machine>/qvcomsrv.log: "init <major> <instance?>" and
// "uninit <reason>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void note(const std::string& line) {
    const char* machine = std::getenv("SKYLOOM_MACHINE");
    if (!machine)
        return;
    if (FILE* f = std::fopen((std::string(machine) + "/qvcomsrv.log").c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

HANDLE stopEvent = nullptr;

} // namespace

STANDIN_EXPORT HRESULT WINAPI QVComInitialize(OSVERSIONINFOW* version, HINSTANCE instance,
                                              HANDLE* event) {
    note("init " + std::to_string(version ? version->dwMajorVersion : 0) + " " +
         (version && version->dwOSVersionInfoSize == 276 ? "276 " : "? ") +
         (instance ? "instance" : "no-instance"));
#ifdef STANDIN_FAILS
    (void)event;
    return E_ACCESSDENIED;
#else
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    *event = stopEvent;
    return S_OK;
#endif
}

#ifndef STANDIN_NO_UNINITIALIZE
STANDIN_EXPORT HRESULT WINAPI QVComUninitialize(int reason) {
    note("uninit " + std::to_string(reason));
    if (stopEvent)
        CloseHandle(stopEvent);
    stopEvent = nullptr;
    return S_OK;
}
#endif

// The QVCom service: loads the object model module, initialises it, runs until told to stop.
//
// Two threads share the status record, the stop event and the message module handle without a
// lock: the control handler (on the dispatcher's thread) sets the state and signals the event,
// the service thread sets the state before and after its wait. Signalling the event is the only
// hand-over.
#include "host.h"

namespace {

typedef HRESULT(WINAPI* PFN_QVCOMINITIALIZE)(OSVERSIONINFOW* pVersion, HINSTANCE hInstance,
                                             HANDLE* phStopEvent);
typedef HRESULT(WINAPI* PFN_QVCOMUNINITIALIZE)(int nReason);

const WCHAR kServiceName[] = TEXT("QVCom");

SERVICE_STATUS g_status;
SERVICE_STATUS_HANDLE g_hStatus = NULL;
HANDLE g_hStopEvent = NULL;
PFN_QVCOMINITIALIZE g_pfnInitialize = NULL;
PFN_QVCOMUNINITIALIZE g_pfnUninitialize = NULL;

// The object model module and its two entries.
const MODULE_ENTRY g_moduleList[] = {
    {TEXT("INSTALLPATH\\System32\\qvcomsrv.dll"), "QVComInitialize",
     reinterpret_cast<FARPROC*>(&g_pfnInitialize)},
    {TEXT("INSTALLPATH\\System32\\qvcomsrv.dll"), "QVComUninitialize",
     reinterpret_cast<FARPROC*>(&g_pfnUninitialize)},
    {TEXT(""), NULL, NULL},
};

void ReportStopped(DWORD dwSpecificExitCode) {
    g_status.dwCurrentState = SERVICE_STOPPED;
    g_status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    g_status.dwServiceSpecificExitCode = dwSpecificExitCode;
    SetServiceStatus(g_hStatus, &g_status);
}

} // namespace

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_hStatus = RegisterServiceCtrlHandlerW(kServiceName, ServiceControlHandler);
    if (g_hStatus == NULL)
        return;

    g_status.dwWin32ExitCode = 0;
    g_status.dwCheckPoint = 0;
    g_status.dwWaitHint = 0;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = SERVICE_START_PENDING;
    g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    SetServiceStatus(g_hStatus, &g_status);

    if (!LoadModuleList(g_moduleList)) {
        ReportStopped(GetLastError());
        return;
    }

    // Only to fill the version record for the module; the result does not matter here.
    CheckVersion(TRUE);

    const HRESULT hr = g_pfnInitialize(&g_osVersion, g_hInstance, &g_hStopEvent);
    if (FAILED(hr)) {
        ReportStopped(static_cast<DWORD>(hr));
        g_pfnUninitialize(1);
        return;
    }

    g_status.dwCurrentState = SERVICE_RUNNING;
    SetServiceStatus(g_hStatus, &g_status);
    WaitForSingleObject(g_hStopEvent, INFINITE);

    g_pfnUninitialize(1);
    UnloadAllModules();
    g_status.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(g_hStatus, &g_status);
}

void WINAPI ServiceControlHandler(DWORD dwControl) {
    if (dwControl == SERVICE_CONTROL_STOP || dwControl == SERVICE_CONTROL_SHUTDOWN) {
        g_status.dwCurrentState = SERVICE_STOP_PENDING;
        SetEvent(g_hStopEvent);
        UnloadMessageModule();
    }
    SetServiceStatus(g_hStatus, &g_status);
}

// The service control manager: the service database, starting and controlling services, and the
// service side (dispatcher, control handler, status).
//
// The database is the registry's HKLM\System\CurrentControlSet\Services, one key per service
// with the values Windows writes (Type, Start, ErrorControl, ImagePath, DisplayName, ObjectName,
// DependOnService, Description). Running services are kept by the machine's service manager, a
// per-machine process that the first call needing it starts and that ends when nothing has used
// it for a while; every process of the machine sees the same services with the same status.
// A service process is started by the manager with a control channel; StartServiceCtrlDispatcherW
// in any other process fails with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT.
//
// Errors are the Windows ones: ERROR_SERVICE_DOES_NOT_EXIST, ERROR_SERVICE_EXISTS,
// ERROR_SERVICE_ALREADY_RUNNING, ERROR_SERVICE_NOT_ACTIVE, ERROR_INVALID_SERVICE_CONTROL,
// ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ERROR_SERVICE_MARKED_FOR_DELETE, ERROR_SERVICE_REQUEST_TIMEOUT,
// ERROR_ACCESS_DENIED (the handle lacks the right, or the caller is not one of the machine's
// users), ERROR_INVALID_HANDLE, ERROR_INSUFFICIENT_BUFFER with the size needed.
#pragma once

#include "sky/export.h"

#include "win/types.h"

struct SC_HANDLE__;
using SC_HANDLE = SC_HANDLE__*;
using LPSC_HANDLE = SC_HANDLE*;
struct SERVICE_STATUS_HANDLE__;
using SERVICE_STATUS_HANDLE = SERVICE_STATUS_HANDLE__*;

// The one database there is.
#define SERVICES_ACTIVE_DATABASEW u"ServicesActive"

// Access rights of the manager.
#define SC_MANAGER_CONNECT 0x0001u
#define SC_MANAGER_CREATE_SERVICE 0x0002u
#define SC_MANAGER_ENUMERATE_SERVICE 0x0004u
#define SC_MANAGER_LOCK 0x0008u
#define SC_MANAGER_QUERY_LOCK_STATUS 0x0010u
#define SC_MANAGER_MODIFY_BOOT_CONFIG 0x0020u
#define SC_MANAGER_ALL_ACCESS 0xF003Fu

// Access rights of a service.
#define SERVICE_QUERY_CONFIG 0x0001u
#define SERVICE_CHANGE_CONFIG 0x0002u
#define SERVICE_QUERY_STATUS 0x0004u
#define SERVICE_ENUMERATE_DEPENDENTS 0x0008u
#define SERVICE_START 0x0010u
#define SERVICE_STOP 0x0020u
#define SERVICE_PAUSE_CONTINUE 0x0040u
#define SERVICE_INTERROGATE 0x0080u
#define SERVICE_USER_DEFINED_CONTROL 0x0100u
#define SERVICE_ALL_ACCESS 0xF01FFu

// Service types.
#define SERVICE_KERNEL_DRIVER 0x00000001u
#define SERVICE_FILE_SYSTEM_DRIVER 0x00000002u
#define SERVICE_WIN32_OWN_PROCESS 0x00000010u
#define SERVICE_WIN32_SHARE_PROCESS 0x00000020u
#define SERVICE_INTERACTIVE_PROCESS 0x00000100u
#define SERVICE_NO_CHANGE 0xFFFFFFFFu

// Start types.
#define SERVICE_BOOT_START 0x00000000u
#define SERVICE_SYSTEM_START 0x00000001u
#define SERVICE_AUTO_START 0x00000002u
#define SERVICE_DEMAND_START 0x00000003u
#define SERVICE_DISABLED 0x00000004u

// Error control.
#define SERVICE_ERROR_IGNORE 0x00000000u
#define SERVICE_ERROR_NORMAL 0x00000001u
#define SERVICE_ERROR_SEVERE 0x00000002u
#define SERVICE_ERROR_CRITICAL 0x00000003u

// States.
#define SERVICE_STOPPED 0x00000001u
#define SERVICE_START_PENDING 0x00000002u
#define SERVICE_STOP_PENDING 0x00000003u
#define SERVICE_RUNNING 0x00000004u
#define SERVICE_CONTINUE_PENDING 0x00000005u
#define SERVICE_PAUSE_PENDING 0x00000006u
#define SERVICE_PAUSED 0x00000007u

// Controls a service accepts.
#define SERVICE_ACCEPT_STOP 0x00000001u
#define SERVICE_ACCEPT_PAUSE_CONTINUE 0x00000002u
#define SERVICE_ACCEPT_SHUTDOWN 0x00000004u
#define SERVICE_ACCEPT_PARAMCHANGE 0x00000008u

// Control codes. 128 to 255 are the service's own and always delivered.
#define SERVICE_CONTROL_STOP 0x00000001u
#define SERVICE_CONTROL_PAUSE 0x00000002u
#define SERVICE_CONTROL_CONTINUE 0x00000003u
#define SERVICE_CONTROL_INTERROGATE 0x00000004u
#define SERVICE_CONTROL_SHUTDOWN 0x00000005u
#define SERVICE_CONTROL_PARAMCHANGE 0x00000006u

// QueryServiceStatusEx and ChangeServiceConfig2W levels.
#define SC_STATUS_PROCESS_INFO 0
#define SERVICE_CONFIG_DESCRIPTION 1u
#define SERVICE_RUNS_IN_SYSTEM_PROCESS 0x00000001u

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS*;

struct SERVICE_STATUS_PROCESS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
    DWORD dwProcessId;
    DWORD dwServiceFlags;
};
using LPSERVICE_STATUS_PROCESS = SERVICE_STATUS_PROCESS*;

// QueryServiceConfigW fills this header and puts the strings it points to behind it, in the
// same buffer (at most 8 KB in all, as on Windows).
struct QUERY_SERVICE_CONFIGW {
    DWORD dwServiceType;
    DWORD dwStartType;
    DWORD dwErrorControl;
    LPWSTR lpBinaryPathName;
    LPWSTR lpLoadOrderGroup;
    DWORD dwTagId;
    LPWSTR lpDependencies;
    LPWSTR lpServiceStartName;
    LPWSTR lpDisplayName;
};
using LPQUERY_SERVICE_CONFIGW = QUERY_SERVICE_CONFIGW*;

struct SERVICE_DESCRIPTIONW {
    LPWSTR lpDescription;
};

using LPSERVICE_MAIN_FUNCTIONW = void(WINAPI*)(DWORD dwNumServicesArgs,
                                               LPWSTR* lpServiceArgVectors);
using LPHANDLER_FUNCTION = void(WINAPI*)(DWORD dwControl);

struct SERVICE_TABLE_ENTRYW {
    LPWSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

extern "C" {
// lpMachineName NULL or empty (this machine); lpDatabaseName NULL or SERVICES_ACTIVE_DATABASEW
// (another: ERROR_DATABASE_DOES_NOT_EXIST). Reaches the machine's service manager, starting it if
// need be.
SKY_API SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName,
                                        DWORD dwDesiredAccess);
// Writes the service's key. lpDependencies is a double-terminated list; lpServiceStartName NULL
// is LocalSystem. Needs SC_MANAGER_CREATE_SERVICE.
SKY_API SC_HANDLE WINAPI CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName,
                                        LPCWSTR lpDisplayName, DWORD dwDesiredAccess,
                                        DWORD dwServiceType, DWORD dwStartType,
                                        DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
                                        LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId,
                                        LPCWSTR lpDependencies, LPCWSTR lpServiceStartName,
                                        LPCWSTR lpPassword);
SKY_API SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName,
                                      DWORD dwDesiredAccess);
// Starts the service's program (its dependencies first) and returns once the program's
// dispatcher has connected and the service main routine has been started (not when the service
// reports running). Two starts at once start one process; the second gets
// ERROR_SERVICE_ALREADY_RUNNING.
SKY_API BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs,
                                  LPCWSTR* lpServiceArgVectors);
// Delivers a control and returns once the service's handler has run, with the status the service
// then reports. SERVICE_CONTROL_SHUTDOWN is the system's own: ERROR_INVALID_PARAMETER.
SKY_API BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl,
                                   LPSERVICE_STATUS lpServiceStatus);
SKY_API BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
SKY_API BOOL WINAPI QueryServiceStatusEx(SC_HANDLE hService, int InfoLevel, LPBYTE lpBuffer,
                                         DWORD cbBufSize, LPDWORD pcbBytesNeeded);
SKY_API BOOL WINAPI QueryServiceConfigW(SC_HANDLE hService, LPQUERY_SERVICE_CONFIGW lpServiceConfig,
                                        DWORD cbBufSize, LPDWORD pcbBytesNeeded);
// SERVICE_CONFIG_DESCRIPTION only: a NULL description changes nothing, an empty one removes it.
SKY_API BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo);
// Removes the service's key, or, while its program runs, marks it for deletion (value DeleteFlag)
// and removes it when it stops.
SKY_API BOOL WINAPI DeleteService(SC_HANDLE hService);
SKY_API BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject);

// The service side. The dispatcher connects to the manager, runs the service main routine on a
// thread of its own, delivers controls to the handler on the calling thread, and returns once the
// service has reported SERVICE_STOPPED (last error ERROR_SUCCESS).
SKY_API BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable);
SKY_API SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerW(LPCWSTR lpServiceName,
                                                                 LPHANDLER_FUNCTION lpHandlerProc);
SKY_API BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                                     LPSERVICE_STATUS lpServiceStatus);
}

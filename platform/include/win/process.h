// Starting programs and their exit codes.
//
// Programs keep their Windows names (qvreg.exe is an ELF executable, or a script with "#!").
// CreateProcessW finds the program as Windows does, maps its path to the host, and hands the child
// the command line exactly: the child's GetCommandLineW returns it unchanged. A child that uses
// the platform reports its full 32-bit exit code to a parent that uses the platform.
#pragma once

#include "win/synch.h"
#include "win/types.h"

// GetExitCodeProcess of a process that is still running.
#define STILL_ACTIVE 259u

// Creation flags. CREATE_UNICODE_ENVIRONMENT selects a UTF-16 environment block; the console and
// window flags are accepted and have no effect; CREATE_SUSPENDED is not supported.
#define DEBUG_PROCESS 0x00000001u
#define DEBUG_ONLY_THIS_PROCESS 0x00000002u
#define CREATE_SUSPENDED 0x00000004u
#define DETACHED_PROCESS 0x00000008u
#define CREATE_NEW_CONSOLE 0x00000010u
#define NORMAL_PRIORITY_CLASS 0x00000020u
#define CREATE_NEW_PROCESS_GROUP 0x00000200u
#define CREATE_UNICODE_ENVIRONMENT 0x00000400u
#define CREATE_DEFAULT_ERROR_MODE 0x04000000u
#define CREATE_NO_WINDOW 0x08000000u

// STARTUPINFOW.dwFlags (accepted; standard handles are always inherited).
#define STARTF_USESHOWWINDOW 0x00000001u
#define STARTF_USESIZE 0x00000002u
#define STARTF_USEPOSITION 0x00000004u
#define STARTF_USESTDHANDLES 0x00000100u

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

extern "C" {
// Starts a program and does not wait for it. The program is lpApplicationName (a Windows path,
// relative to the current directory, taken as written) or else the first token of lpCommandLine
// (quoted, or unquoted and tried at each blank as Windows does; ".exe" added when the name has no
// extension; a bare name searched in the caller's directory, the current directory, the system
// directories and PATH). The child's command line is lpCommandLine, or lpApplicationName when that
// is NULL. Errors: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND (missing directory),
// ERROR_BAD_EXE_FORMAT (not a program), ERROR_DIRECTORY (bad lpCurrentDirectory),
// ERROR_FILENAME_EXCED_RANGE (command line of 32,767 code units or more).
// lpEnvironment replaces the inherited environment (UTF-16 with CREATE_UNICODE_ENVIRONMENT, UTF-8
// otherwise); SKYLOOM_MACHINE is kept so the child works on the same machine.
SKY_API BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                                   LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                   LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                                   DWORD dwCreationFlags, LPVOID lpEnvironment,
                                   LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                                   LPPROCESS_INFORMATION lpProcessInformation);
// STILL_ACTIVE while the process runs, then its exit code.
SKY_API BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
// Ends the process at once; its exit code becomes uExitCode. A process that has already ended:
// FALSE and ERROR_ACCESS_DENIED.
SKY_API BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode);
// Ends the calling process with a 32-bit exit code (atexit handlers run).
[[noreturn]] SKY_API void WINAPI ExitProcess(UINT uExitCode);
SKY_API DWORD WINAPI GetCurrentProcessId();

// Runs a command line (UTF-8) as CreateProcessW does, not waited for. Returns a value above 31 on
// success, else ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_BAD_FORMAT or 0.
SKY_API UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow);
}

// Process environment: variables, command line, system, temporary and current directories, the
// user name, and the local memory that CommandLineToArgvW hands out.
//
// Variables live in the host environment (what setenv changes and children inherit), seen through
// Windows rules: names compare ignoring case, so PATH, Path and path are one variable.
#pragma once

#include "win/types.h"

// LocalAlloc flags. Memory is always fixed; LMEM_MOVEABLE is accepted and gives fixed memory.
#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)

// Longest user name GetUserNameW returns, without the terminator.
#define UNLEN 256

extern "C" {
// Copies the value and returns its length without the terminator; when nSize (in code units,
// terminator included) is too small, returns the size needed including the terminator and leaves
// the buffer alone. An absent variable: 0 and ERROR_ENVVAR_NOT_FOUND. An empty value: 0 and
// ERROR_SUCCESS.
SKY_API DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);
// Sets, or with a NULL value removes, a variable of this process; programs it starts inherit it.
// A name that is empty or holds "=", or a value longer than 32,767 code units: FALSE and
// ERROR_INVALID_PARAMETER.
SKY_API BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);
// Replaces every %NAME% of a defined variable by its value; undefined references stay as written.
// Returns the size the result needs including the terminator (written only when it fits).
SKY_API DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);

// The process's command line in Windows form (see docs/platform-system.md).
SKY_API LPWSTR WINAPI GetCommandLineW();
// Splits a command line by the Windows rules. Returns one LocalAlloc'd block (free it with
// LocalFree) holding the pointer array, ended by a NULL entry, and the strings. An empty command
// line gives the path of the program file.
SKY_API LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs);

SKY_API HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
// Returns NULL on success.
SKY_API HLOCAL WINAPI LocalFree(HLOCAL hMem);

// "C:\WINDOWS\system32" and "C:\WINDOWS". Both return the length written, or the size needed
// including the terminator when uSize is too small.
SKY_API UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);
SKY_API UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);
// The temporary directory, ending with a backslash: %TMP%, else %TEMP%, else the machine's
// C:\WINDOWS\Temp\ (created when needed). Buffer rules as GetCurrentDirectoryW.
SKY_API DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
// The current directory in Windows form; the size needed including the terminator when the
// buffer is too small.
SKY_API DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
SKY_API BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName);

// The name of the user running the process (the host account). *pcbBuffer is in characters,
// terminator included: set to the characters written, or to the size needed with
// ERROR_INSUFFICIENT_BUFFER.
SKY_API BOOL WINAPI GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer);
}

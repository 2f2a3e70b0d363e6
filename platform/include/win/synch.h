// Events, waits and handles.
//
// A HANDLE names an entry of the process's handle table (sky/handles.h): events, processes and
// their main threads, and the platform's other kernel objects. CloseHandle closes any of them.
#pragma once

#include "win/errors.h"
#include "win/types.h"

// WaitForSingleObject / WaitForMultipleObjects results. WAIT_TIMEOUT comes from win/errors.h.
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_ABANDONED_0 WAIT_ABANDONED
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

// Access rights of events (accepted; every handle has full access).
#define SYNCHRONIZE 0x00100000u
#define EVENT_MODIFY_STATE 0x0002u
#define EVENT_ALL_ACCESS 0x001F0003u

extern "C" {
// An event, manual-reset or auto-reset (a satisfied wait resets it). A name makes it shared within
// the process: creating an existing name returns a new handle to the same event with
// ERROR_ALREADY_EXISTS, and OpenEventW finds it. Names compare with case, as on Windows.
SKY_API HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                   BOOL bInitialState, LPCWSTR lpName);
SKY_API HANDLE WINAPI OpenEventW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
SKY_API BOOL WINAPI SetEvent(HANDLE hEvent);
SKY_API BOOL WINAPI ResetEvent(HANDLE hEvent);

// Waits for an event, a process or a thread (timeouts in milliseconds, or INFINITE).
SKY_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
SKY_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                            DWORD dwMilliseconds);

// Closes any handle of the table; NULL or an unknown handle: FALSE and ERROR_INVALID_HANDLE.
SKY_API BOOL WINAPI CloseHandle(HANDLE hObject);

SKY_API void WINAPI Sleep(DWORD dwMilliseconds);
}

// The calling thread's last-error code.
#pragma once

#include "win/types.h"

extern "C" {
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD dwErrCode);
}

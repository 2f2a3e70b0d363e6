// The calling thread's last-error code.
#pragma once

#include "win/types.h"

extern "C" {
SKY_API DWORD WINAPI GetLastError();
SKY_API void WINAPI SetLastError(DWORD dwErrCode);
}

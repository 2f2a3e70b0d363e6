#include "win/lasterror.h"

namespace {
thread_local DWORD lastError = 0;
}

extern "C" DWORD WINAPI GetLastError() {
    return lastError;
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

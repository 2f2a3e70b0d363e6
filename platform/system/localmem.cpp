// Local memory: fixed blocks from the C heap.
#include <cstdlib>

#include "win/environment.h"
#include "win/errors.h"
#include "win/lasterror.h"

extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    const SIZE_T size = uBytes ? uBytes : 1;
    void* memory = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
    if (!memory)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return memory;
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

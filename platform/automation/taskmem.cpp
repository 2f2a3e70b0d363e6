// Task memory: the allocator through which strings and buffers cross between a caller and a callee
// that did not allocate them (identifier strings, ProgIDs).
#include <cstdlib>

#include "win/com.h"

extern "C" {

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
    // A zero-byte request still yields a distinct block, as on Windows.
    return std::malloc(cb ? cb : 1);
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    if (!pv)
        return CoTaskMemAlloc(cb);
    if (cb == 0) {
        std::free(pv);
        return nullptr;
    }
    return std::realloc(pv, cb);
}

void WINAPI CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

} // extern "C"

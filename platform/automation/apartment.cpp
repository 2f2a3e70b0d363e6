// CoInitialize / CoUninitialize: the calling thread's apartment, counted as Windows counts it.
#include "apartment.h"

#include <atomic>

#include "class_objects.h"
#include "win/com.h"

namespace {

// Threads currently in the multithreaded apartment.
std::atomic<int> threadsInMultithreaded{0};

struct Apartment {
    unsigned initialisations = 0;
    bool singleThreaded = false;

    void leave() {
        if (!singleThreaded)
            --threadsInMultithreaded;
        sky::automation::revokeThreadClassObjects();
    }
    // A thread that ends without CoUninitialize leaves its apartment all the same.
    ~Apartment() {
        if (initialisations > 0) {
            initialisations = 0;
            leave();
        }
    }
};
thread_local Apartment apartment;

constexpr DWORD knownFlags =
    COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

} // namespace

namespace sky::automation {

bool apartmentReady() {
    return apartment.initialisations > 0 || threadsInMultithreaded.load() > 0;
}

} // namespace sky::automation

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    if (pvReserved || (dwCoInit & ~knownFlags))
        return E_INVALIDARG;
    const bool singleThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
    if (apartment.initialisations == 0) {
        apartment.initialisations = 1;
        apartment.singleThreaded = singleThreaded;
        if (!singleThreaded)
            ++threadsInMultithreaded;
        return S_OK;
    }
    if (apartment.singleThreaded != singleThreaded)
        return RPC_E_CHANGED_MODE;
    ++apartment.initialisations;
    return S_FALSE;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize() {
    if (apartment.initialisations == 0)
        return;
    if (--apartment.initialisations == 0)
        apartment.leave();
}

} // extern "C"

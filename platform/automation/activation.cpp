// CoGetClassObject and CoCreateInstance: where a class's object comes from.
//
//   1. Class objects registered in this process (CoRegisterClassObject), for the contexts they
//      were registered for.
//   2. In process (CLSCTX_INPROC_SERVER): the module of the class's InprocServer32 key.
//   3. Out of process (CLSCTX_LOCAL_SERVER): the class's local server or service.
//
// A class that none of the requested contexts can serve is REGDB_E_CLASSNOTREG.
#include "apartment.h"
#include "class_objects.h"
#include "class_registry.h"
#include "servers.h"
#include "sky/com_ptr.h"

using namespace sky::automation;

extern "C" {

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                                LPVOID* ppv) {
    (void)pvReserved; // the server machine: activation is always on this machine
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                          CLSCTX_REMOTE_SERVER)))
        return E_INVALIDARG;
    if (!apartmentReady())
        return CO_E_NOTINITIALIZED;

    if (auto registered = sky::ComPtr<IUnknown>::adopt(findClassObject(rclsid, dwClsContext)))
        return registered->QueryInterface(riid, ppv);

    if (!classesKeyExists(classKey(rclsid)))
        return REGDB_E_CLASSNOTREG;
    HRESULT hr = REGDB_E_CLASSNOTREG;
    if (dwClsContext & CLSCTX_INPROC_SERVER) {
        hr = getInprocClassObject(rclsid, riid, ppv);
        if (hr != REGDB_E_CLASSNOTREG)
            return hr;
    }
    if (dwClsContext & CLSCTX_LOCAL_SERVER)
        hr = getLocalServerClassObject(rclsid, riid, ppv);
    return hr;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    sky::ComPtr<IClassFactory> factory;
    HRESULT hr =
        CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
}

} // extern "C"

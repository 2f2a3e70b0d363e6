// skytestclass.dll: an in-process server of the sample class, registered and loaded by the
// activation tests as any module named by InprocServer32 would be.
#include "sample_object.h"

using sky::testclass::CLSID_SampleObject;
using sky::testclass::SampleObject;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_SampleObject))
        return CLASS_E_CLASSNOTAVAILABLE;
    try {
        return sky::makeClassFactory<SampleObject>()->QueryInterface(riid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// Objects of this module may be alive at any time: it asks to stay loaded.
STDAPI DllCanUnloadNow() {
    return S_FALSE;
}

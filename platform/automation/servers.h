// The ways activation reaches a class's server, one file each: in this process from a module
// (inproc_server.cpp), or out of process from a local server or service (local_server.cpp).
#pragma once

#include <string>

#include "win/com.h"

namespace sky::automation {

// The class object of a class registered with InprocServer32: the module named there is loaded
// (once; it stays loaded) and asked through its DllGetClassObject.
// REGDB_E_CLASSNOTREG when the class has no in-process server.
HRESULT getInprocClassObject(REFCLSID clsid, REFIID riid, void** ppv);

// The class object of a class served out of process: LocalServer32, or an AppID whose
// LocalService names a service. REGDB_E_CLASSNOTREG when the class has neither.
HRESULT getLocalServerClassObject(REFCLSID clsid, REFIID riid, void** ppv);

} // namespace sky::automation

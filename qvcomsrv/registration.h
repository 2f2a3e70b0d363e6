// In-process registration of the module for development, as DllRegisterServer does it: for every
// creatable class, its programmatic identifiers and its CLSID key with InprocServer32 naming the
// module, under HKEY_LOCAL_MACHINE\Software\Classes (what HKEY_CLASSES_ROOT shows). Clients then
// create the classes in their own process. qvcom's own registration (a local service) is
// separate; unregistering in-process keeps whatever qvcom registered.
#pragma once

#include <string_view>

#include "win/types.h"

namespace qvcomsrv {

HRESULT registerInProcess(std::u16string_view modulePath);
HRESULT unregisterInProcess();

} // namespace qvcomsrv

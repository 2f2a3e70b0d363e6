// Class objects registered in this process with CoRegisterClassObject, which activation finds
// before it looks at the registry.
#pragma once

#include "win/com.h"

namespace sky::automation {

// The registered class object for `clsid` whose context meets `context`, with a reference for
// the caller; nullptr if there is none. A REGCLS_SINGLEUSE registration serves once.
IUnknown* findClassObject(REFCLSID clsid, DWORD context);

// Revokes what the calling thread registered (its apartment is ending).
void revokeThreadClassObjects();

} // namespace sky::automation

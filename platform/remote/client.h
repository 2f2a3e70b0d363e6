// The client side of calls between processes: connections to servers' endpoints and the proxies
// of the objects they serve.
#pragma once

#include "win/com.h"

namespace sky::remote {

// The class object of `clsid` from the server published at the machine's endpoint for it, as
// `riid`. REGDB_E_CLASSNOTREG when no server has published the class (or it went away).
HRESULT getRemoteClassObject(REFCLSID clsid, REFIID riid, void** ppv);

} // namespace sky::remote

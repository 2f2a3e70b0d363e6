// The server side of calls between processes: class objects registered for CLSCTX_LOCAL_SERVER
// are published at the machine's endpoints and their objects served on one apartment thread.
#pragma once

#include "win/com_security.h"

namespace sky::remote {

// Publishes a registered class object: starts this process's endpoint and apartment thread the
// first time, then links <machine>/run/com/{clsid} to it.
HRESULT publishClass(REFCLSID clsid);

// Withdraws the class's link. When no published class is left, the endpoint closes, every
// client is disconnected and the objects they held are released.
void withdrawClass(REFCLSID clsid);

} // namespace sky::remote

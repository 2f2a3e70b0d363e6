// The client side of calls between processes: connections to servers' endpoints and the proxies
// of the objects they serve.
#pragma once

#include "sky/remote.h"

namespace sky::remote {

// getRemoteClassObject (sky/remote.h): the class object of `clsid` from the server published at
// the machine's endpoint for it. REGDB_E_CLASSNOTREG when no server has published the class (or
// it went away).

} // namespace sky::remote

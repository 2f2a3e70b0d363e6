// Out-of-process activation: a class served by a local server (LocalServer32) or by a service
// (its AppID's LocalService).
//
// This is the seam where starting the server and reaching its class object through proxies
// will go. Until then such a class is found but cannot be reached, and activation fails with
// CO_E_SERVER_EXEC_FAILURE, which is what Windows reports when a class's local server does not
// start or does not register its class object.
#include "class_registry.h"
#include "servers.h"

namespace sky::automation {

namespace {

// Whether the class names a server out of process: LocalServer32, or AppID -> LocalService.
bool hasLocalServer(REFCLSID clsid) {
    const std::u16string key = classKey(clsid);
    if (classesKeyExists(key + u"\\LocalServer32"))
        return true;
    const auto appId = readClassesString(key, u"AppID");
    if (!appId || appId->empty())
        return false;
    const auto service = readClassesString(u"AppID\\" + *appId, u"LocalService");
    return service && !service->empty();
}

} // namespace

HRESULT getLocalServerClassObject(REFCLSID clsid, REFIID, void** ppv) {
    *ppv = nullptr;
    if (!hasLocalServer(clsid))
        return REGDB_E_CLASSNOTREG;
    return CO_E_SERVER_EXEC_FAILURE;
}

} // namespace sky::automation

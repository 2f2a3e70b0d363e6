// Out-of-process activation: a class served by a local server (LocalServer32) or by a service
// (its AppID's LocalService).
//
// A server process publishes the class objects it registers for CLSCTX_LOCAL_SERVER at the
// machine's endpoints (platform/remote); activation connects there and hands back a proxy of the
// class object. When no server has published the class yet, the class's service is started and
// activation waits for it to publish, at most `classObjectWait`; a server that does not appear
// in that time, or a service that cannot start, is CO_E_SERVER_EXEC_FAILURE, as Windows reports
// it.
#include <chrono>
#include <thread>

#include "../remote/client.h"
#include "class_registry.h"
#include "servers.h"
#include "service_start.h"
#include "sky/com_object.h"
#include "sky/services.h"
#include "sky/text.h"

namespace sky::automation {

namespace {

constexpr auto classObjectWait = std::chrono::seconds(30);
constexpr auto pollInterval = std::chrono::milliseconds(20);

struct LocalServer {
    bool found = false;
    std::u16string service;    // the AppID's LocalService, if any
    std::u16string parameters; // and its ServiceParameters
};

// Whether the class names a server out of process: LocalServer32, or AppID -> LocalService.
LocalServer localServerOf(REFCLSID clsid) {
    LocalServer server;
    const std::u16string key = classKey(clsid);
    const auto appId = readClassesString(key, u"AppID");
    if (appId && !appId->empty()) {
        if (auto service = readClassesString(u"AppID\\" + *appId, u"LocalService");
            service && !service->empty()) {
            server.found = true;
            server.service = *service;
            server.parameters =
                readClassesString(u"AppID\\" + *appId, u"ServiceParameters").value_or(u"");
        }
    }
    if (classesKeyExists(key + u"\\LocalServer32"))
        server.found = true;
    return server;
}

} // namespace

HRESULT getLocalServerClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    *ppv = nullptr;
    const LocalServer server = localServerOf(clsid);
    if (!server.found)
        return REGDB_E_CLASSNOTREG;
    HRESULT hr = sky::remote::getRemoteClassObject(clsid, riid, ppv);
    if (hr != REGDB_E_CLASSNOTREG)
        return hr;
    if (server.service.empty())
        return CO_E_SERVER_EXEC_FAILURE;
    if (!startService(server.service, server.parameters)) {
        // The service manager could not be reached (a user who may not start it, a name held by
        // someone else): the failure says why, and how the owner starts it.
        if (const std::string why = sky::services::lastProblem(); !why.empty())
            return sky::setError(CO_E_SERVER_EXEC_FAILURE, sky::widen(why));
        return CO_E_SERVER_EXEC_FAILURE;
    }
    const auto deadline = std::chrono::steady_clock::now() + classObjectWait;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(pollInterval);
        hr = sky::remote::getRemoteClassObject(clsid, riid, ppv);
        if (hr != REGDB_E_CLASSNOTREG)
            return hr;
        if (!serviceMayStillPublish(server.service))
            break;
    }
    return CO_E_SERVER_EXEC_FAILURE;
}

} // namespace sky::automation

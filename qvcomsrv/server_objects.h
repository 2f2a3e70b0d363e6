// SkyloomServer (ISkyloomServer to ISkyloomServer5, with its Windows data ISkyloomWinServer to
// ISkyloomWinServer5 in the same object), the zone objects a farm's Zones hands out, and
// SkyloomAppSrvBinding, which names a server for an application's AddServer.
#pragma once

#include <optional>
#include <string>

#include "SkyloomCOM_notimpl.h"
#include "com_class.h"
#include "farm_connection.h"
#include "qvcomsrv/store/model.h"

namespace qvcomsrv {

class ServerObject final : public ComClass<ISkyloomServer5NotImpl, ISkyloomWinServer5NotImpl> {
public:
    ServerObject() = default;
    // A server as the farm's server list read it.
    static sky::ComPtr<ServerObject> of(Farm farm, sky::farm::Server server);
    // A server known by its name only (an application's Servers); the rest is read when asked.
    static sky::ComPtr<ServerObject> named(Farm farm, std::string name);
    // Initialize on a known connection: the farm's GetServer.
    HRESULT open(Farm farm, SkyloomObjectType type, BSTR name);

    // ISkyloomServer
    HRESULT STDMETHODCALLTYPE Initialize(SkyloomObjectType ServerType, BSTR SrvName) override;
    HRESULT STDMETHODCALLTYPE get_ServerName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Applications(ISkyloomApplications** ppApplications) override;
    HRESULT STDMETHODCALLTYPE get_ServerType(SkyloomObjectType* pVal) override;
    // Every version of WinServerObject, at the interface `riid`.
    HRESULT get_WinServerObjectAs(REFIID riid, void** out) override;
    HRESULT STDMETHODCALLTYPE get_ZoneName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_IsDataCollector(VARIANT_BOOL* pVal) override;
    HRESULT STDMETHODCALLTYPE LoadData(LONG ForceLoad) override;
    // ISkyloomServer2 to 5
    // ISkyloomWinServer
    HRESULT STDMETHODCALLTYPE get_WinNTVerMajor(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_WinNTVerMinor(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE get_HostName(BSTR* pVal) override;

private:
    HRESULT bind(Farm farm, SkyloomObjectType type, BSTR name);
    // Makes sure the server's data is in the object.
    HRESULT ready() override;

    FarmConnection* accessFarm() override { return farm_.get(); }
    Farm farm_;
    std::string name_;
    std::optional<sky::farm::Server> server_;
};

class ZoneObject final : public ComClass<ISkyloomZone3NotImpl> {
public:
    ZoneObject() = default;
    static sky::ComPtr<ZoneObject> of(Farm farm, sky::farm::Zone zone);
    // Initialize on a known connection: the farm's GetZone.
    HRESULT open(Farm farm, BSTR name);

    // ISkyloomZone
    HRESULT STDMETHODCALLTYPE Initialize(BSTR Name) override;
    HRESULT STDMETHODCALLTYPE get_ZoneName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_DataCollector(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Servers(ISkyloomServers** ppServers) override;
    // ISkyloomZone2
    HRESULT STDMETHODCALLTYPE get_ServerCount(LONG* pVal) override;

private:
    HRESULT ready() override;
    // The farm's servers in this zone.
    sky::farm::Result<std::vector<sky::farm::Server>> members();

    FarmConnection* accessFarm() override { return farm_.get(); }
    Farm farm_;
    std::optional<sky::farm::Zone> zone_;
};

class BindingObject final : public ComClass<ISkyloomAppSrvBinding2NotImpl> {
public:
    BindingObject() = default;
    // The binding of a published application to one of its servers.
    static sky::ComPtr<BindingObject> of(Farm farm, std::string server, std::string application);

    // ISkyloomAppSrvBinding
    HRESULT STDMETHODCALLTYPE Initialize(SkyloomObjectType ServerType, BSTR SrvName,
                                         BSTR AppDN) override;
    HRESULT STDMETHODCALLTYPE get_ServerName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_AppDistinguishedName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_ServerType(SkyloomObjectType* pVal) override;
    // ISkyloomAppSrvBinding2
    HRESULT STDMETHODCALLTYPE get_ServerObject(ISkyloomServer5** ppServer5) override;
    HRESULT STDMETHODCALLTYPE get_ApplicationObject(ISkyloomApplication5** ppApplication5) override;
    HRESULT STDMETHODCALLTYPE get_ZoneName(BSTR* pVal) override;

private:
    HRESULT ready() override;

    FarmConnection* accessFarm() override { return farm_.get(); }
    Farm farm_;
    std::optional<sky::farm::Server> server_;
    std::string application_; // empty: any application the binding is given to
};

// The object's check of the kind a server or binding Initialize takes.
HRESULT checkServerKind(SkyloomObjectType type);

} // namespace qvcomsrv

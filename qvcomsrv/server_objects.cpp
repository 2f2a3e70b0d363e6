#include "server_objects.h"

#include <algorithm>

#include "application_object.h"
#include "collection.h"
#include "qvcomsrv/store/names.h"
#include "results.h"
#include "sky/bstr.h"

namespace qvcomsrv {

using sky::farm::FarmStore;

namespace {

HRESULT connect(Farm& farm) {
    if (farm)
        return S_OK;
    auto connected = connectToMachineFarm();
    if (!connected)
        return withErrorInfo(connected.status(), "The farm cannot be opened");
    farm = *connected;
    return S_OK;
}

} // namespace

HRESULT checkServerKind(SkyloomObjectType type) {
    if (type == SkyloomWinSrvObject)
        return S_OK;
    return withErrorInfo(E_INVALIDARG,
                         "The object kind " + std::to_string(type) +
                             " is not a kind of server: this farm's servers are Windows "
                             "servers, SkyloomWinSrvObject (6).");
}

// ---- SkyloomServer ----

sky::ComPtr<ServerObject> ServerObject::of(Farm farm, sky::farm::Server server) {
    auto object = create<ServerObject>();
    object->farm_ = std::move(farm);
    object->name_ = server.name;
    object->server_ = std::move(server);
    return object;
}

sky::ComPtr<ServerObject> ServerObject::named(Farm farm, std::string name) {
    auto object = create<ServerObject>();
    object->farm_ = std::move(farm);
    object->name_ = std::move(name);
    return object;
}

HRESULT ServerObject::bind(Farm farm, SkyloomObjectType type, BSTR name) {
    if (HRESULT hr = checkServerKind(type); FAILED(hr))
        return hr;
    if (!farm)
        farm = farm_;
    if (HRESULT hr = connect(farm); FAILED(hr))
        return hr;
    auto server = farm->use([&](FarmStore& store) { return store.server(textOf(name)); });
    if (!server)
        return withErrorInfo(server.status());
    farm_ = std::move(farm);
    name_ = server->name;
    server_ = std::move(*server);
    return S_OK;
}

HRESULT ServerObject::open(Farm farm, SkyloomObjectType type, BSTR name) {
    return catchExceptions([&] { return bind(std::move(farm), type, name); });
}

HRESULT ServerObject::Initialize(SkyloomObjectType ServerType, BSTR SrvName) {
    return catchExceptions([&] { return bind(nullptr, ServerType, SrvName); });
}

HRESULT ServerObject::ready() {
    if (server_)
        return S_OK;
    if (!farm_)
        return withErrorInfo(E_UNEXPECTED,
                             "The server object names no server yet; call Initialize with "
                             "the server's name first.");
    auto server = farm_->use([&](FarmStore& store) { return store.server(name_); });
    if (!server)
        return withErrorInfo(server.status());
    server_ = std::move(*server);
    return S_OK;
}

HRESULT ServerObject::LoadData(LONG) {
    return catchExceptions([&] {
        if (!farm_)
            return ready();
        server_.reset();
        return ready();
    });
}

HRESULT ServerObject::get_ServerName(BSTR* pVal) {
    if (name_.empty())
        return ready();
    return returnText(pVal, name_);
}

HRESULT ServerObject::get_ServerType(SkyloomObjectType* pVal) {
    return returnEnum(pVal, SkyloomWinSrvObject);
}

HRESULT ServerObject::get_ZoneName(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, server_->zone); });
}

HRESULT ServerObject::get_IsDataCollector(VARIANT_BOOL* pVal) {
    return whenReady([&] {
        auto zones = farm_->use([](FarmStore& store) { return store.zones(); });
        if (!zones)
            return withErrorInfo(zones.status());
        const bool collects = std::any_of(zones->begin(), zones->end(), [&](const auto& zone) {
            return sky::farm::sameName(zone.dataCollector, name_);
        });
        return returnBool(pVal, collects);
    });
}

HRESULT ServerObject::get_Applications(ISkyloomApplications** ppApplications) {
    if (!ppApplications)
        return nullOut();
    return whenReady([&] {
        auto apps = farm_->use([&](FarmStore& store) {
            return store.applicationsOnServer(name_, sky::farm::IconLoading::Skip);
        });
        if (!apps)
            return withErrorInfo(apps.status());
        return returnCollection<ApplicationCollection>(
            ppApplications, farm_, *apps, [&](sky::farm::Application& app) {
                return ApplicationObject::loaded(farm_, std::move(app));
            });
    });
}

HRESULT ServerObject::get_WinServerObjectAs(REFIID riid, void** out) {
    return selfAs(riid, out);
}

HRESULT ServerObject::get_WinNTVerMajor(LONG* pVal) {
    return whenReady([&] { return returnLong(pVal, server_->osMajor); });
}

HRESULT ServerObject::get_WinNTVerMinor(LONG* pVal) {
    return whenReady([&] { return returnLong(pVal, server_->osMinor); });
}

HRESULT ServerObject::get_HostName(BSTR* pVal) {
    return get_ServerName(pVal);
}

// ---- zones ----

sky::ComPtr<ZoneObject> ZoneObject::of(Farm farm, sky::farm::Zone zone) {
    auto object = create<ZoneObject>();
    object->farm_ = std::move(farm);
    object->zone_ = std::move(zone);
    return object;
}

HRESULT ZoneObject::open(Farm farm, BSTR name) {
    return catchExceptions([&] {
        if (!farm)
            farm = farm_;
        if (HRESULT hr = connect(farm); FAILED(hr))
            return hr;
        auto zones = farm->use([](FarmStore& store) { return store.zones(); });
        if (!zones)
            return withErrorInfo(zones.status());
        const std::string wanted = textOf(name);
        auto it = std::find_if(zones->begin(), zones->end(), [&](const sky::farm::Zone& zone) {
            return sky::farm::sameName(zone.name, wanted);
        });
        if (it == zones->end())
            return withErrorInfo(kNotFound, "There is no zone named " + wanted + " in the farm.");
        farm_ = std::move(farm);
        zone_ = *it;
        return S_OK;
    });
}

HRESULT ZoneObject::Initialize(BSTR Name) {
    return open(nullptr, Name);
}

HRESULT ZoneObject::ready() {
    if (zone_)
        return S_OK;
    return withErrorInfo(
        E_UNEXPECTED,
        "The zone object names no zone yet; call Initialize with the zone's name first.");
}

HRESULT ZoneObject::get_ZoneName(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, zone_->name); });
}

HRESULT ZoneObject::get_DataCollector(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, zone_->dataCollector); });
}

sky::farm::Result<std::vector<sky::farm::Server>> ZoneObject::members() {
    auto servers = farm_->use([](FarmStore& store) { return store.servers(); });
    if (servers)
        std::erase_if(*servers, [&](const sky::farm::Server& server) {
            return !sky::farm::sameName(server.zone, zone_->name);
        });
    return servers;
}

HRESULT ZoneObject::get_Servers(ISkyloomServers** ppServers) {
    if (!ppServers)
        return nullOut();
    return whenReady([&] {
        auto servers = members();
        if (!servers)
            return withErrorInfo(servers.status());
        return returnCollection<ServerCollection>(
            ppServers, farm_, *servers,
            [&](sky::farm::Server& server) { return ServerObject::of(farm_, std::move(server)); });
    });
}

HRESULT ZoneObject::get_ServerCount(LONG* pVal) {
    return whenReady([&] {
        auto servers = members();
        if (!servers)
            return withErrorInfo(servers.status());
        return returnLong(pVal, static_cast<LONG>(servers->size()));
    });
}

// ---- SkyloomAppSrvBinding ----

sky::ComPtr<BindingObject> BindingObject::of(Farm farm, std::string server,
                                             std::string application) {
    auto object = create<BindingObject>();
    object->farm_ = std::move(farm);
    object->server_ = sky::farm::Server{std::move(server)};
    object->application_ = std::move(application);
    return object;
}

HRESULT BindingObject::Initialize(SkyloomObjectType ServerType, BSTR SrvName, BSTR AppDN) {
    return catchExceptions([&] {
        if (HRESULT hr = checkServerKind(ServerType); FAILED(hr))
            return hr;
        const std::string application = textOf(AppDN);
        if (!application.empty()) {
            auto segments = sky::farm::splitDistinguishedName(application);
            if (!segments)
                return withErrorInfo(segments.status());
            if (segments->empty())
                return withErrorInfo(E_INVALIDARG,
                                     application + " is the root folder, not an application.");
        }
        Farm farm = farm_;
        if (HRESULT hr = connect(farm); FAILED(hr))
            return hr;
        auto server = farm->use([&](FarmStore& store) { return store.server(textOf(SrvName)); });
        if (!server)
            return withErrorInfo(server.status());
        farm_ = std::move(farm);
        server_ = std::move(*server);
        application_ = application;
        return S_OK;
    });
}

HRESULT BindingObject::ready() {
    if (server_)
        return S_OK;
    return withErrorInfo(E_UNEXPECTED, "The binding names no server yet; call Initialize with the "
                                       "server's name first.");
}

HRESULT BindingObject::get_ServerName(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, server_->name); });
}

HRESULT BindingObject::get_AppDistinguishedName(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, application_); });
}

HRESULT BindingObject::get_ServerType(SkyloomObjectType* pVal) {
    return whenReady([&] { return returnEnum(pVal, SkyloomWinSrvObject); });
}

HRESULT BindingObject::get_ZoneName(BSTR* pVal) {
    return whenReady([&] {
        auto server = farm_->use([&](FarmStore& store) { return store.server(server_->name); });
        if (!server)
            return withErrorInfo(server.status());
        return returnText(pVal, server->zone);
    });
}

HRESULT BindingObject::get_ServerObject(ISkyloomServer5** ppServer5) {
    if (!ppServer5)
        return nullOut();
    return whenReady([&] {
        return returnObject(ppServer5,
                            ServerObject::named(farm_, server_->name)->self<ISkyloomServer5>());
    });
}

HRESULT BindingObject::get_ApplicationObject(ISkyloomApplication5** ppApplication5) {
    if (!ppApplication5)
        return nullOut();
    return whenReady([&] {
        if (application_.empty())
            return withErrorInfo(kNotFound, "The binding names no application; it serves whichever "
                                            "application it is given to.");
        auto app = create<ApplicationObject>();
        sky::Bstr dn = sky::Bstr::fromUtf8(application_);
        if (HRESULT hr = app->open(farm_, SkyloomWinAppObject, dn.get()); FAILED(hr))
            return hr;
        return returnObject(ppApplication5, app->self<ISkyloomApplication5>());
    });
}

} // namespace qvcomsrv

// The farm: what it holds (zones, servers, applications, folders) and the objects it hands out.
// Its Windows settings are in farm_settings.cpp.
#include "farm_object.h"

#include <algorithm>

#include "application_object.h"
#include "collection.h"
#include "folder_object.h"
#include "names.h"
#include "results.h"
#include "server_objects.h"

namespace qvcomsrv {

using sky::farm::FarmStore;

void* FarmObject::face(REFIID riid) {
    if (answersFor<ISkyloomFarm6, ISkyloomFarm5, ISkyloomFarm4, ISkyloomFarm3, ISkyloomFarm2,
                   ISkyloomFarm>(riid))
        return static_cast<ISkyloomFarm6*>(this);
    if (answersFor<ISkyloomWinFarm6, ISkyloomWinFarm5, ISkyloomWinFarm4, ISkyloomWinFarm3,
                   ISkyloomWinFarm2, ISkyloomWinFarm>(riid))
        return static_cast<ISkyloomWinFarm6*>(this);
    return nullptr;
}

HRESULT FarmObject::Initialize(SkyloomObjectType FarmType) {
    if (FarmType != SkyloomWinFarmObject)
        return fail(E_INVALIDARG, "The object kind " + std::to_string(FarmType) +
                                      " is not a kind of farm: this is a farm of Windows "
                                      "servers, SkyloomWinFarmObject (1).");
    return guarded([&] {
        auto connected = connectToMachineFarm();
        if (!connected)
            return fail(connected.status(), "The farm cannot be opened");
        auto info = (*connected)->use([](FarmStore& store) { return store.farm(); });
        if (!info)
            return fail(info.status(), "The farm cannot be read");
        farm_ = std::move(*connected);
        name_ = info->name;
        return S_OK;
    });
}

HRESULT FarmObject::ready() {
    if (farm_)
        return S_OK;
    return fail(E_UNEXPECTED, "The farm object is not connected to a farm yet; call "
                              "Initialize(SkyloomWinFarmObject) first.");
}

HRESULT FarmObject::Refresh() {
    return whenReady([&] {
        auto info = farm_->use([](FarmStore& store) { return store.farm(); });
        if (!info)
            return fail(info.status());
        name_ = info->name;
        return S_OK;
    });
}

HRESULT FarmObject::get_FarmName(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, name_); });
}

HRESULT FarmObject::get_FarmType(SkyloomObjectType* pVal) {
    return whenReady([&] { return returnEnum(pVal, SkyloomWinFarmObject); });
}

HRESULT FarmObject::get_DataStoreType(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, farm_->location().type); });
}

HRESULT FarmObject::get_DataStoreLocation(BSTR* pVal) {
    return whenReady([&] { return returnText(pVal, farm_->location().path); });
}

HRESULT FarmObject::get_WinFarmObject(ISkyloomWinFarm** ppWinFarm) {
    return returnObject(ppWinFarm, self<ISkyloomWinFarm>());
}

HRESULT FarmObject::get_WinFarmObject6(ISkyloomWinFarm6** ppWinFarm6) {
    return returnObject(ppWinFarm6, self<ISkyloomWinFarm6>());
}

// ---- collections ----

HRESULT FarmObject::get_Zones(ISkyloomZones** ppZones) {
    if (!ppZones)
        return nullOut();
    return whenReady([&] {
        auto zones = farm_->use([](FarmStore& store) { return store.zones(); });
        if (!zones)
            return fail(zones.status());
        return returnCollection<ZoneCollection>(ppZones, *zones, [&](sky::farm::Zone& zone) {
            return ZoneObject::of(farm_, std::move(zone));
        });
    });
}

HRESULT FarmObject::get_Servers(ISkyloomServers** ppServers) {
    if (!ppServers)
        return nullOut();
    return whenReady([&] {
        auto servers = farm_->use([](FarmStore& store) { return store.servers(); });
        if (!servers)
            return fail(servers.status());
        return returnCollection<ServerCollection>(
            ppServers, *servers,
            [&](sky::farm::Server& server) { return ServerObject::of(farm_, std::move(server)); });
    });
}

namespace {

template <typename Keep>
HRESULT applicationCollection(const Farm& farm, ISkyloomApplications** out, Keep&& keep) {
    auto apps = farm->use(
        [](FarmStore& store) { return store.applications(sky::farm::IconLoading::Skip); });
    if (!apps)
        return fail(apps.status());
    std::erase_if(*apps, [&](const sky::farm::Application& app) { return !keep(app); });
    return returnCollection<ApplicationCollection>(out, *apps, [&](sky::farm::Application& app) {
        return ApplicationObject::loaded(farm, std::move(app));
    });
}

} // namespace

HRESULT FarmObject::get_Applications(ISkyloomApplications** ppApplications) {
    if (!ppApplications)
        return nullOut();
    return whenReady([&] {
        return applicationCollection(farm_, ppApplications,
                                     [](const sky::farm::Application&) { return true; });
    });
}

HRESULT FarmObject::FindApplications(BSTR AppName, ISkyloomApplications** ppApplications) {
    if (!ppApplications)
        return nullOut();
    return whenReady([&] {
        const std::string name = textOf(AppName);
        return applicationCollection(farm_, ppApplications, [&](const sky::farm::Application& a) {
            return sky::farm::sameName(a.name, name);
        });
    });
}

// ---- single objects ----

HRESULT FarmObject::getApplication(SkyloomObjectType type, BSTR dn, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        auto app = create<ApplicationObject>();
        if (HRESULT hr = app->open(farm_, type, dn); FAILED(hr))
            return hr;
        return app->QueryInterface(riid, out);
    });
}

HRESULT FarmObject::addApplication(SkyloomObjectType type, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        if (HRESULT hr = checkApplicationKind(type); FAILED(hr))
            return hr;
        return ApplicationObject::created(farm_, type)->QueryInterface(riid, out);
    });
}

HRESULT FarmObject::getServer(SkyloomObjectType type, BSTR name, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        auto server = create<ServerObject>();
        if (HRESULT hr = server->open(farm_, type, name); FAILED(hr))
            return hr;
        return server->QueryInterface(riid, out);
    });
}

HRESULT FarmObject::getFolder(BSTR dn, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        auto folder = create<FolderObject>();
        if (HRESULT hr = folder->open(farm_, dn); FAILED(hr))
            return hr;
        return folder->QueryInterface(riid, out);
    });
}

HRESULT FarmObject::getZone(BSTR name, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        auto zone = create<ZoneObject>();
        if (HRESULT hr = zone->open(farm_, name); FAILED(hr))
            return hr;
        return zone->QueryInterface(riid, out);
    });
}

HRESULT FarmObject::GetApplication(SkyloomObjectType AppType, BSTR AppDN,
                                   ISkyloomApplication** ppApplication) {
    return getApplication(AppType, AppDN, IID_ISkyloomApplication,
                          reinterpret_cast<void**>(ppApplication));
}
HRESULT FarmObject::GetApplication4(SkyloomObjectType AppType, BSTR AppDN,
                                    ISkyloomApplication4** ppApplication4) {
    return getApplication(AppType, AppDN, IID_ISkyloomApplication4,
                          reinterpret_cast<void**>(ppApplication4));
}
HRESULT FarmObject::GetApplication5(SkyloomObjectType AppType, BSTR AppDN,
                                    ISkyloomApplication5** ppApplication5) {
    return getApplication(AppType, AppDN, IID_ISkyloomApplication5,
                          reinterpret_cast<void**>(ppApplication5));
}
HRESULT FarmObject::AddApplication(SkyloomObjectType AppType, ISkyloomApplication** ppApplication) {
    return addApplication(AppType, IID_ISkyloomApplication,
                          reinterpret_cast<void**>(ppApplication));
}
HRESULT FarmObject::AddApplication4(SkyloomObjectType AppType,
                                    ISkyloomApplication4** ppApplication4) {
    return addApplication(AppType, IID_ISkyloomApplication4,
                          reinterpret_cast<void**>(ppApplication4));
}
HRESULT FarmObject::AddApplication5(SkyloomObjectType AppType,
                                    ISkyloomApplication5** ppApplication5) {
    return addApplication(AppType, IID_ISkyloomApplication5,
                          reinterpret_cast<void**>(ppApplication5));
}
HRESULT FarmObject::GetServer(SkyloomObjectType ServerType, BSTR ServerName,
                              ISkyloomServer** ppServer) {
    return getServer(ServerType, ServerName, IID_ISkyloomServer,
                     reinterpret_cast<void**>(ppServer));
}
HRESULT FarmObject::GetServer4(SkyloomObjectType ServerType, BSTR ServerName,
                               ISkyloomServer4** ppServer4) {
    return getServer(ServerType, ServerName, IID_ISkyloomServer4,
                     reinterpret_cast<void**>(ppServer4));
}
HRESULT FarmObject::GetServer5(SkyloomObjectType ServerType, BSTR ServerName,
                               ISkyloomServer5** ppServer5) {
    return getServer(ServerType, ServerName, IID_ISkyloomServer5,
                     reinterpret_cast<void**>(ppServer5));
}
HRESULT FarmObject::GetFolder(BSTR FolderDN, ISkyloomFolder** ppFolder) {
    return getFolder(FolderDN, IID_ISkyloomFolder, reinterpret_cast<void**>(ppFolder));
}
HRESULT FarmObject::GetFolder4(BSTR FolderDN, ISkyloomFolder4** ppFolder4) {
    return getFolder(FolderDN, IID_ISkyloomFolder4, reinterpret_cast<void**>(ppFolder4));
}
HRESULT FarmObject::GetFolder5(BSTR FolderDN, ISkyloomFolder5** ppFolder5) {
    return getFolder(FolderDN, IID_ISkyloomFolder5, reinterpret_cast<void**>(ppFolder5));
}
HRESULT FarmObject::get_ApplicationFolder(ISkyloomFolder** ppFolder) {
    if (!ppFolder)
        return nullOut();
    return whenReady([&] {
        return returnObject(
            ppFolder,
            FolderObject::at(farm_, std::string(sky::farm::kRootFolder))->self<ISkyloomFolder>());
    });
}
HRESULT FarmObject::GetZone(BSTR ZoneName, ISkyloomZone** ppZone) {
    return getZone(ZoneName, IID_ISkyloomZone, reinterpret_cast<void**>(ppZone));
}
HRESULT FarmObject::GetZone3(BSTR ZoneName, ISkyloomZone3** ppZone3) {
    return getZone(ZoneName, IID_ISkyloomZone3, reinterpret_cast<void**>(ppZone3));
}

HRESULT FarmObject::RemoveApplication(BSTR AppDN) {
    return whenReady([&] {
        const std::string dn = textOf(AppDN);
        const sky::farm::Status status =
            farm_->use([&](FarmStore& store) { return store.deleteApplication(dn); });
        return status ? S_OK : fail(status);
    });
}

} // namespace qvcomsrv

// The farm: what it holds (zones, servers, applications, folders) and the objects it hands out.
// Its Windows settings are in farm_settings.cpp.
#include "farm_object.h"

#include <algorithm>

#include "application_object.h"
#include "collection.h"
#include "folder_object.h"
#include "qvcomsrv/store/names.h"
#include "results.h"
#include "server_objects.h"

namespace qvcomsrv {

using sky::farm::FarmStore;

HRESULT FarmObject::Initialize(SkyloomObjectType FarmType) {
    if (FarmType != SkyloomWinFarmObject)
        return withErrorInfo(E_INVALIDARG, "The object kind " + std::to_string(FarmType) +
                                               " is not a kind of farm: this is a farm of Windows "
                                               "servers, SkyloomWinFarmObject (1).");
    return catchExceptions([&] {
        auto connected = connectToMachineFarm();
        if (!connected)
            return withErrorInfo(connected.status(), "The farm cannot be opened");
        // Open to every machine user (member_access.cpp): the name is kept, and handed out only
        // to an administrator (FarmName).
        auto info = (*connected)->useOpenly([](FarmStore& store) { return store.farm(); });
        if (!info)
            return withErrorInfo(info.status(), "The farm cannot be read");
        farm_ = std::move(*connected);
        name_ = info->name;
        return S_OK;
    });
}

HRESULT FarmObject::connected() {
    if (farm_)
        return S_OK;
    return withErrorInfo(E_UNEXPECTED, "The farm object is not connected to a farm yet; call "
                                       "Initialize(SkyloomWinFarmObject) first.");
}

HRESULT FarmObject::ready() {
    if (HRESULT hr = connected(); FAILED(hr))
        return hr;
    // What the object keeps (the farm's name, where its store is) is the farm's data too: a
    // program that calls this object's members directly in its own process passes no gate.
    const sky::farm::Status allowed = farm_->admit();
    return allowed ? S_OK : withErrorInfo(allowed);
}

HRESULT FarmObject::Refresh() {
    return whenReady([&] {
        auto info = farm_->use([](FarmStore& store) { return store.farm(); });
        if (!info)
            return withErrorInfo(info.status());
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

HRESULT FarmObject::get_WinFarmObjectAs(REFIID riid, void** out) {
    return selfAs(riid, out);
}

// ---- collections ----

HRESULT FarmObject::get_Zones(ISkyloomZones** ppZones) {
    if (!ppZones)
        return nullOut();
    return whenReady([&] {
        auto zones = farm_->use([](FarmStore& store) { return store.zones(); });
        if (!zones)
            return withErrorInfo(zones.status());
        return returnCollection<ZoneCollection>(ppZones, farm_, *zones, [&](sky::farm::Zone& zone) {
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
            return withErrorInfo(servers.status());
        return returnCollection<ServerCollection>(
            ppServers, farm_, *servers,
            [&](sky::farm::Server& server) { return ServerObject::of(farm_, std::move(server)); });
    });
}

namespace {

template <typename Keep>
HRESULT applicationCollection(const Farm& farm, ISkyloomApplications** out, Keep&& keep) {
    auto apps = farm->use(
        [](FarmStore& store) { return store.applications(sky::farm::IconLoading::Skip); });
    if (!apps)
        return withErrorInfo(apps.status());
    std::erase_if(*apps, [&](const sky::farm::Application& app) { return !keep(app); });
    return returnCollection<ApplicationCollection>(
        out, farm, *apps, [&](sky::farm::Application& app) {
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

HRESULT FarmObject::GetApplicationAs(SkyloomObjectType type, BSTR dn, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        auto app = create<ApplicationObject>();
        if (HRESULT hr = app->open(farm_, type, dn); FAILED(hr))
            return hr;
        return app->query(riid, out);
    });
}

HRESULT FarmObject::AddApplicationAs(SkyloomObjectType type, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        if (HRESULT hr = checkApplicationKind(type); FAILED(hr))
            return hr;
        return ApplicationObject::created(farm_, type)->query(riid, out);
    });
}

HRESULT FarmObject::GetServerAs(SkyloomObjectType type, BSTR name, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        auto server = create<ServerObject>();
        if (HRESULT hr = server->open(farm_, type, name); FAILED(hr))
            return hr;
        return server->query(riid, out);
    });
}

HRESULT FarmObject::GetFolderAs(BSTR dn, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        auto folder = create<FolderObject>();
        if (HRESULT hr = folder->open(farm_, dn); FAILED(hr))
            return hr;
        return folder->query(riid, out);
    });
}

HRESULT FarmObject::GetZoneAs(BSTR name, REFIID riid, void** out) {
    if (!out)
        return nullOut();
    return whenReady([&] {
        auto zone = create<ZoneObject>();
        if (HRESULT hr = zone->open(farm_, name); FAILED(hr))
            return hr;
        return zone->query(riid, out);
    });
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
HRESULT FarmObject::RemoveApplication(BSTR AppDN) {
    return whenReady([&] {
        const std::string dn = textOf(AppDN);
        const sky::farm::Status status =
            farm_->use([&](FarmStore& store) { return store.deleteApplication(dn); });
        return status ? S_OK : withErrorInfo(status);
    });
}

} // namespace qvcomsrv

// SkyloomFarm: the farm (ISkyloomFarm to ISkyloomFarm6) and its farm-wide Windows settings
// (ISkyloomWinFarm to ISkyloomWinFarm6) in one object. WinFarmObject hands out the object itself
// at its settings face. Settings have no save step: every put is written to the store at once,
// and every get reads it.
#pragma once

#include <string>

#include "SkyloomCOM_notimpl.h"
#include "com_class.h"
#include "farm_connection.h"
#include "qvcomsrv/store/settings.h"
#include "setting_properties.h"

namespace qvcomsrv {

class FarmObject final : public ComClass<ISkyloomFarm6NotImpl, ISkyloomWinFarm6NotImpl> {
public:
    FarmObject() = default;

    // ISkyloomFarm
    HRESULT STDMETHODCALLTYPE Initialize(SkyloomObjectType FarmType) override;
    // Every version of GetApplication, AddApplication, GetServer, GetFolder, GetZone and
    // WinFarmObject, at the interface `riid`.
    HRESULT GetApplicationAs(SkyloomObjectType AppType, BSTR AppDN, REFIID riid,
                             void** out) override;
    HRESULT AddApplicationAs(SkyloomObjectType AppType, REFIID riid, void** out) override;
    HRESULT GetServerAs(SkyloomObjectType ServerType, BSTR ServerName, REFIID riid,
                        void** out) override;
    HRESULT GetFolderAs(BSTR FolderDN, REFIID riid, void** out) override;
    HRESULT GetZoneAs(BSTR ZoneName, REFIID riid, void** out) override;
    HRESULT get_WinFarmObjectAs(REFIID riid, void** out) override;
    HRESULT STDMETHODCALLTYPE get_FarmName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Zones(ISkyloomZones** ppZones) override;
    HRESULT STDMETHODCALLTYPE get_Applications(ISkyloomApplications** ppApplications) override;
    HRESULT STDMETHODCALLTYPE get_Servers(ISkyloomServers** ppServers) override;
    HRESULT STDMETHODCALLTYPE get_FarmType(SkyloomObjectType* pVal) override;
    // ISkyloomFarm3
    HRESULT STDMETHODCALLTYPE get_ApplicationFolder(ISkyloomFolder** ppFolder) override;
    // ISkyloomFarm4
    HRESULT STDMETHODCALLTYPE FindApplications(BSTR AppName,
                                               ISkyloomApplications** ppApplications) override;
    HRESULT STDMETHODCALLTYPE get_DataStoreType(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_DataStoreLocation(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE Refresh() override;
    // ISkyloomFarm5
    HRESULT STDMETHODCALLTYPE RemoveApplication(BSTR AppDN) override;

    // ISkyloomWinFarm to ISkyloomWinFarm5: the farm settings and the administrator check
    SKY_FARM_SETTINGS(QV_SETTING_DECLARATION)
    HRESULT STDMETHODCALLTYPE get_IsVantorAdministrator(LONG* pVal) override;

protected:
    // Fails (with a description) until Initialize has connected the object to its farm.
    HRESULT ready() override;
    // Fails until Initialize, whoever calls.
    HRESULT connected();

private:
    // Reads a setting from the store and hands it to `deliver`.
    template <typename Deliver>
    HRESULT readSetting(sky::farm::FarmSetting setting, Deliver&& deliver);
    HRESULT writeSetting(sky::farm::FarmSetting setting, sky::farm::SettingValue value);
    // A setting's property in each of its types.
    HRESULT getProperty(sky::farm::FarmSetting setting, LONG* out);
    HRESULT getProperty(sky::farm::FarmSetting setting, BSTR* out);
    template <typename Enumeration>
    HRESULT getProperty(sky::farm::FarmSetting setting, Enumeration* out);
    HRESULT putProperty(sky::farm::FarmSetting setting, LONG value);
    HRESULT putProperty(sky::farm::FarmSetting setting, BSTR value);
    template <typename Enumeration>
    HRESULT putProperty(sky::farm::FarmSetting setting, Enumeration value);

    FarmConnection* accessFarm() override { return farm_.get(); }
    Farm farm_;
    std::string name_;
};

} // namespace qvcomsrv

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
    // ISkyloomFarm6

    // ISkyloomWinFarm
    HRESULT STDMETHODCALLTYPE get_NoRedundantGraphics(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_NoRedundantGraphics(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_AlternateCachingMethod(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_AlternateCachingMethod(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_OvraVideoBufferSize(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_OvraVideoBufferSize(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_DegradationBias(QVWinOvraDegradationBias* pVal) override;
    HRESULT STDMETHODCALLTYPE put_DegradationBias(QVWinOvraDegradationBias newVal) override;
    HRESULT STDMETHODCALLTYPE get_NotifyDegradation(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_NotifyDegradation(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_DCRespondToClientBroadcast(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_DCRespondToClientBroadcast(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_RASRespondToClientBroadcast(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_RASRespondToClientBroadcast(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_LegacyQVServerCompatibleMode(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_LegacyQVServerCompatibleMode(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_UseClientLocalTime(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_UseClientLocalTime(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_DisableClientLocalTimeEstimation(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_DisableClientLocalTimeEstimation(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_EnableSNMPAgent(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_EnableSNMPAgent(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_SNMPLogonTrap(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SNMPLogonTrap(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_SNMPLogoffTrap(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SNMPLogoffTrap(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_SNMPDisconnectTrap(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SNMPDisconnectTrap(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_SNMPThresholdExceededTrap(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SNMPThresholdExceededTrap(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_SNMPThresholdValue(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SNMPThresholdValue(LONG newVal) override;
    // ISkyloomWinFarm2
    HRESULT STDMETHODCALLTYPE get_IsVantorAdministrator(LONG* pVal) override;
    // ISkyloomWinFarm3
    HRESULT STDMETHODCALLTYPE get_EnableACR(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_EnableACR(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_LogACRAttempts(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_LogACRAttempts(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_EnableDNSAddressResolution(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_EnableDNSAddressResolution(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_NDSPreferredTree(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE put_NDSPreferredTree(BSTR newVal) override;
    HRESULT STDMETHODCALLTYPE get_MaxConnectionsPerUser(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_MaxConnectionsPerUser(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_LogOverLimitDenials(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_LogOverLimitDenials(LONG newVal) override;
    // ISkyloomWinFarm4
    HRESULT STDMETHODCALLTYPE get_EnableOvraKeepAlive(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_EnableOvraKeepAlive(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_OvraKeepAliveTimeout(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_OvraKeepAliveTimeout(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_EnforceConnectionsLimitOnAdmins(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_EnforceConnectionsLimitOnAdmins(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_EnableContentRedirection(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_EnableContentRedirection(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_EnableRemoteConsoleConnections(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_EnableRemoteConsoleConnections(LONG newVal) override;
    // ISkyloomWinFarm5
    HRESULT STDMETHODCALLTYPE get_LumoEnumMode(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_LumoEnumMode(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_ZonesShareLoadInfo(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_ZonesShareLoadInfo(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_SREnabled(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SREnabled(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_SRPort(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SRPort(LONG newVal) override;
    HRESULT STDMETHODCALLTYPE get_SRTimeout(LONG* pVal) override;
    HRESULT STDMETHODCALLTYPE put_SRTimeout(LONG newVal) override;

protected:
    // Fails (with a description) until Initialize has connected the object to its farm.
    HRESULT ready() override;

private:
    // Reads a setting from the store and hands it to `deliver`.
    template <typename Deliver>
    HRESULT readSetting(sky::farm::FarmSetting setting, Deliver&& deliver);
    HRESULT getSetting(sky::farm::FarmSetting setting, LONG* out);
    HRESULT getTextSetting(sky::farm::FarmSetting setting, BSTR* out);
    HRESULT putSetting(sky::farm::FarmSetting setting, sky::farm::SettingValue value);

    Farm farm_;
    std::string name_;
};

} // namespace qvcomsrv

// SkyloomFarm: the farm (ISkyloomFarm to ISkyloomFarm6) and its farm-wide Windows settings
// (ISkyloomWinFarm to ISkyloomWinFarm6) in one object. WinFarmObject hands out the object itself
// at its settings face. Settings have no save step: every put is written to the store at once,
// and every get reads it.
#pragma once

#include <string>

#include "SkyloomCOM_notimpl.h"
#include "com_class.h"
#include "farm_connection.h"
#include "settings.h"

namespace qvcomsrv {

class FarmObject final
    : public ComClass<ISkyloomFarm6, ISkyloomFarm6NotImpl, ISkyloomWinFarm6NotImpl> {
public:
    FarmObject() = default;

    // ISkyloomFarm
    HRESULT STDMETHODCALLTYPE Initialize(SkyloomObjectType FarmType) override;
    HRESULT STDMETHODCALLTYPE get_FarmName(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_Zones(ISkyloomZones** ppZones) override;
    HRESULT STDMETHODCALLTYPE get_Applications(ISkyloomApplications** ppApplications) override;
    HRESULT STDMETHODCALLTYPE get_Servers(ISkyloomServers** ppServers) override;
    HRESULT STDMETHODCALLTYPE get_WinFarmObject(ISkyloomWinFarm** ppWinFarm) override;
    HRESULT STDMETHODCALLTYPE get_FarmType(SkyloomObjectType* pVal) override;
    HRESULT STDMETHODCALLTYPE GetApplication(SkyloomObjectType AppType, BSTR AppDN,
                                             ISkyloomApplication** ppApplication) override;
    HRESULT STDMETHODCALLTYPE AddApplication(SkyloomObjectType AppType,
                                             ISkyloomApplication** ppApplication) override;
    HRESULT STDMETHODCALLTYPE GetServer(SkyloomObjectType ServerType, BSTR ServerName,
                                        ISkyloomServer** ppServer) override;
    HRESULT STDMETHODCALLTYPE GetZone(BSTR ZoneName, ISkyloomZone** ppZone) override;
    // ISkyloomFarm3
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR FolderDN, ISkyloomFolder** ppFolder) override;
    HRESULT STDMETHODCALLTYPE get_ApplicationFolder(ISkyloomFolder** ppFolder) override;
    // ISkyloomFarm4
    HRESULT STDMETHODCALLTYPE FindApplications(BSTR AppName,
                                               ISkyloomApplications** ppApplications) override;
    HRESULT STDMETHODCALLTYPE get_DataStoreType(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE get_DataStoreLocation(BSTR* pVal) override;
    HRESULT STDMETHODCALLTYPE Refresh() override;
    // ISkyloomFarm5
    HRESULT STDMETHODCALLTYPE GetApplication4(SkyloomObjectType AppType, BSTR AppDN,
                                              ISkyloomApplication4** ppApplication4) override;
    HRESULT STDMETHODCALLTYPE AddApplication4(SkyloomObjectType AppType,
                                              ISkyloomApplication4** ppApplication4) override;
    HRESULT STDMETHODCALLTYPE GetServer4(SkyloomObjectType ServerType, BSTR ServerName,
                                         ISkyloomServer4** ppServer4) override;
    HRESULT STDMETHODCALLTYPE GetFolder4(BSTR FolderDN, ISkyloomFolder4** ppFolder4) override;
    HRESULT STDMETHODCALLTYPE RemoveApplication(BSTR AppDN) override;
    // ISkyloomFarm6
    HRESULT STDMETHODCALLTYPE GetApplication5(SkyloomObjectType AppType, BSTR AppDN,
                                              ISkyloomApplication5** ppApplication5) override;
    HRESULT STDMETHODCALLTYPE AddApplication5(SkyloomObjectType AppType,
                                              ISkyloomApplication5** ppApplication5) override;
    HRESULT STDMETHODCALLTYPE GetServer5(SkyloomObjectType ServerType, BSTR ServerName,
                                         ISkyloomServer5** ppServer5) override;
    HRESULT STDMETHODCALLTYPE GetFolder5(BSTR FolderDN, ISkyloomFolder5** ppFolder5) override;
    HRESULT STDMETHODCALLTYPE GetZone3(BSTR ZoneName, ISkyloomZone3** ppZone3) override;
    HRESULT STDMETHODCALLTYPE get_WinFarmObject6(ISkyloomWinFarm6** ppWinFarm6) override;

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
    void* face(REFIID riid) override;
    // Fails (with a description) until Initialize has connected the object to its farm.
    HRESULT ready() override;

private:
    // Reads a setting from the store and hands it to `deliver`.
    template <typename Deliver>
    HRESULT readSetting(sky::farm::FarmSetting setting, Deliver&& deliver);
    HRESULT getSetting(sky::farm::FarmSetting setting, LONG* out);
    HRESULT getTextSetting(sky::farm::FarmSetting setting, BSTR* out);
    HRESULT putSetting(sky::farm::FarmSetting setting, sky::farm::SettingValue value);

    // The application at `dn` (loaded) or a new one, at the interface `riid`.
    HRESULT getApplication(SkyloomObjectType type, BSTR dn, REFIID riid, void** out);
    HRESULT addApplication(SkyloomObjectType type, REFIID riid, void** out);
    HRESULT getServer(SkyloomObjectType type, BSTR name, REFIID riid, void** out);
    HRESULT getFolder(BSTR dn, REFIID riid, void** out);
    HRESULT getZone(BSTR name, REFIID riid, void** out);

    Farm farm_;
    std::string name_;
};

} // namespace qvcomsrv

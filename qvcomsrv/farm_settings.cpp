// The farm-wide Windows settings and the administrator check. Every get reads the store and
// every put writes it at once: farm settings have no save step. A farm that does not report the
// session reliability settings fails their gets and puts.
#include "current_user.h"
#include "farm_object.h"
#include "results.h"

namespace qvcomsrv {

using sky::farm::FarmSetting;
using sky::farm::FarmStore;

template <typename Deliver>
HRESULT FarmObject::readSetting(FarmSetting setting, Deliver&& deliver) {
    return whenReady([&] {
        auto value = farm_->use([&](FarmStore& store) { return store.farmSetting(setting); });
        if (!value)
            return withErrorInfo(value.status());
        return deliver(*value);
    });
}

HRESULT FarmObject::getSetting(FarmSetting setting, LONG* out) {
    return readSetting(setting, [&](const sky::farm::SettingValue& value) {
        const auto* number = std::get_if<std::int32_t>(&value);
        return returnLong(out, number ? *number : 0);
    });
}

HRESULT FarmObject::getTextSetting(FarmSetting setting, BSTR* out) {
    return readSetting(setting, [&](const sky::farm::SettingValue& value) {
        const auto* text = std::get_if<std::string>(&value);
        return returnText(out, text ? *text : std::string());
    });
}

HRESULT FarmObject::putSetting(FarmSetting setting, sky::farm::SettingValue value) {
    return whenReady([&] {
        const sky::farm::Status status =
            farm_->use([&](FarmStore& store) { return store.setFarmSetting(setting, value); });
        return status ? S_OK : withErrorInfo(status);
    });
}

HRESULT FarmObject::get_IsVantorAdministrator(LONG* pVal) {
    if (!pVal)
        return nullOut();
    return whenReady([&] {
        const std::string user = currentUserName();
        if (user.empty())
            return returnLong(pVal, 0);
        auto admin = farm_->use([&](FarmStore& store) { return store.isAdministrator(user); });
        if (!admin)
            return withErrorInfo(admin.status());
        return returnLong(pVal, *admin ? 1 : 0);
    });
}

#define QV_FARM_NUMBER(Name)                                                                       \
    HRESULT FarmObject::get_##Name(LONG* pVal) {                                                   \
        return getSetting(FarmSetting::Name, pVal);                                                \
    }                                                                                              \
    HRESULT FarmObject::put_##Name(LONG newVal) {                                                  \
        return putSetting(FarmSetting::Name, std::int32_t{newVal});                                \
    }

// ISkyloomWinFarm
QV_FARM_NUMBER(NoRedundantGraphics)
QV_FARM_NUMBER(AlternateCachingMethod)
QV_FARM_NUMBER(OvraVideoBufferSize)
QV_FARM_NUMBER(NotifyDegradation)
QV_FARM_NUMBER(DCRespondToClientBroadcast)
QV_FARM_NUMBER(RASRespondToClientBroadcast)
QV_FARM_NUMBER(LegacyQVServerCompatibleMode)
QV_FARM_NUMBER(UseClientLocalTime)
QV_FARM_NUMBER(DisableClientLocalTimeEstimation)
QV_FARM_NUMBER(EnableSNMPAgent)
QV_FARM_NUMBER(SNMPLogonTrap)
QV_FARM_NUMBER(SNMPLogoffTrap)
QV_FARM_NUMBER(SNMPDisconnectTrap)
QV_FARM_NUMBER(SNMPThresholdExceededTrap)
QV_FARM_NUMBER(SNMPThresholdValue)
// ISkyloomWinFarm3
QV_FARM_NUMBER(EnableACR)
QV_FARM_NUMBER(LogACRAttempts)
QV_FARM_NUMBER(EnableDNSAddressResolution)
QV_FARM_NUMBER(MaxConnectionsPerUser)
QV_FARM_NUMBER(LogOverLimitDenials)
// ISkyloomWinFarm4
QV_FARM_NUMBER(EnableOvraKeepAlive)
QV_FARM_NUMBER(OvraKeepAliveTimeout)
QV_FARM_NUMBER(EnforceConnectionsLimitOnAdmins)
QV_FARM_NUMBER(EnableContentRedirection)
QV_FARM_NUMBER(EnableRemoteConsoleConnections)
// ISkyloomWinFarm5
QV_FARM_NUMBER(LumoEnumMode)
QV_FARM_NUMBER(ZonesShareLoadInfo)
QV_FARM_NUMBER(SREnabled)
QV_FARM_NUMBER(SRPort)
QV_FARM_NUMBER(SRTimeout)

#undef QV_FARM_NUMBER

HRESULT FarmObject::get_DegradationBias(QVWinOvraDegradationBias* pVal) {
    if (!pVal)
        return nullOut();
    LONG value = 0;
    if (HRESULT hr = getSetting(FarmSetting::DegradationBias, &value); FAILED(hr))
        return hr;
    return returnEnum(pVal, value);
}

HRESULT FarmObject::put_DegradationBias(QVWinOvraDegradationBias newVal) {
    return putSetting(FarmSetting::DegradationBias, static_cast<std::int32_t>(newVal));
}

HRESULT FarmObject::get_NDSPreferredTree(BSTR* pVal) {
    return getTextSetting(FarmSetting::NDSPreferredTree, pVal);
}

HRESULT FarmObject::put_NDSPreferredTree(BSTR newVal) {
    return catchExceptions(
        [&] { return putSetting(FarmSetting::NDSPreferredTree, textOf(newVal)); });
}

} // namespace qvcomsrv

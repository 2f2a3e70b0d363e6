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

HRESULT FarmObject::writeSetting(FarmSetting setting, sky::farm::SettingValue value) {
    return whenReady([&] {
        const sky::farm::Status status =
            farm_->use([&](FarmStore& store) { return store.setFarmSetting(setting, value); });
        return status ? S_OK : withErrorInfo(status);
    });
}

HRESULT FarmObject::getProperty(FarmSetting setting, LONG* out) {
    return readSetting(setting, [&](const sky::farm::SettingValue& value) {
        const auto* number = std::get_if<std::int32_t>(&value);
        return returnLong(out, number ? *number : 0);
    });
}

HRESULT FarmObject::getProperty(FarmSetting setting, BSTR* out) {
    return readSetting(setting, [&](const sky::farm::SettingValue& value) {
        const auto* text = std::get_if<std::string>(&value);
        return returnText(out, text ? *text : std::string());
    });
}

template <typename Enumeration>
HRESULT FarmObject::getProperty(FarmSetting setting, Enumeration* out) {
    if (!out)
        return nullOut();
    LONG value = 0;
    if (HRESULT hr = getProperty(setting, &value); FAILED(hr))
        return hr;
    return returnEnum(out, value);
}

HRESULT FarmObject::putProperty(FarmSetting setting, LONG value) {
    return writeSetting(setting, std::int32_t{value});
}

HRESULT FarmObject::putProperty(FarmSetting setting, BSTR value) {
    return catchExceptions([&] { return writeSetting(setting, textOf(value)); });
}

template <typename Enumeration>
HRESULT FarmObject::putProperty(FarmSetting setting, Enumeration value) {
    return writeSetting(setting, static_cast<std::int32_t>(value));
}

HRESULT FarmObject::get_IsVantorAdministrator(LONG* pVal) {
    if (!pVal)
        return nullOut();
    return catchExceptions([&] {
        // Open to every machine user (member_access.cpp): it answers 0 for those who are not
        // administrators.
        if (HRESULT hr = connected(); FAILED(hr))
            return hr;
        const std::string user = currentUserName();
        if (user.empty())
            return returnLong(pVal, 0);
        auto admin =
            farm_->useOpenly([&](FarmStore& store) { return store.isAdministrator(user); });
        if (!admin)
            return withErrorInfo(admin.status());
        return returnLong(pVal, *admin ? 1 : 0);
    });
}

#define QV_FARM_SETTING(Name, Kind, Type, Access, Default)                                         \
    QV_SETTING_DEFINITION_##Access(FarmObject, FarmSetting, Name, Type)
SKY_FARM_SETTINGS(QV_FARM_SETTING)
#undef QV_FARM_SETTING

} // namespace qvcomsrv

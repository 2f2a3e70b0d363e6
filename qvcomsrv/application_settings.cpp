// The Windows application settings: each property reads or changes the object's copy of the
// application; SaveData writes them. Values outside a setting's enumeration are refused at once.
#include <variant>

#include "application_object.h"
#include "results.h"

namespace qvcomsrv {

using sky::farm::Application;
using sky::farm::AppSetting;

HRESULT ApplicationObject::getProperty(AppSetting setting, LONG* out) {
    return read(
        [&](const Application& app) { return returnLong(out, app.settings.number(setting)); });
}

HRESULT ApplicationObject::getProperty(AppSetting setting, BSTR* out) {
    return read(
        [&](const Application& app) { return returnText(out, app.settings.text(setting)); });
}

template <typename Enumeration>
HRESULT ApplicationObject::getProperty(AppSetting setting, Enumeration* out) {
    return read(
        [&](const Application& app) { return returnEnum(out, app.settings.number(setting)); });
}

HRESULT ApplicationObject::changeSetting(AppSetting setting, sky::farm::SettingValue value) {
    return change([&](Application& app) {
        if (sky::farm::Status s = app.settings.set(setting, std::move(value)); !s)
            return withErrorInfo(s);
        return S_OK;
    });
}

HRESULT ApplicationObject::putProperty(AppSetting setting, LONG value) {
    return changeSetting(setting, std::int32_t{value});
}

HRESULT ApplicationObject::putProperty(AppSetting setting, BSTR value) {
    return catchExceptions([&] { return changeSetting(setting, textOf(value)); });
}

template <typename Enumeration>
HRESULT ApplicationObject::putProperty(AppSetting setting, Enumeration value) {
    return changeSetting(setting, static_cast<std::int32_t>(value));
}

#define QV_APP_SETTING(Name, Kind, Type, Access, Default)                                          \
    QV_SETTING_DEFINITION_##Access(ApplicationObject, AppSetting, Name, Type)
SKY_APP_SETTINGS(QV_APP_SETTING)
#undef QV_APP_SETTING

} // namespace qvcomsrv

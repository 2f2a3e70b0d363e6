// The Windows application settings: each property reads or changes the object's copy of the
// application; SaveData writes them. Values outside a setting's enumeration are refused at once.
#include <variant>

#include "application_object.h"
#include "results.h"

namespace qvcomsrv {

using sky::farm::Application;
using sky::farm::AppSetting;

HRESULT ApplicationObject::getSetting(AppSetting setting, LONG* out) {
    return change([&](Application& app) { return returnLong(out, app.settings.number(setting)); });
}

template <typename Enumeration>
HRESULT ApplicationObject::getEnum(AppSetting setting, Enumeration* out) {
    return change([&](Application& app) { return returnEnum(out, app.settings.number(setting)); });
}

HRESULT ApplicationObject::getTextSetting(AppSetting setting, BSTR* out) {
    return change([&](Application& app) { return returnText(out, app.settings.text(setting)); });
}

HRESULT ApplicationObject::putSetting(AppSetting setting, sky::farm::SettingValue value) {
    return change([&](Application& app) {
        if (sky::farm::Status s = app.settings.set(setting, std::move(value)); !s)
            return withErrorInfo(s);
        return S_OK;
    });
}

#define QV_NUMBER_SETTING(Name)                                                                    \
    HRESULT ApplicationObject::get_##Name(LONG* pVal) {                                            \
        return getSetting(AppSetting::Name, pVal);                                                 \
    }                                                                                              \
    HRESULT ApplicationObject::put_##Name(LONG newVal) {                                           \
        return putSetting(AppSetting::Name, std::int32_t{newVal});                                 \
    }

#define QV_ENUM_SETTING(Name, Enumeration)                                                         \
    HRESULT ApplicationObject::get_##Name(Enumeration* pVal) {                                     \
        return getEnum(AppSetting::Name, pVal);                                                    \
    }                                                                                              \
    HRESULT ApplicationObject::put_##Name(Enumeration newVal) {                                    \
        return putSetting(AppSetting::Name, static_cast<std::int32_t>(newVal));                    \
    }

#define QV_TEXT_SETTING(Name)                                                                      \
    HRESULT ApplicationObject::get_##Name(BSTR* pVal) {                                            \
        return getTextSetting(AppSetting::Name, pVal);                                             \
    }                                                                                              \
    HRESULT ApplicationObject::put_##Name(BSTR newVal) {                                           \
        return catchExceptions([&] { return putSetting(AppSetting::Name, textOf(newVal)); });      \
    }

// ISkyloomWinApp
QV_NUMBER_SETTING(EnableApp)
QV_ENUM_SETTING(DefaultEncryption, QVWinEncryptionLevel)
QV_TEXT_SETTING(DefaultInitProg)
QV_TEXT_SETTING(DefaultWorkDir)
QV_ENUM_SETTING(DefaultSoundType, QVWinSoundType)
QV_ENUM_SETTING(DefaultWindowColor, QVWinWindowColor)
QV_ENUM_SETTING(DefaultWindowType, QVWinWindowType)
QV_NUMBER_SETTING(DefaultWindowWidth)
QV_NUMBER_SETTING(DefaultWindowHeight)
QV_NUMBER_SETTING(DefaultWindowScale)
QV_ENUM_SETTING(DesktopIntegrate, QVWinDesktopIntegrate)
QV_ENUM_SETTING(QVAttributes, QVWinAppQVAttribute)
QV_ENUM_SETTING(LumoAttributes, QVWinAppLumoAttribute)
QV_TEXT_SETTING(LumoFolder)
// ISkyloomWinApp2
QV_NUMBER_SETTING(InstanceLimit)
QV_NUMBER_SETTING(AllowMultiInstancePerUser)
QV_NUMBER_SETTING(EnableSSLConnections)
QV_TEXT_SETTING(StartMenuFolder)
// ISkyloomWinApp3
QV_NUMBER_SETTING(PlaceUnderProgramsFolder)
QV_NUMBER_SETTING(WaitOnPrinterCreation)
QV_NUMBER_SETTING(AddToClientStartMenu)
QV_NUMBER_SETTING(AddShortcutToClientDesktop)

#undef QV_NUMBER_SETTING
#undef QV_ENUM_SETTING
#undef QV_TEXT_SETTING

// Read-only settings.
HRESULT ApplicationObject::get_CPUPriority(QVWinAppCPUPriorityLevel* pVal) {
    return getEnum(AppSetting::CPUPriority, pVal);
}

HRESULT ApplicationObject::get_HideDisabledApp(LONG* pVal) {
    return getSetting(AppSetting::HideDisabledApp, pVal);
}

} // namespace qvcomsrv

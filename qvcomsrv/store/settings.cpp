#include "qvcomsrv/store/settings.h"

#include <algorithm>

namespace sky::farm {

const EnumerationDef kDegradationBias{"QVWinOvraDegradationBias", 2, false};
const EnumerationDef kEncryptionLevel{"QVWinEncryptionLevel", 5, false};
const EnumerationDef kSoundType{"QVWinSoundType", 2, false};
const EnumerationDef kWindowColor{"QVWinWindowColor", 4, false};
const EnumerationDef kWindowType{"QVWinWindowType", 8, false};
const EnumerationDef kDesktopIntegrate{"QVWinDesktopIntegrate", 2, false};
const EnumerationDef kQVAttribute{"QVWinAppQVAttribute", 2, true};
const EnumerationDef kLumoAttribute{"QVWinAppLumoAttribute", 16, true};
const EnumerationDef kCPUPriorityLevel{"QVWinAppCPUPriorityLevel", 5, false};
const EnumerationDef kAccountType{"SkyloomAccountType", 7, false};
const EnumerationDef kAuthorityType{"QVAccountAuthorityType", 3, false};
const EnumerationDef kObjectType{"SkyloomObjectType", 35, false};

namespace {

// The OR of every bit of a bit set whose highest member is `last`.
std::int32_t bitMask(const EnumerationDef& e) {
    return e.last * 2 - 1;
}

constexpr SettingKind Flag = SettingKind::Flag;
constexpr SettingKind Number = SettingKind::Number;
constexpr SettingKind Text = SettingKind::Text;
constexpr SettingKind Enum = SettingKind::Enumeration;

// Defaults are what a new farm starts with: the display protocol tuned for a LAN, reconnection
// and keep-alive on, SNMP off, no connection limit, session reliability on its usual port.
constexpr std::array<SettingDef, kFarmSettingCount> kFarmSettings{{
    {"NoRedundantGraphics", Flag, nullptr, 1, {}},
    {"AlternateCachingMethod", Flag, nullptr, 0, {}},
    {"OvraVideoBufferSize", Number, nullptr, 307200, {}},
    {"DegradationBias", Enum, &kDegradationBias, 1, {}},
    {"NotifyDegradation", Flag, nullptr, 0, {}},
    {"DCRespondToClientBroadcast", Flag, nullptr, 1, {}},
    {"RASRespondToClientBroadcast", Flag, nullptr, 0, {}},
    {"LegacyQVServerCompatibleMode", Flag, nullptr, 0, {}},
    {"UseClientLocalTime", Flag, nullptr, 1, {}},
    {"DisableClientLocalTimeEstimation", Flag, nullptr, 0, {}},
    {"EnableSNMPAgent", Flag, nullptr, 0, {}},
    {"SNMPLogonTrap", Flag, nullptr, 0, {}},
    {"SNMPLogoffTrap", Flag, nullptr, 0, {}},
    {"SNMPDisconnectTrap", Flag, nullptr, 0, {}},
    {"SNMPThresholdExceededTrap", Flag, nullptr, 0, {}},
    {"SNMPThresholdValue", Number, nullptr, 0, {}},
    {"EnableACR", Flag, nullptr, 1, {}},
    {"LogACRAttempts", Flag, nullptr, 0, {}},
    {"EnableDNSAddressResolution", Flag, nullptr, 0, {}},
    {"NDSPreferredTree", Text, nullptr, 0, ""},
    {"MaxConnectionsPerUser", Number, nullptr, 0, {}},
    {"LogOverLimitDenials", Flag, nullptr, 0, {}},
    {"EnableOvraKeepAlive", Flag, nullptr, 1, {}},
    {"OvraKeepAliveTimeout", Number, nullptr, 60, {}},
    {"EnforceConnectionsLimitOnAdmins", Flag, nullptr, 0, {}},
    {"EnableContentRedirection", Flag, nullptr, 1, {}},
    {"EnableRemoteConsoleConnections", Flag, nullptr, 1, {}},
    {"LumoEnumMode", Flag, nullptr, 0, {}},
    {"ZonesShareLoadInfo", Flag, nullptr, 0, {}},
    {"SREnabled", Flag, nullptr, 1, {}},
    {"SRPort", Number, nullptr, 2598, {}},
    {"SRTimeout", Number, nullptr, 180, {}},
}};

// A new application is enabled, basic encryption and sound, 256 colours in an 800x600 window,
// no instance limit (-1), normal priority, not integrated into the client's desktop.
constexpr std::array<SettingDef, kAppSettingCount> kAppSettings{{
    {"EnableApp", Flag, nullptr, 1, {}},
    {"DefaultEncryption", Enum, &kEncryptionLevel, 1, {}},
    {"DefaultInitProg", Text, nullptr, 0, ""},
    {"DefaultWorkDir", Text, nullptr, 0, ""},
    {"DefaultSoundType", Enum, &kSoundType, 2, {}},
    {"DefaultWindowColor", Enum, &kWindowColor, 2, {}},
    {"DefaultWindowType", Enum, &kWindowType, 2, {}},
    {"DefaultWindowWidth", Number, nullptr, 800, {}},
    {"DefaultWindowHeight", Number, nullptr, 600, {}},
    {"DefaultWindowScale", Number, nullptr, 100, {}},
    {"DesktopIntegrate", Enum, &kDesktopIntegrate, 0, {}},
    {"QVAttributes", Enum, &kQVAttribute, 0, {}},
    {"LumoAttributes", Enum, &kLumoAttribute, 0, {}},
    {"LumoFolder", Text, nullptr, 0, ""},
    {"CPUPriority", Enum, &kCPUPriorityLevel, 3, {}},
    {"InstanceLimit", Number, nullptr, -1, {}},
    {"AllowMultiInstancePerUser", Flag, nullptr, 1, {}},
    {"EnableSSLConnections", Flag, nullptr, 0, {}},
    {"StartMenuFolder", Text, nullptr, 0, ""},
    {"PlaceUnderProgramsFolder", Flag, nullptr, 0, {}},
    {"WaitOnPrinterCreation", Flag, nullptr, 0, {}},
    {"AddToClientStartMenu", Flag, nullptr, 0, {}},
    {"AddShortcutToClientDesktop", Flag, nullptr, 0, {}},
    {"HideDisabledApp", Flag, nullptr, 0, {}},
}};

// The tables above are indexed by the enumerations of settings.h.
template <typename Id, std::size_t N>
constexpr bool inOrder(const std::array<SettingDef, N>& defs, Id id, std::string_view name) {
    return defs[static_cast<std::size_t>(id)].name == name;
}
#define SKY_FARM_AT(name) static_assert(inOrder(kFarmSettings, FarmSetting::name, #name))
#define SKY_APP_AT(name) static_assert(inOrder(kAppSettings, AppSetting::name, #name))
SKY_FARM_AT(NoRedundantGraphics);
SKY_FARM_AT(AlternateCachingMethod);
SKY_FARM_AT(OvraVideoBufferSize);
SKY_FARM_AT(DegradationBias);
SKY_FARM_AT(NotifyDegradation);
SKY_FARM_AT(DCRespondToClientBroadcast);
SKY_FARM_AT(RASRespondToClientBroadcast);
SKY_FARM_AT(LegacyQVServerCompatibleMode);
SKY_FARM_AT(UseClientLocalTime);
SKY_FARM_AT(DisableClientLocalTimeEstimation);
SKY_FARM_AT(EnableSNMPAgent);
SKY_FARM_AT(SNMPLogonTrap);
SKY_FARM_AT(SNMPLogoffTrap);
SKY_FARM_AT(SNMPDisconnectTrap);
SKY_FARM_AT(SNMPThresholdExceededTrap);
SKY_FARM_AT(SNMPThresholdValue);
SKY_FARM_AT(EnableACR);
SKY_FARM_AT(LogACRAttempts);
SKY_FARM_AT(EnableDNSAddressResolution);
SKY_FARM_AT(NDSPreferredTree);
SKY_FARM_AT(MaxConnectionsPerUser);
SKY_FARM_AT(LogOverLimitDenials);
SKY_FARM_AT(EnableOvraKeepAlive);
SKY_FARM_AT(OvraKeepAliveTimeout);
SKY_FARM_AT(EnforceConnectionsLimitOnAdmins);
SKY_FARM_AT(EnableContentRedirection);
SKY_FARM_AT(EnableRemoteConsoleConnections);
SKY_FARM_AT(LumoEnumMode);
SKY_FARM_AT(ZonesShareLoadInfo);
SKY_FARM_AT(SREnabled);
SKY_FARM_AT(SRPort);
SKY_FARM_AT(SRTimeout);
SKY_APP_AT(EnableApp);
SKY_APP_AT(DefaultEncryption);
SKY_APP_AT(DefaultInitProg);
SKY_APP_AT(DefaultWorkDir);
SKY_APP_AT(DefaultSoundType);
SKY_APP_AT(DefaultWindowColor);
SKY_APP_AT(DefaultWindowType);
SKY_APP_AT(DefaultWindowWidth);
SKY_APP_AT(DefaultWindowHeight);
SKY_APP_AT(DefaultWindowScale);
SKY_APP_AT(DesktopIntegrate);
SKY_APP_AT(QVAttributes);
SKY_APP_AT(LumoAttributes);
SKY_APP_AT(LumoFolder);
SKY_APP_AT(CPUPriority);
SKY_APP_AT(InstanceLimit);
SKY_APP_AT(AllowMultiInstancePerUser);
SKY_APP_AT(EnableSSLConnections);
SKY_APP_AT(StartMenuFolder);
SKY_APP_AT(PlaceUnderProgramsFolder);
SKY_APP_AT(WaitOnPrinterCreation);
SKY_APP_AT(AddToClientStartMenu);
SKY_APP_AT(AddShortcutToClientDesktop);
SKY_APP_AT(HideDisabledApp);
#undef SKY_FARM_AT
#undef SKY_APP_AT

template <typename Id, std::size_t N>
std::optional<Id> findByName(const std::array<SettingDef, N>& defs, std::string_view name) {
    auto it =
        std::find_if(defs.begin(), defs.end(), [&](const SettingDef& d) { return d.name == name; });
    if (it == defs.end())
        return std::nullopt;
    return static_cast<Id>(it - defs.begin());
}

} // namespace

const char* kindName(SettingKind kind) {
    switch (kind) {
    case SettingKind::Flag:
        return "flag";
    case SettingKind::Number:
        return "number";
    case SettingKind::Text:
        return "text";
    case SettingKind::Enumeration:
        return "enumeration";
    }
    return "?";
}

bool isMember(const EnumerationDef& e, std::int32_t value) {
    if (e.bitSet)
        return value >= 0 && (value & ~bitMask(e)) == 0;
    return value >= 0 && value <= e.last;
}

std::string describeRange(const EnumerationDef& e) {
    std::string text = std::string(e.name);
    if (!e.bitSet)
        return text + " takes 0 to " + std::to_string(e.last);
    text += " takes a combination of ";
    for (std::int32_t bit = 1; bit <= e.last; bit *= 2) {
        text += std::to_string(bit);
        if (bit * 2 < e.last)
            text += ", ";
        else if (bit < e.last)
            text += " and ";
    }
    return text;
}

SettingValue SettingDef::defaultValue() const {
    if (isText())
        return std::string(defaultText);
    return defaultNumber;
}

Status SettingDef::check(const SettingValue& value) const {
    const auto* number = std::get_if<std::int32_t>(&value);
    if (isText() && number)
        return Status::invalidArgument(std::string(name) + " takes text, not a number.");
    if (!isText() && !number)
        return Status::invalidArgument(std::string(name) + " takes a number, not text.");
    if (kind == SettingKind::Enumeration && !isMember(*enumeration, *number))
        return Status::invalidArgument("The value " + std::to_string(*number) +
                                       " is not valid for " + std::string(name) + ": " +
                                       describeRange(*enumeration) + ".");
    return Status::ok();
}

bool isSessionReliability(FarmSetting setting) {
    return setting == FarmSetting::SREnabled || setting == FarmSetting::SRPort ||
           setting == FarmSetting::SRTimeout;
}

std::span<const SettingDef, kFarmSettingCount> farmSettingDefs() {
    return kFarmSettings;
}

std::span<const SettingDef, kAppSettingCount> appSettingDefs() {
    return kAppSettings;
}

std::optional<FarmSetting> findFarmSetting(std::string_view name) {
    return findByName<FarmSetting>(kFarmSettings, name);
}

std::optional<AppSetting> findAppSetting(std::string_view name) {
    return findByName<AppSetting>(kAppSettings, name);
}

} // namespace sky::farm

// The setting properties of a farm and of a Windows application: their names (the object model's
// property names), kinds, enumerations and default values, and a typed container that checks
// every value it takes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "qvcomsrv/store/status.h"

namespace sky::farm {

// Flag: a long, 0 off, anything else on (kept as given). Number: a long. Text: a string.
// Enumeration: a long that must be a member of the setting's enumeration (or, for a bit set, a
// combination of its bits).
enum class SettingKind { Flag, Number, Text, Enumeration };

const char* kindName(SettingKind kind); // "flag", "number", "text", "enumeration"

struct EnumerationDef {
    std::string_view name; // the object model's name, e.g. "QVWinEncryptionLevel"
    std::int32_t last;     // members run from 0 to last
    bool bitSet;           // members are bits that combine by OR: any value within the mask
};

// The enumerations that settings, accounts and applications take.
extern const EnumerationDef kDegradationBias;  // QVWinOvraDegradationBias
extern const EnumerationDef kEncryptionLevel;  // QVWinEncryptionLevel
extern const EnumerationDef kSoundType;        // QVWinSoundType
extern const EnumerationDef kWindowColor;      // QVWinWindowColor
extern const EnumerationDef kWindowType;       // QVWinWindowType (8, 1600x1200, after 7)
extern const EnumerationDef kDesktopIntegrate; // QVWinDesktopIntegrate
extern const EnumerationDef kQVAttribute;      // QVWinAppQVAttribute (bits)
extern const EnumerationDef kLumoAttribute;    // QVWinAppLumoAttribute (bits)
extern const EnumerationDef kCPUPriorityLevel; // QVWinAppCPUPriorityLevel
extern const EnumerationDef kAccountType;      // SkyloomAccountType
extern const EnumerationDef kAuthorityType;    // QVAccountAuthorityType
extern const EnumerationDef kObjectType;       // SkyloomObjectType

bool isMember(const EnumerationDef& enumeration, std::int32_t value);
// "QVWinEncryptionLevel takes 0 to 5" / "QVWinAppLumoAttribute takes a combination of 1, 2, 4,
// 8 and 16"
std::string describeRange(const EnumerationDef& enumeration);

using SettingValue = std::variant<std::int32_t, std::string>;

struct SettingDef {
    std::string_view name;
    SettingKind kind;
    const EnumerationDef* enumeration; // for SettingKind::Enumeration, else null
    std::int32_t defaultNumber;        // for every kind but Text
    std::string_view defaultText;      // for Text

    SettingValue defaultValue() const;
    bool isText() const { return kind == SettingKind::Text; }
    // Ok, or InvalidArgument naming the setting and what it takes.
    Status check(const SettingValue& value) const;
};

// Farm-wide settings, in the order of the farm settings interfaces.
enum class FarmSetting : std::size_t {
    NoRedundantGraphics,
    AlternateCachingMethod,
    OvraVideoBufferSize,
    DegradationBias,
    NotifyDegradation,
    DCRespondToClientBroadcast,
    RASRespondToClientBroadcast,
    LegacyQVServerCompatibleMode,
    UseClientLocalTime,
    DisableClientLocalTimeEstimation,
    EnableSNMPAgent,
    SNMPLogonTrap,
    SNMPLogoffTrap,
    SNMPDisconnectTrap,
    SNMPThresholdExceededTrap,
    SNMPThresholdValue,
    EnableACR,
    LogACRAttempts,
    EnableDNSAddressResolution,
    NDSPreferredTree,
    MaxConnectionsPerUser,
    LogOverLimitDenials,
    EnableOvraKeepAlive,
    OvraKeepAliveTimeout,
    EnforceConnectionsLimitOnAdmins,
    EnableContentRedirection,
    EnableRemoteConsoleConnections,
    LumoEnumMode,
    ZonesShareLoadInfo,
    SREnabled,
    SRPort,
    SRTimeout,
};
inline constexpr std::size_t kFarmSettingCount = 32;

// Session reliability settings: a farm that does not report them answers NotSupported.
bool isSessionReliability(FarmSetting setting);

// Windows application settings, in the order of the Windows application interfaces. The name,
// description and folder are fields of the application itself.
enum class AppSetting : std::size_t {
    EnableApp,
    DefaultEncryption,
    DefaultInitProg,
    DefaultWorkDir,
    DefaultSoundType,
    DefaultWindowColor,
    DefaultWindowType,
    DefaultWindowWidth,
    DefaultWindowHeight,
    DefaultWindowScale,
    DesktopIntegrate,
    QVAttributes,
    LumoAttributes,
    LumoFolder,
    CPUPriority,
    InstanceLimit,
    AllowMultiInstancePerUser,
    EnableSSLConnections,
    StartMenuFolder,
    PlaceUnderProgramsFolder,
    WaitOnPrinterCreation,
    AddToClientStartMenu,
    AddShortcutToClientDesktop,
    HideDisabledApp,
};
inline constexpr std::size_t kAppSettingCount = 24;

std::span<const SettingDef, kFarmSettingCount> farmSettingDefs();
std::span<const SettingDef, kAppSettingCount> appSettingDefs();
inline const SettingDef& definition(FarmSetting s) {
    return farmSettingDefs()[static_cast<std::size_t>(s)];
}
inline const SettingDef& definition(AppSetting s) {
    return appSettingDefs()[static_cast<std::size_t>(s)];
}

// By property name, matched exactly.
std::optional<FarmSetting> findFarmSetting(std::string_view name);
std::optional<AppSetting> findAppSetting(std::string_view name);

// The values of every setting of one kind of object, each starting at its default. set() refuses
// a value of the wrong kind or outside the setting's enumeration and leaves the old value.
template <typename Id, std::size_t N, std::span<const SettingDef, N> (*Defs)()>
class SettingValues {
public:
    SettingValues() {
        for (std::size_t i = 0; i < N; ++i)
            values_[i] = Defs()[i].defaultValue();
    }

    const SettingValue& get(Id id) const { return values_[index(id)]; }
    std::int32_t number(Id id) const {
        const auto* n = std::get_if<std::int32_t>(&values_[index(id)]);
        return n ? *n : 0;
    }
    const std::string& text(Id id) const {
        static const std::string empty;
        const auto* t = std::get_if<std::string>(&values_[index(id)]);
        return t ? *t : empty;
    }

    Status set(Id id, SettingValue value) {
        Status status = Defs()[index(id)].check(value);
        if (status)
            values_[index(id)] = std::move(value);
        return status;
    }

    static constexpr std::size_t size() { return N; }
    static const SettingDef& def(std::size_t i) { return Defs()[i]; }
    const SettingValue& at(std::size_t i) const { return values_[i]; }

    bool operator==(const SettingValues&) const = default;

private:
    static std::size_t index(Id id) { return static_cast<std::size_t>(id); }
    std::array<SettingValue, N> values_;
};

using FarmSettings = SettingValues<FarmSetting, kFarmSettingCount, &farmSettingDefs>;
using AppSettings = SettingValues<AppSetting, kAppSettingCount, &appSettingDefs>;

} // namespace sky::farm

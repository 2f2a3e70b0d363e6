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

#include "qvcomsrv/store/setting_list.h"
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
inline constexpr EnumerationDef kDegradationBias{"QVWinOvraDegradationBias", 2, false};
inline constexpr EnumerationDef kEncryptionLevel{"QVWinEncryptionLevel", 5, false};
inline constexpr EnumerationDef kSoundType{"QVWinSoundType", 2, false};
inline constexpr EnumerationDef kWindowColor{"QVWinWindowColor", 4, false};
inline constexpr EnumerationDef kWindowType{"QVWinWindowType", 8, false}; // 8: 1600x1200
inline constexpr EnumerationDef kDesktopIntegrate{"QVWinDesktopIntegrate", 2, false};
inline constexpr EnumerationDef kQVAttribute{"QVWinAppQVAttribute", 2, true};
inline constexpr EnumerationDef kLumoAttribute{"QVWinAppLumoAttribute", 16, true};
inline constexpr EnumerationDef kCPUPriorityLevel{"QVWinAppCPUPriorityLevel", 5, false};
inline constexpr EnumerationDef kAccountType{"SkyloomAccountType", 7, false};
inline constexpr EnumerationDef kAuthorityType{"QVAccountAuthorityType", 3, false};
inline constexpr EnumerationDef kObjectType{"SkyloomObjectType", 35, false};

// The enumeration of that name, or null (LONG and BSTR name none).
inline constexpr const EnumerationDef* kEnumerations[] = {
    &kDegradationBias,  &kEncryptionLevel,  &kSoundType,     &kWindowColor,
    &kWindowType,       &kDesktopIntegrate, &kQVAttribute,   &kLumoAttribute,
    &kCPUPriorityLevel, &kAccountType,      &kAuthorityType, &kObjectType};

// The position in kEnumerations of the enumeration with that automation name, or -1. Compile-time
// checks use the position: a sanitizer build cannot fold a comparison of an address with null.
constexpr int enumerationIndex(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kEnumerations); ++i)
        if (kEnumerations[i]->name == name)
            return static_cast<int>(i);
    return -1;
}

constexpr const EnumerationDef* enumerationNamed(std::string_view name) {
    const int index = enumerationIndex(name);
    return index < 0 ? nullptr : kEnumerations[index];
}

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

// Farm-wide settings and Windows application settings, in the order of the object model's
// settings interfaces (setting_list.h).
#define SKY_SETTING_ENUMERATOR(Name, Kind, Type, Access, Default) Name,
#define SKY_SETTING_ONE(Name, Kind, Type, Access, Default) +1
enum class FarmSetting : std::size_t { SKY_FARM_SETTINGS(SKY_SETTING_ENUMERATOR) };
inline constexpr std::size_t kFarmSettingCount = 0 SKY_FARM_SETTINGS(SKY_SETTING_ONE);
enum class AppSetting : std::size_t { SKY_APP_SETTINGS(SKY_SETTING_ENUMERATOR) };
inline constexpr std::size_t kAppSettingCount = 0 SKY_APP_SETTINGS(SKY_SETTING_ONE);
#undef SKY_SETTING_ENUMERATOR
#undef SKY_SETTING_ONE

// Session reliability settings: a farm that does not report them answers NotSupported.
bool isSessionReliability(FarmSetting setting);

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

#include "qvcomsrv/store/settings.h"

#include <algorithm>

namespace sky::farm {

namespace {

// The OR of every bit of a bit set whose highest member is `last`.
std::int32_t bitMask(const EnumerationDef& e) {
    return e.last * 2 - 1;
}

// A line of setting_list.h: the default is a number, or a string for a text setting.
constexpr SettingDef settingDef(std::string_view name, SettingKind kind, std::string_view type,
                                std::int32_t defaultNumber) {
    return {name, kind, enumerationNamed(type), defaultNumber, {}};
}
constexpr SettingDef settingDef(std::string_view name, SettingKind kind, std::string_view,
                                const char* defaultText) {
    return {name, kind, nullptr, 0, defaultText};
}

#define SKY_SETTING_DEF(Name, Kind, Type, Access, Default)                                         \
    settingDef(#Name, SettingKind::Kind, #Type, Default),
constexpr std::array<SettingDef, kFarmSettingCount> kFarmSettings{
    {SKY_FARM_SETTINGS(SKY_SETTING_DEF)}};
constexpr std::array<SettingDef, kAppSettingCount> kAppSettings{
    {SKY_APP_SETTINGS(SKY_SETTING_DEF)}};
#undef SKY_SETTING_DEF

// Each line agrees with itself: a text setting is a BSTR property, an enumeration names a known
// enumeration, and nothing else does.
template <std::size_t N>
constexpr bool consistent(const std::array<SettingDef, N>& defs,
                          const std::array<std::string_view, N>& types) {
    for (std::size_t i = 0; i < N; ++i) {
        const SettingDef& d = defs[i];
        if ((d.kind == SettingKind::Text) != (types[i] == "BSTR"))
            return false;
        if ((d.kind == SettingKind::Enumeration) != (enumerationIndex(types[i]) >= 0))
            return false;
    }
    return true;
}
#define SKY_SETTING_TYPE(Name, Kind, Type, Access, Default) #Type,
static_assert(consistent(kFarmSettings, {{SKY_FARM_SETTINGS(SKY_SETTING_TYPE)}}));
static_assert(consistent(kAppSettings, {{SKY_APP_SETTINGS(SKY_SETTING_TYPE)}}));
#undef SKY_SETTING_TYPE

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

#include "symbols.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace sky::rc {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// Primary languages, as Windows numbers them.
constexpr std::array<std::pair<std::string_view, long>, 40> kLanguages = {{
    {"LANG_NEUTRAL", 0x00},   {"LANG_INVARIANT", 0x7f},
    {"LANG_ARABIC", 0x01},    {"LANG_BULGARIAN", 0x02},
    {"LANG_CATALAN", 0x03},   {"LANG_CHINESE", 0x04},
    {"LANG_CZECH", 0x05},     {"LANG_DANISH", 0x06},
    {"LANG_GERMAN", 0x07},    {"LANG_GREEK", 0x08},
    {"LANG_ENGLISH", 0x09},   {"LANG_SPANISH", 0x0a},
    {"LANG_FINNISH", 0x0b},   {"LANG_FRENCH", 0x0c},
    {"LANG_HEBREW", 0x0d},    {"LANG_HUNGARIAN", 0x0e},
    {"LANG_ICELANDIC", 0x0f}, {"LANG_ITALIAN", 0x10},
    {"LANG_JAPANESE", 0x11},  {"LANG_KOREAN", 0x12},
    {"LANG_DUTCH", 0x13},     {"LANG_NORWEGIAN", 0x14},
    {"LANG_POLISH", 0x15},    {"LANG_PORTUGUESE", 0x16},
    {"LANG_ROMANIAN", 0x18},  {"LANG_RUSSIAN", 0x19},
    {"LANG_CROATIAN", 0x1a},  {"LANG_SERBIAN", 0x1a},
    {"LANG_SLOVAK", 0x1b},    {"LANG_ALBANIAN", 0x1c},
    {"LANG_SWEDISH", 0x1d},   {"LANG_THAI", 0x1e},
    {"LANG_TURKISH", 0x1f},   {"LANG_INDONESIAN", 0x21},
    {"LANG_UKRAINIAN", 0x22}, {"LANG_SLOVENIAN", 0x24},
    {"LANG_ESTONIAN", 0x25},  {"LANG_VIETNAMESE", 0x2a},
    {"LANG_HINDI", 0x39},     {"LANG_CHINESE_SIMPLIFIED", 0x04},
}};

// Sublanguages; each value has a meaning only together with its primary language.
constexpr std::array<std::pair<std::string_view, long>, 33> kSublanguages = {{
    {"SUBLANG_NEUTRAL", 0x00},
    {"SUBLANG_DEFAULT", 0x01},
    {"SUBLANG_SYS_DEFAULT", 0x02},
    {"SUBLANG_CUSTOM_DEFAULT", 0x03},
    {"SUBLANG_CUSTOM_UNSPECIFIED", 0x04},
    {"SUBLANG_UI_CUSTOM_DEFAULT", 0x05},
    {"SUBLANG_CHINESE_TRADITIONAL", 0x01},
    {"SUBLANG_CHINESE_SIMPLIFIED", 0x02},
    {"SUBLANG_DUTCH", 0x01},
    {"SUBLANG_DUTCH_BELGIAN", 0x02},
    {"SUBLANG_ENGLISH_US", 0x01},
    {"SUBLANG_ENGLISH_UK", 0x02},
    {"SUBLANG_ENGLISH_AUS", 0x03},
    {"SUBLANG_ENGLISH_CAN", 0x04},
    {"SUBLANG_ENGLISH_NZ", 0x05},
    {"SUBLANG_ENGLISH_EIRE", 0x06},
    {"SUBLANG_FRENCH", 0x01},
    {"SUBLANG_FRENCH_BELGIAN", 0x02},
    {"SUBLANG_FRENCH_CANADIAN", 0x03},
    {"SUBLANG_FRENCH_SWISS", 0x04},
    {"SUBLANG_GERMAN", 0x01},
    {"SUBLANG_GERMAN_SWISS", 0x02},
    {"SUBLANG_GERMAN_AUSTRIAN", 0x03},
    {"SUBLANG_ITALIAN", 0x01},
    {"SUBLANG_ITALIAN_SWISS", 0x02},
    {"SUBLANG_JAPANESE_JAPAN", 0x01},
    {"SUBLANG_KOREAN", 0x01},
    {"SUBLANG_PORTUGUESE", 0x02},
    {"SUBLANG_PORTUGUESE_BRAZILIAN", 0x01},
    {"SUBLANG_RUSSIAN_RUSSIA", 0x01},
    {"SUBLANG_SPANISH", 0x01},
    {"SUBLANG_SPANISH_MEXICAN", 0x02},
    {"SUBLANG_SPANISH_MODERN", 0x03},
}};

struct TypeName {
    std::string_view name;    // RT_ name
    std::string_view keyword; // statement keyword of a resource script, if files may supply it
    WORD number;
};

constexpr std::array<TypeName, 15> kTypes = {{
    {"RT_CURSOR", "", 1},
    {"RT_BITMAP", "", 2},
    {"RT_ICON", "", 3},
    {"RT_MENU", "", 4},
    {"RT_DIALOG", "", 5},
    {"RT_STRING", "", 6},
    {"RT_FONTDIR", "", 7},
    {"RT_FONT", "", 8},
    {"RT_ACCELERATOR", "", 9},
    {"RT_RCDATA", "RCDATA", 10},
    {"RT_MESSAGETABLE", "MESSAGETABLE", 11},
    {"RT_GROUP_ICON", "", 14},
    {"RT_VERSION", "", 16},
    {"RT_HTML", "HTML", 23},
    {"RT_MANIFEST", "MANIFEST", 24},
}};

template <std::size_t N>
std::optional<long> lookup(const std::array<std::pair<std::string_view, long>, N>& table,
                           std::string_view name) {
    for (const auto& [symbol, value] : table) {
        if (symbol == name)
            return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<long> languageSymbol(std::string_view name) {
    if (auto value = lookup(kLanguages, name))
        return value;
    return lookup(kSublanguages, name);
}

std::optional<WORD> resourceType(std::string_view name, bool keyword) {
    for (const TypeName& type : kTypes) {
        if (keyword ? !type.keyword.empty() && sameIgnoringCase(type.keyword, name)
                    : sameIgnoringCase(type.name, name))
            return type.number;
    }
    return std::nullopt;
}

std::string_view resourceTypeName(WORD number) {
    for (const TypeName& type : kTypes) {
        if (type.number == number)
            return type.name;
    }
    return {};
}

} // namespace sky::rc

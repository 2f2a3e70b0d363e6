#include "definitions/definition_file.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "core/farm.h"
#include "core/runtime_errors.h"
#include "sky/bstr.h"
#include "sky/text.h"
#include "sky/variant.h"

namespace brask::definition {

namespace {

template <class Object, class Base, class Value>
std::int32_t readNumber(Object* object, HRESULT (STDMETHODCALLTYPE Base::*getter)(Value*)) {
    Value value{};
    sky::check((object->*getter)(&value));
    return static_cast<std::int32_t>(value);
}

template <class Object, class Base, class Value>
void writeNumber(Object* object, HRESULT (STDMETHODCALLTYPE Base::*putter)(Value),
                 std::int32_t value) {
    sky::check((object->*putter)(static_cast<Value>(value)));
}

template <class Object, class Base>
void writeText(Object* object, HRESULT (STDMETHODCALLTYPE Base::*putter)(BSTR),
               std::u16string_view value) {
    sky::Bstr text(value);
    sky::check((object->*putter)(text.get()));
}

// A farm setting under its key: numbers (flags, enumerations, integers), text and kilobytes.
#define BRASK_FARM_NUMBER(Key, Property, Kind, Optional)                                           \
    FarmKey {                                                                                      \
        u"" Key, ValueKind::Kind, Optional,                                                        \
            [](ISkyloomWinFarm5* f) { return readNumber(f, &ISkyloomWinFarm5::get_##Property); },  \
            [](ISkyloomWinFarm5* f, std::int32_t v) {                                              \
                writeNumber(f, &ISkyloomWinFarm5::put_##Property, v);                              \
            },                                                                                     \
            nullptr, nullptr                                                                       \
    }
#define BRASK_FARM_TEXT(Key, Property)                                                             \
    FarmKey {                                                                                      \
        u"" Key, ValueKind::Text, false, nullptr, nullptr,                                         \
            [](ISkyloomWinFarm5* f) { return getText(&ISkyloomWinFarm5::get_##Property, f); },     \
            [](ISkyloomWinFarm5* f, std::u16string_view v) {                                       \
                writeText(f, &ISkyloomWinFarm5::put_##Property, v);                                \
            }                                                                                      \
    }
#define BRASK_FARM(Key, Property) BRASK_FARM_NUMBER(Key, Property, Number, false)

const FarmKey kFarmKeys[] = {
    BRASK_FARM("MaxConnectionsPerUser", MaxConnectionsPerUser),
    BRASK_FARM("EnforceConnectionsLimitOnAdmins", EnforceConnectionsLimitOnAdmins),
    BRASK_FARM("LogOverLimitDenials", LogOverLimitDenials),
    BRASK_FARM("DCRespondToClientBroadcast", DCRespondToClientBroadcast),
    BRASK_FARM("RASRespondToClientBroadcast", RASRespondToClientBroadcast),
    BRASK_FARM("UseClientLocalTime", UseClientLocalTime),
    BRASK_FARM("DisableClientLocalTimeEstimation", DisableClientLocalTimeEstimation),
    BRASK_FARM("EnableDNSAddressResolution", EnableDNSAddressResolution),
    BRASK_FARM_TEXT("NDSPreferredTree", NDSPreferredTree),
    BRASK_FARM("EnableContentRedirection", EnableContentRedirection),
    BRASK_FARM("EnableRemoteConsoleConnections", EnableRemoteConsoleConnections),
    BRASK_FARM("OvraKeepAliveEnable", EnableOvraKeepAlive),
    BRASK_FARM("OvraKeepAliveTime", OvraKeepAliveTimeout),
    BRASK_FARM("NoRedundantGraphics", NoRedundantGraphics),
    BRASK_FARM("AlternateCachingMethod", AlternateCachingMethod),
    BRASK_FARM_NUMBER("OvraVideoBufferSize", OvraVideoBufferSize, Kilobytes, false),
    BRASK_FARM("DegradationBias", DegradationBias),
    BRASK_FARM("NotifyDegradation", NotifyDegradation),
    BRASK_FARM("LogACRAttempts", LogACRAttempts),
    BRASK_FARM("EnableACR", EnableACR),
    BRASK_FARM("LumoEnumMode", LumoEnumMode),
    BRASK_FARM("ZonesShareLoadInfo", ZonesShareLoadInfo),
    BRASK_FARM("EnableSNMPAgent", EnableSNMPAgent),
    BRASK_FARM("SNMPDisconnectTrap", SNMPDisconnectTrap),
    BRASK_FARM("SNMPLogoffTrap", SNMPLogoffTrap),
    BRASK_FARM("SNMPLogonTrap", SNMPLogonTrap),
    BRASK_FARM("SNMPThresholdValue", SNMPThresholdValue),
    BRASK_FARM("SNMPThresholdExceededTrap", SNMPThresholdExceededTrap),
    BRASK_FARM("LegacyQVServerCompatibleMode", LegacyQVServerCompatibleMode),
    BRASK_FARM_NUMBER("SREnabled", SREnabled, Number, true),
    BRASK_FARM_NUMBER("SRPort", SRPort, Number, true),
    BRASK_FARM_NUMBER("SRTimeout", SRTimeout, Number, true),
};

// An application setting under its own name; text and numbers, read back or (ReadOnly) not.
#define BRASK_APP_NUMBER(Property)                                                                 \
    ApplicationKey {                                                                               \
        u"" #Property, ValueKind::Number, nullptr,                                                 \
            [](ISkyloomWinApp4* s) { return readNumber(s, &ISkyloomWinApp4::get_##Property); },    \
            nullptr, [](ISkyloomWinApp4* s, std::int32_t v) {                                      \
                writeNumber(s, &ISkyloomWinApp4::put_##Property, v);                               \
            }                                                                                      \
    }
#define BRASK_APP_READ_ONLY_NUMBER(Property)                                                       \
    ApplicationKey {                                                                               \
        u"" #Property, ValueKind::Number, nullptr,                                                 \
            [](ISkyloomWinApp4* s) { return readNumber(s, &ISkyloomWinApp4::get_##Property); },    \
            nullptr, nullptr                                                                       \
    }
#define BRASK_APP_TEXT(Property)                                                                   \
    ApplicationKey {                                                                               \
        u"" #Property, ValueKind::Text,                                                            \
            [](ISkyloomApplication5*, ISkyloomWinApp4* s) {                                        \
                return getText(&ISkyloomWinApp4::get_##Property, s);                               \
            },                                                                                     \
            nullptr,                                                                               \
            [](ISkyloomWinApp4* s, std::u16string_view v) {                                        \
                writeText(s, &ISkyloomWinApp4::put_##Property, v);                                 \
            },                                                                                     \
            nullptr                                                                                \
    }
// Read from the application itself, written back through the settings.
#define BRASK_APP_NAME_TEXT(Property)                                                              \
    ApplicationKey {                                                                               \
        u"" #Property, ValueKind::Text,                                                            \
            [](ISkyloomApplication5* a, ISkyloomWinApp4*) {                                        \
                return getText(&ISkyloomApplication5::get_##Property, a);                          \
            },                                                                                     \
            nullptr,                                                                               \
            [](ISkyloomWinApp4* s, std::u16string_view v) {                                        \
                writeText(s, &ISkyloomWinApp4::put_##Property, v);                                 \
            },                                                                                     \
            nullptr                                                                                \
    }

const ApplicationKey kApplicationKeys[] = {
    BRASK_APP_NAME_TEXT(AppName),
    ApplicationKey{u"DistinguishedName", ValueKind::Text,
                   [](ISkyloomApplication5* a, ISkyloomWinApp4*) {
                       return getText(&ISkyloomApplication5::get_DistinguishedName, a);
                   },
                   nullptr, nullptr, nullptr},
    BRASK_APP_NUMBER(EnableApp),
    BRASK_APP_READ_ONLY_NUMBER(HideDisabledApp),
    BRASK_APP_NAME_TEXT(Description),
    BRASK_APP_TEXT(DefaultInitProg),
    BRASK_APP_TEXT(DefaultWorkDir),
    BRASK_APP_NUMBER(DefaultWindowHeight),
    BRASK_APP_NUMBER(DefaultWindowScale),
    BRASK_APP_NUMBER(DefaultWindowType),
    BRASK_APP_NUMBER(DefaultWindowWidth),
    BRASK_APP_NUMBER(DefaultWindowColor),
    BRASK_APP_NUMBER(InstanceLimit),
    BRASK_APP_NUMBER(AllowMultiInstancePerUser),
    BRASK_APP_READ_ONLY_NUMBER(CPUPriority),
    BRASK_APP_NUMBER(DefaultSoundType),
    BRASK_APP_NUMBER(EnableSSLConnections),
    BRASK_APP_NUMBER(DefaultEncryption),
    BRASK_APP_NUMBER(WaitOnPrinterCreation),
    BRASK_APP_TEXT(LumoFolder),
    BRASK_APP_NUMBER(AddToClientStartMenu),
    BRASK_APP_NUMBER(PlaceUnderProgramsFolder),
    BRASK_APP_TEXT(StartMenuFolder),
    BRASK_APP_NUMBER(AddShortcutToClientDesktop),
    BRASK_APP_NUMBER(DesktopIntegrate),
    BRASK_APP_NUMBER(QVAttributes),
    BRASK_APP_NUMBER(LumoAttributes),
    BRASK_APP_TEXT(ParentFolderDN),
};

// The row of a key table for a key, matched exactly; null when the table has none.
template <class Row> const Row* findRow(std::span<const Row> rows, std::u16string_view key) {
    for (const Row& row : rows) {
        if (row.key == key) {
            return &row;
        }
    }
    return nullptr;
}

// The runtime's number for a conversion the automation runtime refused.
ToolError conversionError(const sky::ComError& error, std::u16string_view value) {
    return runtimeError(error.result() == DISP_E_OVERFLOW ? kOverflow : kTypeMismatch,
                        u"\"" + std::u16string(value) + u"\"");
}

} // namespace

std::optional<Section> headerSection(std::u16string_view line) {
    struct Header {
        std::u16string_view upper;
        Section section;
    };
    static constexpr Header kHeaders[] = {
        {u"[FARM]", Section::Farm},       {u"[APPLICATION]", Section::NewApplication},
        {u"[SERVERS]", Section::Servers}, {u"[USERS]", Section::Users},
        {u"[GROUPS]", Section::Groups},   {u"[ICON]", Section::Icon},
    };
    if (line.size() < 6 || line.size() > 13 || line.front() != u'[') {
        return std::nullopt;
    }
    const std::u16string upper = sky::upper(line);
    for (const Header& header : kHeaders) {
        if (upper == header.upper) {
            return header.section;
        }
    }
    return std::nullopt;
}

std::optional<KeyLine> splitKeyLine(std::u16string_view line) {
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos || equals == 0) {
        return std::nullopt;
    }
    return KeyLine{line.substr(0, equals), line.substr(equals + 1)};
}

std::u16string oneLine(std::u16string_view text) {
    std::u16string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r' || c == u'\n') {
            line += u' ';
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
        } else {
            line += c;
        }
    }
    return line;
}

std::u16string decimal(std::int64_t number) {
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string kilobytes(std::int32_t bytes) {
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, bytes / 1024.0,
                                       std::chars_format::general, 15);
    return std::u16string(buffer, written.ptr);
}

std::int32_t number(std::u16string_view value) {
    try {
        return sky::Variant(value).toInt32();
    } catch (const sky::ComError& error) {
        throw conversionError(error, value);
    }
}

std::int32_t bytesFromKilobytes(std::u16string_view value) {
    double kilobytes = 0;
    try {
        kilobytes = sky::Variant(value).toDouble();
    } catch (const sky::ComError& error) {
        throw conversionError(error, value);
    }
    const double bytes = std::nearbyint(kilobytes * 1024);
    if (!(bytes >= std::numeric_limits<std::int32_t>::min() &&
          bytes <= std::numeric_limits<std::int32_t>::max())) {
        throw runtimeError(kOverflow, u"\"" + std::u16string(value) + u"\"");
    }
    return static_cast<std::int32_t>(bytes);
}

std::u16string_view withoutRootFolder(std::u16string_view distinguishedName) {
    constexpr std::size_t kPrefixLength = 13; // "Applications/"
    return distinguishedName.size() > kPrefixLength ? distinguishedName.substr(kPrefixLength)
                                                    : std::u16string_view();
}

std::u16string accountValue(const Account& account) {
    return decimal(account.accountType) + u":" + decimal(account.authorityType) + u":" +
           account.authorityName + u":" + account.name;
}

Account parseAccount(std::u16string_view value) {
    std::u16string_view pieces[4];
    std::size_t count = 0;
    std::size_t start = 0;
    while (count < 4) {
        const std::size_t colon = value.find(u':', start);
        pieces[count++] = value.substr(
            start, colon == std::u16string_view::npos ? std::u16string_view::npos : colon - start);
        if (colon == std::u16string_view::npos) {
            break;
        }
        start = colon + 1;
    }
    if (count < 4) {
        throw runtimeError(kSubscriptOutOfRange);
    }
    return Account{number(pieces[0]), number(pieces[1]), std::u16string(pieces[2]),
                   std::u16string(pieces[3])};
}

std::span<const FarmKey> farmKeys() {
    return kFarmKeys;
}

const FarmKey* findFarmKey(std::u16string_view key) {
    return findRow(std::span<const FarmKey>(kFarmKeys), key);
}

std::span<const ApplicationKey> applicationKeys() {
    return kApplicationKeys;
}

const ApplicationKey* findApplicationKey(std::u16string_view key) {
    return findRow(std::span<const ApplicationKey>(kApplicationKeys), key);
}

} // namespace brask::definition

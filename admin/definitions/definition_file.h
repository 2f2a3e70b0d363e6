// The farm definition file: an INI-style text that carries a farm's settings and every published
// Windows application with its servers, users, groups and icon. This is the format both sides
// share: the sections, how a line is cut into key and value, how each kind of value is written
// and read, and the keys of the farm and application blocks with the properties behind them.
//
//   [Farm]                          farm keys, in the order of farmKeys()
//   <blank>
//   [Application]                   application keys, in the order of applicationKeys()
//   <blank>  [Servers]   Server=NAME ...
//   <blank>  [Users]     User=ACCOUNTTYPE:AUTHORITYTYPE:AUTHORITY:NAME ...
//   <blank>  [Groups]    Group=ACCOUNTTYPE:AUTHORITYTYPE:AUTHORITY:NAME ...
//   <blank>  [Icon]      Icon=C:\work\icons\Calc.ico
//   <blank>                         (then the next application's blank line and header)
//
// Lines end with CR LF; text is in the machine's ANSI code page.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "SkyloomCOM.h"

namespace brask::definition {

// The sections of the file, and the reader's state for a new application.
enum class Section { Farm, NewApplication, Application, Servers, Users, Groups, Icon };

// The headers as they are written.
inline constexpr std::u16string_view kFarmHeader = u"[Farm]";
inline constexpr std::u16string_view kApplicationHeader = u"[Application]";
inline constexpr std::u16string_view kServersHeader = u"[Servers]";
inline constexpr std::u16string_view kUsersHeader = u"[Users]";
inline constexpr std::u16string_view kGroupsHeader = u"[Groups]";
inline constexpr std::u16string_view kIconHeader = u"[Icon]";

// The value of "DefaultInitProg=" that stands for a published desktop, and its attribute bit.
inline constexpr std::u16string_view kPublishedDesktop = u"PublishedDesktop";
inline constexpr std::int32_t kDesktopBit = 8; // QVWinAppDesktop

// The section a header line opens: the whole line in upper case equals "[FARM]", "[APPLICATION]"
// (NewApplication), "[SERVERS]", "[USERS]", "[GROUPS]" or "[ICON]". Blanks make a line no header.
std::optional<Section> headerSection(std::u16string_view line);

// A key line: the key is the text before the first "=", matched exactly; the value all the text
// after it, further "=" included.
struct KeyLine {
    std::u16string_view key;
    std::u16string_view value;
};
// Nothing for a line whose first "=" does not follow at least one character (a line without "=",
// or one that begins with it).
std::optional<KeyLine> splitKeyLine(std::u16string_view line);

// A text value as one line: each line break inside it (CR LF, a lone CR or a lone LF) becomes one
// blank, so that a value can never start a line of its own.
std::u16string oneLine(std::u16string_view text);

// Integers in decimal, a minus sign for negative values, no grouping.
std::u16string decimal(std::int64_t number);

// A size in bytes written in kilobytes: divided by 1024, at most 15 significant digits, a fraction
// only when the quotient is not whole, and always "." as the decimal separator (307200 is "300",
// 1000 is "0.9765625").
std::u16string kilobytes(std::int32_t bytes);

// A value as a 32-bit integer, as the automation runtime converts text (blanks around it, a sign,
// a fraction rounded half to even; "." is the decimal separator). Throws ToolError 13 "Type
// mismatch" for text that is no number and 6 "Overflow" for a number out of range.
std::int32_t number(std::u16string_view value);
// A kilobyte value back in bytes: the number multiplied by 1024 and rounded to the nearest
// integer. The same failures.
std::int32_t bytesFromKilobytes(std::u16string_view value);

// What the status shows for a distinguished name: the text from its 14th character on, after
// "Applications/" (empty for a shorter name).
std::u16string_view withoutRootFolder(std::u16string_view distinguishedName);

// The four fields of a "User=" or "Group=" value, separated by ":".
struct Account {
    std::int32_t accountType = 0;
    std::int32_t authorityType = 0;
    std::u16string authorityName;
    std::u16string name;
};
std::u16string accountValue(const Account& account);
// The value split at every ":"; the first four pieces are used. Throws ToolError 9 "Subscript out
// of range" for fewer than four, 13 or 6 for a type that is no number.
Account parseAccount(std::u16string_view value);

// How a value is written and read.
enum class ValueKind { Text, Number, Kilobytes };

// A key of the "[Farm]" block after "Farmname=", with its property on the farm's settings.
struct FarmKey {
    std::u16string_view key;
    ValueKind kind;
    // Written only when the farm reports the property (session reliability).
    bool optional;
    std::int32_t (*getNumber)(ISkyloomWinFarm5* farm);
    void (*putNumber)(ISkyloomWinFarm5* farm, std::int32_t value);
    std::u16string (*getText)(ISkyloomWinFarm5* farm);
    void (*putText)(ISkyloomWinFarm5* farm, std::u16string_view value);
};

inline constexpr std::u16string_view kFarmNameKey = u"Farmname";

// The farm keys 2 to 33 in the order they are written; the reader knows all of them.
std::span<const FarmKey> farmKeys();
const FarmKey* findFarmKey(std::u16string_view key);

// A key of the "[Application]" block. Text values are read from the application or its Windows
// settings; every value read back goes to the settings.
struct ApplicationKey {
    std::u16string_view key;
    ValueKind kind;
    std::u16string (*getText)(ISkyloomApplication5* application, ISkyloomWinApp4* settings);
    std::int32_t (*getNumber)(ISkyloomWinApp4* settings);
    // Null where the reader passes the key over ("HideDisabledApp", "CPUPriority") or only shows
    // it ("DistinguishedName").
    void (*putText)(ISkyloomWinApp4* settings, std::u16string_view value);
    void (*putNumber)(ISkyloomWinApp4* settings, std::int32_t value);
};

// The application keys in the order they are written.
std::span<const ApplicationKey> applicationKeys();
const ApplicationKey* findApplicationKey(std::u16string_view key);

} // namespace brask::definition

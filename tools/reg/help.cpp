// The usage texts of reg and its operations.
#include <iostream>

#include "operations.h"
#include "sky/text.h"

namespace reg {

namespace {

constexpr const char* kGeneral = R"(
REG Operation [Parameter List]

  Operation  [ QUERY | ADD | DELETE | EXPORT | IMPORT | DENY | ALLOW ]

Works on the registry of the machine that SKYLOOM_MACHINE names (by default
the system machine /var/lib/skyloom/machine for root and the members of its
group, else $XDG_DATA_HOME/skyloom/machine).

Return Code:

  0 - Successful
  1 - Failed

For help on a specific operation type:

  REG Operation /?

Examples:

  REG QUERY /?
  REG ADD /?
  REG DELETE /?
  REG EXPORT /?
  REG IMPORT /?
  REG DENY /?
)";

constexpr const char* kKeyName = R"(
  KeyName    ROOTKEY\SubKey
    ROOTKEY  [ HKLM | HKCU | HKCR | HKU | HKCC ], or the full names
             (HKEY_LOCAL_MACHINE, ...), in any case
    SubKey   The full name of a registry key under the selected ROOTKEY.
)";

constexpr const char* kQuery = R"(
REG QUERY KeyName [/v ValueName | /ve] [/s] [/se Separator]
%KEYNAME%
  /v         Queries the value named ValueName.
  /ve        Queries the default value (the value without a name).
  /s         Queries all subkeys and values, recursively; with /v or /ve, finds
             the value in every key below KeyName.
  /se        The separator shown between the strings of a REG_MULTI_SZ value
             (default "\0").

Examples:

  REG QUERY HKLM\Software\Microsoft\Windows NT\CurrentVersion /v CurrentVersion
  REG QUERY HKCR\SkyloomCOM.SkyloomFarm /s
)";

constexpr const char* kAdd = R"(
REG ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]
%KEYNAME%
  /v         The name of the value to add.
  /ve        Adds the default value (the value without a name).
  /t         The type: REG_SZ (default), REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD,
             REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_BINARY or REG_NONE.
  /s         The one character that separates the strings of REG_MULTI_SZ data
             (default "\0").
  /d         The data: text; a number, decimal or 0x-hex, for REG_DWORD and
             REG_QWORD; hex digits for REG_BINARY and REG_NONE.
  /f         Overwrites an existing value without asking.

Without /v or /ve, creates the key only.

Examples:

  REG ADD HKLM\Software\Test /v Name /t REG_SZ /d Value
  REG ADD HKLM\Software\Test /v List /t REG_MULTI_SZ /d one\0two
  REG ADD HKLM\Software\Test /v Timeout /t REG_DWORD /d 0x927c0 /f
)";

constexpr const char* kDelete = R"(
REG DELETE KeyName [/v ValueName | /ve | /va] [/f]
%KEYNAME%
  /v         Deletes the value named ValueName.
  /ve        Deletes the default value.
  /va        Deletes all values of the key (its subkeys stay).
  /f         Deletes without asking.

Without /v, /ve or /va, deletes the key with all its subkeys and values.
Without /f, asks first; with no answer on standard input, nothing is deleted.

Examples:

  REG DELETE HKLM\Software\Test /f
  REG DELETE HKLM\Software\Test /v Name /f
)";

constexpr const char* kExport = R"(
REG EXPORT KeyName FileName [/y]
%KEYNAME%
  FileName   The registry script to write (UTF-16, as the registry editor
             writes them): a Windows path such as C:\export.reg or a host path.
  /y         Overwrites an existing file without asking.

Example:

  REG EXPORT HKLM\Software\Test test.reg /y
)";

constexpr const char* kImport = R"(
REG IMPORT FileName

  FileName   A registry script ("Windows Registry Editor Version 5.00" or
             "REGEDIT4"; UTF-16, UTF-8 or the machine's ANSI code page), as
             REG EXPORT writes it.

Example:

  REG IMPORT test.reg
)";

constexpr const char* kDeny = R"(
REG DENY KeyName [/u User]
REG ALLOW KeyName [/u User]
%KEYNAME%
  /u         The user (default: the current user).

DENY refuses the user every write right on the key and everything below it:
opening it for writing, setting and deleting values, creating subkeys and
deleting it fail with "Access is denied". Reading stays allowed. ALLOW takes
the denial away again. Denials are kept in the machine's registry and go with
the key when it is deleted.

Example:

  REG DENY HKLM\Software\Classes\AppID
)";

void print(const char* text) {
    std::string usage = text;
    const std::string marker = "%KEYNAME%";
    if (const auto at = usage.find(marker); at != std::string::npos)
        usage.replace(at, marker.size(), kKeyName);
    std::cout << usage.substr(1) << '\n';
}

} // namespace

void printHelp(std::u16string_view operation) {
    const std::u16string name = sky::upper(operation);
    if (name == u"QUERY")
        print(kQuery);
    else if (name == u"ADD")
        print(kAdd);
    else if (name == u"DELETE")
        print(kDelete);
    else if (name == u"EXPORT")
        print(kExport);
    else if (name == u"IMPORT")
        print(kImport);
    else if (name == u"DENY" || name == u"ALLOW")
        print(kDeny);
    else
        print(kGeneral);
}

} // namespace reg

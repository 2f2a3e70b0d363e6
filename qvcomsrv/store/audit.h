// The farm's audit trail: every change made to the farm, recorded by the store in the same
// transaction as the change itself, with when, by whom, from which machine, what and to which
// object. A change that is refused, or that leaves everything as it was, records nothing.
//
// Operations (`AuditEntry::operation`) and what they carry:
//
//   CreateApplication    DN of the new application, and what it was created with (below)
//   DeleteApplication    DN
//   ChangeApplication    DN, `setting` (a setting's name, "AppName", "ParentFolderDN",
//                        "AppType", "Description" or "Icon") and its old and new value as text
//                        (an icon: its size in bytes, "" for the default icon)
//   Publish, Unpublish   DN, `setting` "Server", the server in `newValue` / `oldValue`
//   GrantUser, RevokeUser, GrantGroup, RevokeGroup
//                        DN, `setting` "User" / "Group", the account ("CORP\alice")
//   SetFarmSetting       the farm's name, `setting`, old and new value
//   CreateFolder         DN of the new folder
//   AddAdministrator, RemoveAdministrator
//                        the account
//
// A new application records one CreateApplication entry whose new value tells what it was created
// with: every field, setting, server and account that differs from a new application's defaults,
// as "name=value" pairs joined by "; " ("Description=Word; DefaultEncryption=3; Server=ALPHA;
// User=CORP\bob; Icon=4286 bytes").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qvcomsrv/store/model.h"
#include "qvcomsrv/store/status.h"

namespace sky::farm {

// Who makes the changes: the account as the object model names its caller, and the machine.
struct AuditActor {
    std::string user;
    std::string machine;
    bool operator==(const AuditActor&) const = default;
};

// The user running this process and this machine's name: what a store records until it is told
// otherwise.
AuditActor processActor();

struct AuditEntry {
    std::int64_t id = 0; // ascending in the order the changes were made
    std::string time;    // UTC, ISO 8601 with milliseconds: "2026-12-08T16:50:48.123Z"
    std::string user;
    std::string machine;
    std::string operation;
    std::string distinguishedName;
    std::string setting;
    std::optional<std::string> oldValue;
    std::optional<std::string> newValue;
    bool operator==(const AuditEntry&) const = default;
};

// Which entries to list; every given condition must hold. `since`: UTC in the form of
// AuditEntry::time; `user` and `application` are matched ignoring case.
struct AuditQuery {
    std::optional<std::string> since;
    std::optional<std::string> user;
    std::optional<std::string> application;
};

// The entries one change records (time, user and machine left to the store).
AuditEntry auditEntry(std::string_view operation, std::string_view dn,
                      std::string_view setting = {},
                      std::optional<std::string> oldValue = std::nullopt,
                      std::optional<std::string> newValue = std::nullopt);
// An application saved over `before` (null: a new one) as `after`.
std::vector<AuditEntry> applicationChangeEntries(const Application* before,
                                                 const Application& after);
// A farm setting put from `before` to `after`; none when they are equal.
std::vector<AuditEntry> farmSettingEntries(std::string_view farmName, FarmSetting setting,
                                           const SettingValue& before, const SettingValue& after);

// A setting's value as the trail records it: a number in decimal, a text as it is.
std::string auditValueText(const SettingValue& value);

// Now, in the form of AuditEntry::time.
std::string auditTimeNow();

// An ISO 8601 time given by a person ("2026-12-08", "2026-12-08T17:30", "2026-12-08 17:30:05",
// "2026-12-08T16:30:00Z", "2026-12-08T17:30+01:00"), as UTC in the form of AuditEntry::time.
// Without a zone it is local time. InvalidArgument saying what form is expected.
Result<std::string> auditTimeFromText(std::string_view text);

} // namespace sky::farm

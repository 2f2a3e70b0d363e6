#include "qvcomsrv/store/audit.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include <windows.h>

#include "qvcomsrv/store/differences.h"
#include "sky/text.h"

namespace sky::farm {

namespace {

std::string iconText(const std::optional<Bytes>& icon) {
    return icon && !icon->empty() ? std::to_string(icon->size()) + " bytes" : "";
}

// "YYYY-MM-DDTHH:MM:SS.mmmZ" of a UTC time.
std::string utcText(std::time_t seconds, int milliseconds) {
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  milliseconds);
    return text;
}

} // namespace

AuditActor processActor() {
    AuditActor actor;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
        actor.machine = host;
    WCHAR name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (GetUserNameW(name, &size) && size > 0)
        actor.user = sky::narrow(std::u16string_view(name, size - 1));
    return actor;
}

AuditEntry auditEntry(std::string_view operation, std::string_view dn, std::string_view setting,
                      std::optional<std::string> oldValue, std::optional<std::string> newValue) {
    AuditEntry entry;
    entry.operation = operation;
    entry.distinguishedName = dn;
    entry.setting = setting;
    entry.oldValue = std::move(oldValue);
    entry.newValue = std::move(newValue);
    return entry;
}

std::string auditValueText(const SettingValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return std::to_string(*number);
    return std::get<std::string>(value);
}

namespace {

// What a new application was created with: every field, setting, server and account that differs
// from a new application's defaults, as "name=value" pairs joined by "; ", in the order in which
// a change of the same would be recorded.
std::string creationText(const Application& app) {
    static const AppSettings defaults;
    std::string text;
    const auto add = [&](std::string_view name, std::string_view value) {
        if (!text.empty())
            text += "; ";
        text += name;
        text += '=';
        text += value;
    };
    if (!app.description.empty())
        add("Description", app.description);
    for (std::size_t i = 0; i < kAppSettingCount; ++i) {
        const auto setting = static_cast<AppSetting>(i);
        if (app.settings.get(setting) != defaults.get(setting))
            add(definition(setting).name, auditValueText(app.settings.get(setting)));
    }
    for (const std::string& server : app.servers)
        add("Server", server);
    for (const Account& user : app.users)
        add("User", user.displayName());
    for (const Account& group : app.groups)
        add("Group", group.displayName());
    if (app.icon && !app.icon->empty())
        add("Icon", iconText(app.icon));
    return text;
}

} // namespace

std::vector<AuditEntry> applicationChangeEntries(const Application* before,
                                                 const Application& after) {
    const std::string dn = after.distinguishedName();
    // A new application is one entry: what it was created with.
    if (!before)
        return {auditEntry("CreateApplication", dn, "", std::nullopt, creationText(after))};
    std::vector<AuditEntry> entries;
    const ApplicationDifferences differences = differencesBetween(*before, after);
    for (const SettingChange& change : differences.settings) {
        entries.push_back(auditEntry("ChangeApplication", dn, change.name,
                                     auditValueText(change.before), auditValueText(change.after)));
    }
    for (const std::string& server : differences.serversGained)
        entries.push_back(auditEntry("Publish", dn, "Server", std::nullopt, server));
    for (const std::string& server : differences.serversLost)
        entries.push_back(auditEntry("Unpublish", dn, "Server", server, std::nullopt));
    for (const Account& user : differences.usersGained)
        entries.push_back(auditEntry("GrantUser", dn, "User", std::nullopt, user.displayName()));
    for (const Account& user : differences.usersLost)
        entries.push_back(auditEntry("RevokeUser", dn, "User", user.displayName(), std::nullopt));
    for (const Account& group : differences.groupsGained)
        entries.push_back(auditEntry("GrantGroup", dn, "Group", std::nullopt, group.displayName()));
    for (const Account& group : differences.groupsLost)
        entries.push_back(
            auditEntry("RevokeGroup", dn, "Group", group.displayName(), std::nullopt));
    if (differences.iconChanged)
        entries.push_back(auditEntry("ChangeApplication", dn, "Icon", iconText(before->icon),
                                     iconText(after.icon)));
    return entries;
}

std::vector<AuditEntry> farmSettingEntries(std::string_view farmName, FarmSetting setting,
                                           const SettingValue& before, const SettingValue& after) {
    if (before == after)
        return {};
    return {auditEntry("SetFarmSetting", farmName, definition(setting).name, auditValueText(before),
                       auditValueText(after))};
}

std::string auditTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    // Changes come many to a second: the date and time of day are written once a second, and
    // only the milliseconds for each change. The text is the process's, under a lock, not the
    // thread's: this code runs inside the object model module, which is loaded and unloaded at
    // run time, and thread-local storage of an unloaded module is left dangling in threads that
    // outlive it.
    static std::mutex mutex;
    static std::time_t second = -1;
    static std::string last;
    const auto seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::string text;
    {
        std::lock_guard lock(mutex);
        if (seconds != second) {
            last = utcText(seconds, 0);
            second = seconds;
        }
        text = last;
    }
    const auto fraction = static_cast<int>(milliseconds % 1000);
    constexpr std::size_t kFraction = 20; // where "mmm" stands in "YYYY-MM-DDTHH:MM:SS.mmmZ"
    if (text.size() != kFraction + 4 || fraction < 0)
        return utcText(seconds, fraction); // a year of more than four digits, or before 1970
    text[kFraction] = static_cast<char>('0' + fraction / 100);
    text[kFraction + 1] = static_cast<char>('0' + fraction / 10 % 10);
    text[kFraction + 2] = static_cast<char>('0' + fraction % 10);
    return text;
}

Result<std::string> auditTimeFromText(std::string_view text) {
    const Status wrong = Status::invalidArgument(
        "\"" + std::string(text) +
        "\" is not a time in ISO 8601: give YYYY-MM-DD, optionally followed by T (or a blank) and "
        "HH:MM[:SS], and optionally Z or +HH:MM / -HH:MM for a time that is not local.");
    const std::string value(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int used = 0;
    if (std::sscanf(value.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 || used != 10)
        return wrong;
    std::size_t at = 10;
    if (at < value.size() && (value[at] == 'T' || value[at] == ' ')) {
        int consumed = 0;
        if (std::sscanf(value.c_str() + at + 1, "%2d:%2d%n", &hour, &minute, &consumed) != 2 ||
            consumed != 5)
            return wrong;
        at += 1 + 5;
        if (at < value.size() && value[at] == ':') {
            if (std::sscanf(value.c_str() + at + 1, "%2d%n", &second, &consumed) != 1 ||
                consumed != 2)
                return wrong;
            at += 3;
        }
    }
    std::optional<int> offsetMinutes;
    if (at < value.size()) {
        if (value[at] == 'Z' && at + 1 == value.size()) {
            offsetMinutes = 0;
        } else if ((value[at] == '+' || value[at] == '-') && value.size() == at + 6 &&
                   value[at + 3] == ':') {
            int hours = 0, minutes = 0, consumed = 0;
            if (std::sscanf(value.c_str() + at + 1, "%2d:%2d%n", &hours, &minutes, &consumed) !=
                    2 ||
                consumed != 5 || hours > 23 || minutes > 59)
                return wrong;
            offsetMinutes = (value[at] == '-' ? -1 : 1) * (hours * 60 + minutes);
        } else {
            return wrong;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return wrong;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    std::time_t seconds = 0;
    if (offsetMinutes) {
        seconds = timegm(&parts) - static_cast<std::time_t>(*offsetMinutes) * 60;
    } else {
        parts.tm_isdst = -1;
        seconds = std::mktime(&parts);
    }
    // A day the month does not have (February 30) comes back as another date.
    std::tm check{};
    if (offsetMinutes) {
        const std::time_t back = seconds + static_cast<std::time_t>(*offsetMinutes) * 60;
        gmtime_r(&back, &check);
    } else {
        localtime_r(&seconds, &check);
    }
    if (check.tm_mday != day || check.tm_mon != month - 1)
        return wrong;
    return utcText(seconds, 0);
}

} // namespace sky::farm

// The settings as columns of a SQL store: one column per setting, named after the property, with
// its SQL type, default and check. The text is plain SQL that SQLite and PostgreSQL read alike, so
// that every store lays its settings out from the one list (setting_list.h).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "qvcomsrv/store/settings.h"

namespace sky::farm {

// "INTEGER" or "TEXT".
std::string_view settingSqlType(const SettingDef& def);

// The default as a SQL literal: 1, -1, '' (quotes doubled).
std::string settingSqlDefault(const SettingDef& def);

// The condition a stored value meets, over the quoted column: "\"CPUPriority\" BETWEEN 0 AND 5";
// empty when every value of the type is good (flags, numbers, text).
std::string settingSqlCheck(const SettingDef& def);

// "\"EnableApp\" INTEGER NOT NULL DEFAULT 1", with " CHECK (...)" when `withCheck` and the
// setting has one.
std::string settingColumnDefinition(const SettingDef& def, bool withCheck);

// Each setting's column definition after ",\n  ", to follow a table's other columns.
std::string settingColumnDefinitions(std::span<const SettingDef> defs, bool withChecks);

// "\"NoRedundantGraphics\", \"AlternateCachingMethod\", ..." with `prefix` before each ("a.").
std::string settingColumnList(std::span<const SettingDef> defs, std::string_view prefix);

// "\"EnableApp\" = ?6, \"DefaultEncryption\" = ?7, ..." with parameters from `first` on.
std::string settingAssignments(std::span<const SettingDef> defs, int first);

} // namespace sky::farm

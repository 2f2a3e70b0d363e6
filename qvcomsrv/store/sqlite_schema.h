// The SQLite farm store's schema and the SQL text that depends on the setting catalogues: every
// farm setting is a column of the farm's one row, every application setting a column of the
// application table, named after the property.
#pragma once

#include <string>

namespace sky::farm::sqlite {

// CREATE TABLE ... for a new store, with the root folder and the farm row left to the caller.
std::string schemaSql();

// The audit trail's table (audit.h), created when missing: part of a new store's schema, and
// added to a store of an earlier version when it is first opened. The entries of one change share
// its `change_id` (the first entry's id) and keep their order by `id`. `account_key` and `dn_key`
// hold the foldings of `account` and `dn`; an old or new value that is not there has its
// `has_*` column 0.
std::string auditTableSql();

// The quoted setting columns, in the order of the list, each with an optional table prefix.
std::string farmSettingColumns(const std::string& prefix = "");
std::string appSettingColumns(const std::string& prefix = "");

// "?6, ?7, ..." for `count` parameters from `first` on, and "\"A\" = ?6, ..." for updates.
std::string parameters(int first, int count);
std::string appSettingAssignments(int first);

} // namespace sky::farm::sqlite

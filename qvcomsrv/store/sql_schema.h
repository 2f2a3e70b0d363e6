// The farm store's schema and the SQL text that depends on the setting catalogues: every farm
// setting is a column of the farm's one row, every application setting a column of the
// application table, named after the property. One schema for every kind of store; the few
// words in which the kinds' SQL differs come from a Dialect.
#pragma once

#include <string>

namespace sky::farm::sql {

struct Dialect {
    const char* rowId;     // an id the database gives each new row, the table's primary key
    const char* reference; // the type of a column that holds such an id
    const char* key;       // the type of a column that holds folded names, compared byte by byte
    const char* blob;
    const char* keyTable; // after a table whose rows are found by their key alone
    // Whether a table may refer to one created after it; otherwise the reference from a zone to
    // its data collector is added once both tables exist.
    bool forwardReferences;
};

extern const Dialect kSqliteDialect;
extern const Dialect kPostgresDialect;

// CREATE TABLE ... for a new store, with the root folder and the farm row left to the caller.
std::string schemaSql(const Dialect& dialect);

// The audit trail's table (audit.h), created when missing: part of a new store's schema, and
// added to a store of an earlier version when it is first opened. The entries of one change share
// `change_id`, a number drawn at random, and keep their order by `id`; changes are listed in the
// order of their first entries.
// `time` is UTC in the form of AuditEntry::time, so that it orders as text; `account_key` and
// `dn_key` hold the foldings of `account` and `dn`; an old or new value that is not there has its
// `has_*` column 0.
std::string auditTableSql(const Dialect& dialect);

// "\"NoRedundantGraphics\", \"AlternateCachingMethod\", ..." with an optional table prefix.
std::string farmSettingColumns(const std::string& prefix = "");
std::string appSettingColumns(const std::string& prefix = "");

// "?6, ?7, ..." for `count` parameters from `first` on, and "\"A\" = ?6, ..." for updates.
std::string parameters(int first, int count);
std::string appSettingAssignments(int first);

} // namespace sky::farm::sql

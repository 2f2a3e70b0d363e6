// The SQL of the hive: its schema and every statement a connection prepares once and keeps.
//
// The common calls are one statement each, so that each takes the database's locks once:
// triggers keep the keys' last-write times, and a lookup answers for the base key, the key and
// the user's write denial together.
#pragma once

namespace sky::registry {

enum class Statement : int {
    Find,
    Lookup,
    Exists,
    InsertKey,
    HasSubKeys,
    DeleteTreeValues,
    DeleteTreeKeys,
    DeleteTreeDenials,
    SubKeyAt,
    KeyRow,
    SubKeys,
    SetValue,
    GetValue,
    ValueAt,
    DeleteValue,
    ValueSizes,
    Denied,
    DeniedBelow,
    AddDenial,
    RemoveDenial,
    Denials,
    Begin,
    Commit,
    Rollback,
    DataVersion,
    Count,
};

// Creates the tables of a new hive and its two roots.
extern const char* const kSchema;

// The text of a statement.
const char* sqlOf(Statement statement);

} // namespace sky::registry

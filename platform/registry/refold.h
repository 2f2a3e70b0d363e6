// Folding a hive's names again, for a hive whose names were folded by another rule than the one
// in force (sky::foldingRule()): a hive of the first format, folded for ASCII and Latin-1 only, or
// one folded with an older Unicode table. Key paths, value names and write denials are folded
// again; nothing is dropped. Names that the rule in force makes equal to an earlier sibling's
// (keys under one parent, values of one key; earlier means created first) are kept under a new
// name, "NAME (2)", "NAME (3)", ..., and each such rename is reported. Two denials that become one
// are one denial.
#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace sky::registry {

// Runs inside the caller's write transaction. Returns an SQLite result code; `renamed` gets one
// line per rename, for a person.
int refoldNames(sqlite3* db, std::vector<std::string>& renamed);

} // namespace sky::registry

// Folding a farm store's name keys again, for a store whose keys were folded by another rule than
// the one in force (sky::foldingRule()): a store of the first format, folded for ASCII and
// Latin-1 only, or one folded with an older Unicode table.
//
// Nothing is dropped. A zone, server, folder or application whose name the rule in force makes
// equal to an earlier one's (in the same folder, for folders and applications, which share their
// folder's names; earlier means created first) is kept under a new name, "NAME (2)",
// "NAME (3)", ..., and the folders and applications below a renamed folder follow it. Two
// administrators whose names are now equal are one account, and the entry kept is the first by
// the old order. Every rename and merge is reported.
#pragma once

#include <string>
#include <vector>

#include "qvcomsrv/store/sql_connection.h"

namespace sky::farm::sql {

// The rule the store records; empty for a store of the first format.
std::string recordedFolding(Connection& db);
// Records the rule in force (the table meta exists).
void recordFolding(Connection& db);

// Folds every key again, inside the caller's write transaction. Returns one line per rename or
// merge, for a person.
std::vector<std::string> refoldNames(Connection& db);

} // namespace sky::farm::sql

// The farm store in one SQLite file: write-ahead logging, so readers never wait for a writer;
// every change in one transaction that takes the write lock first (BEGIN IMMEDIATE) and waits
// for it up to the busy timeout; foreign keys on; synchronous=NORMAL, which keeps every committed
// transaction through a crash of the program and may lose only the last ones on a power cut.
//
// One object may be shared by several threads: its operations are serialised. Each process
// opens its own object.
#pragma once

#include <memory>
#include <string>

#include "qvcomsrv/store/farm_store.h"

namespace sky::farm {

struct SqliteOptions {
    int busyTimeoutMs = 5000;
};

// The file's SQLite application id ("SkFm") and the schema version this build reads and writes.
// Version 1 kept name keys folded for ASCII and Latin-1 only; version 2 records the folding rule
// of its keys (table meta, "folding"). Opening a store of version 1, or one whose keys were
// folded by another rule, folds them again (sql_refold.h) and lists what had to be renamed in
// "<store>.renamed.txt" beside it. Version 3 adds the audit trail's table, which a store of an
// earlier version gets when it is first opened.
inline constexpr int kSqliteApplicationId = 0x536B466D;
inline constexpr int kSqliteSchemaVersion = 3;

Result<std::unique_ptr<FarmStore>> openSqliteFarmStore(const std::string& path,
                                                       const SqliteOptions& options = {});
Result<std::unique_ptr<FarmStore>> createSqliteFarmStore(const std::string& path,
                                                         const FarmInfo& farm,
                                                         const SqliteOptions& options = {});
Result<std::unique_ptr<FarmStore>> createSqliteFarmStore(const std::string& path,
                                                         const FarmImage& image,
                                                         const SqliteOptions& options = {},
                                                         const ApplicationBatches& more = {});

} // namespace sky::farm

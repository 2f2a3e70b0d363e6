// The farm store in a PostgreSQL database, shared by every server of the farm: one database holds
// one farm. The store makes its schema itself and records its format and version in the table
// store_version; a store of an earlier version is brought up to this one when it is opened.
// See postgres_connection.h for the connection string, time-outs and transactions.
#pragma once

#include <memory>
#include <string>

#include "qvcomsrv/store/farm_store.h"
#include "qvcomsrv/store/postgres_connection.h"

namespace sky::farm {

// The format name in store_version and the schema version this build reads and writes.
inline constexpr std::string_view kPostgresStoreFormat = "skyloom-farm";
// Version 2 adds the audit trail's table, which a store of version 1 gets when it is first opened.
inline constexpr int kPostgresSchemaVersion = 2;

// NotFound when the database holds no farm store, Unavailable when the server cannot be reached.
Result<std::unique_ptr<FarmStore>>
openPostgresFarmStore(const std::string& conninfo, const postgres::ConnectionOptions& options = {});
// Makes the store with the whole farm `image` in it; the store appears complete or not at all.
// AlreadyExists when the database holds a farm store already; the database itself must exist.
Result<std::unique_ptr<FarmStore>>
createPostgresFarmStore(const std::string& conninfo, const FarmImage& image,
                        const postgres::ConnectionOptions& options = {},
                        const ApplicationBatches& more = {});
// Drops the farm store's tables, and the farm with them. Ok when there is none.
Status removePostgresFarmStore(const std::string& conninfo);

} // namespace sky::farm

// The farm store's operations, written once over a SQL connection of any kind: every operation
// runs alone on the connection and in one transaction, and one that conflicted with another
// program's transaction runs again. The kinds of store (sqlite_farm_store.h,
// postgres_farm_store.h) open their connection, check the store's schema, and hand the
// connection to makeSqlFarmStore.
#pragma once

#include <memory>

#include "qvcomsrv/store/farm_store.h"
#include "qvcomsrv/store/sql_connection.h"

namespace sky::farm {

std::unique_ptr<FarmStore> makeSqlFarmStore(std::unique_ptr<sql::Connection> db);

// Writes the root folder and the farm's row into a store whose schema was just made, inside the
// caller's transaction; the farm's settings go in through the store afterwards (replace).
void writeNewFarm(sql::Connection& db, const FarmInfo& farm);

// Ok when a new farm can have this name and settings.
Status checkNewFarm(const FarmInfo& farm);

} // namespace sky::farm

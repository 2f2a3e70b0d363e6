#include "qvcomsrv/store/farm_store.h"

#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/sqlite_farm_store.h"

namespace sky::farm {

namespace {

Status unknownType(const StoreLocation& location) {
    return Status::notSupported("Farm stores of type \"" + location.type +
                                "\" are not available in this build; it has \"sqlite\".");
}

} // namespace

Result<std::unique_ptr<FarmStore>> openFarmStore(const StoreLocation& location) {
    if (!sameName(location.type, kSqliteStoreType))
        return unknownType(location);
    return openSqliteFarmStore(location.path);
}

Result<std::unique_ptr<FarmStore>> createFarmStore(const StoreLocation& location,
                                                   const FarmInfo& farm) {
    if (!sameName(location.type, kSqliteStoreType))
        return unknownType(location);
    return createSqliteFarmStore(location.path, farm);
}

} // namespace sky::farm

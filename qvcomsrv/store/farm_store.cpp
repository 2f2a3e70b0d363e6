#include "qvcomsrv/store/farm_store.h"

#include <filesystem>

#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/postgres_farm_store.h"
#include "qvcomsrv/store/sqlite_farm_store.h"

namespace sky::farm {

namespace {

Status unknownType(const StoreLocation& location) {
    return Status::notSupported(
        "Farm stores of type \"" + location.type + "\" are not available in this build; it has \"" +
        std::string(kSqliteStoreType) + "\" and \"" + std::string(kPostgresStoreType) + "\".");
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

} // namespace

std::string canonicalStoreType(std::string_view type) {
    for (std::string_view known : {kSqliteStoreType, kPostgresStoreType}) {
        if (sameName(type, known))
            return std::string(known);
    }
    return {};
}

StoreLocation storeLocationFromText(std::string_view text) {
    if (startsWithNoCase(text, "postgresql://") || startsWithNoCase(text, "postgres://"))
        return {std::string(kPostgresStoreType), std::string(text)};
    return {std::string(kSqliteStoreType), std::string(text)};
}

Result<std::unique_ptr<FarmStore>> openFarmStore(const StoreLocation& location) {
    const std::string type = canonicalStoreType(location.type);
    if (type == kSqliteStoreType)
        return openSqliteFarmStore(location.path);
    if (type == kPostgresStoreType)
        return openPostgresFarmStore(location.path);
    return unknownType(location);
}

Result<std::unique_ptr<FarmStore>> createFarmStore(const StoreLocation& location,
                                                   const FarmInfo& farm) {
    return createFarmStore(location, FarmImage{farm, {}, {}, {}, {}, {}});
}

Status removeFarmStore(const StoreLocation& location) {
    const std::string type = canonicalStoreType(location.type);
    if (type == kPostgresStoreType)
        return removePostgresFarmStore(location.path);
    if (type != kSqliteStoreType)
        return unknownType(location);
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(location.path + suffix, ec);
        if (ec)
            return Status::ioError("The farm store " + location.path +
                                   " cannot be removed: " + ec.message() + ".");
    }
    return Status::ok();
}

Result<std::unique_ptr<FarmStore>> createFarmStore(const StoreLocation& location,
                                                   const FarmImage& image,
                                                   const ApplicationBatches& more) {
    const std::string type = canonicalStoreType(location.type);
    if (type == kSqliteStoreType)
        return createSqliteFarmStore(location.path, image, {}, more);
    if (type == kPostgresStoreType)
        return createPostgresFarmStore(location.path, image, {}, more);
    return unknownType(location);
}

} // namespace sky::farm

#include "qvcomsrv/store/postgres_farm_store.h"

#include <iostream>

#include "qvcomsrv/store/sql_farm_store.h"
#include "qvcomsrv/store/sql_refold.h"
#include "qvcomsrv/store/sql_schema.h"
#include "sky/text.h"

namespace sky::farm {

using postgres::Connection;
using postgres::ConnectionOptions;
using sql::throwStatus;

namespace {

// Held while a store is made or removed, so that two programs doing it at once take turns: an
// advisory lock of the database, numbered "SkFm".
constexpr const char* kCreationLock = "SELECT pg_advisory_xact_lock(1399539309)";
// The same lock held by the connection across several transactions, while a store is made.
constexpr const char* kCreationSessionLock = "SELECT pg_advisory_lock(1399539309)";
constexpr const char* kCreationUnlock = "SELECT pg_advisory_unlock(1399539309)";

constexpr const char* kDropTables =
    "DROP TABLE IF EXISTS store_version, audit, account_grant, publication, application_icon, "
    "application, folder, server, zone, administrator, farm, meta CASCADE";

// Runs `body` in one transaction of `db`, committed when it returns and rolled back when it
// throws.
template <typename Body> void inTransaction(Connection& db, Body&& body) {
    db.exec("BEGIN");
    try {
        body();
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

// What the tables were before each version, and how to bring them to the next: step i turns
// version i + 1 into version i + 2. Version 1 is the first; version 2 adds the audit trail.
std::string upgradeSql(std::int64_t from) {
    switch (from) {
    case 1:
        return sql::auditTableSql(sql::kPostgresDialect);
    default:
        throwStatus(Status::internal("No upgrade from format version " + std::to_string(from) +
                                     " is known."));
    }
}
constexpr int kUpgradeCount = 1;

bool hasStore(Connection& db) {
    return db.hasTable("store_version");
}

// The name keys are folded by the platform's case rule, which the store records (meta,
// "folding"); a store whose keys another rule folded has them folded again, once, by whoever
// opens it first. What had to be renamed is said on standard error.
void refoldWhenTheRuleChanged(Connection& db) {
    if (sql::recordedFolding(db) == foldingRule())
        return;
    std::vector<std::string> renamed;
    db.exec("BEGIN");
    try {
        db.exec(kCreationLock);
        if (sql::recordedFolding(db) == foldingRule()) {
            db.commit();
            return;
        }
        renamed = sql::refoldNames(db);
        sql::recordFolding(db);
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
    for (const std::string& line : renamed)
        std::cerr << "farm store " << db.location() << ": " << line << "\n";
}

// Checks the store's format and version, upgrading an earlier one in one transaction.
void checkVersion(Connection& db) {
    if (!hasStore(db))
        throwStatus(Status::notFound("There is no farm store in the database " + db.location() +
                                     "; create one with \"qvfarm create NAME --postgres ...\"."));
    std::string format;
    std::int64_t version = 0;
    {
        auto q = db.query("SELECT format, version FROM store_version");
        if (q.step()) {
            format = q.text(0);
            version = q.integer(1);
        }
    }
    if (format != kPostgresStoreFormat)
        throwStatus(Status::corrupt(db.location() + " is not a farm store."));
    if (version > kPostgresSchemaVersion || version < kPostgresSchemaVersion - kUpgradeCount ||
        version < 1)
        throwStatus(Status::notSupported(
            "The farm store " + db.location() + " has format version " + std::to_string(version) +
            "; this program reads version " + std::to_string(kPostgresSchemaVersion) + "."));
    if (version == kPostgresSchemaVersion) {
        refoldWhenTheRuleChanged(db);
        return;
    }
    db.exec("BEGIN");
    try {
        db.exec(kCreationLock);
        auto q = db.query("SELECT version FROM store_version FOR UPDATE");
        std::int64_t now = q.step() ? q.integer(0) : 0;
        for (; now < kPostgresSchemaVersion; ++now)
            db.exec(upgradeSql(now));
        db.exec("UPDATE store_version SET version = " + std::to_string(kPostgresSchemaVersion));
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
    refoldWhenTheRuleChanged(db);
}

} // namespace

Result<std::unique_ptr<FarmStore>> openPostgresFarmStore(const std::string& conninfo,
                                                         const ConnectionOptions& options) {
    return sql::catchFailures([&]() -> Result<std::unique_ptr<FarmStore>> {
        auto db = std::make_unique<Connection>(conninfo, options);
        checkVersion(*db);
        return makeSqlFarmStore(std::move(db));
    });
}

Result<std::unique_ptr<FarmStore>> createPostgresFarmStore(const std::string& conninfo,
                                                           const FarmImage& image,
                                                           const ConnectionOptions& options,
                                                           const ApplicationBatches& more) {
    if (Status s = checkNewFarm(image.farm); !s)
        return s;
    return sql::catchFailures([&]() -> Result<std::unique_ptr<FarmStore>> {
        auto owned = std::make_unique<Connection>(conninfo, options);
        Connection& db = *owned;
        // The lock is held until the store is whole, so that a second program creating it waits
        // and then finds it made. Closing the connection, whatever the reason, lets it go.
        db.exec(kCreationSessionLock);
        if (hasStore(db))
            throwStatus(Status::alreadyExists("The farm store " + conninfo + " already exists."));
        // The store counts as made once store_version is there, which comes last: tables without
        // it are what a creation cut off part-way left behind, and go.
        inTransaction(db, [&] {
            db.exec(kDropTables);
            db.exec(sql::schemaSql(sql::kPostgresDialect));
            writeNewFarm(db, image.farm);
            sql::recordFolding(db);
        });
        auto store = makeSqlFarmStore(std::move(owned));
        // The farm goes in through the store itself, checked like any other change.
        if (Status s = store->replace(image, more); !s)
            throwStatus(s);
        inTransaction(db, [&] {
            db.exec("CREATE TABLE store_version (format text NOT NULL, version integer NOT "
                    "NULL)");
            auto q = db.query("INSERT INTO store_version (format, version) VALUES (?1, ?2)");
            q.bind(1, kPostgresStoreFormat).bind(2, kPostgresSchemaVersion);
            q.run();
        });
        db.exec(kCreationUnlock);
        return store;
    });
}

Status removePostgresFarmStore(const std::string& conninfo) {
    return sql::catchFailures([&]() -> Status {
        Connection db(conninfo, ConnectionOptions{});
        inTransaction(db, [&] {
            db.exec(kCreationLock);
            db.exec(kDropTables);
        });
        return Status::ok();
    });
}

} // namespace sky::farm

#include "qvcomsrv/store/sqlite_farm_store.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <sys/stat.h>
#include <unistd.h>

#include "qvcomsrv/store/sql_farm_store.h"
#include "qvcomsrv/store/sql_refold.h"
#include "qvcomsrv/store/sql_schema.h"
#include "qvcomsrv/store/sqlite_db.h"
#include "sky/text.h"

namespace fs = std::filesystem;

namespace sky::farm {

using sql::Transaction;
using sqlite::Database;
using sqlite::throwStatus;

namespace {

// Pragmas every connection sets; the store's identity checked before anything else is read.
void prepareConnection(Database& db) {
    auto id = db.query("PRAGMA application_id");
    const std::int64_t applicationId = id.step() ? id.integer(0) : 0;
    if (applicationId != kSqliteApplicationId)
        throwStatus(Status::corrupt(db.path() + " is not a farm store."));
    const auto schemaVersion = [&db] {
        auto version = db.query("PRAGMA user_version");
        return version.step() ? version.integer(0) : 0;
    };
    const std::int64_t schema = schemaVersion();
    if (schema < 1 || schema > kSqliteSchemaVersion)
        throwStatus(Status::notSupported("The farm store " + db.path() + " has format version " +
                                         std::to_string(schema) + "; this program reads version " +
                                         std::to_string(kSqliteSchemaVersion) + "."));
    // A page cache large enough for the applications of a large farm; checkpoints every 16 MB of
    // log rather than every 4 MB, so that a run of saves copies each page back fewer times.
    db.exec("PRAGMA foreign_keys = ON; PRAGMA synchronous = NORMAL; PRAGMA cache_size = -16000; "
            "PRAGMA wal_autocheckpoint = 4000;");
    const auto current = [&] {
        return schemaVersion() == kSqliteSchemaVersion && sql::recordedFolding(db) == foldingRule();
    };
    if (current())
        return;
    // Once, whoever comes first; the others find it done.
    std::vector<std::string> renamed;
    {
        Transaction tx(db, Transaction::Kind::Write);
        if (current())
            return;
        db.exec("CREATE TABLE IF NOT EXISTS meta (name TEXT PRIMARY KEY, value TEXT NOT NULL) "
                "WITHOUT ROWID");
        renamed = sql::refoldNames(db);
        db.exec(sql::auditTableSql(sql::kSqliteDialect));
        sql::recordFolding(db);
        db.exec("PRAGMA user_version = " + std::to_string(kSqliteSchemaVersion));
        tx.commit();
    }
    if (renamed.empty())
        return;
    const std::string report = db.path() + ".renamed.txt";
    std::ofstream out(report, std::ios::app);
    out << "The farm store " << db.path() << " was brought to the name rule \"" << foldingRule()
        << "\". Names that are now equal were kept apart:\n";
    for (const std::string& line : renamed)
        out << "  " << line << "\n";
    std::cerr << "farm store: " << renamed.size()
              << " names became equal to others under the case rule in force; see " << report
              << "\n";
}

// Writes a new store's schema, root folder and farm into the empty database file at `path`.
void buildStore(const std::string& path, const FarmInfo& farm) {
    Database db(path, 0);
    db.exec("PRAGMA journal_mode = WAL");
    db.exec("PRAGMA foreign_keys = ON");
    Transaction tx(db, Transaction::Kind::Write);
    db.exec(sql::schemaSql(sql::kSqliteDialect));
    sql::recordFolding(db);
    db.exec("PRAGMA application_id = " + std::to_string(kSqliteApplicationId) +
            "; PRAGMA user_version = " + std::to_string(kSqliteSchemaVersion) + ";");
    writeNewFarm(db, farm);
    tx.commit();
}

} // namespace

Result<std::unique_ptr<FarmStore>> openSqliteFarmStore(const std::string& path,
                                                       const SqliteOptions& options) {
    return sql::catchFailures([&]() -> Result<std::unique_ptr<FarmStore>> {
        std::error_code ec;
        if (!fs::exists(path, ec))
            return Status::notFound("There is no farm store " + path + ".");
        auto db = std::make_unique<Database>(path, options.busyTimeoutMs);
        prepareConnection(*db);
        return makeSqlFarmStore(std::move(db));
    });
}

Result<std::unique_ptr<FarmStore>>
createSqliteFarmStore(const std::string& path, const FarmInfo& farm, const SqliteOptions& options) {
    return createSqliteFarmStore(path, FarmImage{farm, {}, {}, {}, {}, {}}, options);
}

Result<std::unique_ptr<FarmStore>> createSqliteFarmStore(const std::string& path,
                                                         const FarmImage& image,
                                                         const SqliteOptions& options,
                                                         const ApplicationBatches& more) {
    const FarmInfo& farm = image.farm;
    if (Status s = checkNewFarm(farm); !s)
        return s;
    std::error_code ec;
    if (fs::exists(path, ec))
        return Status::alreadyExists("The farm store " + path + " already exists.");
    // Built under a temporary name and linked into place, so that the store appears complete or
    // not at all, and two programs creating the same store cannot both succeed.
    std::string temporary = path + ".new-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return Status::ioError("The farm store " + path +
                               " cannot be created: " + std::strerror(errno) + ".");
    fchmod(fd, 0644); // as SQLite creates files; mkstemp makes them private
    close(fd);
    auto built = sql::catchFailures([&]() -> Result<std::unique_ptr<FarmStore>> {
        buildStore(temporary, farm);
        return std::unique_ptr<FarmStore>();
    });
    Status status = built ? Status::ok() : built.status();
    if (status) {
        // The farm goes in through the store itself, checked like any other change, before the
        // store has its name.
        auto store = openSqliteFarmStore(temporary, options);
        status = store ? (*store)->replace(image, more) : store.status();
    }
    if (status && link(temporary.c_str(), path.c_str()) != 0) {
        status = errno == EEXIST
                     ? Status::alreadyExists("The farm store " + path + " already exists.")
                     : Status::ioError("The farm store " + path +
                                       " cannot be created: " + std::strerror(errno) + ".");
    }
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(temporary + suffix, ec);
    if (!status)
        return status;
    return openSqliteFarmStore(path, options);
}

} // namespace sky::farm

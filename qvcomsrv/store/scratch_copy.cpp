#include "qvcomsrv/store/scratch_copy.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/postgres_farm_store.h"

namespace sky::farm {

namespace {

namespace fs = std::filesystem;

// Closes a connection however the copy ends.
struct Connection {
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close(db); }
};

Status sqliteFailure(const std::string& what, sqlite3* db, int code) {
    const std::string message = what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        return Status::busy(message);
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
        return Status::corrupt(message);
    return Status::ioError(message);
}

void removeStoreFiles(const std::string& path) {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(path + suffix, ignored);
}

// How old a scratch database left behind by a process that could not drop it (killed, or cut
// off from the server) must be before another copy drops it: no copy lives that long.
constexpr std::time_t kLeftoverAge = 24 * 60 * 60;
constexpr const char* kInsufficientPrivilege = "42501";

// A connection to the farm's database server, closed however the work ends.
struct DatabaseServer {
    PGconn* conn = nullptr;
    explicit DatabaseServer(const std::string& conninfo) {
        // Ten seconds to connect, unless the connection string says otherwise.
        const char* keywords[] = {"connect_timeout", "dbname", nullptr};
        const char* values[] = {"10", conninfo.c_str(), nullptr};
        conn = PQconnectdbParams(keywords, values, 1);
        if (conn)
            PQsetNoticeProcessor(
                conn, [](void*, const char*) {}, nullptr);
    }
    ~DatabaseServer() { PQfinish(conn); }
    DatabaseServer(const DatabaseServer&) = delete;
    DatabaseServer& operator=(const DatabaseServer&) = delete;
    bool connected() const { return conn && PQstatus(conn) == CONNECTION_OK; }
    std::string problem() const { return postgres::oneLine(conn ? PQerrorMessage(conn) : ""); }
};

// A statement's result, freed however the caller leaves.
struct Outcome {
    PGresult* result;
    explicit Outcome(PGresult* r) : result(r) {}
    ~Outcome() { PQclear(result); }
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;
    bool ok() const {
        const ExecStatusType status = PQresultStatus(result);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }
    std::string state() const {
        const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        return code ? code : "";
    }
    std::string problem() const { return postgres::oneLine(PQresultErrorMessage(result)); }
};

// A name for a new scratch database: the prefix, the time, this process and a random number.
std::string scratchDatabaseName() {
    std::random_device random;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%06x", random() & 0xFFFFFFu);
    return std::string(kScratchDatabasePrefix) + std::to_string(std::time(nullptr)) + "_" +
           std::to_string(::getpid()) + "_" + suffix;
}

// When the scratch database `name` was made, by its name; nullopt for a name of another form.
std::optional<std::time_t> madeAt(std::string_view name) {
    if (!name.starts_with(kScratchDatabasePrefix))
        return std::nullopt;
    name.remove_prefix(kScratchDatabasePrefix.size());
    long long seconds = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), seconds);
    if (error != std::errc() || end == name.data() || end == name.data() + name.size() ||
        *end != '_')
        return std::nullopt;
    return static_cast<std::time_t>(seconds);
}

// Drops the scratch databases on the server that are older than kLeftoverAge. One that cannot be
// dropped (in use, or another user's) stays; nothing here fails the copy.
void dropLeftovers(DatabaseServer& server) {
    const std::string prefix(kScratchDatabasePrefix);
    const char* values[] = {prefix.c_str()};
    std::vector<std::string> old;
    {
        Outcome listed{PQexecParams(
            server.conn, "SELECT datname FROM pg_database WHERE starts_with(datname, $1)", 1,
            nullptr, values, nullptr, nullptr, 0)};
        if (!listed.ok())
            return;
        const std::time_t now = std::time(nullptr);
        for (int row = 0; row < PQntuples(listed.result); ++row) {
            const std::string name = PQgetvalue(listed.result, row, 0);
            if (const auto made = madeAt(name); made && now - *made > kLeftoverAge)
                old.push_back(name);
        }
    }
    for (const std::string& name : old)
        Outcome dropped{PQexec(server.conn, ("DROP DATABASE IF EXISTS \"" + name + "\"").c_str())};
}

} // namespace

ScratchStore::~ScratchStore() {
    if (database_.empty()) {
        removeStoreFiles(location_.path);
        return;
    }
    // Connections to the copy that the object model in this process still keeps are closed by
    // the server (FORCE).
    DatabaseServer server(serverConninfo_);
    std::string problem;
    if (!server.connected()) {
        problem = server.problem();
    } else {
        Outcome dropped{PQexec(
            server.conn, ("DROP DATABASE IF EXISTS \"" + database_ + "\" WITH (FORCE)").c_str())};
        if (!dropped.ok())
            problem = dropped.problem();
    }
    if (!problem.empty())
        std::cerr << "The scratch database " << database_ << " cannot be dropped (" << problem
                  << "); the next copy drops it once it is a day old, or drop it yourself.\n";
}

Result<std::unique_ptr<ScratchStore>> ScratchStore::copyDatabase(const StoreLocation& from) {
    auto source = openPostgresFarmStore(from.path);
    if (!source)
        return source.status();
    DatabaseServer server(from.path);
    if (!server.connected())
        return Status::unavailable("The database server of the farm store " + from.path +
                                   " cannot be reached: " + server.problem() + ".");
    dropLeftovers(server);
    const std::string name = scratchDatabaseName();
    {
        Outcome made{PQexec(server.conn, ("CREATE DATABASE \"" + name + "\"").c_str())};
        if (!made.ok()) {
            const std::string user = PQuser(server.conn);
            if (made.state() == kInsufficientPrivilege)
                return Status::ioError(
                    "A scratch copy of the farm store " + from.path +
                    " is a new database on the same server, and the user " + user +
                    " may not create databases there: it lacks the privilege CREATEDB (\"ALTER "
                    "ROLE " +
                    user + " CREATEDB\" grants it).");
            return Status::ioError("The scratch database " + name + " cannot be created on the " +
                                   "server of the farm store " + from.path + ": " + made.problem() +
                                   ".");
        }
    }
    auto conninfo = postgres::conninfoForDatabase(from.path, name);
    if (!conninfo)
        return conninfo.status();
    // From here on the database is dropped however the copy ends.
    std::unique_ptr<ScratchStore> scratch(
        new ScratchStore({from.type, *conninfo}, from.path, name));
    // One read transaction: the farm as it was at one moment, whatever others change meanwhile.
    auto image = (*source)->image();
    if (!image)
        return image.status();
    source->reset();
    auto copied = createPostgresFarmStore(*conninfo, *image);
    if (!copied)
        return copied.status().withContext("The farm cannot be copied into the scratch database " +
                                           name + ": ");
    return scratch;
}

Result<std::unique_ptr<ScratchStore>> ScratchStore::copy(const StoreLocation& from,
                                                         const fs::path& folder) {
    if (sameName(from.type, kPostgresStoreType))
        return copyDatabase(from);
    if (!sameName(from.type, kSqliteStoreType))
        return Status::notSupported("A scratch copy of a store of type \"" + from.type +
                                    "\" cannot be made.");
    std::error_code error;
    if (!fs::exists(from.path, error))
        return Status::notFound("There is no farm store at " + from.path + ".");
    fs::create_directories(folder, error);
    if (error)
        return Status::ioError("The folder " + folder.string() +
                               " cannot be created: " + error.message());
    // A name of its own, taken by creating the file (an empty file is an empty database).
    std::string name = (folder / "scratch-farm-XXXXXX").string();
    const int made = ::mkstemp(name.data());
    if (made < 0)
        return Status::ioError("A scratch copy cannot be created in " + folder.string() + ": " +
                               std::generic_category().message(errno));
    ::close(made);
    const std::string& path = name;
    std::unique_ptr<ScratchStore> scratch(new ScratchStore({from.type, path}));

    Connection source;
    int code = sqlite3_open_v2(from.path.c_str(), &source.db, SQLITE_OPEN_READONLY, nullptr);
    if (code != SQLITE_OK)
        return sqliteFailure("The farm store " + from.path + " cannot be opened", source.db, code);
    sqlite3_busy_timeout(source.db, 10000);
    Connection target;
    code = sqlite3_open_v2(path.c_str(), &target.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                           nullptr);
    if (code != SQLITE_OK)
        return sqliteFailure("The scratch copy " + path + " cannot be created", target.db, code);

    // One step copies every page while the source stays read-locked, so the copy is one
    // consistent view of the farm.
    sqlite3_backup* backup = sqlite3_backup_init(target.db, "main", source.db, "main");
    if (!backup)
        return sqliteFailure("The farm store " + from.path + " cannot be copied", target.db,
                             sqlite3_errcode(target.db));
    code = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (code != SQLITE_DONE)
        return sqliteFailure("The farm store " + from.path + " cannot be copied", nullptr, code);
    if (finished != SQLITE_OK)
        return sqliteFailure("The farm store " + from.path + " cannot be copied", target.db,
                             finished);
    return scratch;
}

} // namespace sky::farm

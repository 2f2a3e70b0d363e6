#include "qvcomsrv/store/scratch_copy.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include "qvcomsrv/store/names.h"

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

} // namespace

ScratchStore::~ScratchStore() {
    removeStoreFiles(location_.path);
}

Result<std::unique_ptr<ScratchStore>> ScratchStore::copy(const StoreLocation& from,
                                                         const fs::path& folder) {
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

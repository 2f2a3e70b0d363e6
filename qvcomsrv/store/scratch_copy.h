// A scratch copy of a farm store: the whole store copied, as one consistent view, into a new store
// that nobody else knows of, so that a tool can try its work on the copy and compare it with the
// original afterwards. The copy is removed when the ScratchStore goes.
//
// - A store file is copied with SQLite's online backup into a new file in a given folder.
// - A store in a PostgreSQL database is copied into a new database on the same server, named
//   kScratchDatabasePrefix + the time it was made (seconds since 1970, UTC) + the process + a
//   random number ("skyfarm_scratch_1796750000_4711_9f3a2c"). The farm's content is read in one
//   read transaction (one state of the farm, while others go on changing it) and written into the
//   new database as a new store, so the copy holds the farm, its administrators, zones, servers,
//   folders and applications with their icons, but not the audit trail. The user of the farm's
//   connection string must be allowed to create databases (CREATEDB). A process killed before it
//   dropped its copy leaves the database behind; every copy made later drops such databases
//   older than a day.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "qvcomsrv/store/farm_store.h"

namespace sky::farm {

inline constexpr std::string_view kScratchDatabasePrefix = "skyfarm_scratch_";

class ScratchStore {
public:
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;
    ~ScratchStore();

    // Where the copy is, to open it or to hand it to the object model.
    const StoreLocation& location() const { return location_; }
    // The scratch database on the farm's server; empty for a copy in a file.
    const std::string& databaseName() const { return database_; }

    // Copies the store at `from`: a store file into a new file in `folder` (created when
    // missing), a PostgreSQL store into a new database on its server. NotSupported for a kind of
    // store that cannot be copied; IOError naming the missing privilege when the database user
    // may not create databases.
    static Result<std::unique_ptr<ScratchStore>> copy(const StoreLocation& from,
                                                      const std::filesystem::path& folder);

private:
    ScratchStore(StoreLocation location, std::string serverConninfo = {}, std::string database = {})
        : location_(std::move(location)), serverConninfo_(std::move(serverConninfo)),
          database_(std::move(database)) {}
    static Result<std::unique_ptr<ScratchStore>> copyDatabase(const StoreLocation& from);

    StoreLocation location_;
    // For a scratch database: the farm's own connection, from which the copy is dropped.
    std::string serverConninfo_;
    std::string database_;
};

} // namespace sky::farm

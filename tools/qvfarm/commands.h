// The commands of qvfarm. Each writes what it did to `out` and what went wrong to `err` (as
// "qvfarm: ..."), and returns the process exit code: 0 when it did its work, 1 when it could not.
// A long command shows its progress on `err` when `progress` is set (standard error is a
// terminal), as BraskAdmin's command line does: a percentage that rewrites itself, cleared before
// anything else is written.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "qvcomsrv/store/farm_store.h"

namespace sky::qvfarm {

struct Streams {
    std::ostream& out;
    std::ostream& err;
    bool progress = false;
};

// `store`: a farm store to work on instead of the one this machine serves: a store file, or a
// PostgreSQL store's "postgresql://" URI.
using StoreOption = std::optional<std::string>;
// `postgres`: the connection string of a PostgreSQL database to put the farm in, instead of a
// store file on this machine.
using PostgresOption = std::optional<std::string>;

// `administrator`: the farm's first administrator (the user running the program when empty).
int createFarm(const std::string& name, bool reportsSessionReliability,
               const PostgresOption& postgres, const std::string& administrator, Streams io);
int loadFarm(const std::string& file, const PostgresOption& postgres, Streams io);
int dumpFarm(const StoreOption& store, const std::optional<std::string>& output, Streams io);
int addAdministrator(const StoreOption& store, const std::string& account, Streams io);
int removeAdministrator(const StoreOption& store, const std::string& account, Streams io);
int listAdministrators(const StoreOption& store, Streams io);
int listFarms(Streams io);
// Serves the farm `nameOrFile` names (a farm the machine knows, or a store file), or the farm of
// the PostgreSQL database `postgres` names.
int selectFarm(const std::string& nameOrFile, const PostgresOption& postgres, Streams io);
// The size of a demonstration farm made to measure (largeDemoFarm), rather than the demo itself.
struct DemoSize {
    std::size_t applications = 0;
    std::size_t servers = 0;
};
// Makes the demonstration farm (or one of `size`) with `administrator` (the user running it when
// empty) as its first administrator.
int buildDemoFarm(const std::string& name, const std::optional<DemoSize>& size,
                  const PostgresOption& postgres, const std::string& administrator, Streams io);
// Copies the whole farm of `source` into `target` (each a store file or a "postgresql://" URI).
// The target must hold no farm yet, unless `replace`.
int copyFarm(const std::string& source, const std::string& target, bool replace, Streams io);

// The store given (a store file or a PostgreSQL store's URI), or the machine's; "qvfarm: " and the
// problem on `io.err`, and null, when it cannot be opened.
std::unique_ptr<farm::FarmStore> openStoreOption(const StoreOption& store, Streams io);

// The account of the user running the program.
std::string currentUser();

// Ok when the user running the program administers the farm of `store` or owns the machine (its
// directory); otherwise a refusal that says "only an administrator of the farm or the machine's
// owner may " and `what`. Changing who administers the farm, or removing its audit trail, is
// theirs alone.
farm::Status mayManageFarm(farm::FarmStore& store, const std::string& what);

} // namespace sky::qvfarm

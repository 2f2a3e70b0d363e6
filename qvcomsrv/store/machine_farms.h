// The farm stores of this machine: where they live, which one the machine's object model serves,
// and which ones the machine knows.
//
// A farm's store on this machine is the file <machine>/farms/NAME.db. A farm kept in a PostgreSQL
// database that the machine has served is remembered in <machine>/farms/NAME.postgres, a text
// file that holds the database's connection string. The machine serves the farm whose store its
// registry names under HKLM\Software\Vantor\Skyloom\FarmStore ("Type", and "Path" or
// "ConnectionString").
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qvcomsrv/store/farm_store.h"

namespace sky::farm {

// <machine>/farms, created when missing.
std::filesystem::path farmsDirectory();

// Ok when `name` can name a farm kept in a file of its own: not empty, not "." or "..", and
// without "/", "\" or control characters.
Status checkFarmName(std::string_view name);

// Where the store of the farm `name` lives on this machine.
StoreLocation farmStoreOnMachine(std::string_view name);

// Remembers a PostgreSQL store under its farm's name in the farms directory, so that the
// machine knows it when it serves another.
Status rememberFarmStore(std::string_view farmName, const StoreLocation& location);

// The store the machine knows by the farm name `name` (without regard to case): its file or a
// PostgreSQL store it remembers under that name; NotFound ("There is no farm store
// <machine>/farms/NAME.db.") when neither, InvalidArgument listing them when several answer to it.
Result<StoreLocation> farmStoreNamed(std::string_view name);

// The store the machine serves; NotFound when it serves none yet.
Result<StoreLocation> machineFarmStore();
Status setMachineFarmStore(const StoreLocation& location);
// Forgets the machine's record: it then serves no farm until one is set.
Status clearMachineFarmStore();
Result<std::unique_ptr<FarmStore>> openMachineFarmStore();

struct KnownFarmStore {
    std::string name; // the file's name without ".db" or ".postgres", or where a store kept
                      // elsewhere is
    StoreLocation location;
    bool served = false; // the store the machine serves
};

// Every store of the farms directory (files and remembered PostgreSQL stores), ordered by name,
// and the served store if it is none of them. When the machine's record of the served store
// cannot be read (a damaged registry hive), none is marked served and `servedProblem`, if given,
// says why; it is left alone when the machine simply serves no farm.
std::vector<KnownFarmStore> knownFarmStores(Status* servedProblem = nullptr);

// The known store whose farm has the server `server`; NotFound when none has, InvalidArgument
// listing them when several (different) stores have it. Stores that cannot be opened are passed
// over.
Result<KnownFarmStore> farmStoreListingServer(std::string_view server);

} // namespace sky::farm

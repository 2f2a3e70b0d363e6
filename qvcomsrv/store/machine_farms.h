// The farm stores of this machine: where they live, which one the machine's object model serves,
// and which ones the machine knows.
//
// A farm's store on this machine is the file <machine>/farms/NAME.db. The machine serves the farm
// whose store its registry names under HKLM\Software\Vantor\Skyloom\FarmStore ("Type", "Path").
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

// The store the machine serves; NotFound when it serves none yet.
Result<StoreLocation> machineFarmStore();
Status setMachineFarmStore(const StoreLocation& location);
Result<std::unique_ptr<FarmStore>> openMachineFarmStore();

struct KnownFarmStore {
    std::string name; // the file's name without ".db", or the path of a store kept elsewhere
    StoreLocation location;
    bool served = false; // the store the machine serves
};

// Every store of the farms directory, ordered by name, and the served store if it lies
// elsewhere.
std::vector<KnownFarmStore> knownFarmStores();

// The known store whose farm has the server `server` (the first by name when several do);
// NotFound when none has. Stores that cannot be opened are passed over.
Result<KnownFarmStore> farmStoreListingServer(std::string_view server);

} // namespace sky::farm

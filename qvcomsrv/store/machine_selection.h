// Reads and writes the machine's record of the farm store it serves, in the machine's registry
// (HKLM\Software\Vantor\Skyloom\FarmStore, "Type" and "Path").
#pragma once

#include <optional>

#include "qvcomsrv/store/farm_store.h"

namespace sky::farm::selection {

// nullopt when the machine has no record yet.
Result<std::optional<StoreLocation>> read();
Status write(const StoreLocation& location);
// Removes the record: the machine then serves no farm. Ok when there was none.
Status clear();

} // namespace sky::farm::selection

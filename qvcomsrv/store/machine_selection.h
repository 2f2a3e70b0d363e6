// Reads and writes the machine's record of the farm store it serves. Kept apart from the rest of
// machine_farms so that the record's place can change without touching its callers.
#pragma once

#include <optional>

#include "farm_store.h"

namespace sky::farm::selection {

// nullopt when the machine has no record yet.
Result<std::optional<StoreLocation>> read();
Status write(const StoreLocation& location);

} // namespace sky::farm::selection

// The farm store that objects work on. Every object that one farm object hands out shares the
// farm object's connection; objects created on their own connect to the store the machine serves.
// Connections to one store are shared across the process, and the store is used by one caller
// at a time.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "qvcomsrv/store/farm_store.h"

namespace qvcomsrv {

class FarmConnection {
public:
    FarmConnection(std::unique_ptr<sky::farm::FarmStore> store, sky::farm::StoreLocation location)
        : store_(std::move(store)), location_(std::move(location)) {}

    // Runs `work(store)` while holding the store. What it changes is recorded in the farm's
    // audit trail as done by the caller the object model serves (the client when serving another
    // process) on this machine.
    template <typename Work> auto use(Work&& work) {
        std::lock_guard<std::mutex> hold(mutex_);
        store_->setActor(caller());
        return work(*store_);
    }

    const sky::farm::StoreLocation& location() const { return location_; }

private:
    static sky::farm::AuditActor caller();

    std::mutex mutex_;
    std::unique_ptr<sky::farm::FarmStore> store_;
    sky::farm::StoreLocation location_;
};

using Farm = std::shared_ptr<FarmConnection>;

// The store this machine serves, as its registry records it; the record is read at most once a
// second. A store that was replaced on disk since it was last opened is opened again. NotFound
// when the machine serves no farm or the store is missing; Corrupt when it is damaged.
sky::farm::Result<Farm> connectToMachineFarm();

// The store every object of this process serves from now on, instead of the one the machine's
// record names; nullopt serves the machine's store again. Only this process is affected: no
// record is written, so other clients keep seeing the machine's farm. A tool that previews its
// work on a scratch copy of the farm points the module at the copy for that run.
void serveStoreInThisProcess(std::optional<sky::farm::StoreLocation> location);

// Closes the connections that no object uses any more.
void forgetUnusedConnections();

} // namespace qvcomsrv

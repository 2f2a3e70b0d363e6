// The farm store that objects work on. Every object that one farm object hands out shares the
// farm object's connection; objects created on their own connect to the store the machine serves.
// Connections to one store are shared across the process, and the store is used by one caller
// at a time.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "member_access.h"
#include "qvcomsrv/store/farm_store.h"
#include "sky/remote.h"

namespace qvcomsrv {

class FarmConnection {
public:
    FarmConnection(std::unique_ptr<sky::farm::FarmStore> store, sky::farm::StoreLocation location)
        : store_(std::move(store)), location_(std::move(location)) {}

    // Runs `work(store)` while holding the store, for a caller who administers the farm: the
    // caller the object model serves (the client when serving another process), whom anything
    // else gets accessDenied() from without `work` running. What it changes is recorded in the
    // farm's audit trail as done by that caller on this machine.
    template <typename Work>
    auto use(Work&& work) -> decltype(work(std::declval<sky::farm::FarmStore&>())) {
        std::lock_guard<std::mutex> hold(mutex_);
        const sky::farm::AuditActor actor = caller();
        const sky::farm::Status allowed =
            decisions_.check(actor.user, [&] { return store_->isAdministrator(actor.user); });
        if (!allowed)
            return allowed;
        store_->setActor(actor);
        return work(*store_);
    }

    // Ok when the caller may use the store, else what use() would fail with. Serving a call
    // from another process, a caller admitted once is admitted for the rest of that call
    // without asking again: a snapshot or an enumeration's items make the member gate ask for
    // dozens of members in one call, and the caller and the decision stay the same throughout.
    sky::farm::Status admit() {
        const std::uint64_t call = sky::remote::servingCallNumber();
        if (call != 0 && admittedCall_.load(std::memory_order_relaxed) == call)
            return sky::farm::Status::ok();
        sky::farm::Status allowed =
            use([](sky::farm::FarmStore&) { return sky::farm::Status::ok(); });
        if (allowed && call != 0)
            admittedCall_.store(call, std::memory_order_relaxed);
        return allowed;
    }

    // Runs `work(store)` for any caller: only for the reads that every machine user may make
    // (member_access.cpp): the farm's name when a farm object is bound and whether the caller is
    // an administrator. It changes nothing.
    template <typename Work> auto useOpenly(Work&& work) {
        std::lock_guard<std::mutex> hold(mutex_);
        return work(*store_);
    }

    const sky::farm::StoreLocation& location() const { return location_; }

private:
    static sky::farm::AuditActor caller();

    std::mutex mutex_;
    AccessDecisions decisions_;
    // The call from another process (sky::remote::servingCallNumber) that admit() admitted last.
    std::atomic<std::uint64_t> admittedCall_{0};
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

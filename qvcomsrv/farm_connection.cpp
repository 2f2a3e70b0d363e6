#include "farm_connection.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "current_user.h"
#include "qvcomsrv/store/machine_farms.h"
#include "sky/registry.h"

namespace qvcomsrv {

namespace {

// What tells one store file from another that replaced it under the same name.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const sky::farm::StoreLocation& location) {
    struct stat info {};
    if (::stat(location.path.c_str(), &info) != 0)
        return {};
    return {info.st_dev, info.st_ino};
}

struct Entry {
    sky::farm::StoreLocation location;
    FileIdentity identity;
    std::weak_ptr<FarmConnection> connection;
};

struct Connections {
    std::mutex mutex;
    std::vector<Entry> entries;
    // The store used last stays open between objects, which come and go one after another.
    Farm recent;
    // Which store the machine serves, as last read from its record, and the registry's content
    // mark then.
    std::string recentMachine;
    sky::farm::StoreLocation recentLocation;
    std::optional<sky::registry::ContentMark> recentMark;
    // The store this process serves instead of the machine's, while one is set.
    std::optional<sky::farm::StoreLocation> processStore;
};

Connections& connections() {
    static Connections* all = new Connections; // lives as long as the process
    return *all;
}

// The store the machine serves: the record read again whenever anything was written to the
// registry since it was last read, so that a farm chosen with "qvfarm select" or qvreg is served
// by the very next object, in this process and in every other.
sky::farm::Result<sky::farm::StoreLocation> servedStore(Connections& all) {
    // The machine is the one SKYLOOM_MACHINE names (or the default one when it names none).
    const char* named = std::getenv("SKYLOOM_MACHINE");
    const std::string machine = named ? named : "";
    const auto mark = sky::registry::contentMark();
    if (all.recent && machine == all.recentMachine && mark && mark == all.recentMark)
        return all.recentLocation;
    auto location = sky::farm::machineFarmStore();
    if (location) {
        all.recentMachine = machine;
        all.recentLocation = *location;
        all.recentMark = mark;
    }
    return location;
}

} // namespace

sky::farm::AuditActor FarmConnection::caller() {
    static const std::string machine = sky::farm::processActor().machine;
    return {currentUserName(), machine};
}

sky::farm::Result<Farm> connectToMachineFarm() {
    Connections& all = connections();
    std::lock_guard<std::mutex> hold(all.mutex);
    auto location = all.processStore
                        ? sky::farm::Result<sky::farm::StoreLocation>(*all.processStore)
                        : servedStore(all);
    if (!location)
        return location.status();
    const FileIdentity identity = identityOf(*location);
    for (Entry& entry : all.entries) {
        if (entry.location == *location && entry.identity == identity) {
            if (Farm farm = entry.connection.lock()) {
                all.recent = farm;
                return farm;
            }
        }
    }
    auto store = sky::farm::openFarmStore(*location);
    if (!store)
        return store.status();
    auto farm = std::make_shared<FarmConnection>(std::move(*store), *location);
    std::erase_if(all.entries, [&](const Entry& e) {
        return e.connection.expired() || e.location == *location;
    });
    all.entries.push_back({*location, identity, farm});
    all.recent = farm;
    return farm;
}

void serveStoreInThisProcess(std::optional<sky::farm::StoreLocation> location) {
    Connections& all = connections();
    std::lock_guard<std::mutex> hold(all.mutex);
    all.processStore = std::move(location);
    all.recent.reset();
}

void forgetUnusedConnections() {
    Connections& all = connections();
    std::lock_guard<std::mutex> hold(all.mutex);
    all.recent.reset();
    std::erase_if(all.entries, [](const Entry& e) { return e.connection.expired(); });
}

} // namespace qvcomsrv

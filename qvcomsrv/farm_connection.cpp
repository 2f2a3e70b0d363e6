#include "farm_connection.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "machine_farms.h"

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
};

Connections& connections() {
    static Connections* all = new Connections; // lives as long as the process
    return *all;
}

} // namespace

sky::farm::Result<Farm> connectToMachineFarm() {
    auto location = sky::farm::machineFarmStore();
    if (!location)
        return location.status();
    const FileIdentity identity = identityOf(*location);

    Connections& all = connections();
    std::lock_guard<std::mutex> hold(all.mutex);
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

void forgetUnusedConnections() {
    Connections& all = connections();
    std::lock_guard<std::mutex> hold(all.mutex);
    all.recent.reset();
    std::erase_if(all.entries, [](const Entry& e) { return e.connection.expired(); });
}

} // namespace qvcomsrv

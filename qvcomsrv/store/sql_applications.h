// Applications in a farm store, with their publications, grants and icons: reading them
// in the store's order and writing them after checking every name they refer to. Everything runs
// inside the caller's transaction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvcomsrv/store/farm_store.h"
#include "qvcomsrv/store/sql_connection.h"

namespace sky::farm::sql {

class ApplicationTable {
public:
    explicit ApplicationTable(Connection& db);

    enum class Selection { All, One, OnServer };
    // All applications, the one with id `key`, or those published on the server with id `key`.
    std::vector<Application> load(Selection selection, std::int64_t key, IconLoading icons);
    Bytes icon(std::int64_t applicationId);

    // What a write stored: the application's id and the key of its distinguished name.
    struct Written {
        std::int64_t id = 0;
        std::string dnKey;
    };
    // Checks `app` and brings its names to the stored spelling (folder, servers), drops repeated
    // servers and accounts, and writes it. Fails, writing nothing, when a name is taken or
    // missing or a value is invalid.
    Written insert(Application& app);
    // The same for an existing application, writing only what differs from `current`.
    Written update(const Application& current, Application& target);

private:
    struct Resolved {
        std::int64_t folderId = 0;
        std::string dnKey;
        std::vector<std::int64_t> serverIds; // parallel to the application's servers
    };
    Resolved resolve(Application& app, std::int64_t selfId);
    void bindRow(Query& q, const Application& app, const Resolved& resolved);
    void insertPublication(std::int64_t applicationId, std::int64_t serverId);
    void writeGrants(std::int64_t applicationId, const Application& app);
    void writeIcon(std::int64_t applicationId, const Bytes& icon);

    Connection& db_;
    std::string select_[3];
    std::string selectServers_[3];
    std::string selectGrants_[3];
    std::string selectIcons_[3];
    std::string insert_;
    std::string update_;
};

} // namespace sky::farm::sql

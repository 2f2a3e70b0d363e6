// Applications in a farm store, with their publications, grants and icons: reading them
// in the store's order and writing them after checking every name they refer to. Everything runs
// inside the caller's transaction.
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "qvcomsrv/store/farm_store.h"
#include "qvcomsrv/store/sql_connection.h"
#include "qvcomsrv/store/sql_lookups.h"

namespace sky::farm::sql {

class ApplicationTable {
public:
    explicit ApplicationTable(Connection& db);

    enum class Selection { All, One, OnServer };
    // All applications, the one with id `key`, or those published on the server with id `key`.
    std::vector<Application> load(Selection selection, std::int64_t key, IconLoading icons);
    Bytes icon(std::int64_t applicationId);

    // What a write stored: the application's id and the key of its distinguished name. A new
    // application's id is read once the statements sent before it are answered (readId; after
    // the commit, so that the whole save goes to the database together).
    struct Written {
        std::int64_t id = 0;
        std::string dnKey;
        std::optional<Query> newId;
        std::int64_t readId(const Connection& db, const Application& app);
    };
    // Checks `app` and brings its names to the stored spelling (folder, servers), drops repeated
    // servers and accounts, and writes it. Fails, writing nothing, when a name is taken or
    // missing or a value is invalid.
    Written insert(Application& app);
    // The look-ups of an application's folder, name and servers, sent and not yet read.
    struct Lookup {
        std::string folderKey;
        std::string dnKey;
        std::vector<std::string> serverKeys;
        std::optional<Query> folder;
        std::optional<Query> servers;
    };
    // Sends the look-ups a save of `app` needs, so that they go to the database with the
    // statements sent after them (a change sends them with its read of the application as it is
    // now). None when `app` has names no save would take.
    Lookup lookUp(const Application& app);
    // The same for an existing application, writing only what differs from `current`; `lookup`
    // serves when it looked up the names `target` has. A change that keeps the application's
    // folder, name and servers (`keepsPlace`) looks nothing up.
    Written update(const Application& current, Application& target, Lookup* lookup = nullptr);
    // Whether `app` is where `current` is, under the same name (either spelled in any case), and
    // published on none but `current`'s servers: a save of it has no name to look up.
    static bool keepsPlace(const Application& app, const Application& current);

    // What a farm being written whole holds so far, by name key, so that writing many
    // applications looks nothing up in the database.
    struct Known {
        std::unordered_map<std::string, FolderRow> folders;
        std::unordered_map<std::string, ServerRow> servers;
        std::unordered_set<std::string> applications;
    };
    // Checks and writes `apps` as insert does each, their folders and servers among `known`
    // (which gains their names), in a few statements of many rows each: a farm of 100,000
    // applications goes in with some thousand statements, not a million.
    void insertMany(std::vector<Application>& apps, Known& known);

private:
    struct Resolved {
        std::int64_t folderId = 0; // 0: the folder the application's row has
        std::string dnKey;
        // Parallel to the application's servers; 0 for a server it is published on already.
        std::vector<std::int64_t> serverIds;
    };
    Resolved resolve(Application& app, std::int64_t selfId, Lookup* lookup = nullptr);
    // resolve for an application that keepsPlace(app, current): its names in `current`'s
    // spelling, nothing looked up.
    static Resolved resolveInPlace(Application& app, const Application& current);
    // lookUp without its checks: names that cannot be bound fail here.
    Lookup sendLookups(const Application& app);
    // Binds the application's columns from parameter `first` on; those of its place (folder and
    // key) only where `resolved` has a folder.
    void bindRow(Query& q, const Application& app, const Resolved& resolved, int first);
    // The application a write is for: its id, or (id 0) the key of a new one.
    struct Owner {
        std::int64_t id;
        std::string_view dnKey;
    };
    static void bindOwner(Query& q, const Owner& owner);
    // Sends INSERT statements of `count` rows for the application `owner`, the columns after
    // the owner's of the SQL types `types` ("" for text), which `bind(q, first, i)` binds for
    // row i from parameter `first` on.
    void sendOwnedRows(const Owner& owner, const std::string& head,
                       const std::vector<const char*>& types, std::size_t count,
                       const std::function<void(Query&, int, std::size_t)>& bind);
    void writePublications(const Owner& owner, const std::vector<std::int64_t>& serverIds);
    void writeGrants(const Owner& owner, const Application& app);
    void writeIcon(const Owner& owner, const Bytes& icon);
    Resolved resolveAmong(Application& app, Known& known);

    Connection& db_;
    std::string select_[3];
    std::string selectServers_[3];
    // The servers a save names are looked up each by its key on its own, up to this many (see
    // the constructor): the look-ups of 1, 2, 4, ... servers.
    static constexpr std::size_t kServersByKey = 32;
    static_assert(std::has_single_bit(kServersByKey));
    std::string selectServersByKey_[std::countr_zero(kServersByKey) + 1];
    std::string selectGrants_[3];
    std::string selectIcons_[3];
    std::string insertHead_;
    std::string insert_;
    std::string update_;
    std::string updateInPlace_; // the columns but the folder and the key
    // By the application's id [0], by a new application's key [1].
    std::string writeIcon_[2];
};

} // namespace sky::farm::sql

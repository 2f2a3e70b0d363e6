#include "qvcomsrv/store/sql_applications.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <optional>
#include <unordered_map>

#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/sql_lookups.h"
#include "qvcomsrv/store/sql_schema.h"

namespace sky::farm::sql {

namespace {

constexpr int kFirstSettingColumn = 5; // after id, folder, name, type, description
constexpr int kSettingCount = static_cast<int>(kAppSettingCount);

// The whole farm's icons are read this many to a statement, in the order of their applications'
// ids, so that a PostgreSQL result (which holds every row of its statement at once) never holds
// them all beside the farm made of them (about 4 KB an application). The statements run in the
// read's transaction, which sees one state of the store throughout.
constexpr int kIconPage = 1000;
const std::string kSelectIconPage =
    "SELECT application_id, ico FROM application_icon WHERE application_id > ?1 "
    "ORDER BY application_id LIMIT " +
    std::to_string(kIconPage);

// Restricts a query on table `alias` to one application or to a server's applications.
std::string where(ApplicationTable::Selection selection, const std::string& idColumn) {
    switch (selection) {
    case ApplicationTable::Selection::All:
        return "";
    case ApplicationTable::Selection::One:
        return " WHERE " + idColumn + " = ?1";
    case ApplicationTable::Selection::OnServer:
        return " WHERE " + idColumn +
               " IN (SELECT application_id FROM publication WHERE server_id = ?1)";
    }
    return "";
}

std::size_t index(ApplicationTable::Selection selection) {
    return static_cast<std::size_t>(selection);
}

template <typename T> void dropRepeats(std::vector<T>& items, auto same) {
    std::vector<T> kept;
    for (T& item : items) {
        bool seen = false;
        for (const T& k : kept)
            seen = seen || same(k, item);
        if (!seen)
            kept.push_back(std::move(item));
    }
    items = std::move(kept);
}

// The checks of an application's own names and type, which need no look-up.
void checkNames(const Application& app) {
    if (Status s = checkSegmentName("application", app.name); !s)
        throwStatus(s);
    if (!isMember(kObjectType, app.type))
        throwStatus(Status::invalidArgument("The application type " + std::to_string(app.type) +
                                            " of " + app.distinguishedName() +
                                            " is not valid: " + describeRange(kObjectType) + "."));
    for (const std::string& dn : {app.folder, app.distinguishedName()}) {
        if (auto segments = splitDistinguishedName(dn); !segments)
            throwStatus(segments.status());
    }
}

// Drops repeated servers and brings each to its stored spelling; `find` gives a server's row or
// throws.
void resolveServers(Application& app, std::vector<std::int64_t>& ids, auto find) {
    dropRepeats(app.servers,
                [](const std::string& a, const std::string& b) { return sameName(a, b); });
    for (std::string& server : app.servers) {
        const ServerRow row = find(server);
        server = row.name;
        ids.push_back(row.id);
    }
}

// Drops repeated accounts and checks them and the icon.
void checkGrantsAndIcon(Application& app) {
    for (auto* accounts : {&app.users, &app.groups}) {
        dropRepeats(*accounts, [](const Account& a, const Account& b) { return a.sameAccount(b); });
        for (const Account& account : *accounts) {
            if (Status s = checkAccount(account); !s)
                throwStatus(s);
        }
    }
    if (app.icon && !app.icon->empty()) {
        if (Status s = checkIcon(*app.icon); !s)
            throwStatus(Status::invalidArgument("The icon of " + app.distinguishedName() +
                                                " is not valid. " + s.message()));
    }
}

// Runs one INSERT of many rows per at most `maxRows` (a power of two) of `count` items:
// "`head` VALUES (...), (...) `tail`", `columns` parameters a row; `bind(q, first, i)` binds item
// i from parameter `first` on, and `onRow(q)` reads each row the statement returns. The
// statements take as many rows as are left, halving, so that a few shapes serve every count.
void insertRows(Connection& db, const std::string& head, int columns, std::size_t count,
                std::size_t maxRows, const std::string& tail, auto bind, auto onRow) {
    std::size_t done = 0;
    while (done < count) {
        std::size_t rows = maxRows;
        while (rows > count - done)
            rows /= 2;
        std::string sql = head + " VALUES ";
        for (std::size_t r = 0; r < rows; ++r) {
            sql += r ? ", (" : "(";
            sql += parameters(static_cast<int>(r) * columns + 1, columns);
            sql += ")";
        }
        sql += tail;
        auto q = db.query(sql);
        for (std::size_t r = 0; r < rows; ++r)
            bind(q, static_cast<int>(r) * columns + 1, done + r);
        while (q.step())
            onRow(q);
        done += rows;
    }
}

} // namespace

ApplicationTable::ApplicationTable(Connection& db) : db_(db) {
    using S = Selection;
    for (S s : {S::All, S::One, S::OnServer}) {
        select_[index(s)] = "SELECT a.id, f.dn, a.name, a.app_type, a.description, " +
                            appSettingColumns("a.") +
                            " FROM application a JOIN folder f ON f.id = a.folder_id" +
                            where(s, "a.id") + " ORDER BY a.dn_key";
        selectServers_[index(s)] = "SELECT p.application_id, s.name FROM publication p JOIN "
                                   "server s ON s.id = p.server_id" +
                                   where(s, "p.application_id") +
                                   " ORDER BY p.application_id, s.name_key";
        if (s == S::One) {
            // One application's few servers are each looked up by id. Joined, PostgreSQL's
            // planner reads a table of some hundred servers whole, and builds a hash of it, for
            // three or four of them.
            selectServers_[index(s)] =
                "SELECT application_id, name FROM (SELECT p.application_id, (SELECT s.name FROM "
                "server s WHERE s.id = p.server_id) AS name, (SELECT s.name_key FROM server s "
                "WHERE s.id = p.server_id) AS name_key FROM publication p" +
                where(s, "p.application_id") + ") servers ORDER BY name_key";
        }
        selectGrants_[index(s)] = "SELECT application_id, is_group, account_type, "
                                  "authority_type, authority_name, name FROM account_grant" +
                                  where(s, "application_id") +
                                  " ORDER BY application_id, is_group, position";
        selectIcons_[index(s)] =
            "SELECT application_id, ico FROM application_icon" + where(s, "application_id");
    }
    // Each key is a probe of the table's index on its own, on every kind of database. A list of
    // keys ("name_key IN (?1, ?2, ...)", or an array of them) reads the whole table on
    // PostgreSQL: the planner prices a farm's few hundred servers, a few pages, below some
    // probes of the index, and the scan then compares every row with every key, building the
    // list again for each row (a tenth of a millisecond, the largest part of a save's work on
    // the server, for 500 servers), whether the table's statistics are there or not. It also
    // marks the whole table read in the save's serialisable transaction, so that any change of
    // a server conflicted with every save.
    for (std::size_t shape = 1, i = 0; shape <= kServersByKey; shape *= 2, ++i) {
        std::string& sql = selectServersByKey_[i];
        for (std::size_t key = 1; key <= shape; ++key)
            sql += (key > 1 ? " UNION ALL " : "") +
                   std::string("SELECT name_key, id, name FROM server WHERE name_key = ?") +
                   std::to_string(key);
    }
    insertHead_ = "INSERT INTO application (folder_id, name, dn_key, app_type, description, " +
                  appSettingColumns() + ")";
    insert_ = insertHead_ + " VALUES (" + parameters(1, kFirstSettingColumn + kSettingCount) + ")";
    // A new application has no icon yet: its icon is inserted, without the check for a row
    // to replace.
    writeIcon_[0] = "INSERT INTO application_icon (application_id, ico) VALUES (?1, ?2) ON "
                    "CONFLICT (application_id) DO UPDATE SET ico = excluded.ico";
    writeIcon_[1] = "INSERT INTO application_icon (application_id, ico) VALUES ((SELECT id FROM "
                    "application WHERE dn_key = ?1), ?2)";
    update_ = "UPDATE application SET folder_id = ?1, name = ?2, dn_key = ?3, app_type = ?4, "
              "description = ?5, " +
              appSettingAssignments(kFirstSettingColumn + 1) + " WHERE id = ?" +
              std::to_string(kFirstSettingColumn + kSettingCount + 1);
    updateInPlace_ = "UPDATE application SET name = ?1, app_type = ?2, description = ?3, " +
                     appSettingAssignments(kFirstSettingColumn - 1) + " WHERE id = ?" +
                     std::to_string(kFirstSettingColumn + kSettingCount - 1);
}

std::vector<Application> ApplicationTable::load(Selection selection, std::int64_t key,
                                                IconLoading icons) {
    const bool keyed = selection != Selection::All;
    std::vector<Application> apps;
    std::unordered_map<std::int64_t, std::size_t> byId;
    // One application's rows, servers, grants and icon are asked for together: its load waits
    // for one round trip to the database, not four. Larger loads read one result at a time, so
    // that no two of them are held at once.
    std::optional<Query> rowQuery(db_.query(select_[index(selection)]));
    std::optional<Query> serverQuery(db_.query(selectServers_[index(selection)]));
    std::optional<Query> grantQuery(db_.query(selectGrants_[index(selection)]));
    // The whole farm's icons are read a page at a time after the rest (below).
    std::optional<Query> iconQuery;
    if (icons == IconLoading::Load && keyed)
        iconQuery.emplace(db_.query(selectIcons_[index(selection)]));
    for (std::optional<Query>* q : {&rowQuery, &serverQuery, &grantQuery, &iconQuery}) {
        if (*q && keyed)
            (*q)->bind(1, key);
        if (*q && selection == Selection::One)
            (*q)->send();
    }
    Query& rows = *rowQuery;
    while (rows.step()) {
        Application& app = apps.emplace_back();
        app.id = rows.integer(0);
        app.folder = rows.text(1);
        app.name = rows.text(2);
        app.type = static_cast<std::int32_t>(rows.integer(3));
        app.description = rows.text(4);
        for (int i = 0; i < kSettingCount; ++i) {
            const auto id = static_cast<AppSetting>(i);
            const int column = kFirstSettingColumn + i;
            SettingValue value =
                definition(id).isText()
                    ? SettingValue(rows.text(column))
                    : SettingValue(static_cast<std::int32_t>(rows.integer(column)));
            if (Status s = app.settings.set(id, std::move(value)); !s)
                throwStatus(Status::corrupt("The farm store " + db_.location() +
                                            " holds a value that " + app.distinguishedName() +
                                            " cannot have. " + s.message()));
        }
        if (icons == IconLoading::Load)
            app.icon = Bytes();
        byId.emplace(app.id, apps.size() - 1);
    }
    rowQuery.reset();
    const auto owner = [&](std::int64_t id) -> Application* {
        auto it = byId.find(id);
        return it == byId.end() ? nullptr : &apps[it->second];
    };
    Query& servers = *serverQuery;
    while (servers.step()) {
        if (Application* app = owner(servers.integer(0)))
            app->servers.push_back(servers.text(1));
    }
    serverQuery.reset();
    Query& grants = *grantQuery;
    while (grants.step()) {
        Application* app = owner(grants.integer(0));
        if (!app)
            continue;
        Account account{static_cast<std::int32_t>(grants.integer(2)),
                        static_cast<std::int32_t>(grants.integer(3)), grants.text(4),
                        grants.text(5)};
        (grants.integer(1) ? app->groups : app->users).push_back(std::move(account));
    }
    grantQuery.reset();
    while (iconQuery && iconQuery->step()) {
        if (Application* app = owner(iconQuery->integer(0)))
            app->icon = iconQuery->blob(1);
    }
    iconQuery.reset();
    if (icons == IconLoading::Load && !keyed) {
        // Application ids start at 1.
        for (std::int64_t last = 0, rows = kIconPage; rows == kIconPage;) {
            auto q = db_.query(kSelectIconPage);
            q.bind(1, last);
            for (rows = 0; q.step(); ++rows) {
                last = q.integer(0);
                if (Application* app = owner(last))
                    app->icon = q.blob(1);
            }
        }
    }
    return apps;
}

Bytes ApplicationTable::icon(std::int64_t applicationId) {
    auto q = db_.query("SELECT ico FROM application_icon WHERE application_id = ?1");
    q.bind(1, applicationId);
    return q.step() ? q.blob(0) : Bytes();
}

ApplicationTable::Lookup ApplicationTable::lookUp(const Application& app) {
    // The folder, what holds the application's name already (another application, a folder),
    // and every server the application names, in two statements: a save waits for one round
    // trip to the database for them, however many servers it names. Application ids start at 1
    // and a folder's name is never empty, so 0 and "" are none.
    try {
        checkNames(app);
    } catch (const Failure&) {
        return {}; // refused before anything is looked up
    }
    for (const std::string& server : app.servers) {
        if (server.find('\0') != std::string::npos)
            return {}; // refused when bound, after the checks that come first
    }
    return sendLookups(app);
}

ApplicationTable::Lookup ApplicationTable::sendLookups(const Application& app) {
    Lookup lookup;
    lookup.folderKey = nameKey(app.folder);
    lookup.dnKey = nameKey(app.distinguishedName());
    for (const std::string& server : app.servers) {
        std::string key = nameKey(server);
        if (std::find(lookup.serverKeys.begin(), lookup.serverKeys.end(), key) ==
            lookup.serverKeys.end())
            lookup.serverKeys.push_back(std::move(key));
    }
    lookup.folder.emplace(db_.query("SELECT f.id, f.dn, (SELECT id FROM application WHERE "
                                    "dn_key = ?2), (SELECT dn FROM folder WHERE dn_key = ?2) "
                                    "FROM folder f WHERE f.dn_key = ?1"));
    lookup.folder->bind(1, lookup.folderKey).bind(2, lookup.dnKey).send();
    if (!lookup.serverKeys.empty()) {
        // One shape per power of two of servers, the last key repeated to fill it: each key a
        // probe of its own (see the constructor), or for more than kServersByKey, which is
        // seldom, a list of them.
        const std::vector<std::string>& keys = lookup.serverKeys;
        std::size_t shape = 1;
        while (shape < keys.size())
            shape *= 2;
        lookup.servers.emplace(db_.query(
            shape <= kServersByKey ? selectServersByKey_[std::countr_zero(shape)]
                                   : "SELECT name_key, id, name FROM server WHERE name_key IN (" +
                                         parameters(1, static_cast<int>(shape)) + ")"));
        for (std::size_t i = 0; i < shape; ++i)
            lookup.servers->bind(static_cast<int>(i) + 1, keys[std::min(i, keys.size() - 1)]);
        lookup.servers->send();
    }
    return lookup;
}

ApplicationTable::Resolved ApplicationTable::resolve(Application& app, std::int64_t selfId,
                                                     Lookup* lookup) {
    checkNames(app);
    Resolved resolved;
    dropRepeats(app.servers,
                [](const std::string& a, const std::string& b) { return sameName(a, b); });
    std::vector<std::string> serverKeys;
    serverKeys.reserve(app.servers.size());
    for (const std::string& server : app.servers)
        serverKeys.push_back(nameKey(server));
    // A look-up sent before serves when it asked for these names (another administrator's
    // change merged into the save may have brought others).
    const auto covers = [&](const Lookup& l) {
        if (!l.folder || l.folderKey != nameKey(app.folder) ||
            l.dnKey != nameKey(app.distinguishedName()))
            return false;
        for (const std::string& key : serverKeys) {
            if (std::find(l.serverKeys.begin(), l.serverKeys.end(), key) == l.serverKeys.end())
                return false;
        }
        return true;
    };
    std::optional<Lookup> own;
    if (!lookup || !covers(*lookup)) {
        if (lookup) {
            lookup->folder.reset(); // their statements serve the look-up made now
            lookup->servers.reset();
        }
        own.emplace(sendLookups(app));
        lookup = &*own;
    }
    Query& folder = *lookup->folder;
    std::optional<Query>& servers = lookup->servers;
    if (!folder.step())
        throwStatus(Status::notFound("The folder " + app.folder + " does not exist."));
    resolved.folderId = folder.integer(0);
    app.folder = folder.text(1);
    const std::int64_t other = folder.integer(2);
    const std::string takenFolder = folder.text(3);
    const std::string dn = app.distinguishedName();
    resolved.dnKey = nameKey(dn);
    if (other != 0 && other != selfId)
        throwStatus(Status::alreadyExists("The application " + storedDistinguishedName(db_, other) +
                                          " already exists."));
    if (!takenFolder.empty())
        throwStatus(Status::alreadyExists(takenFolder +
                                          " is a folder; an application cannot have its name."));

    std::unordered_map<std::string, ServerRow> found;
    while (servers && servers->step())
        found.emplace(servers->text(0), ServerRow{servers->integer(1), servers->text(2)});
    for (std::size_t i = 0; i < app.servers.size(); ++i) {
        const auto row = found.find(serverKeys[i]);
        if (row == found.end())
            throwStatus(
                Status::notFound("There is no server named " + app.servers[i] + " in the farm."));
        app.servers[i] = row->second.name;
        resolved.serverIds.push_back(row->second.id);
    }
    checkGrantsAndIcon(app);
    return resolved;
}

ApplicationTable::Resolved ApplicationTable::resolveAmong(Application& app, Known& known) {
    checkNames(app);
    Resolved resolved;
    const auto folder = known.folders.find(nameKey(app.folder));
    if (folder == known.folders.end())
        throwStatus(Status::notFound("The folder " + app.folder + " does not exist."));
    resolved.folderId = folder->second.id;
    app.folder = folder->second.dn;
    const std::string dn = app.distinguishedName();
    resolved.dnKey = nameKey(dn);
    if (const auto taken = known.folders.find(resolved.dnKey); taken != known.folders.end())
        throwStatus(Status::alreadyExists(taken->second.dn +
                                          " is a folder; an application cannot have its name."));
    if (!known.applications.insert(resolved.dnKey).second)
        throwStatus(Status::alreadyExists("The application " + dn + " already exists."));
    resolveServers(app, resolved.serverIds, [&](const std::string& server) {
        const auto found = known.servers.find(nameKey(server));
        if (found == known.servers.end())
            throwStatus(Status::notFound("There is no server named " + server + " in the farm."));
        return found->second;
    });
    checkGrantsAndIcon(app);
    return resolved;
}

bool ApplicationTable::keepsPlace(const Application& app, const Application& current) {
    if (!sameName(app.folder, current.folder) || !sameName(app.name, current.name))
        return false;
    return std::all_of(app.servers.begin(), app.servers.end(), [&](const std::string& server) {
        return std::any_of(current.servers.begin(), current.servers.end(),
                           [&](const std::string& kept) { return sameName(server, kept); });
    });
}

ApplicationTable::Resolved ApplicationTable::resolveInPlace(Application& app,
                                                            const Application& current) {
    checkNames(app);
    dropRepeats(app.servers,
                [](const std::string& a, const std::string& b) { return sameName(a, b); });
    Resolved resolved;
    app.folder = current.folder;
    resolved.dnKey = nameKey(app.distinguishedName());
    for (std::string& server : app.servers) {
        server = *std::find_if(current.servers.begin(), current.servers.end(),
                               [&](const std::string& kept) { return sameName(server, kept); });
        resolved.serverIds.push_back(0);
    }
    checkGrantsAndIcon(app);
    return resolved;
}

void ApplicationTable::bindRow(Query& q, const Application& app, const Resolved& resolved,
                               int first) {
    // The columns in the order of insert_ and update_: folder, name, key, type, description,
    // settings; updateInPlace_ leaves out the folder and the key.
    const bool place = resolved.folderId != 0;
    int next = first;
    if (place)
        q.bind(next++, resolved.folderId);
    q.bind(next++, app.name);
    if (place)
        q.bind(next++, resolved.dnKey);
    q.bind(next++, app.type);
    q.bind(next++, app.description);
    for (int i = 0; i < kSettingCount; ++i) {
        const auto id = static_cast<AppSetting>(i);
        if (definition(id).isText())
            q.bind(next++, app.settings.text(id));
        else
            q.bind(next++, app.settings.number(id));
    }
}

ApplicationTable::Written ApplicationTable::insert(Application& app) {
    Resolved resolved = resolve(app, 0);
    // The new row, its publications, grants and icon are sent without waiting: they name the
    // application by its key, so that none waits for its id, which is read last.
    {
        auto q = db_.query(insert_);
        bindRow(q, app, resolved, 1);
        q.send();
    }
    const Owner owner{0, resolved.dnKey};
    writePublications(owner, resolved.serverIds);
    writeGrants(owner, app);
    if (app.icon && !app.icon->empty())
        writeIcon(owner, *app.icon);
    Written written{0, std::move(resolved.dnKey),
                    // A statement of its own (findApplication's text differs), so that no
                    // other look-up uses it while its answer is awaited.
                    db_.query("SELECT id AS new_id FROM application WHERE dn_key = ?1")};
    written.newId->bind(1, written.dnKey).send();
    return written;
}

std::int64_t ApplicationTable::Written::readId(const Connection& db, const Application& app) {
    if (id == 0 && newId) {
        if (!newId->step())
            throwStatus(Status::internal("The farm store " + db.location() +
                                         " gave no id for the new application " +
                                         app.distinguishedName() + "."));
        id = newId->integer(0);
        newId.reset();
    }
    return id;
}

ApplicationTable::Written ApplicationTable::update(const Application& current, Application& target,
                                                   Lookup* lookup) {
    Resolved resolved = keepsPlace(target, current) ? resolveInPlace(target, current)
                                                    : resolve(target, current.id, lookup);
    // Everything below is sent without waiting; its outcome comes with the commit. The row is
    // written when a column of it differs: a save that changes the servers, accounts or icon
    // alone (a publish) leaves it as it is, with no new version of it to write and log.
    if (target.name != current.name || target.folder != current.folder ||
        target.type != current.type || target.description != current.description ||
        !(target.settings == current.settings)) {
        const bool inPlace = resolved.folderId == 0;
        auto q = db_.query(inPlace ? updateInPlace_ : update_);
        bindRow(q, target, resolved, 1);
        q.bind(kFirstSettingColumn + kSettingCount + (inPlace ? -1 : 1), current.id);
        q.send();
    }
    for (const std::string& server : current.servers) {
        if (target.isPublishedOn(server))
            continue;
        auto q = db_.query("DELETE FROM publication WHERE application_id = ?1 AND server_id = "
                           "(SELECT id FROM server WHERE name_key = ?2)");
        q.bind(1, current.id).bind(2, nameKey(server));
        q.send();
    }
    const Owner owner{current.id, {}};
    std::vector<std::int64_t> gained;
    for (std::size_t i = 0; i < target.servers.size(); ++i) {
        if (!current.isPublishedOn(target.servers[i]))
            gained.push_back(resolved.serverIds[i]);
    }
    writePublications(owner, gained);
    if (target.users != current.users || target.groups != current.groups) {
        auto q = db_.query("DELETE FROM account_grant WHERE application_id = ?1");
        q.bind(1, current.id);
        q.send();
        writeGrants(owner, target);
    }
    if (target.icon)
        writeIcon(owner, *target.icon);
    return {current.id, std::move(resolved.dnKey), std::nullopt};
}

void ApplicationTable::bindOwner(Query& q, const Owner& owner) {
    if (owner.id != 0)
        q.bind(1, owner.id);
    else
        q.bind(1, owner.dnKey);
}

void ApplicationTable::sendOwnedRows(const Owner& owner, const std::string& head,
                                     const std::vector<const char*>& types, std::size_t count,
                                     const std::function<void(Query&, int, std::size_t)>& bind) {
    // Rows of one statement: a save's publications and grants go in one or two statements,
    // of one shape per number of rows up to this.
    constexpr std::size_t kMaxRows = 32;
    const int columns = static_cast<int>(types.size());
    for (std::size_t done = 0; done < count;) {
        const std::size_t rows = std::min(kMaxRows, count - done);
        // An application whose id is not read yet is looked up once for all its rows: a look-up
        // in each row costs the server as much as the row's own check of the reference. The
        // rows are then a list joined to the application, whose values have no type of their
        // own but text; the others are cast to their columns' types.
        std::string sql = head + (owner.id != 0 ? " VALUES " : " SELECT a.id, v.* FROM (VALUES ");
        for (std::size_t r = 0; r < rows; ++r) {
            sql += r ? ", (" : "(";
            if (owner.id != 0)
                sql += "?1, ";
            for (int c = 0; c < columns; ++c) {
                const std::string parameter =
                    "?" + std::to_string(2 + static_cast<int>(r) * columns + c);
                sql += c ? ", " : "";
                sql +=
                    owner.id != 0 || !*types[static_cast<std::size_t>(c)]
                        ? parameter
                        : "CAST(" + parameter + " AS " + types[static_cast<std::size_t>(c)] + ")";
            }
            sql += ")";
        }
        if (owner.id == 0)
            sql += ") v, application a WHERE a.dn_key = ?1";
        auto q = db_.query(sql);
        bindOwner(q, owner);
        for (std::size_t r = 0; r < rows; ++r)
            bind(q, 2 + static_cast<int>(r) * columns, done + r);
        q.send();
        done += rows;
    }
}

void ApplicationTable::writePublications(const Owner& owner,
                                         const std::vector<std::int64_t>& serverIds) {
    sendOwnedRows(owner, "INSERT INTO publication (application_id, server_id)", {"bigint"},
                  serverIds.size(),
                  [&](Query& q, int first, std::size_t i) { q.bind(first, serverIds[i]); });
}

void ApplicationTable::writeGrants(const Owner& owner, const Application& app) {
    // Users first, then groups, numbered in that order.
    const std::size_t users = app.users.size();
    sendOwnedRows(owner,
                  "INSERT INTO account_grant (application_id, is_group, position, account_type, "
                  "authority_type, authority_name, name)",
                  {"integer", "integer", "integer", "integer", "", ""}, users + app.groups.size(),
                  [&](Query& q, int first, std::size_t i) {
                      const bool isGroup = i >= users;
                      const Account& account = isGroup ? app.groups[i - users] : app.users[i];
                      q.bind(first, isGroup ? 1 : 0)
                          .bind(first + 1, static_cast<std::int64_t>(i))
                          .bind(first + 2, account.accountType)
                          .bind(first + 3, account.authorityType)
                          .bind(first + 4, account.authorityName)
                          .bind(first + 5, account.name);
                  });
}

void ApplicationTable::writeIcon(const Owner& owner, const Bytes& icon) {
    if (icon.empty()) {
        auto q = db_.query("DELETE FROM application_icon WHERE application_id = ?1");
        q.bind(1, owner.id);
        q.send();
        return;
    }
    auto q = db_.query(owner.id != 0 ? writeIcon_[0] : writeIcon_[1]);
    bindOwner(q, owner);
    q.bindBlob(2, icon);
    q.send();
}

} // namespace sky::farm::sql

namespace sky::farm::sql {

void ApplicationTable::insertMany(std::vector<Application>& apps, Known& known) {
    std::vector<Resolved> resolved;
    resolved.reserve(apps.size());
    std::unordered_map<std::string_view, std::size_t> byKey;
    for (Application& app : apps) {
        try {
            resolved.push_back(resolveAmong(app, known));
        } catch (const Failure& failure) {
            throwStatus(
                failure.status.withContext(app.distinguishedName() + " cannot be stored: "));
        }
    }
    for (std::size_t i = 0; i < apps.size(); ++i)
        byKey.emplace(resolved[i].dnKey, i);

    // Rows per statement: within SQLite's 32,766 parameters and PostgreSQL's 65,535, and small
    // enough that a statement's text stays a few tens of kilobytes.
    constexpr int kAppColumns = kFirstSettingColumn + kSettingCount;
    std::vector<std::int64_t> ids(apps.size(), 0);
    insertRows(
        db_, insertHead_, kAppColumns, apps.size(), 64, " RETURNING id, dn_key",
        [&](Query& q, int first, std::size_t i) { bindRow(q, apps[i], resolved[i], first); },
        [&](Query& q) {
            const auto it = byKey.find(q.text(1));
            if (it != byKey.end())
                ids[it->second] = q.integer(0);
        });
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (ids[i] == 0)
            throwStatus(Status::internal("The farm store " + db_.location() +
                                         " gave no id for the new application " +
                                         apps[i].distinguishedName() + "."));
    }

    struct Pair {
        std::size_t app;
        std::size_t item;
    };
    std::vector<Pair> publications;
    std::vector<Pair> grants;
    std::vector<std::size_t> icons;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        for (std::size_t s = 0; s < resolved[i].serverIds.size(); ++s)
            publications.push_back({i, s});
        for (std::size_t g = 0; g < apps[i].users.size() + apps[i].groups.size(); ++g)
            grants.push_back({i, g});
        if (apps[i].icon && !apps[i].icon->empty())
            icons.push_back(i);
    }
    const auto none = [](Query&) {};
    insertRows(
        db_, "INSERT INTO publication (application_id, server_id)", 2, publications.size(), 256, "",
        [&](Query& q, int first, std::size_t i) {
            const Pair& p = publications[i];
            q.bind(first, ids[p.app]).bind(first + 1, resolved[p.app].serverIds[p.item]);
        },
        none);
    insertRows(
        db_,
        "INSERT INTO account_grant (application_id, is_group, position, account_type, "
        "authority_type, authority_name, name)",
        7, grants.size(), 128, "",
        [&](Query& q, int first, std::size_t i) {
            const Pair& p = grants[i];
            const Application& app = apps[p.app];
            const bool isGroup = p.item >= app.users.size();
            const Account& account =
                isGroup ? app.groups[p.item - app.users.size()] : app.users[p.item];
            q.bind(first, ids[p.app])
                .bind(first + 1, isGroup ? 1 : 0)
                .bind(first + 2, static_cast<std::int64_t>(p.item))
                .bind(first + 3, account.accountType)
                .bind(first + 4, account.authorityType)
                .bind(first + 5, account.authorityName)
                .bind(first + 6, account.name);
        },
        none);
    insertRows(
        db_, "INSERT INTO application_icon (application_id, ico)", 2, icons.size(), 32, "",
        [&](Query& q, int first, std::size_t i) {
            q.bind(first, ids[icons[i]]).bindBlob(first + 1, *apps[icons[i]].icon);
        },
        none);
}

} // namespace sky::farm::sql

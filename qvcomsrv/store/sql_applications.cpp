#include "qvcomsrv/store/sql_applications.h"

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
        selectGrants_[index(s)] = "SELECT application_id, is_group, account_type, "
                                  "authority_type, authority_name, name FROM account_grant" +
                                  where(s, "application_id") +
                                  " ORDER BY application_id, is_group, position";
        selectIcons_[index(s)] =
            "SELECT application_id, ico FROM application_icon" + where(s, "application_id");
    }
    insertHead_ = "INSERT INTO application (folder_id, name, dn_key, app_type, description, " +
                  appSettingColumns() + ")";
    insert_ = insertHead_ + " VALUES (" + parameters(1, kFirstSettingColumn + kSettingCount) +
              ") RETURNING id";
    update_ = "UPDATE application SET folder_id = ?1, name = ?2, dn_key = ?3, app_type = ?4, "
              "description = ?5, " +
              appSettingAssignments(kFirstSettingColumn + 1) + " WHERE id = ?" +
              std::to_string(kFirstSettingColumn + kSettingCount + 1);
}

std::vector<Application> ApplicationTable::load(Selection selection, std::int64_t key,
                                                IconLoading icons) {
    const bool keyed = selection != Selection::All;
    std::vector<Application> apps;
    std::unordered_map<std::int64_t, std::size_t> byId;
    {
        auto q = db_.query(select_[index(selection)]);
        if (keyed)
            q.bind(1, key);
        while (q.step()) {
            Application& app = apps.emplace_back();
            app.id = q.integer(0);
            app.folder = q.text(1);
            app.name = q.text(2);
            app.type = static_cast<std::int32_t>(q.integer(3));
            app.description = q.text(4);
            for (int i = 0; i < kSettingCount; ++i) {
                const auto id = static_cast<AppSetting>(i);
                const int column = kFirstSettingColumn + i;
                SettingValue value =
                    definition(id).isText()
                        ? SettingValue(q.text(column))
                        : SettingValue(static_cast<std::int32_t>(q.integer(column)));
                if (Status s = app.settings.set(id, std::move(value)); !s)
                    throwStatus(Status::corrupt("The farm store " + db_.location() +
                                                " holds a value that " + app.distinguishedName() +
                                                " cannot have. " + s.message()));
            }
            if (icons == IconLoading::Load)
                app.icon = Bytes();
            byId.emplace(app.id, apps.size() - 1);
        }
    }
    const auto owner = [&](std::int64_t id) -> Application* {
        auto it = byId.find(id);
        return it == byId.end() ? nullptr : &apps[it->second];
    };
    {
        auto q = db_.query(selectServers_[index(selection)]);
        if (keyed)
            q.bind(1, key);
        while (q.step()) {
            if (Application* app = owner(q.integer(0)))
                app->servers.push_back(q.text(1));
        }
    }
    {
        auto q = db_.query(selectGrants_[index(selection)]);
        if (keyed)
            q.bind(1, key);
        while (q.step()) {
            Application* app = owner(q.integer(0));
            if (!app)
                continue;
            Account account{static_cast<std::int32_t>(q.integer(2)),
                            static_cast<std::int32_t>(q.integer(3)), q.text(4), q.text(5)};
            (q.integer(1) ? app->groups : app->users).push_back(std::move(account));
        }
    }
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
    } else if (icons == IconLoading::Load) {
        auto q = db_.query(selectIcons_[index(selection)]);
        q.bind(1, key);
        while (q.step()) {
            if (Application* app = owner(q.integer(0)))
                app->icon = q.blob(1);
        }
    }
    return apps;
}

Bytes ApplicationTable::icon(std::int64_t applicationId) {
    auto q = db_.query("SELECT ico FROM application_icon WHERE application_id = ?1");
    q.bind(1, applicationId);
    return q.step() ? q.blob(0) : Bytes();
}

ApplicationTable::Resolved ApplicationTable::resolve(Application& app, std::int64_t selfId) {
    checkNames(app);
    Resolved resolved;
    // The folder, and what holds the application's name already (another application, a
    // folder), in one look: a save waits for one round trip to the database, not three.
    // Application ids start at 1 and a folder's name is never empty, so 0 and "" are none.
    const std::string givenKey = nameKey(app.distinguishedName());
    std::int64_t other = 0;
    std::string takenFolder;
    {
        auto q = db_.query("SELECT f.id, f.dn, (SELECT id FROM application WHERE dn_key = ?2), "
                           "(SELECT dn FROM folder WHERE dn_key = ?2) FROM folder f "
                           "WHERE f.dn_key = ?1");
        q.bind(1, nameKey(app.folder)).bind(2, givenKey);
        if (!q.step())
            throwStatus(Status::notFound("The folder " + app.folder + " does not exist."));
        resolved.folderId = q.integer(0);
        app.folder = q.text(1);
        other = q.integer(2);
        takenFolder = q.text(3);
    }
    const std::string dn = app.distinguishedName();
    resolved.dnKey = nameKey(dn);
    if (other != 0 && other != selfId)
        throwStatus(Status::alreadyExists("The application " + storedDistinguishedName(db_, other) +
                                          " already exists."));
    if (!takenFolder.empty())
        throwStatus(Status::alreadyExists(takenFolder +
                                          " is a folder; an application cannot have its name."));

    resolveServers(app, resolved.serverIds,
                   [&](const std::string& server) { return requireServer(db_, server); });
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

void ApplicationTable::bindRow(Query& q, const Application& app, const Resolved& resolved,
                               int first) {
    q.bind(first, resolved.folderId)
        .bind(first + 1, app.name)
        .bind(first + 2, resolved.dnKey)
        .bind(first + 3, app.type)
        .bind(first + 4, app.description);
    for (int i = 0; i < kSettingCount; ++i) {
        const auto id = static_cast<AppSetting>(i);
        const int parameter = first + kFirstSettingColumn + i;
        if (definition(id).isText())
            q.bind(parameter, app.settings.text(id));
        else
            q.bind(parameter, app.settings.number(id));
    }
}

ApplicationTable::Written ApplicationTable::insert(Application& app) {
    Resolved resolved = resolve(app, 0);
    std::int64_t id = 0;
    {
        auto q = db_.query(insert_);
        bindRow(q, app, resolved, 1);
        if (!q.step())
            throwStatus(Status::internal("The farm store " + db_.location() +
                                         " gave no id for the new application " +
                                         app.distinguishedName() + "."));
        id = q.integer(0);
    }
    for (std::int64_t serverId : resolved.serverIds)
        insertPublication(id, serverId);
    writeGrants(id, app);
    if (app.icon && !app.icon->empty())
        writeIcon(id, *app.icon);
    return {id, std::move(resolved.dnKey)};
}

ApplicationTable::Written ApplicationTable::update(const Application& current,
                                                   Application& target) {
    Resolved resolved = resolve(target, current.id);
    {
        auto q = db_.query(update_);
        bindRow(q, target, resolved, 1);
        q.bind(kFirstSettingColumn + kSettingCount + 1, current.id);
        q.run();
    }
    for (const std::string& server : current.servers) {
        if (target.isPublishedOn(server))
            continue;
        auto q = db_.query("DELETE FROM publication WHERE application_id = ?1 AND server_id = "
                           "(SELECT id FROM server WHERE name_key = ?2)");
        q.bind(1, current.id).bind(2, nameKey(server));
        q.run();
    }
    for (std::size_t i = 0; i < target.servers.size(); ++i) {
        if (!current.isPublishedOn(target.servers[i]))
            insertPublication(current.id, resolved.serverIds[i]);
    }
    if (target.users != current.users || target.groups != current.groups) {
        auto q = db_.query("DELETE FROM account_grant WHERE application_id = ?1");
        q.bind(1, current.id);
        q.run();
        writeGrants(current.id, target);
    }
    if (target.icon)
        writeIcon(current.id, *target.icon);
    return {current.id, std::move(resolved.dnKey)};
}

void ApplicationTable::insertPublication(std::int64_t applicationId, std::int64_t serverId) {
    auto q = db_.query("INSERT INTO publication (application_id, server_id) VALUES (?1, ?2)");
    q.bind(1, applicationId).bind(2, serverId);
    q.run();
}

void ApplicationTable::writeGrants(std::int64_t applicationId, const Application& app) {
    std::int64_t position = 0;
    for (const auto* accounts : {&app.users, &app.groups}) {
        const bool isGroup = accounts == &app.groups;
        for (const Account& account : *accounts) {
            auto q = db_.query("INSERT INTO account_grant (application_id, is_group, position, "
                               "account_type, authority_type, authority_name, name) VALUES (?1, "
                               "?2, ?3, ?4, ?5, ?6, ?7)");
            q.bind(1, applicationId)
                .bind(2, isGroup ? 1 : 0)
                .bind(3, position++)
                .bind(4, account.accountType)
                .bind(5, account.authorityType)
                .bind(6, account.authorityName)
                .bind(7, account.name);
            q.run();
        }
    }
}

void ApplicationTable::writeIcon(std::int64_t applicationId, const Bytes& icon) {
    if (icon.empty()) {
        auto q = db_.query("DELETE FROM application_icon WHERE application_id = ?1");
        q.bind(1, applicationId);
        q.run();
        return;
    }
    auto q = db_.query("INSERT INTO application_icon (application_id, ico) VALUES (?1, ?2) ON "
                       "CONFLICT (application_id) DO UPDATE SET ico = excluded.ico");
    q.bind(1, applicationId).bindBlob(2, icon);
    q.run();
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

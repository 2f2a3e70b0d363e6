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
    insert_ = "INSERT INTO application (folder_id, name, dn_key, app_type, description, " +
              appSettingColumns() + ") VALUES (" +
              parameters(1, kFirstSettingColumn + kSettingCount) + ") RETURNING id";
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
    if (icons == IconLoading::Load) {
        auto q = db_.query(selectIcons_[index(selection)]);
        if (keyed)
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

    dropRepeats(app.servers,
                [](const std::string& a, const std::string& b) { return sameName(a, b); });
    for (std::string& server : app.servers) {
        const ServerRow row = requireServer(db_, server);
        server = row.name;
        resolved.serverIds.push_back(row.id);
    }
    for (auto* accounts : {&app.users, &app.groups}) {
        dropRepeats(*accounts, [](const Account& a, const Account& b) { return a.sameAccount(b); });
        for (const Account& account : *accounts) {
            if (Status s = checkAccount(account); !s)
                throwStatus(s);
        }
    }
    if (app.icon && !app.icon->empty()) {
        if (Status s = checkIcon(*app.icon); !s)
            throwStatus(
                Status::invalidArgument("The icon of " + dn + " is not valid. " + s.message()));
    }
    return resolved;
}

void ApplicationTable::bindRow(Query& q, const Application& app, const Resolved& resolved) {
    q.bind(1, resolved.folderId)
        .bind(2, app.name)
        .bind(3, resolved.dnKey)
        .bind(4, app.type)
        .bind(5, app.description);
    for (int i = 0; i < kSettingCount; ++i) {
        const auto id = static_cast<AppSetting>(i);
        const int parameter = kFirstSettingColumn + 1 + i;
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
        bindRow(q, app, resolved);
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
        bindRow(q, target, resolved);
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

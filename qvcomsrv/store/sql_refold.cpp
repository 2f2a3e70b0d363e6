#include "qvcomsrv/store/sql_refold.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "qvcomsrv/store/names.h"
#include "sky/text.h"

namespace sky::farm::sql {

namespace {

struct Named {
    std::int64_t id = 0;
    std::string name;
    std::string key;
    bool isFolder = false; // among a folder's children
};

struct Rename {
    std::int64_t id;
    bool isFolder;
    std::string from, to;
};

// Gives each name its spelling under the rule in force (renamed where an earlier one's folds
// alike) and the key of that spelling within `fullName`. Returns the renames.
template <typename FullName>
std::vector<Rename> settle(std::vector<Named>& names, FullName fullName) {
    std::vector<std::string> spellings;
    for (const Named& n : names)
        spellings.push_back(n.name);
    const std::vector<std::string> kept = sky::keepApartWhenFolded(spellings);
    std::vector<Rename> renamed;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (kept[i] != names[i].name)
            renamed.push_back({names[i].id, names[i].isFolder, names[i].name, kept[i]});
        names[i].name = kept[i];
        names[i].key = nameKey(fullName(kept[i]));
    }
    return renamed;
}

// Gives every row of `table` a key no name can have (a control character and its id), so that
// the rows can take their new keys one by one without meeting an old one.
void stepAside(Connection& db, const std::string& table, const std::string& column) {
    auto q =
        db.query("UPDATE " + table + " SET " + column + " = CAST(?1 AS TEXT) || CAST(id AS TEXT)");
    q.bind(1, std::string_view("\x01"));
    q.run();
}

std::vector<Named> readNamed(Connection& db, std::string_view sql) {
    std::vector<Named> rows;
    auto q = db.query(sql);
    while (q.step())
        rows.push_back({q.integer(0), q.text(1), {}, false});
    return rows;
}

// Zones or servers: one list of names, keys unique in the table.
void refoldList(Connection& db, const std::string& table, const std::string& what,
                std::vector<std::string>& report) {
    std::vector<Named> rows = readNamed(db, "SELECT id, name FROM " + table + " ORDER BY id");
    for (const Rename& r : settle(rows, [](const std::string& name) { return name; }))
        report.push_back("the " + what + " \"" + r.from + "\" has the name of an earlier " + what +
                         " when case is ignored; it is kept as \"" + r.to + "\"");
    // Keys are unique: every row steps aside first, then takes its key.
    stepAside(db, table, "name_key");
    const std::string sql = "UPDATE " + table + " SET name = ?2, name_key = ?3 WHERE id = ?1";
    for (const Named& n : rows) {
        auto q = db.query(sql);
        q.bind(1, n.id).bind(2, n.name).bind(3, n.key);
        q.run();
    }
}

void refoldAdministrators(Connection& db, std::vector<std::string>& report) {
    std::vector<std::string> accounts;
    {
        auto q = db.query("SELECT account FROM administrator ORDER BY account_key");
        while (q.step())
            accounts.push_back(q.text(0));
    }
    db.exec("DELETE FROM administrator");
    std::map<std::string, std::string> kept;
    for (const std::string& account : accounts) {
        const std::string key = nameKey(account);
        auto [at, inserted] = kept.emplace(key, account);
        if (!inserted) {
            report.push_back("the administrators \"" + at->second + "\" and \"" + account +
                             "\" are one account when case is ignored; it is kept as \"" +
                             at->second + "\"");
            continue;
        }
        auto q = db.query("INSERT INTO administrator (account_key, account) VALUES (?1, ?2)");
        q.bind(1, key).bind(2, account);
        q.run();
    }
}

// Folders and applications, folder by folder from the root; a folder's children share its names.
void refoldTree(Connection& db, std::vector<std::string>& report) {
    struct Folder {
        std::int64_t parent = 0;
        std::string name, dn;
    };
    std::map<std::int64_t, Folder> folders;
    std::map<std::int64_t, std::vector<Named>> children;
    {
        auto q = db.query("SELECT id, coalesce(parent_id, 0), name, dn FROM folder ORDER BY id");
        while (q.step()) {
            folders[q.integer(0)] = {q.integer(1), q.text(2), q.text(3)};
            if (q.integer(1) != 0)
                children[q.integer(1)].push_back({q.integer(0), q.text(2), {}, true});
        }
    }
    {
        auto q = db.query("SELECT id, folder_id, name FROM application ORDER BY id");
        while (q.step())
            children[q.integer(1)].push_back({q.integer(0), q.text(2), {}, false});
    }
    struct Placed {
        std::int64_t id;
        std::string name, dn, key;
    };
    std::vector<Placed> placedFolders, placedApplications;
    std::vector<std::int64_t> pending;
    for (auto& [id, folder] : folders) {
        if (folder.parent == 0) {
            pending.push_back(id);
            placedFolders.push_back({id, folder.name, folder.dn, nameKey(folder.dn)});
        }
    }
    while (!pending.empty()) {
        const std::int64_t id = pending.back();
        pending.pop_back();
        const std::string parentDn = folders[id].dn;
        std::vector<Named>& names = children[id];
        // Folders first, then applications, each in the order they were made.
        std::stable_sort(names.begin(), names.end(),
                         [](const Named& a, const Named& b) { return a.isFolder && !b.isFolder; });
        const auto full = [&](const std::string& name) {
            return joinDistinguishedName(parentDn, name);
        };
        for (const Rename& r : settle(names, full)) {
            const char* what = r.isFolder ? "folder" : "application";
            report.push_back(std::string("the ") + what + " \"" + full(r.from) +
                             "\" has the name of an earlier folder or application there when case "
                             "is ignored; it is kept as \"" +
                             full(r.to) + "\"");
        }
        for (const Named& n : names) {
            const std::string dn = full(n.name);
            if (n.isFolder) {
                folders[n.id].dn = dn;
                folders[n.id].name = n.name;
                placedFolders.push_back({n.id, n.name, dn, n.key});
                pending.push_back(n.id);
            } else {
                placedApplications.push_back({n.id, n.name, dn, n.key});
            }
        }
    }
    // Keys are unique: every row steps aside first, then takes its key.
    stepAside(db, "folder", "dn_key");
    stepAside(db, "application", "dn_key");
    for (const Placed& f : placedFolders) {
        auto q = db.query("UPDATE folder SET name = ?2, dn = ?3, dn_key = ?4 WHERE id = ?1");
        q.bind(1, f.id).bind(2, f.name).bind(3, f.dn).bind(4, f.key);
        q.run();
    }
    for (const Placed& a : placedApplications) {
        auto q = db.query("UPDATE application SET name = ?2, dn_key = ?3 WHERE id = ?1");
        q.bind(1, a.id).bind(2, a.name).bind(3, a.key);
        q.run();
    }
}

} // namespace

std::string recordedFolding(Connection& db) {
    if (!db.hasTable("meta"))
        return {};
    auto q = db.query("SELECT value FROM meta WHERE name = 'folding'");
    return q.step() ? q.text(0) : std::string();
}

void recordFolding(Connection& db) {
    auto q = db.query("INSERT INTO meta (name, value) VALUES ('folding', ?1) ON CONFLICT (name) "
                      "DO UPDATE SET value = excluded.value");
    q.bind(1, std::string_view(sky::foldingRule()));
    q.run();
}

std::vector<std::string> refoldNames(Connection& db) {
    std::vector<std::string> report;
    refoldList(db, "zone", "zone", report);
    refoldList(db, "server", "server", report);
    refoldAdministrators(db, report);
    refoldTree(db, report);
    return report;
}

} // namespace sky::farm::sql

#include "refold.h"

#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>

#include <sqlite3.h>

#include "sky/text.h"

namespace sky::registry {

namespace {

using Id = std::int64_t;

// A statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int rc() const { return rc_; }
    sqlite3_stmt* get() const { return stmt_; }
    Statement& bind(int index, Id value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Statement& bind(int index, std::string_view text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    // Steps once: SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return sqlite3_step(stmt_); }
    // Runs a statement without rows and readies it for the next bindings.
    int run() {
        const int rc = sqlite3_step(stmt_);
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        return rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    Id integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return text ? std::string(text,
                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                    : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

std::string foldUtf8(std::string_view name) {
    return sky::upperUtf8(name);
}

// One name among its siblings, in the order they were created.
struct Sibling {
    Id id = 0;
    std::string name;
    std::string folded;
};

struct Rename {
    Id id;
    std::string from, to;
};

// Gives each sibling its name under the rule in force (renamed where an earlier sibling's name
// folds alike) and its folded name. Returns the renames.
std::vector<Rename> settle(std::vector<Sibling>& siblings) {
    std::vector<std::string> names;
    for (const Sibling& s : siblings)
        names.push_back(s.name);
    const std::vector<std::string> kept = sky::keepApartWhenFolded(names);
    std::vector<Rename> renamed;
    for (std::size_t i = 0; i < siblings.size(); ++i) {
        if (kept[i] != siblings[i].name)
            renamed.push_back({siblings[i].id, siblings[i].name, kept[i]});
        siblings[i].name = kept[i];
        siblings[i].folded = foldUtf8(kept[i]);
    }
    return renamed;
}

struct Key {
    Id parent = 0;
    std::string name;
    std::string folded;
    std::string path;
    std::string displayPath; // names as written, for the report
};

int refoldKeys(sqlite3* db, std::vector<std::string>& renamed,
               std::map<std::string, std::string>& newPathOf) {
    std::map<Id, Key> keys;
    std::map<Id, std::vector<Id>> children;
    {
        Statement q(db, "SELECT id, parent, name, folded, path FROM keys ORDER BY id");
        if (q.rc() != SQLITE_OK)
            return q.rc();
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) {
            Key& key = keys[q.integer(0)];
            key.parent = q.integer(1);
            key.name = q.text(2);
            key.folded = q.text(3);
            key.path = q.text(4);
            children[key.parent].push_back(q.integer(0));
        }
        if (rc != SQLITE_DONE)
            return rc;
    }
    // Parents before children: the roots (parent 0) keep their paths.
    struct Change {
        Id id;
        std::string name, folded, path;
    };
    std::vector<Change> changes;
    std::vector<Id> pending;
    for (Id root : children[0]) {
        keys[root].displayPath = keys[root].name;
        pending.push_back(root);
    }
    while (!pending.empty()) {
        const Id parentId = pending.back();
        pending.pop_back();
        const Key& parent = keys[parentId];
        auto found = children.find(parentId);
        if (found == children.end())
            continue;
        std::vector<Sibling> siblings;
        for (Id id : found->second)
            siblings.push_back({id, keys[id].name, {}});
        for (const Rename& r : settle(siblings)) {
            renamed.push_back("the key \"" + parent.displayPath + "\\" + r.from +
                              "\" has the name of an earlier key there when case is ignored; "
                              "it is kept as \"" +
                              r.to + "\"");
        }
        for (const Sibling& s : siblings) {
            Key& key = keys[s.id];
            const std::string path = parent.path + "\\" + s.folded;
            key.displayPath = parent.displayPath + "\\" + s.name;
            if (path != key.path || s.name != key.name || s.folded != key.folded) {
                newPathOf[key.path] = path;
                changes.push_back({s.id, s.name, s.folded, path});
                key.path = path;
                key.name = s.name;
                key.folded = s.folded;
            }
            pending.push_back(s.id);
        }
    }
    // Paths are unique: the changed keys step aside first, then take their new paths.
    Statement aside(db, "UPDATE keys SET path = char(1) || id WHERE id = ?1");
    Statement place(db, "UPDATE keys SET name = ?2, folded = ?3, path = ?4 WHERE id = ?1");
    if (aside.rc() != SQLITE_OK || place.rc() != SQLITE_OK)
        return aside.rc() != SQLITE_OK ? aside.rc() : place.rc();
    for (const Change& c : changes) {
        if (int rc = aside.bind(1, c.id).run())
            return rc;
    }
    for (const Change& c : changes) {
        if (int rc = place.bind(1, c.id).bind(2, c.name).bind(3, c.folded).bind(4, c.path).run())
            return rc;
    }
    return SQLITE_OK;
}

int refoldValues(sqlite3* db, std::vector<std::string>& renamed) {
    std::map<Id, std::vector<Sibling>> byKey;
    std::unordered_map<Id, std::string> foldedBefore;
    {
        Statement q(db, "SELECT id, key, name, folded FROM vals ORDER BY id");
        if (q.rc() != SQLITE_OK)
            return q.rc();
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) {
            byKey[q.integer(1)].push_back({q.integer(0), q.text(2), {}});
            foldedBefore[q.integer(0)] = q.text(3);
        }
        if (rc != SQLITE_DONE)
            return rc;
    }
    Statement keyPath(db, "SELECT path FROM keys WHERE id = ?1");
    std::vector<Sibling> changes;
    for (auto& [key, values] : byKey) {
        std::set<Id> renamedHere;
        for (const Rename& r : settle(values)) {
            std::string where = "key " + std::to_string(key);
            keyPath.bind(1, key);
            if (keyPath.step() == SQLITE_ROW)
                where = keyPath.text(0);
            sqlite3_reset(keyPath.get());
            renamed.push_back("the value \"" + r.from + "\" of the key " + where +
                              " has the name of an earlier value there when case is ignored; "
                              "it is kept as \"" +
                              r.to + "\"");
            renamedHere.insert(r.id);
        }
        for (const Sibling& s : values) {
            if (renamedHere.count(s.id) || s.folded != foldedBefore[s.id])
                changes.push_back(s);
        }
    }
    // (key, folded) is unique: the changed values step aside first.
    Statement aside(db, "UPDATE vals SET folded = char(1) || id WHERE id = ?1");
    Statement place(db, "UPDATE vals SET name = ?2, folded = ?3 WHERE id = ?1");
    if (aside.rc() != SQLITE_OK || place.rc() != SQLITE_OK)
        return aside.rc() != SQLITE_OK ? aside.rc() : place.rc();
    for (const Sibling& s : changes) {
        if (int rc = aside.bind(1, s.id).run())
            return rc;
    }
    for (const Sibling& s : changes) {
        if (int rc = place.bind(1, s.id).bind(2, s.name).bind(3, s.folded).run())
            return rc;
    }
    return SQLITE_OK;
}

int refoldDenials(sqlite3* db, const std::map<std::string, std::string>& newPathOf) {
    struct Denial {
        std::string path, name;
    };
    std::vector<Denial> denials;
    {
        Statement q(db, "SELECT path, name FROM denials");
        if (q.rc() != SQLITE_OK)
            return q.rc();
        int rc;
        while ((rc = q.step()) == SQLITE_ROW)
            denials.push_back({q.text(0), q.text(1)});
        if (rc != SQLITE_DONE)
            return rc;
    }
    if (int rc = sqlite3_exec(db, "DELETE FROM denials", nullptr, nullptr, nullptr))
        return rc;
    Statement insert(db, "INSERT OR IGNORE INTO denials(path, user, name) VALUES(?1, ?2, ?3)");
    if (insert.rc() != SQLITE_OK)
        return insert.rc();
    for (const Denial& d : denials) {
        auto moved = newPathOf.find(d.path);
        const std::string path = moved != newPathOf.end() ? moved->second : foldUtf8(d.path);
        if (int rc = insert.bind(1, path).bind(2, foldUtf8(d.name)).bind(3, d.name).run())
            return rc;
    }
    return SQLITE_OK;
}

} // namespace

int refoldNames(sqlite3* db, std::vector<std::string>& renamed) {
    std::map<std::string, std::string> newPathOf;
    if (int rc = refoldKeys(db, renamed, newPathOf))
        return rc;
    if (int rc = refoldValues(db, renamed))
        return rc;
    return refoldDenials(db, newPathOf);
}

} // namespace sky::registry

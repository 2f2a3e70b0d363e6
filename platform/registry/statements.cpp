#include "statements.h"

namespace sky::registry {

// The current time as a FILETIME (100-nanosecond ticks since 1601; Julian day 2305813.5).
#define SKY_NOW "CAST((julianday('now') - 2305813.5) * 864000000000 AS INTEGER)"

const char* const kSchema = R"sql(
CREATE TABLE keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    path TEXT NOT NULL UNIQUE,
    class TEXT NOT NULL DEFAULT '',
    written INTEGER NOT NULL DEFAULT 0);
CREATE INDEX keys_by_parent ON keys(parent, folded);
CREATE TABLE vals(
    id INTEGER PRIMARY KEY,
    key INTEGER NOT NULL,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, folded));
CREATE INDEX vals_by_key ON vals(key);
CREATE TABLE meta(
    name TEXT PRIMARY KEY,
    value TEXT NOT NULL);
CREATE TABLE denials(
    path TEXT NOT NULL,
    user TEXT NOT NULL,
    name TEXT NOT NULL,
    PRIMARY KEY(path, user));
CREATE TRIGGER key_added AFTER INSERT ON keys BEGIN
    UPDATE keys SET written = )sql" SKY_NOW R"sql( WHERE id = NEW.parent; END;
CREATE TRIGGER key_removed AFTER DELETE ON keys BEGIN
    UPDATE keys SET written = )sql" SKY_NOW R"sql( WHERE id = OLD.parent; END;
CREATE TRIGGER value_added AFTER INSERT ON vals BEGIN
    UPDATE keys SET written = )sql" SKY_NOW R"sql( WHERE id = NEW.key; END;
CREATE TRIGGER value_changed AFTER UPDATE ON vals BEGIN
    UPDATE keys SET written = )sql" SKY_NOW R"sql( WHERE id = NEW.key; END;
CREATE TRIGGER value_removed AFTER DELETE ON vals BEGIN
    UPDATE keys SET written = )sql" SKY_NOW R"sql( WHERE id = OLD.key; END;
INSERT INTO keys(id, parent, name, folded, path) VALUES
    (1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),
    (2, 0, 'HKEY_USERS', 'HKEY_USERS', 'HKEY_USERS');
)sql";

// A path and everything below it: path = ?1, or path within (?1 "\", ?1 "]"), since "]" follows
// "\" in the collation.
#define SKY_TREE "(path = ?1 OR (path > ?1 || '\\' AND path < ?1 || ']'))"
// A denial of user ?2 on path ?1 or above it.
#define SKY_DENIED(path)                                                                           \
    "SELECT 1 FROM denials WHERE user = ?2 AND "                                                   \
    "(path = " path " OR substr(" path ", 1, length(path) + 1) = path || '\\')"

const char* sqlOf(Statement statement) {
    switch (statement) {
    case Statement::Find:
        return "SELECT id FROM keys WHERE path = ?1";
    case Statement::Lookup:
        // ?3 the base key (0: none to check), ?1 the path, ?2 the user.
        return "SELECT ?3 = 0 OR EXISTS(SELECT 1 FROM keys WHERE id = ?3), "
               "(SELECT id FROM keys WHERE path = ?1), EXISTS(" SKY_DENIED("?1") ")";
    case Statement::Exists:
        return "SELECT 1 FROM keys WHERE id = ?1";
    case Statement::InsertKey:
        return "INSERT INTO keys(parent, name, folded, path, class, written) "
               "VALUES(?1, ?2, ?3, ?4, ?5, " SKY_NOW ")";
    case Statement::HasSubKeys:
        return "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1";
    case Statement::DeleteTreeValues:
        return "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE " SKY_TREE ")";
    case Statement::DeleteTreeKeys:
        return "DELETE FROM keys WHERE " SKY_TREE;
    case Statement::DeleteTreeDenials:
        return "DELETE FROM denials WHERE " SKY_TREE;
    case Statement::SubKeyAt:
        return "SELECT name, class, written FROM keys WHERE parent = ?1 "
               "ORDER BY folded LIMIT 1 OFFSET ?2";
    case Statement::KeyRow:
        return "SELECT class, written FROM keys WHERE id = ?1";
    case Statement::SubKeys:
        return "SELECT name, class FROM keys WHERE parent = ?1";
    case Statement::SetValue:
        // Nothing is written when the key is gone.
        return "INSERT INTO vals(key, name, folded, type, data) "
               "SELECT ?1, ?2, ?3, ?4, ?5 WHERE EXISTS(SELECT 1 FROM keys WHERE id = ?1) "
               "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data";
    case Statement::GetValue:
        return "SELECT name, type, data FROM vals WHERE key = ?1 AND folded = ?2";
    case Statement::ValueAt:
        return "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2";
    case Statement::DeleteValue:
        return "DELETE FROM vals WHERE key = ?1 AND folded = ?2";
    case Statement::ValueSizes:
        return "SELECT name, length(data) FROM vals WHERE key = ?1";
    case Statement::Denied:
        return SKY_DENIED("?1") " LIMIT 1";
    case Statement::DeniedBelow:
        return "SELECT 1 FROM denials WHERE user = ?2 AND path > ?1 || '\\' AND path < ?1 || ']' "
               "LIMIT 1";
    case Statement::AddDenial:
        return "INSERT OR IGNORE INTO denials(path, user, name) VALUES(?1, ?2, ?3)";
    case Statement::RemoveDenial:
        return "DELETE FROM denials WHERE path = ?1 AND user = ?2";
    case Statement::Denials:
        return "SELECT name FROM denials WHERE path = ?1 ORDER BY user";
    case Statement::Begin:
        return "BEGIN IMMEDIATE";
    case Statement::Commit:
        return "COMMIT";
    case Statement::Rollback:
        return "ROLLBACK";
    case Statement::DataVersion:
        return "PRAGMA data_version";
    case Statement::Count:
        break;
    }
    return "";
}

#undef SKY_DENIED
#undef SKY_TREE
#undef SKY_NOW

} // namespace sky::registry

#include "sqlite_schema.h"

#include <span>

#include "settings.h"

namespace sky::farm::sqlite {

namespace {

template <std::size_t N> std::string columnDefinitions(std::span<const SettingDef, N> defs) {
    std::string sql;
    for (const SettingDef& def : defs) {
        sql += ",\n  \"" + std::string(def.name) + "\" ";
        if (def.isText())
            sql += "TEXT NOT NULL DEFAULT '" + std::string(def.defaultText) + "'";
        else
            sql += "INTEGER NOT NULL DEFAULT " + std::to_string(def.defaultNumber);
    }
    return sql;
}

template <std::size_t N>
std::string columnList(std::span<const SettingDef, N> defs, const std::string& prefix) {
    std::string sql;
    for (const SettingDef& def : defs) {
        if (!sql.empty())
            sql += ", ";
        sql += prefix + "\"" + std::string(def.name) + "\"";
    }
    return sql;
}

} // namespace

std::string schemaSql() {
    // Names are kept as given in `name` columns and matched through `*_key` columns, which hold
    // their upper-case folding; a distinguished name's key is that of the whole name.
    //
    // Publications have no index by server: reading a server's applications scans them (a
    // millisecond for 30,000), while an index would cost every save a page per server.
    return "CREATE TABLE meta (\n"
           "  name TEXT PRIMARY KEY,\n"
           "  value TEXT NOT NULL\n"
           ") WITHOUT ROWID;\n"
           "CREATE TABLE farm (\n"
           "  id INTEGER PRIMARY KEY CHECK (id = 1),\n"
           "  name TEXT NOT NULL,\n"
           "  reports_session_reliability INTEGER NOT NULL" +
           columnDefinitions(farmSettingDefs()) +
           "\n);\n"
           "CREATE TABLE administrator (\n"
           "  account_key TEXT PRIMARY KEY,\n"
           "  account TEXT NOT NULL\n"
           ") WITHOUT ROWID;\n"
           "CREATE TABLE zone (\n"
           "  id INTEGER PRIMARY KEY,\n"
           "  name TEXT NOT NULL,\n"
           "  name_key TEXT NOT NULL UNIQUE,\n"
           "  data_collector_id INTEGER REFERENCES server(id)\n"
           ");\n"
           "CREATE TABLE server (\n"
           "  id INTEGER PRIMARY KEY,\n"
           "  name TEXT NOT NULL,\n"
           "  name_key TEXT NOT NULL UNIQUE,\n"
           "  zone_id INTEGER NOT NULL REFERENCES zone(id),\n"
           "  os_major INTEGER NOT NULL,\n"
           "  os_minor INTEGER NOT NULL\n"
           ");\n"
           "CREATE TABLE folder (\n"
           "  id INTEGER PRIMARY KEY,\n"
           "  parent_id INTEGER REFERENCES folder(id),\n"
           "  name TEXT NOT NULL,\n"
           "  dn TEXT NOT NULL,\n"
           "  dn_key TEXT NOT NULL UNIQUE\n"
           ");\n"
           "CREATE TABLE application (\n"
           "  id INTEGER PRIMARY KEY,\n"
           "  folder_id INTEGER NOT NULL REFERENCES folder(id),\n"
           "  name TEXT NOT NULL,\n"
           "  dn_key TEXT NOT NULL UNIQUE,\n"
           "  app_type INTEGER NOT NULL,\n"
           "  description TEXT NOT NULL" +
           columnDefinitions(appSettingDefs()) +
           "\n);\n"
           "CREATE TABLE application_icon (\n"
           "  application_id INTEGER PRIMARY KEY REFERENCES application(id) ON DELETE CASCADE,\n"
           "  ico BLOB NOT NULL\n"
           ");\n"
           "CREATE TABLE publication (\n"
           "  application_id INTEGER NOT NULL REFERENCES application(id) ON DELETE CASCADE,\n"
           "  server_id INTEGER NOT NULL REFERENCES server(id),\n"
           "  PRIMARY KEY (application_id, server_id)\n"
           ") WITHOUT ROWID;\n"

           "CREATE TABLE account_grant (\n"
           "  application_id INTEGER NOT NULL REFERENCES application(id) ON DELETE CASCADE,\n"
           "  is_group INTEGER NOT NULL,\n"
           "  position INTEGER NOT NULL,\n"
           "  account_type INTEGER NOT NULL,\n"
           "  authority_type INTEGER NOT NULL,\n"
           "  authority_name TEXT NOT NULL,\n"
           "  name TEXT NOT NULL,\n"
           "  PRIMARY KEY (application_id, is_group, position)\n"
           ") WITHOUT ROWID;\n";
}

std::string farmSettingColumns(const std::string& prefix) {
    return columnList(farmSettingDefs(), prefix);
}

std::string appSettingColumns(const std::string& prefix) {
    return columnList(appSettingDefs(), prefix);
}

std::string parameters(int first, int count) {
    std::string sql;
    for (int i = 0; i < count; ++i) {
        if (i)
            sql += ", ";
        sql += "?" + std::to_string(first + i);
    }
    return sql;
}

std::string appSettingAssignments(int first) {
    std::string sql;
    int index = first;
    for (const SettingDef& def : appSettingDefs()) {
        if (index != first)
            sql += ", ";
        sql += "\"" + std::string(def.name) + "\" = ?" + std::to_string(index++);
    }
    return sql;
}

} // namespace sky::farm::sqlite

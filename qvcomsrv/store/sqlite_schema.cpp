#include "qvcomsrv/store/sqlite_schema.h"

#include "qvcomsrv/store/setting_columns.h"

namespace sky::farm::sqlite {

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
           settingColumnDefinitions(farmSettingDefs(), false) +
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
           settingColumnDefinitions(appSettingDefs(), false) +
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
           ") WITHOUT ROWID;\n" +
           auditTableSql();
}

std::string auditTableSql() {
    return "CREATE TABLE IF NOT EXISTS audit (\n"
           "  id INTEGER PRIMARY KEY,\n"
           "  change_id INTEGER NOT NULL,\n"
           "  time TEXT NOT NULL,\n"
           "  account TEXT NOT NULL,\n"
           "  account_key TEXT NOT NULL,\n"
           "  machine TEXT NOT NULL,\n"
           "  operation TEXT NOT NULL,\n"
           "  dn TEXT NOT NULL,\n"
           "  dn_key TEXT NOT NULL,\n"
           "  setting TEXT NOT NULL,\n"
           "  has_old INTEGER NOT NULL,\n"
           "  old_value TEXT NOT NULL,\n"
           "  has_new INTEGER NOT NULL,\n"
           "  new_value TEXT NOT NULL\n"
           ");\n";
}

std::string farmSettingColumns(const std::string& prefix) {
    return settingColumnList(farmSettingDefs(), prefix);
}

std::string appSettingColumns(const std::string& prefix) {
    return settingColumnList(appSettingDefs(), prefix);
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
    return settingAssignments(appSettingDefs(), first);
}

} // namespace sky::farm::sqlite

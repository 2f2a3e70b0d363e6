// The settings' columns as a SQL store lays them out, tried on a real SQLite database: the
// defaults a new row takes are the settings' defaults, and the checks refuse exactly what the
// settings refuse.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>

#include "qvcomsrv/store/setting_columns.h"

using namespace sky::farm;

namespace {

class SettingTable : public ::testing::Test {
protected:
    SettingTable() {
        EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        run("CREATE TABLE application (id INTEGER PRIMARY KEY" +
            settingColumnDefinitions(appSettingDefs(), true) + ");");
        run("CREATE TABLE farm (id INTEGER PRIMARY KEY" +
            settingColumnDefinitions(farmSettingDefs(), true) + ");");
    }
    ~SettingTable() override { sqlite3_close(db_); }

    int run(const std::string& sql) {
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    }

    // The stored value of `def` in the table's row 1, as its kind holds it.
    SettingValue stored(const char* table, const SettingDef& def) {
        sqlite3_stmt* stmt = nullptr;
        const std::string sql = "SELECT " + settingColumnList(std::span(&def, 1), "") + " FROM " +
                                table + " WHERE id = 1";
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
        EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        SettingValue value;
        if (def.isText())
            value = std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        else
            value = static_cast<std::int32_t>(sqlite3_column_int64(stmt, 0));
        sqlite3_finalize(stmt);
        return value;
    }

    sqlite3* db_ = nullptr;
};

TEST_F(SettingTable, ANewRowHoldsEverySettingsDefault) {
    ASSERT_EQ(run("INSERT INTO application (id) VALUES (1); INSERT INTO farm (id) VALUES (1);"),
              SQLITE_OK);
    for (const SettingDef& def : appSettingDefs())
        EXPECT_EQ(stored("application", def), def.defaultValue()) << def.name;
    for (const SettingDef& def : farmSettingDefs())
        EXPECT_EQ(stored("farm", def), def.defaultValue()) << def.name;
}

TEST_F(SettingTable, ChecksRefuseWhatTheSettingsRefuse) {
    ASSERT_EQ(run("INSERT INTO application (id) VALUES (1);"), SQLITE_OK);
    // For every enumeration setting: its members and one past either end.
    for (const SettingDef& def : appSettingDefs()) {
        if (def.kind != SettingKind::Enumeration)
            continue;
        for (std::int32_t value : {-1, 0, 1, def.enumeration->last, def.enumeration->last + 1,
                                   def.enumeration->last * 2 - 1, def.enumeration->last * 2}) {
            const bool good = static_cast<bool>(def.check(SettingValue(value)));
            const std::string sql = "UPDATE application SET " +
                                    settingAssignments(std::span(&def, 1), 1) + " WHERE id = 1";
            sqlite3_stmt* stmt = nullptr;
            ASSERT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
            sqlite3_bind_int(stmt, 1, value);
            EXPECT_EQ(sqlite3_step(stmt), good ? SQLITE_DONE : SQLITE_CONSTRAINT)
                << def.name << " = " << value;
            sqlite3_finalize(stmt);
        }
    }
    // Flags keep any number, and text any text.
    EXPECT_EQ(
        run("UPDATE application SET \"EnableApp\" = -7, \"LumoFolder\" = 'a''b' WHERE id = 1"),
        SQLITE_OK);
}

TEST(SettingColumns, DefinitionsNameTypeDefaultAndCheck) {
    EXPECT_EQ(settingColumnDefinition(definition(AppSetting::CPUPriority), true),
              "\"CPUPriority\" INTEGER NOT NULL DEFAULT 3 CHECK (\"CPUPriority\" BETWEEN 0 AND 5)");
    EXPECT_EQ(settingColumnDefinition(definition(AppSetting::LumoAttributes), true),
              "\"LumoAttributes\" INTEGER NOT NULL DEFAULT 0 CHECK (\"LumoAttributes\" BETWEEN 0 "
              "AND 31)");
    EXPECT_EQ(settingColumnDefinition(definition(AppSetting::InstanceLimit), true),
              "\"InstanceLimit\" INTEGER NOT NULL DEFAULT -1");
    EXPECT_EQ(settingColumnDefinition(definition(FarmSetting::NDSPreferredTree), true),
              "\"NDSPreferredTree\" TEXT NOT NULL DEFAULT ''");
    EXPECT_EQ(settingColumnDefinition(definition(AppSetting::CPUPriority), false),
              "\"CPUPriority\" INTEGER NOT NULL DEFAULT 3");
    EXPECT_EQ(settingColumnList(farmSettingDefs().first(2), "f."),
              "f.\"NoRedundantGraphics\", f.\"AlternateCachingMethod\"");
    EXPECT_EQ(settingAssignments(appSettingDefs().first(2), 4),
              "\"EnableApp\" = ?4, \"DefaultEncryption\" = ?5");
}

} // namespace

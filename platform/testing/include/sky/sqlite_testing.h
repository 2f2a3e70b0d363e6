// For tests that change a database file behind its owner's back (to stand for a file an older
// version wrote, say): running SQL on it and reading one value.
#pragma once

#include <string>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace sky::testing {

inline void execSql(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
    sqlite3_free(error);
}

// The first column of the first row as text; empty when there is none.
inline std::string querySqlText(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    std::string text;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0))
        text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    return text;
}

} // namespace sky::testing

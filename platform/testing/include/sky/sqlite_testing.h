// For tests that change a database file behind its owner's back (to stand for a file an older
// version wrote, say): running SQL on it and reading one value. And for tests that count the
// statements a piece of work runs on a database, whichever code in the process opened it.
#pragma once

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

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

// Counts the statements run on every SQLite database file whose path holds `file` (a store's
// path: its temporary copies, "<path>.new-XXXXXX", too) that this process opens while the counter
// lives: the object model module's connections too, which share the process's SQLite library. Each
// run of a statement counts once (its first step), by its text as written (parameters unexpanded);
// the rows each statement gives are counted too (rows()).
// Connections opened before the counter count nothing; tests open their stores afresh.
class StatementCounter {
public:
    explicit StatementCounter(std::string file) : file_(std::move(file)) {
        static const int registered =
            sqlite3_auto_extension(reinterpret_cast<void (*)()>(&StatementCounter::onOpen));
        EXPECT_EQ(registered, SQLITE_OK);
        std::lock_guard hold(lock());
        current() = this;
    }
    ~StatementCounter() {
        std::lock_guard hold(lock());
        current() = nullptr;
    }
    StatementCounter(const StatementCounter&) = delete;
    StatementCounter& operator=(const StatementCounter&) = delete;

    // Statements run so far whose text holds `part` (every statement for "").
    int count(std::string_view part = "") const { return total(runs_, part); }
    // Rows that the statements whose text holds `part` gave (every statement's for "").
    int rows(std::string_view part = "") const { return total(rows_, part); }
    // The statements counted whose text holds `part`, a line each with its count, for a
    // failure's message.
    std::string list(std::string_view part = "") const {
        std::lock_guard hold(lock());
        std::string lines;
        for (const auto& [text, runs] : runs_) {
            if (text.find(part) != std::string::npos)
                lines += "\n  " + std::to_string(runs) + " x " + text;
        }
        return lines;
    }
    // Forgets what was counted.
    void reset() {
        std::lock_guard hold(lock());
        runs_.clear();
        rows_.clear();
    }

private:
    static int total(const std::map<std::string, int>& counted, std::string_view part) {
        std::lock_guard hold(lock());
        int sum = 0;
        for (const auto& [text, times] : counted) {
            if (text.find(part) != std::string::npos)
                sum += times;
        }
        return sum;
    }

    static std::mutex& lock() {
        static std::mutex* made = new std::mutex;
        return *made;
    }
    static StatementCounter*& current() {
        static StatementCounter* counter = nullptr;
        return counter;
    }

    static int onOpen(sqlite3* db, char**, const sqlite3_api_routines*) {
        std::lock_guard hold(lock());
        const char* file = sqlite3_db_filename(db, "main");
        if (current() && file && std::string_view(file).find(current()->file_) != std::string::npos)
            sqlite3_trace_v2(db, SQLITE_TRACE_STMT | SQLITE_TRACE_ROW,
                             &StatementCounter::onStatement, nullptr);
        return SQLITE_OK;
    }

    static int onStatement(unsigned event, void*, void* statement, void* text) {
        std::lock_guard hold(lock());
        if (event == SQLITE_TRACE_ROW) {
            const char* sql = sqlite3_sql(static_cast<sqlite3_stmt*>(statement));
            if (current() && sql)
                ++current()->rows_[sql];
            return 0;
        }
        const char* sql = static_cast<const char*>(text);
        // Statements of triggers come as "-- " comments: only what the caller ran counts.
        if (current() && sql && !std::string_view(sql).starts_with("--"))
            ++current()->runs_[sql];
        return 0;
    }

    std::string file_;
    std::map<std::string, int> runs_;
    std::map<std::string, int> rows_;
};

} // namespace sky::testing

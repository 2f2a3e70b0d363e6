// Running the hive's prepared statements: one use of a statement, and a write transaction.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <sqlite3.h>

#include "hive.h"
#include "sky/text.h"
#include "statements.h"
#include "win/errors.h"

namespace sky::registry {

// One use of a prepared statement; resets it when done, so no read stays open.
class Query {
public:
    Query(Hive& hive, Statement which) : hive_(hive), stmt_(hive.statement(which)) {}
    ~Query() { sqlite3_reset(stmt_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // Text and blobs must outlive the query.
    Query& bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Query& bind(int index, std::string_view text) {
        // An empty view may have no data pointer, which would bind NULL.
        sqlite3_bind_text(stmt_, index, text.empty() ? "" : text.data(),
                          static_cast<int>(text.size()), SQLITE_STATIC);
        return *this;
    }
    Query& bindBlob(int index, const BYTE* data, std::size_t size) {
        if (size == 0)
            sqlite3_bind_zeroblob(stmt_, index, 0);
        else
            sqlite3_bind_blob(stmt_, index, data, static_cast<int>(size), SQLITE_STATIC);
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(stmt_); }
    // Runs a statement that returns no rows; a registry error code.
    LONG run() {
        const int rc = step();
        return rc == SQLITE_DONE || rc == SQLITE_ROW ? ERROR_SUCCESS : hive_.errorFromSqlite(rc);
    }
    // Steps once: ERROR_SUCCESS with `row` telling whether a row came.
    LONG next(bool& row) {
        const int rc = step();
        row = rc == SQLITE_ROW;
        return rc == SQLITE_ROW || rc == SQLITE_DONE ? ERROR_SUCCESS : hive_.errorFromSqlite(rc);
    }

    // Calls `use(*this)` for every row.
    template <class Use> LONG forEach(Use&& use) {
        for (bool row = true;;) {
            if (LONG status = next(row))
                return status;
            if (!row)
                return ERROR_SUCCESS;
            use(*this);
        }
    }

    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string_view text(int column) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return p ? std::string_view(p,
                                    static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string_view();
    }
    std::u16string wide(int column) const { return widen(text(column)); }
    void blob(int column, std::vector<BYTE>& out) const {
        const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, column));
        const int n = sqlite3_column_bytes(stmt_, column);
        out.assign(p, p + (p ? n : 0));
    }

private:
    Hive& hive_;
    sqlite3_stmt* stmt_;
};

// BEGIN IMMEDIATE ... COMMIT; rolls back when not committed. Taking the write lock at the start
// means a writer waits (up to the busy timeout) instead of failing on a stale snapshot.
class Transaction {
public:
    explicit Transaction(Hive& hive) : hive_(hive) {}
    ~Transaction() {
        if (open_)
            Query(hive_, Statement::Rollback).step();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    LONG begin() {
        int rc = SQLITE_BUSY;
        // The busy handler waits for the lock; a few more rounds cover the rare case where it
        // gives up early (a snapshot that moved while waiting).
        for (int attempt = 0; attempt < 4 && (rc & 0xFF) == SQLITE_BUSY; ++attempt)
            rc = Query(hive_, Statement::Begin).step();
        if (rc != SQLITE_DONE)
            return hive_.errorFromSqlite(rc);
        open_ = true;
        return ERROR_SUCCESS;
    }
    LONG commit() {
        const int rc = Query(hive_, Statement::Commit).step();
        if (rc != SQLITE_DONE)
            return hive_.errorFromSqlite(rc);
        open_ = false;
        return ERROR_SUCCESS;
    }

private:
    Hive& hive_;
    bool open_ = false;
};

} // namespace sky::registry

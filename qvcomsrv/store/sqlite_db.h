// A thin layer over SQLite for the farm store: a connection with its prepared statements cached,
// statements that reset themselves after use, and transactions that roll back unless committed.
// SQLite errors become a Failure carrying a Status; the store turns it back into a Status at its
// surface, so no SQLite code or exception leaves the store.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "qvcomsrv/store/model.h"
#include "qvcomsrv/store/status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sky::farm::sqlite {

struct Failure {
    Status status;
};

// Abandons the work under way; catchFailures turns it into the Status it carries.
[[noreturn]] inline void throwStatus(Status status) {
    throw Failure{std::move(status)};
}

// Runs `body` (which returns a Status or a Result) and turns a Failure, or running out of
// memory, into the Status it returns.
template <typename Body> auto catchFailures(Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const Failure& failure) {
        return failure.status;
    } catch (const std::bad_alloc&) {
        return Status::internal("The farm store ran out of memory.");
    }
}

class Database;

// A prepared statement in use: bind, step, read columns. Leaving scope resets it for the next
// use and clears its bindings.
class Query {
public:
    Query(Database& db, sqlite3_stmt* stmt) : db_(&db), stmt_(stmt) {}
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    ~Query();

    // Parameters count from 1, as in SQL (?1, ?2, ...).
    Query& bind(int index, std::int64_t value);
    Query& bind(int index, std::string_view text);
    Query& bindBlob(int index, const Bytes& bytes);

    // Steps once: true when a row is there, false when the statement is done.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::int64_t integer(int column) const;
    std::string text(int column) const;
    Bytes blob(int column) const;

private:
    Database* db_;
    sqlite3_stmt* stmt_;
};

class Database {
public:
    // Opens an existing store file for reading and writing; `path` also names the store in
    // messages. Waits up to `busyTimeoutMs` for another connection's lock.
    Database(const std::string& path, int busyTimeoutMs);
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    const std::string& path() const { return path_; }

    // A cached prepared statement for `sql` (a string literal or a string the caller keeps).
    Query query(std::string_view sql);
    // Runs SQL without parameters or results (pragmas, schema).
    void exec(const std::string& sql);

    std::int64_t lastInsertId() const;
    int changes() const;

    // Throws the Failure for a SQLite result code.
    [[noreturn]] void raise(int rc) const;

private:
    std::string path_;
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
};

// BEGIN IMMEDIATE for writes (the write lock is taken at once, waiting up to the busy timeout,
// so a write never fails halfway on a lock), BEGIN for consistent reads.
class Transaction {
public:
    enum class Kind { Read, Write };
    Transaction(Database& db, Kind kind);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    void commit();

private:
    Database& db_;
    bool open_ = true;
};

} // namespace sky::farm::sqlite

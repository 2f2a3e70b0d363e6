// What the farm store needs of a SQL database, whichever kind holds the farm: prepared statements
// with numbered parameters (?1, ?2, ...), rows read column by column, and transactions that roll
// back unless committed. SqliteConnection (one file on this machine) and PostgresConnection (a
// database server that the farm's servers share) implement it; the store's operations are
// written once, over this interface.
//
// Database errors become a Failure carrying a Status; the store turns it back into a Status at
// its surface, so no database code or exception leaves the store. A Failure marked `retry` is a
// conflict with another transaction that running the operation again resolves.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "qvcomsrv/store/model.h"
#include "qvcomsrv/store/status.h"

namespace sky::farm::sql {

struct Failure {
    Status status;
    bool retry = false; // another transaction conflicted: run the whole operation again
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

// One prepared statement of a connection, as the connection's kind has it.
class Statement {
public:
    virtual ~Statement() = default;
    virtual void bindInteger(int index, std::int64_t value) = 0;
    virtual void bindText(int index, std::string_view text) = 0;
    virtual void bindBlob(int index, const Bytes& bytes) = 0;
    // Runs the statement on the first call; each call moves to the next row.
    virtual bool step() = 0;
    // Runs the statement without waiting for its outcome where the connection can: statements
    // sent one after another go to the server together, and run in the order sent. Its rows are
    // read with step() as before; its failure, if it fails, is thrown by the first step() of any
    // statement sent after it, or by the commit at the latest. SQLite runs it at once.
    virtual void send() = 0;
    virtual std::int64_t integer(int column) const = 0;
    virtual std::string text(int column) const = 0;
    virtual Bytes blob(int column) const = 0;
    // Ready for the next use: results dropped, bindings cleared. Never throws.
    virtual void reset() noexcept = 0;
};

// A prepared statement in use: bind, step, read columns. Leaving scope resets it for the next
// use.
class Query {
public:
    explicit Query(Statement& statement) : statement_(&statement) {}
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    Query(Query&& other) noexcept : statement_(std::exchange(other.statement_, nullptr)) {}
    ~Query() {
        if (statement_)
            statement_->reset();
    }

    // Parameters count from 1, as in SQL (?1, ?2, ...).
    Query& bind(int index, std::int64_t value) {
        statement_->bindInteger(index, value);
        return *this;
    }
    Query& bind(int index, std::string_view text) {
        statement_->bindText(index, text);
        return *this;
    }
    Query& bindBlob(int index, const Bytes& bytes) {
        statement_->bindBlob(index, bytes);
        return *this;
    }

    // Steps once: true when a row is there, false when the statement is done.
    bool step() { return statement_->step(); }
    // Runs a statement that returns no rows.
    void run() {
        while (step()) {
        }
    }
    // Sends a statement whose outcome can wait (see Statement::send): a write, or a read whose
    // rows are read once other statements have been sent after it.
    Query& send() {
        statement_->send();
        return *this;
    }

    std::int64_t integer(int column) const { return statement_->integer(column); }
    std::string text(int column) const { return statement_->text(column); }
    Bytes blob(int column) const { return statement_->blob(column); }

private:
    Statement* statement_;
};

class Connection {
public:
    virtual ~Connection() = default;

    // Where the store is, for messages: a file's path, a database's connection string.
    virtual const std::string& location() const = 0;

    // A cached prepared statement for `sql` (a string literal or a string the caller keeps).
    virtual Query query(std::string_view sql) = 0;
    // Runs SQL without parameters or results (settings, schema); several statements may follow
    // one another.
    virtual void exec(const std::string& sql) = 0;
    // The rows the last statement inserted, changed or deleted.
    virtual std::int64_t changes() const = 0;
    // Whether the store's database has a table of this name.
    virtual bool hasTable(std::string_view name) = 0;

    // Reads see one state of the store throughout; writes are serialisable: the operation runs
    // as if no other ran at the same time, or fails with a Failure marked `retry`.
    enum class TransactionKind { Read, Write };
    virtual void begin(TransactionKind kind) = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;

    // Called before every operation of the store: a connection lost since the last one is made
    // again here (or fails, saying why).
    virtual void prepareForUse() {}
};

// A transaction that rolls back unless committed.
class Transaction {
public:
    using Kind = Connection::TransactionKind;
    Transaction(Connection& db, Kind kind) : db_(db) { db_.begin(kind); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction() {
        if (open_)
            db_.rollback();
    }
    void commit() {
        db_.commit();
        open_ = false;
    }

private:
    Connection& db_;
    bool open_ = true;
};

} // namespace sky::farm::sql

// The farm store's connection to a SQLite file: prepared statements cached, SQLite's errors
// turned into the store's Status, writes that take the write lock first.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "qvcomsrv/store/sql_connection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sky::farm::sqlite {

using sql::Failure;
using sql::Query;
using sql::throwStatus;

class Database final : public sql::Connection {
public:
    // Opens an existing store file for reading and writing; `path` also names the store in
    // messages. Waits up to `busyTimeoutMs` for another connection's lock.
    Database(const std::string& path, int busyTimeoutMs);
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database() override;

    const std::string& location() const override { return path_; }
    const std::string& path() const { return path_; }

    Query query(std::string_view sql) override;
    void exec(const std::string& sql) override;
    std::int64_t changes() const override;
    bool hasTable(std::string_view name) override;

    // BEGIN IMMEDIATE for writes (the write lock is taken at once, waiting up to the busy
    // timeout, so a write never fails halfway on a lock), BEGIN for consistent reads.
    void begin(TransactionKind kind) override;
    void commit() override;
    void rollback() noexcept override;

    // Throws the Failure for a SQLite result code.
    [[noreturn]] void raise(int rc) const;

private:
    class Statement;

    std::string path_;
    sqlite3* db_ = nullptr;
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> statements_;
};

} // namespace sky::farm::sqlite

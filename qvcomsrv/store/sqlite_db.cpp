#include "qvcomsrv/store/sqlite_db.h"

#include <sqlite3.h>

namespace sky::farm::sqlite {

class Database::Statement final : public sql::Statement {
public:
    Statement(const Database& db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
    ~Statement() override { sqlite3_finalize(stmt_); }

    void bindInteger(int index, std::int64_t value) override {
        if (int rc = sqlite3_bind_int64(stmt_, index, value); rc != SQLITE_OK)
            db_.raise(rc);
    }

    void bindText(int index, std::string_view text) override {
        if (int rc = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                       SQLITE_TRANSIENT);
            rc != SQLITE_OK)
            db_.raise(rc);
    }

    void bindBlob(int index, const Bytes& bytes) override {
        if (int rc = sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                                       SQLITE_TRANSIENT);
            rc != SQLITE_OK)
            db_.raise(rc);
    }

    bool step() override {
        if (sent_) {
            sent_ = false;
            return sentRow_;
        }
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        db_.raise(rc);
    }

    // Runs at once: the first step is taken now, and its row (if any) is the next step's.
    void send() override {
        sentRow_ = step();
        sent_ = true;
    }

    std::int64_t integer(int column) const override { return sqlite3_column_int64(stmt_, column); }

    std::string text(int column) const override {
        const auto* p = sqlite3_column_text(stmt_, column);
        const int n = sqlite3_column_bytes(stmt_, column);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }

    Bytes blob(int column) const override {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, column));
        const int n = sqlite3_column_bytes(stmt_, column);
        return p ? Bytes(p, p + n) : Bytes();
    }

    void reset() noexcept override {
        sent_ = false;
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

private:
    const Database& db_;
    sqlite3_stmt* stmt_;
    bool sent_ = false;    // sent: the first step is taken
    bool sentRow_ = false; // and gave a row
};

Database::Database(const std::string& path, int busyTimeoutMs) : path_(path) {
    const int rc =
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const int code = db_ ? sqlite3_extended_errcode(db_) : rc;
        sqlite3_close(db_);
        db_ = nullptr;
        if ((code & 0xff) == SQLITE_CANTOPEN)
            throwStatus(Status::ioError("The farm store " + path + " cannot be opened."));
        throwStatus(Status::ioError("The farm store " + path +
                                    " cannot be opened: " + sqlite3_errstr(code) + "."));
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
}

Database::~Database() {
    statements_.clear();
    sqlite3_close(db_);
}

Query Database::query(std::string_view sql) {
    auto it = statements_.find(sql);
    if (it == statements_.end()) {
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                                          SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK)
            raise(rc);
        it = statements_.emplace(std::string(sql), std::make_unique<Statement>(*this, stmt)).first;
    }
    return Query(*it->second);
}

void Database::exec(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK)
        raise(rc);
}

std::int64_t Database::changes() const {
    return sqlite3_changes(db_);
}

void Database::raise(int rc) const {
    const int code = rc;
    const std::string detail = sqlite3_errmsg(db_);
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throwStatus(
            Status::busy("The farm store " + path_ +
                         " is in use by another program and did not become free in time; try "
                         "again."));
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        throwStatus(Status::corrupt("The farm store " + path_ +
                                    " is damaged or is not a farm store (" + detail + ")."));
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        throwStatus(Status::ioError("The farm store " + path_ + " cannot be read or written (" +
                                    detail + ")."));
    default:
        throwStatus(Status::internal("The farm store " + path_ + " failed: " + detail + "."));
    }
}

bool Database::hasTable(std::string_view name) {
    auto q = query("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?1");
    q.bind(1, name);
    return q.step() && q.integer(0) != 0;
}

void Database::begin(TransactionKind kind) {
    query(kind == TransactionKind::Write ? "BEGIN IMMEDIATE" : "BEGIN").run();
}

void Database::commit() {
    query("COMMIT").run();
}

void Database::rollback() noexcept {
    try {
        query("ROLLBACK").run();
    } catch (...) {
        // The transaction is gone already (SQLite rolls back on some errors by itself).
    }
}

} // namespace sky::farm::sqlite

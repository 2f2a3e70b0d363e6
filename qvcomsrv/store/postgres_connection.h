// The farm store's connection to a PostgreSQL database, over libpq.
//
// - The connection string is libpq's: "host=db1 dbname=farm user=skyloom" or a URI
//   "postgresql://skyloom@db1/farm". It must hold no password: a password in the string would
//   land in the machine's registry and in messages. Authenticate by peer (a Unix socket),
//   certificate, or a password file (~/.pgpass, or passfile=... in the string).
// - Nothing waits without end: the connection is made within connect_timeout seconds (10 unless
//   the string says otherwise), TCP keepalives notice a server that went away, a statement runs
//   at most statement_timeout (30 s) and waits for another program's lock at most lock_timeout
//   (5 s, the SQLite store's busy timeout), after which it fails with Busy. The server's answer
//   is awaited here too, at most statement_timeout and answerMarginMs (35 s in all): a server
//   that does not answer at all (stopped, or a commit waiting for a synchronous standby that is
//   gone, which statement_timeout does not bound) fails the call with Unavailable, the
//   connection is dropped, and the next call connects again. The server notices a dropped
//   client within client_connection_check_interval (5 s) even inside such a wait, and gives up
//   the transaction's locks.
// - Writes run SERIALIZABLE: a write that conflicts with another program's fails marked `retry`,
//   and the store runs the operation again. Reads of several statements run REPEATABLE READ,
//   READ ONLY: one state of the store throughout.
// - Statements go in libpq's pipeline mode. A statement sent (Query::send) does not wait for its
//   answer: the statements sent one after another, a transaction's BEGIN before the first and
//   each statement's preparation before its first run, go to the server together, and the
//   connection waits once (sync) when a statement's rows are read or at the COMMIT, which joins
//   the pipeline. The first failure among them is thrown then, as that statement's failure; the
//   rest of the pipeline was not run. A transaction that runs no statement sends nothing. Each
//   answer is awaited within the bound above; between operations the connection is never in
//   pipeline mode.
// - Text goes to the server as C strings: text holding a NUL character, which no text of the
//   database can hold, is refused (InvalidArgument) before it is sent.
// - A connection is checked before each operation, without a round trip: one that the server
//   closed meanwhile (it restarted, failed over, or ended the session) is replaced at once, on
//   whichever host of the string libpq finds, and the operation goes on. A connection that breaks
//   once an operation has sent a statement fails that operation with Unavailable, and the
//   operation is not run again (what it sent may have been done); the next operation connects
//   again. A server that vanished without closing its connections (its machine lost) is noticed
//   by the keepalives, or by the first statement sent to it. A server ending a session says why
//   before it closes the socket; a connection whose server said so is closed already, whether or
//   not the socket has gone yet.
// - A server that takes writes must not be behind the farm. Its generation is its timeline, which
//   every promotion of a standby advances: the connection reads it with its first statements,
//   and the machine keeps the highest timeline it has seen the farm's database cluster on (by its
//   system identifier) in <machine>/farms/timelines/IDENTIFIER, which every program of the
//   machine reads and raises. A writable server on a lower timeline is an old primary that a
//   failover left behind: it is refused with an error naming it, and the hosts of the string
//   after it are tried. Before each operation an open connection is checked against the machine's
//   record again (a file read, no round trip), so that a program still connected to an old
//   primary leaves it once another program of the machine has seen the new one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qvcomsrv/store/sql_connection.h"

struct pg_conn;
struct pg_result;

namespace sky::farm::postgres {

struct ConnectionOptions {
    int connectTimeoutSeconds = 10;
    int statementTimeoutMs = 30000;
    int lockTimeoutMs = 5000;
    int answerMarginMs = 5000; // beyond statementTimeoutMs, before the server is given up
};

// Ok when `conninfo` is a connection string libpq reads and holds no password.
Status checkConnectionString(std::string_view conninfo);

// The same connection (server, user, options) to another database of the server, as key=value
// pairs. InvalidArgument when libpq cannot read `conninfo`.
Result<std::string> conninfoForDatabase(std::string_view conninfo, std::string_view database);

// libpq's words as one line, without the line breaks and the full stop it ends with.
std::string oneLine(std::string_view text);

class Connection final : public sql::Connection {
public:
    // Connects; Unavailable with libpq's words (which name the server) when it cannot.
    Connection(std::string conninfo, const ConnectionOptions& options);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() override;

    const std::string& location() const override { return conninfo_; }

    sql::Query query(std::string_view sql) override;
    void exec(const std::string& sql) override;
    std::int64_t changes() const override { return changes_; }
    bool hasTable(std::string_view name) override;

    void begin(TransactionKind kind) override;
    void commit() override;
    void rollback() noexcept override;

    void prepareForUse() override;

    // The times the connections of this process have waited for their servers' answers: each
    // a round trip (a pipeline's statements and their sync count once).
    static std::uint64_t serverWaits() { return serverWaits_.load(); }
    // The times they have read their sockets for those answers: once or so a wait, however
    // many answers it brings.
    static std::uint64_t socketReads() { return socketReads_.load(); }

private:
    class Statement;

    void connect();
    void disconnect() noexcept;
    // Whether the idle connection is still open, from what waits on its socket: no round trip.
    bool stillOpen() noexcept;
    // Checks a statement's outcome; throws the Failure for an error, and frees `result` then.
    void check(pg_result* result, const char* doing);
    [[noreturn]] void raiseLost(const std::string& why);
    // Waits until the server has answered what was sent, so that PQgetResult does not block;
    // drops the connection and throws Unavailable when it does not answer in time.
    void awaitAnswer();
    // The result of what was sent, as PQexec gives it (the last, or the first that failed).
    pg_result* answer();
    // Enters pipeline mode, when not in it, with the pending BEGIN sent first.
    void enterPipeline();
    // Sends `statement` (sendIt sends it) into the pipeline; its result comes with sync().
    void send(Statement& statement, const std::function<int()>& sendIt);
    // A statement dropped before its result came: the result is still checked, then dropped.
    void forget(const Statement& statement) noexcept;
    // Ends the pipeline: sends its sync and waits for what was sent (one round trip), handing
    // each statement its result. The first failure is thrown, once all is answered.
    void sync();
    // Gives the connection up when the pipeline could not be sent; throws Unavailable.
    [[noreturn]] void abandonPipeline(const char* doing);
    // Sends a BEGIN that waits for a statement to go with, on its own.
    void sendPendingBegin();

    // Connects to the hosts of the string from number `firstHost` on; the refusals of earlier
    // hosts, if any, are named in the error when none is left.
    void connectFrom(std::size_t firstHost, const std::string& refusals);
    // Reads the server's system identifier and timeline with the session's settings; empty when
    // the server is writable and behind the machine's record, else what refused it.
    std::string checkGeneration();
    // Whether the machine has seen the farm on a timeline later than this connection's server's.
    bool behindTheMachine() const;

    std::string conninfo_;
    ConnectionOptions options_;
    pg_conn* conn_ = nullptr;
    bool lost_ = false;
    bool ending_ = false;       // the server said it is ending the session
    bool committing_ = false;   // a COMMIT is on its way
    std::string system_;        // the server's system identifier, when it takes writes
    std::int64_t timeline_ = 0; // and its timeline
    std::int64_t changes_ = 0;
    const char* pendingBegin_ = nullptr; // the BEGIN to send with the next statement
    // What the pipeline holds (in the order sent), when the connection is in pipeline mode.
    struct Pending {
        Statement* owner;     // the statement the result is for; none when nobody waits for it
        Statement* preparing; // the statement this prepares
        const char* doing;
        bool commit;
    };
    std::vector<Pending> pipeline_;
    bool inPipeline_ = false;
    static std::atomic<std::uint64_t> serverWaits_;
    static std::atomic<std::uint64_t> socketReads_;
    int prepared_ = 0; // statements prepared on this connection, for their names
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> statements_;
};

// "$1, $2" for "?1, ?2": the store writes parameters as SQLite numbers them, PostgreSQL numbers
// them with a dollar sign. Text in quotes is left alone. `count` is the highest number used.
std::string numberedParameters(std::string_view sql, int& count);

// The machine's record of the highest timeline a farm's database cluster (by its system
// identifier) was seen on by a program of this machine, where, and when.
struct KnownTimeline {
    std::int64_t timeline = 0; // 0: none recorded
    std::string server;        // "the server at \"db2\", port 5432"
    std::string time;          // UTC, ISO 8601
};
KnownTimeline knownTimeline(const std::string& systemIdentifier);
// Raises the record to `timeline` when it is below; a machine whose record cannot be written
// (a program run by an account that does not own the machine) leaves it as it is.
void raiseKnownTimeline(const std::string& systemIdentifier, std::int64_t timeline,
                        const std::string& server);

} // namespace sky::farm::postgres

// A PostgreSQL database of its own for one test, on the throwaway cluster that CTest starts for
// the tests that need one (scripts/postgres-cluster, fixture "postgres_cluster"): created empty,
// dropped at the end of the test with every connection to it.
#pragma once

#include <string>
#include <vector>

namespace sky::farm::testing {

class PostgresTestDatabase {
public:
    // Fails the test (throws) when the cluster cannot be reached: a test never skips for want of
    // it.
    PostgresTestDatabase();
    ~PostgresTestDatabase();
    PostgresTestDatabase(const PostgresTestDatabase&) = delete;
    PostgresTestDatabase& operator=(const PostgresTestDatabase&) = delete;

    const std::string& name() const { return name_; }
    // "host=/tmp/skypg-... user=skyfarm dbname=NAME"
    const std::string& conninfo() const { return conninfo_; }
    // The same as a URI: "postgresql://skyfarm@/NAME?host=/tmp/skypg-..."
    std::string uri() const;

    // Runs SQL on the database through a connection of its own, as a tool beside the store
    // would; throws with the server's message when it fails.
    void run(const std::string& sql) const;

    // The cluster's socket folder and a connection string for one of its databases.
    static std::string host();
    static std::string conninfoFor(const std::string& database);

private:
    std::string name_;
    std::string conninfo_;
};

// A cluster of the test's own, for a test that restarts the server, which would break the
// connections of every other test on the shared cluster. Started by the constructor (a second or
// two), stopped and removed by the destructor.
class PostgresTestCluster {
public:
    PostgresTestCluster();
    ~PostgresTestCluster();
    PostgresTestCluster(const PostgresTestCluster&) = delete;
    PostgresTestCluster& operator=(const PostgresTestCluster&) = delete;

    // A connection string for one of its databases; createDatabase makes one.
    std::string conninfo(const std::string& database) const;
    void createDatabase(const std::string& database) const;
    // Stops the server (fast: every connection breaks) and starts it again.
    void restart() const;
    // Stops every process of the server where it stands (SIGSTOP: the server and its backends
    // answer nothing, as a hung server), and lets them go on (SIGCONT).
    void freeze() const;
    void thaw() const;

private:
    // The server's process and its children (the backends and helpers).
    std::vector<int> processes() const;
    std::string host_;
};

// A primary and its synchronous standby of the test's own, for failover tests: two clusters made
// by scripts/postgres-cluster (start, then standby), each listening on a Unix socket in its own
// folder, under a folder beside the shared test cluster's (<cluster>-pair-PID-N). The constructor
// starts them (two seconds or so) and the destructor stops and removes them; a test killed before
// its destructor ran leaves them to the fixture's cleanup (postgres_cluster_stop), which removes
// every pair whatever the tests' outcome.
class PostgresTestPair {
public:
    PostgresTestPair();
    ~PostgresTestPair();
    PostgresTestPair(const PostgresTestPair&) = delete;
    PostgresTestPair& operator=(const PostgresTestPair&) = delete;

    // The socket folders of the server that started as the primary and of its standby.
    const std::string& primary() const { return primary_; }
    const std::string& standby() const { return standby_; }
    // A string naming both, the first primary first, for whichever takes writes:
    // "host=P,S user=skyfarm dbname=D target_session_attrs=read-write".
    std::string conninfo(const std::string& database) const;
    // A string naming one of them.
    static std::string conninfoOf(const std::string& host, const std::string& database);
    // Makes a database on the primary; the standby gets it by replication.
    void createDatabase(const std::string& database) const;
    // Stops a server ("fast": sessions are ended and told so; "immediate": the server's processes
    // are killed), promotes a standby, starts a stopped server again as it was (a primary comes
    // back as a primary, not fenced).
    void halt(const std::string& host, const std::string& mode) const;
    void promote(const std::string& host) const;
    void resume(const std::string& host) const;
    // Fences a server by making it anew: its cluster goes, and a base backup of the primary in
    // `primary` takes its place as that primary's synchronous standby.
    void makeStandby(const std::string& host, const std::string& primary) const;

private:
    void remove() const;
    std::string folder_, primary_, standby_;
};

// Runs SQL through a connection of its own; throws with the server's message when it fails.
void runPostgresSql(const std::string& conninfo, const std::string& sql);
// The first column of the rows a query returns, as text (NULL as "").
std::vector<std::string> queryPostgresColumn(const std::string& conninfo, const std::string& sql);

} // namespace sky::farm::testing

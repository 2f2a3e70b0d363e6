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

// Runs SQL through a connection of its own; throws with the server's message when it fails.
void runPostgresSql(const std::string& conninfo, const std::string& sql);
// The first column of the rows a query returns, as text (NULL as "").
std::vector<std::string> queryPostgresColumn(const std::string& conninfo, const std::string& sql);

} // namespace sky::farm::testing

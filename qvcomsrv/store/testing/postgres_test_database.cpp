#include "qvcomsrv/store/testing/postgres_test_database.h"

#include <libpq-fe.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace sky::farm::testing {

namespace {

std::atomic<int> created{0};

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

namespace {

// Runs `sql` and hands its result to `take`.
template <class Take>
void withResult(const std::string& conninfo, const std::string& sql, Take take) {
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string why = PQerrorMessage(conn);
        PQfinish(conn);
        throw std::runtime_error("the test cluster cannot be reached (" + conninfo + "): " + why +
                                 " CTest starts it (fixture postgres_cluster); run the test "
                                 "through ctest, or start it with scripts/postgres-cluster.");
    }
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    PGresult* result = PQexec(conn, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    const std::string why = PQresultErrorMessage(result);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        take(result);
    PQclear(result);
    PQfinish(conn);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error("SQL failed on " + conninfo + ": " + why);
}

} // namespace

void runPostgresSql(const std::string& conninfo, const std::string& sql) {
    withResult(conninfo, sql, [](PGresult*) {});
}

std::vector<std::string> queryPostgresColumn(const std::string& conninfo, const std::string& sql) {
    std::vector<std::string> values;
    withResult(conninfo, sql, [&](PGresult* result) {
        for (int row = 0; row < PQntuples(result); ++row)
            values.push_back(PQgetvalue(result, row, 0));
    });
    return values;
}

std::string PostgresTestDatabase::host() {
    return SKY_TEST_POSTGRES_HOST;
}

std::string PostgresTestDatabase::conninfoFor(const std::string& database) {
    return "host=" + host() + " user=skyfarm dbname=" + database;
}

// Runs scripts/postgres-cluster ACTION HOST [MORE].
static void clusterScript(const std::string& action, const std::string& host,
                          const std::string& more = {}) {
    const std::string command = quoted(std::string(SKY_SOURCE_DIR) + "/scripts/postgres-cluster") +
                                " " + action + " " + quoted(host) +
                                (more.empty() ? "" : " " + quoted(more)) + " >/dev/null";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("the test's own cluster failed: " + command);
}

PostgresTestPair::PostgresTestPair()
    : folder_(PostgresTestDatabase::host() + "-pair-" + std::to_string(getpid()) + "-" +
              std::to_string(++created)),
      primary_(folder_ + "/a"), standby_(folder_ + "/b") {
    std::filesystem::create_directories(folder_);
    std::filesystem::permissions(
        folder_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                     std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                     std::filesystem::perms::others_exec);
    try {
        clusterScript("start", primary_);
        clusterScript("standby", standby_, primary_);
    } catch (...) {
        remove();
        throw;
    }
}

PostgresTestPair::~PostgresTestPair() {
    remove();
}

void PostgresTestPair::remove() const {
    for (const std::string& host : {primary_, standby_}) {
        try {
            clusterScript("stop", host);
        } catch (const std::exception&) {
            // The fixture's cleanup removes what is left.
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string PostgresTestPair::conninfo(const std::string& database) const {
    return "host=" + primary_ + "," + standby_ + " user=skyfarm dbname=" + database +
           " target_session_attrs=read-write";
}

std::string PostgresTestPair::conninfoOf(const std::string& host, const std::string& database) {
    return "host=" + host + " user=skyfarm dbname=" + database;
}

void PostgresTestPair::createDatabase(const std::string& database) const {
    runPostgresSql(conninfoOf(primary_, "postgres"), "CREATE DATABASE " + database);
}

void PostgresTestPair::halt(const std::string& host, const std::string& mode) const {
    clusterScript("halt", host, mode);
}

void PostgresTestPair::promote(const std::string& host) const {
    clusterScript("promote", host);
}

void PostgresTestPair::resume(const std::string& host) const {
    clusterScript("resume", host);
}

void PostgresTestPair::makeStandby(const std::string& host, const std::string& primary) const {
    clusterScript("stop", host);
    clusterScript("standby", host, primary);
}

PostgresTestCluster::PostgresTestCluster()
    : host_("/tmp/skypg-own-" + std::to_string(getpid()) + "-" + std::to_string(++created)) {
    clusterScript("start", host_);
}

PostgresTestCluster::~PostgresTestCluster() {
    try {
        clusterScript("stop", host_);
    } catch (const std::exception&) {
        // Nothing more to do; the folder under /tmp stays for whoever looks.
    }
}

std::string PostgresTestCluster::conninfo(const std::string& database) const {
    return "host=" + host_ + " user=skyfarm dbname=" + database;
}

void PostgresTestCluster::createDatabase(const std::string& database) const {
    runPostgresSql(conninfo("postgres"), "CREATE DATABASE " + database);
}

void PostgresTestCluster::restart() const {
    clusterScript("restart", host_);
}

std::vector<int> PostgresTestCluster::processes() const {
    int server = 0;
    std::ifstream(host_ + "/data/postmaster.pid") >> server;
    if (server <= 0)
        throw std::runtime_error("the test's own cluster in " + host_ + " has no server process");
    std::vector<int> found{server};
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // "pid (command) state ppid ...": the command may hold spaces, so read after its ')'.
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
            parent == server)
            found.push_back(std::stoi(name));
    }
    return found;
}

void PostgresTestCluster::freeze() const {
    for (int pid : processes())
        kill(pid, SIGSTOP);
}

void PostgresTestCluster::thaw() const {
    for (int pid : processes())
        kill(pid, SIGCONT);
}

PostgresTestDatabase::PostgresTestDatabase()
    : name_("farm_test_" + std::to_string(getpid()) + "_" + std::to_string(++created)),
      conninfo_(conninfoFor(name_)) {
    runPostgresSql(conninfoFor("postgres"), "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    runPostgresSql(conninfoFor("postgres"), "CREATE DATABASE " + name_);
}

PostgresTestDatabase::~PostgresTestDatabase() {
    try {
        runPostgresSql(conninfoFor("postgres"),
                       "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (const std::exception&) {
        // The cluster went already; CTest removes it with everything in it.
    }
}

std::string PostgresTestDatabase::uri() const {
    std::string encodedHost;
    for (char c : host())
        encodedHost += c == '/' ? std::string("%2F") : std::string(1, c);
    return "postgresql://skyfarm@/" + name_ + "?host=" + encodedHost;
}

void PostgresTestDatabase::run(const std::string& sql) const {
    runPostgresSql(conninfo_, sql);
}

} // namespace sky::farm::testing

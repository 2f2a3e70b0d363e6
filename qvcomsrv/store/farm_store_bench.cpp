// The farm store on a large farm: 500 servers, 10,000 applications with 3 servers, 5 users,
// 2 groups and an icon each (5,000 and 100,000 with SKY_BENCH_FARM=large; the saves and
// publishes stay 10,000); every benchmark on both kinds of store (argument "kind": 0 a SQLite
// file, 1 a PostgreSQL database). The PostgreSQL store runs on a cluster of its own that the
// benchmark starts (scripts/postgres-cluster, durable: every commit flushed to disk, as a
// server's default is) and removes at the end; BM_BareCommit measures that cluster's floor, a
// one-row commit. The ratios of saves to that floor, and of saves with the audit trail to saves
// without it, are printed at the end. The PostgreSQL saves and the bare commit also count the
// cluster's CPU time per save or commit ("server CPU"), which the client's CPU time leaves out.
// BM_SaveSizedCommit is a second floor: a commit of one row holding the bytes a new
// application's save writes, printed in ratio to the saves and to the bare commit. The third,
// BM_OneStatementCreate and BM_OneStatementChange, is the least the server can do for a save:
// the rows it writes, in one hand-written statement with nothing looked up.
#include <libpq-fe.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/postgres_farm_store.h"
#include "qvcomsrv/store/sql_schema.h"
#include "qvcomsrv/store/sqlite_farm_store.h"
#include "sky/bench_support.h"

namespace fs = std::filesystem;
using namespace sky::farm;

namespace {

const sky::bench::FarmSize kSize = sky::bench::farmSize();
const int kServers = kSize.servers;
const int kApplications = kSize.applications;
// The applications a run saves or publishes, at every size of farm.
constexpr int kHandled = 10000;
constexpr int kFolders = 20;

std::string serverName(int i) {
    return "SRV" + std::to_string(1000 + i);
}

fs::path scratchDirectory() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "farmstore-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        // The cluster inside runs as a user of its own when the benchmark runs as root.
        fs::permissions(pattern, fs::perms::others_exec | fs::perms::group_exec,
                        fs::perm_options::add);
        return fs::path(pattern);
    }();
    return dir;
}

Bytes iconFor(int i) {
    IconPicture picture;
    picture.pixels.fill(0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8));
    return encodeIcon(picture);
}

Application benchApplication(int i) {
    Application app;
    app.folder = "Applications/Folder" + std::to_string(i % kFolders);
    app.name = "Application " + std::to_string(i);
    app.description = "Benchmark application " + std::to_string(i);
    (void)app.settings.set(AppSetting::DefaultInitProg,
                           "C:\\Program Files\\App" + std::to_string(i) + "\\app.exe");
    (void)app.settings.set(AppSetting::DefaultEncryption, i % 6);
    for (int s = 0; s < 3; ++s)
        app.servers.push_back(serverName((i + s * 37) % 100)); // the first 100 servers
    for (int u = 0; u < 5; ++u)
        app.users.push_back({2, 1, "CORP", "user" + std::to_string((i * 5 + u) % 3000)});
    app.groups = {{4, 1, "CORP", "Group" + std::to_string(i % 50)},
                  {6, 3, "corp.example", "Readers" + std::to_string(i % 7)}};
    app.icon = iconFor(i % 64);
    return app;
}

// A farm of 500 servers and the folders, and no applications.
FarmImage emptyLargeFarm() {
    FarmImage image;
    image.farm.name = "Bench";
    image.zones = {{"East", serverName(0)}, {"West", serverName(1)}};
    for (int i = 0; i < kServers; ++i)
        image.servers.push_back({serverName(i), i % 2 ? "West" : "East", 5, i % 3 ? 2 : 0});
    for (int f = 0; f < kFolders; ++f)
        image.folders.push_back("Applications/Folder" + std::to_string(f));
    return image;
}

enum Kind { kSqlite = 0, kPostgres = 1 };

std::string clusterHost() {
    return (scratchDirectory() / "cluster").string();
}

std::string conninfoFor(const std::string& database) {
    return "host=" + clusterHost() + " user=skyfarm dbname=" + database;
}

void runOnDatabase(const std::string& database, const std::string& sql) {
    PGconn* conn = PQconnectdb(conninfoFor(database).c_str());
    PGresult* result = PQexec(conn, sql.c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!ok)
        std::fprintf(stderr, "%s: %s", sql.c_str(), PQerrorMessage(conn));
    PQclear(result);
    PQfinish(conn);
    if (!ok)
        std::abort();
}

void runOnCluster(const std::string& sql) {
    runOnDatabase("postgres", sql);
}

std::string clusterScript(const std::string& action) {
    return std::string("'") + SKY_SOURCE_DIR + "/scripts/postgres-cluster' " + action + " '" +
           clusterHost() + "'";
}

// The CPU time the benchmark's cluster has taken, in microseconds: its server process and the
// processes it runs (each connection's backend, the log writer), those that ended included, as
// the server collected them.
double clusterCpuMicroseconds() {
    std::ifstream pidFile(fs::path(clusterHost()) / "data" / "postmaster.pid");
    long server = 0;
    if (!(pidFile >> server))
        return 0;
    const double tick = 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
    double total = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // pid (comm) state ppid ... utime stime cutime cstime: fields 4 and 14 to 17; the name
        // in parentheses may hold spaces.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string state;
        long parent = 0;
        fields >> state >> parent;
        std::string skipped;
        for (int field = 5; field < 14; ++field)
            fields >> skipped;
        double user = 0, system = 0, childUser = 0, childSystem = 0;
        fields >> user >> system >> childUser >> childSystem;
        const long pid = std::atol(entry.path().filename().c_str());
        if (pid == server)
            total += (user + system + childUser + childSystem) * tick;
        else if (parent == server)
            total += (user + system) * tick;
    }
    return total;
}

// Adds the cluster's CPU time from construction to destruction to `total`.
class ClusterCpu {
public:
    explicit ClusterCpu(double& total) : total_(total), start_(clusterCpuMicroseconds()) {}
    ~ClusterCpu() { total_ += clusterCpuMicroseconds() - start_; }
    ClusterCpu(const ClusterCpu&) = delete;
    ClusterCpu& operator=(const ClusterCpu&) = delete;

private:
    double& total_;
    double start_;
};

StoreLocation storeLocation(Kind kind, const std::string& name) {
    if (kind == kSqlite)
        return {std::string(kSqliteStoreType), (scratchDirectory() / (name + ".db")).string()};
    return {std::string(kPostgresStoreType), conninfoFor("bench_" + name)};
}

std::unique_ptr<FarmStore> freshStore(Kind kind, const std::string& name, const FarmImage& image) {
    const StoreLocation location = storeLocation(kind, name);
    if (kind == kSqlite) {
        for (const char* suffix : {"", "-wal", "-shm"})
            fs::remove(location.path + suffix);
    } else {
        runOnCluster("DROP DATABASE IF EXISTS bench_" + name + " WITH (FORCE)");
        runOnCluster("CREATE DATABASE bench_" + name);
    }
    auto store = createFarmStore(location, image.farm);
    if (!store || !(*store)->replace(image))
        std::abort();
    return std::move(*store);
}

// The full farm of each kind, built once and shared by the benchmarks that only read, publish
// or change applications; the threads of a benchmark that asks first wait for the one that
// builds it (BM_SaveOnTheLargeFarm with four threads, run alone, built it four times at once).
FarmStore& largeFarm(Kind kind) {
    static std::mutex building;
    static std::unique_ptr<FarmStore> stores[2];
    std::lock_guard lock(building);
    if (!stores[kind]) {
        FarmImage image = emptyLargeFarm();
        for (int i = 0; i < kApplications; ++i)
            image.applications.push_back(benchApplication(i));
        stores[kind] = freshStore(kind, "large", image);
    }
    return *stores[kind];
}

// Another connection to the large farm, as another program (or server) has.
std::unique_ptr<FarmStore> anotherConnection(Kind kind) {
    largeFarm(kind);
    auto store = openFarmStore(storeLocation(kind, "large"));
    if (!store)
        std::abort();
    return std::move(*store);
}

Kind kindOf(const benchmark::State& state) {
    return static_cast<Kind>(state.range(0));
}

void BM_EnumerateApplicationsReadingEverySetting(benchmark::State& state) {
    FarmStore& store = largeFarm(kindOf(state));
    const auto icons = state.range(1) ? IconLoading::Load : IconLoading::Skip;
    for (auto _ : state) {
        auto apps = store.applications(icons);
        if (!apps || apps->size() != static_cast<std::size_t>(kApplications))
            state.SkipWithError("enumeration failed");
        std::int64_t sum = 0;
        for (const Application& app : *apps) {
            for (std::size_t i = 0; i < AppSettings::size(); ++i) {
                const auto id = static_cast<AppSetting>(i);
                sum += definition(id).isText()
                           ? static_cast<std::int64_t>(app.settings.text(id).size())
                           : app.settings.number(id);
            }
            sum += static_cast<std::int64_t>(app.servers.size() + app.users.size() +
                                             app.groups.size());
            if (app.icon)
                sum += static_cast<std::int64_t>(app.icon->size());
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kApplications);
    state.counters["applications/s"] = benchmark::Counter(
        static_cast<double>(kApplications), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_EnumerateApplicationsReadingEverySetting)
    ->ArgNames({"kind", "icons"})
    ->ArgsProduct({{kSqlite, kPostgres}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// As take-offline and clone read a server: its applications, without icons.
void BM_ApplicationsOfOneServer(benchmark::State& state) {
    FarmStore& store = largeFarm(kindOf(state));
    int i = 0;
    for (auto _ : state) {
        auto apps = store.applicationsOnServer(serverName(i++ % 100), IconLoading::Skip);
        if (!apps || apps->empty())
            state.SkipWithError("enumeration failed");
    }
}
BENCHMARK(BM_ApplicationsOfOneServer)
    ->ArgName("kind")
    ->Arg(kSqlite)
    ->Arg(kPostgres)
    ->Unit(benchmark::kMillisecond);

// Each kind without the audit trail (argument "audited" 0) and with it (1), the two runs of one
// kind one after the other, so that the trail's cost is their difference under the same load.
// The rates are per second of the benchmark thread's CPU time, which another program's load on
// a shared machine hardly moves; on PostgreSQL that leaves out the server's share of a save,
// which the wall times show.
void withAndWithoutTheTrail(benchmark::internal::Benchmark* b) {
    for (const Kind kind : {kSqlite, kPostgres})
        b->Args({kind, 0})->Args({kind, 1});
}

// Saves with the audit trail recording each one (argument 1) and without it (0), in one run, so
// the trail's cost is the difference.
void BM_CreateAndSave10000Applications(benchmark::State& state) {
    const bool audited = state.range(1) != 0;
    const FarmImage empty = emptyLargeFarm();
    double serverCpu = 0;
    std::vector<Application> apps;
    for (int i = 0; i < kHandled; ++i)
        apps.push_back(benchApplication(i));
    for (auto _ : state) {
        state.PauseTiming();
        auto store = freshStore(kindOf(state), "saves", empty);
        store->setAuditing(audited);
        state.ResumeTiming();
        ClusterCpu measured(serverCpu);
        for (const Application& app : apps) {
            if (!store->saveApplication(app, nullptr)) {
                state.SkipWithError("save failed");
                break;
            }
        }
    }
    state.counters["saves/s"] = benchmark::Counter(static_cast<double>(kHandled),
                                                   benchmark::Counter::kIsIterationInvariantRate);
    if (kindOf(state) == kPostgres)
        state.counters["server CPU us/save"] =
            serverCpu / static_cast<double>(state.iterations() * kHandled);
}
BENCHMARK(BM_CreateAndSave10000Applications)
    ->ArgNames({"kind", "audited"})
    ->Apply(withAndWithoutTheTrail)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// Administrators changing applications of the large farm, one SaveData each, from one or four
// programs at once (each thread a connection of its own), on different applications: the
// saves of all threads together per second.
// Each thread's saves a run: enough that the cluster's CPU time, counted in ticks of 10 ms, is
// had to 10 us a save.
constexpr int kSavesPerThread = 500;

void BM_SaveOnTheLargeFarm(benchmark::State& state) {
    auto store = anotherConnection(kindOf(state));
    auto all = store->applications(IconLoading::Skip);
    if (!all)
        std::abort();
    const int first = state.thread_index() * kSavesPerThread;
    int round = 0;
    double serverCpu = 0;
    for (auto _ : state) {
        ++round;
        // With one writer, the cluster's CPU time is this thread's saves'.
        ClusterCpu measured(serverCpu);
        for (int i = first; i < first + kSavesPerThread; ++i) {
            const Application& loaded = (*all)[static_cast<std::size_t>(i)];
            Application edit = loaded;
            edit.description = "Changed in round " + std::to_string(round) + " by thread " +
                               std::to_string(state.thread_index());
            if (!store->saveApplication(edit, &loaded)) {
                state.SkipWithError("save failed");
                break;
            }
        }
    }
    state.counters["saves/s"] = benchmark::Counter(static_cast<double>(kSavesPerThread),
                                                   benchmark::Counter::kIsIterationInvariantRate);
    if (kindOf(state) == kPostgres && state.threads() == 1)
        state.counters["server CPU us/save"] =
            serverCpu / static_cast<double>(state.iterations() * kSavesPerThread);
}
BENCHMARK(BM_SaveOnTheLargeFarm)
    ->ArgName("kind")
    ->Arg(kSqlite)
    ->Arg(kPostgres)
    ->Threads(1)
    ->Threads(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// Runs `sql` prepared, once an iteration, each a transaction of its own (serialisable, as the
// store's writes are, where `serialisable`) on a connection to `database`, with the text
// parameters `row(n)` gives for the iteration's number n (from 0); bytes where a parameter's
// entry in `binary` is set.
void runOneStatementEach(benchmark::State& state, const std::string& database,
                         const std::string& sql,
                         const std::function<std::vector<std::string>(long)>& row,
                         const std::vector<bool>& binary, bool serialisable) {
    PGconn* conn = PQconnectdb(conninfoFor(database).c_str());
    if (serialisable)
        PQclear(PQexec(conn, "SET default_transaction_isolation = serializable"));
    PGresult* prepared = PQprepare(conn, "save", sql.c_str(), 0, nullptr);
    if (PQresultStatus(prepared) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "%s", PQerrorMessage(conn));
        std::abort();
    }
    PQclear(prepared);
    long n = 0;
    double serverCpu = 0;
    std::optional<ClusterCpu> measured(std::in_place, serverCpu);
    for (auto _ : state) {
        const std::vector<std::string> parameters = row(n++);
        std::vector<const char*> values;
        std::vector<int> lengths, formats;
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            values.push_back(parameters[i].c_str());
            lengths.push_back(static_cast<int>(parameters[i].size()));
            formats.push_back(i < binary.size() && binary[i] ? 1 : 0);
        }
        PGresult* result = PQexecPrepared(conn, "save", static_cast<int>(values.size()),
                                          values.data(), lengths.data(), formats.data(), 0);
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            std::fprintf(stderr, "%s", PQerrorMessage(conn));
            state.SkipWithError("statement failed");
        }
        PQclear(result);
    }
    measured.reset();
    PQfinish(conn);
    state.counters["commits/s"] =
        benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["server CPU us/commit"] = serverCpu / static_cast<double>(state.iterations());
}

// Commits a row an iteration into a table of a database of its own, each a transaction of its
// own: the row's number n, and the parameters `row(n)` gives for columns of the SQL types
// `types` after it (text, or bytes where the type is bytea).
void commitARowEach(benchmark::State& state, const std::string& database,
                    const std::vector<std::string>& types,
                    const std::function<std::vector<std::string>(long)>& row) {
    runOnCluster("DROP DATABASE IF EXISTS " + database + " WITH (FORCE)");
    runOnCluster("CREATE DATABASE " + database);
    std::string table = "CREATE TABLE t (n bigint";
    std::string insert = "INSERT INTO t VALUES ($1";
    std::vector<bool> binary{false};
    for (std::size_t c = 0; c < types.size(); ++c) {
        table += ", c" + std::to_string(c) + " " + types[c];
        insert += ", $" + std::to_string(c + 2);
        binary.push_back(types[c] == "bytea");
    }
    runOnDatabase(database, table + ")");
    runOneStatementEach(
        state, database, insert + ")",
        [&](long n) {
            std::vector<std::string> values{std::to_string(n + 1)};
            for (std::string& value : row(n + 1))
                values.push_back(std::move(value));
            return values;
        },
        binary, false);
}

// The floor of a durable write on the cluster: one row inserted and committed, as a transaction
// of its own.
void BM_BareCommit(benchmark::State& state) {
    commitARowEach(state, "bench_floor", {}, [](long) { return std::vector<std::string>(); });
}
BENCHMARK(BM_BareCommit)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

// What a new application's save writes, as one row: its names, settings, servers and accounts
// as text, and its icon.
std::string savedText(const Application& app) {
    std::string text = app.folder + "\t" + app.name + "\t" + app.description;
    for (std::size_t i = 0; i < AppSettings::size(); ++i) {
        const auto id = static_cast<AppSetting>(i);
        text += "\t" + (definition(id).isText() ? app.settings.text(id)
                                                : std::to_string(app.settings.number(id)));
    }
    for (const std::string& server : app.servers)
        text += "\t" + server;
    for (const auto* accounts : {&app.users, &app.groups}) {
        for (const Account& account : *accounts)
            text += "\t" + std::to_string(account.accountType) + " " +
                    std::to_string(account.authorityType) + " " + account.authorityName + " " +
                    account.name;
    }
    return text;
}

// The floor of a save's own commit: one statement inserting one row that holds the bytes a new
// application's save writes (its text and icon, as BM_CreateAndSave10000Applications saves
// them), committed as a transaction of its own. It flushes as much of the table's data as a
// save does, without a save's indexes, references and look-ups.
void BM_SaveSizedCommit(benchmark::State& state) {
    std::vector<std::string> texts, icons;
    for (int i = 0; i < kHandled; ++i) {
        const Application app = benchApplication(i);
        texts.push_back(savedText(app));
        icons.emplace_back(app.icon->begin(), app.icon->end());
    }
    commitARowEach(state, "bench_floor_save", {"text", "bytea"}, [&](long n) {
        const auto i = static_cast<std::size_t>(n % kHandled);
        return std::vector<std::string>{texts[i], icons[i]};
    });
}
BENCHMARK(BM_SaveSizedCommit)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

// A PostgreSQL array literal of texts: {"a","b"}, each element quoted.
std::string textArray(const std::vector<std::string>& items) {
    std::string literal = "{";
    for (const std::string& item : items) {
        literal += literal.size() > 1 ? ",\"" : "\"";
        for (const char c : item) {
            if (c == '"' || c == '\\')
                literal += '\\';
            literal += c;
        }
        literal += '"';
    }
    return literal + "}";
}

// Ids of the rows of `table` by their `key` column, read from `database`.
std::unordered_map<std::string, std::string>
idsByKey(const std::string& database, const std::string& table, const std::string& key) {
    PGconn* conn = PQconnectdb(conninfoFor(database).c_str());
    PGresult* result = PQexec(conn, ("SELECT " + key + ", id FROM " + table).c_str());
    std::unordered_map<std::string, std::string> ids;
    for (int r = 0; r < PQntuples(result); ++r)
        ids.emplace(PQgetvalue(result, r, 0), PQgetvalue(result, r, 1));
    PQclear(result);
    PQfinish(conn);
    return ids;
}

const char* const kAuditColumns = "change_id, \"time\", account, account_key, machine, operation, "
                                  "dn, dn_key, setting, has_old, old_value, has_new, new_value";

// The least the server can do for a new application's save: the rows the store writes for it
// (the row with every setting, its publications, grants and icon, and the audit trail's entry),
// in one statement with nothing looked up or read back, committed on its own. The store's save
// adds the look-ups that tell a missing folder or server, or a name taken, from one another,
// and what it reads back.
void BM_OneStatementCreate(benchmark::State& state) {
    freshStore(kPostgres, "floor_create", emptyLargeFarm());
    const std::string database = "bench_floor_create";
    const auto folders = idsByKey(database, "folder", "dn");
    const auto servers = idsByKey(database, "server", "name");
    const int settingCount = static_cast<int>(AppSettings::size());
    const int rowColumns = 5 + settingCount;
    const std::string sql =
        "WITH a AS (INSERT INTO application (folder_id, name, dn_key, app_type, description, " +
        sql::appSettingColumns() + ") VALUES (" + sql::parameters(1, rowColumns) +
        ") RETURNING id), p AS (INSERT INTO publication (application_id, server_id) SELECT a.id, "
        "s FROM a, unnest(?" +
        std::to_string(rowColumns + 1) +
        "::bigint[]) s), g AS (INSERT INTO account_grant (application_id, is_group, position, "
        "account_type, authority_type, authority_name, name) SELECT a.id, g.* FROM a, unnest(?" +
        std::to_string(rowColumns + 2) + "::int[], ?" + std::to_string(rowColumns + 3) +
        "::int[], ?" + std::to_string(rowColumns + 4) + "::int[], ?" +
        std::to_string(rowColumns + 5) + "::int[], ?" + std::to_string(rowColumns + 6) +
        "::text[], ?" + std::to_string(rowColumns + 7) +
        "::text[]) g), i AS (INSERT INTO application_icon (application_id, ico) SELECT a.id, ?" +
        std::to_string(rowColumns + 8) + " FROM a) INSERT INTO audit (" + kAuditColumns +
        ") SELECT a.id, ?" + std::to_string(rowColumns + 9) + ", 'root', 'ROOT', 'bench', " +
        "'CreateApplication', ?" + std::to_string(rowColumns + 10) + ", ?" +
        std::to_string(rowColumns + 11) + ", '', 0, '', 1, ?" + std::to_string(rowColumns + 12) +
        " FROM a";
    std::string postgresSql = sql;
    for (std::size_t at = 0; (at = postgresSql.find('?', at)) != std::string::npos;)
        postgresSql[at] = '$';
    std::vector<bool> binary(static_cast<std::size_t>(rowColumns + 12));
    binary[static_cast<std::size_t>(rowColumns + 7)] = true; // the icon
    runOneStatementEach(
        state, database, postgresSql,
        [&](long n) {
            const Application app = benchApplication(static_cast<int>(n));
            const std::string dn = app.distinguishedName();
            std::vector<std::string> row{folders.at(app.folder), app.name, nameKey(dn),
                                         std::to_string(app.type), app.description};
            for (int i = 0; i < settingCount; ++i) {
                const auto id = static_cast<AppSetting>(i);
                row.push_back(definition(id).isText() ? app.settings.text(id)
                                                      : std::to_string(app.settings.number(id)));
            }
            std::string serverIds = "{";
            for (const std::string& server : app.servers)
                serverIds += (serverIds.size() > 1 ? "," : "") + servers.at(server);
            row.push_back(serverIds + "}");
            std::vector<std::string> columns[6];
            int position = 0;
            for (const auto* accounts : {&app.users, &app.groups}) {
                for (const Account& account : *accounts) {
                    columns[0].push_back(accounts == &app.groups ? "1" : "0");
                    columns[1].push_back(std::to_string(position++));
                    columns[2].push_back(std::to_string(account.accountType));
                    columns[3].push_back(std::to_string(account.authorityType));
                    columns[4].push_back(account.authorityName);
                    columns[5].push_back(account.name);
                }
            }
            for (const auto& column : columns)
                row.push_back(textArray(column));
            row.emplace_back(app.icon->begin(), app.icon->end());
            row.insert(row.end(), {"2026-12-09T12:00:00.000Z", dn, nameKey(dn), savedText(app)});
            return row;
        },
        binary, true);
}
BENCHMARK(BM_OneStatementCreate)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

// The least the server can do for a change of an application's description on the large farm:
// the row updated and the audit trail's entry written, in one statement, committed on its own.
// Each iteration changes another application, as each of BM_SaveOnTheLargeFarm's saves does.
void BM_OneStatementChange(benchmark::State& state) {
    largeFarm(kPostgres);
    std::vector<std::string> ids;
    for (const auto& [key, id] : idsByKey("bench_large", "application", "dn_key"))
        ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    runOneStatementEach(
        state, "bench_large",
        std::string("WITH u AS (UPDATE application SET description = $2 WHERE id = $1 RETURNING "
                    "id, dn_key) INSERT INTO audit (") +
            kAuditColumns +
            ") SELECT u.id, '2026-12-09T12:00:00.000Z', 'root', 'ROOT', 'bench', "
            "'ChangeApplication', u.dn_key, u.dn_key, 'Description', 1, '', 1, $2 FROM u",
        [&](long n) {
            return std::vector<std::string>{ids[static_cast<std::size_t>(n) % ids.size()],
                                            "Changed by the floor's statement " +
                                                std::to_string(n)};
        },
        {}, true);
}
BENCHMARK(BM_OneStatementChange)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

// As the object model publishes: load the application, publish it on a server, save it. The
// rounds publish every application on a server none has and withdraw them again, in turn, so
// that each run leaves the farm as it found it, and the runs after it (the other argument)
// start from the same farm.
void BM_LoadPublishSave10000(benchmark::State& state) {
    FarmStore& store = largeFarm(kindOf(state));
    store.setAuditing(state.range(1) != 0);
    // The rows the runs before changed leave dead versions behind on PostgreSQL, which the next
    // run would wade through (twice as long, measured): cleared first, so that every run starts
    // from the same tables.
    if (kindOf(state) == kPostgres)
        runOnDatabase("bench_large", "VACUUM");
    const std::string target = serverName(100); // a server no application has
    bool publishing = true;
    for (auto _ : state) {
        for (int i = 0; i < kHandled; ++i) {
            const std::string dn = "Applications/Folder" + std::to_string(i % kFolders) +
                                   "/Application " + std::to_string(i);
            auto loaded = store.application(dn);
            if (!loaded) {
                state.SkipWithError("load failed");
                break;
            }
            Application edit = *loaded;
            const Status changed =
                publishing ? publishOn(edit, target) : withdrawFrom(edit, target);
            if (!changed || !store.saveApplication(edit, &*loaded)) {
                state.SkipWithError("publish failed");
                break;
            }
        }
        publishing = !publishing;
    }
    state.counters["pairs/s"] = benchmark::Counter(static_cast<double>(kHandled),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadPublishSave10000)
    ->ArgNames({"kind", "audited"})
    ->Apply(withAndWithoutTheTrail)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2); // even: a run withdraws what it published

// The store's own publish, one transaction each.
void BM_Publish10000(benchmark::State& state) {
    FarmStore& store = largeFarm(kindOf(state));
    int round = 0;
    for (auto _ : state) {
        const std::string target = serverName(300 + round++);
        for (int i = 0; i < kHandled; ++i) {
            const std::string dn = "Applications/Folder" + std::to_string(i % kFolders) +
                                   "/Application " + std::to_string(i);
            if (!store.publish(dn, target)) {
                state.SkipWithError("publish failed");
                break;
            }
        }
    }
    state.counters["publishes/s"] = benchmark::Counter(
        static_cast<double>(kHandled), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Publish10000)
    ->ArgName("kind")
    ->Arg(kSqlite)
    ->Arg(kPostgres)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (std::system((clusterScript("start") + " --durable >/dev/null").c_str()) != 0)
        return 1;
    // A new cluster makes each file of its log as the log first reaches it (16 MB written and
    // flushed), which the first run of saves paid for, taking up to twice the time of the runs
    // after it; once written and checkpointed, the files are used again. The log is run through
    // as far as the saves take it before anything is measured.
    runOnCluster("CREATE DATABASE bench_warm");
    runOnDatabase("bench_warm", "CREATE TABLE w AS SELECT repeat('w', 1000) AS t FROM "
                                "generate_series(1, 200000)");
    runOnCluster("DROP DATABASE bench_warm");
    runOnCluster("CHECKPOINT");
    sky::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string onTheLargeFarm =
        "BM_SaveOnTheLargeFarm/kind:1/iterations:2/real_time/threads:1";
    reporter.printRatios({
        {"BM_CreateAndSave10000Applications/kind:1/audited:0", "BM_BareCommit", kHandled, 1},
        {"BM_CreateAndSave10000Applications/kind:1/audited:1", "BM_BareCommit", kHandled, 1},
        {onTheLargeFarm, "BM_BareCommit", kSavesPerThread, 1},
        {"BM_CreateAndSave10000Applications/kind:1/audited:0", "BM_SaveSizedCommit", kHandled, 1},
        {"BM_CreateAndSave10000Applications/kind:1/audited:1", "BM_SaveSizedCommit", kHandled, 1},
        {onTheLargeFarm, "BM_SaveSizedCommit", kSavesPerThread, 1},
        {"BM_SaveSizedCommit", "BM_BareCommit"},
        {"BM_CreateAndSave10000Applications/kind:1/audited:1", "BM_OneStatementCreate", kHandled,
         1},
        {onTheLargeFarm, "BM_OneStatementChange", kSavesPerThread, 1},
        {"BM_OneStatementCreate", "BM_BareCommit"},
        {"BM_OneStatementChange", "BM_BareCommit"},
        {"BM_CreateAndSave10000Applications/kind:0/audited:1",
         "BM_CreateAndSave10000Applications/kind:0/audited:0"},
        {"BM_CreateAndSave10000Applications/kind:1/audited:1",
         "BM_CreateAndSave10000Applications/kind:1/audited:0"},
        {"BM_LoadPublishSave10000/kind:0/audited:1", "BM_LoadPublishSave10000/kind:0/audited:0"},
        {"BM_LoadPublishSave10000/kind:1/audited:1", "BM_LoadPublishSave10000/kind:1/audited:0"},
    });
    benchmark::Shutdown();
    const int stopped = std::system(clusterScript("stop").c_str());
    std::error_code ec;
    fs::remove_all(scratchDirectory(), ec);
    return stopped == 0 ? 0 : 1;
}

// Scratch copies of a real store of each kind: the copy holds the farm as it was, changes to it
// never reach the farm, and it is gone once dropped (a scratch database even while a connection to
// it is still open). On PostgreSQL: a user who may not create databases is told which privilege
// is missing, a copy that fails part-way leaves no database, and databases left behind by a
// killed process are dropped by the next copy once they are a day old.
#include "qvcomsrv/store/scratch_copy.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "qvcomsrv/store/store_test_support.h"
#include "sky/scoped_state.h"

namespace sky::farm {
namespace {

namespace fs = std::filesystem;
using testing::FarmStoreTest;
using testing::newApplication;
using testing::PostgresTestDatabase;
using testing::StoreKind;

// The scratch databases on the test cluster.
std::vector<std::string> scratchDatabases() {
    return testing::queryPostgresColumn(PostgresTestDatabase::conninfoFor("postgres"),
                                        "SELECT datname FROM pg_database WHERE "
                                        "starts_with(datname, '" +
                                            std::string(kScratchDatabasePrefix) +
                                            "') ORDER BY datname");
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The scratch databases this process made (its id is in their names); other tests on the shared
// cluster make their own at the same time.
std::vector<std::string> scratchDatabasesOfThisProcess() {
    std::vector<std::string> ours;
    for (const std::string& name : scratchDatabases()) {
        if (name.find("_" + std::to_string(::getpid()) + "_") != std::string::npos)
            ours.push_back(name);
    }
    return ours;
}

StoreLocation postgresAt(const std::string& conninfo) {
    return {std::string(kPostgresStoreType), conninfo};
}

// The farm without the store's own numbers for its applications, which a copy in a new database
// gives anew.
FarmImage withoutIds(FarmImage image) {
    for (Application& app : image.applications)
        app.id = 0;
    return image;
}

class ScratchCopy : public FarmStoreTest {};

INSTANTIATE_TEST_SUITE_P(EveryKind, ScratchCopy, testing::everyStoreKind(), testing::storeKindName);

TEST_P(ScratchCopy, HoldsTheFarmAsItWasAndGoesWhenDropped) {
    auto store = createSmallFarm();
    ASSERT_TRUE(store);
    Application word = newApplication("Applications/Office", "Word");
    word.servers = {"ALPHA", "GAMMA"};
    word.users = {{1, 1, "CORP", "bob"}};
    word.icon = testing::colourIcon(0xFF336699);
    ASSERT_TRUE(word.settings.set(AppSetting::DefaultWindowWidth, 1280));
    ASSERT_TRUE(store->saveApplication(word, nullptr));
    ASSERT_TRUE(store->saveApplication(newApplication("Applications", "Calc"), nullptr));
    ASSERT_TRUE(store->setFarmSetting(FarmSetting::MaxConnectionsPerUser, 3));
    const auto live = store->image();
    ASSERT_TRUE(live);

    auto scratch = ScratchStore::copy(location(),
                                      fs::path(testing::testStorePath()).parent_path() / "scratch");
    ASSERT_TRUE(scratch) << scratch.status().toString();
    const StoreLocation copied = (*scratch)->location();
    EXPECT_EQ(copied.type, location().type);
    EXPECT_NE(copied.path, location().path);
    const std::string database = (*scratch)->databaseName();
    if (onPostgres()) {
        EXPECT_TRUE(database.starts_with(kScratchDatabasePrefix)) << database;
        EXPECT_NE(copied.path.find(database), std::string::npos) << copied.path;
        EXPECT_EQ(scratchDatabasesOfThisProcess(), std::vector<std::string>{database});
    } else {
        EXPECT_TRUE(database.empty());
    }

    auto copy = openFarmStore(copied);
    ASSERT_TRUE(copy) << copy.status().toString();
    auto image = (*copy)->image();
    ASSERT_TRUE(image);
    EXPECT_EQ(withoutIds(*image), withoutIds(*live));
    // Changes to the copy stay in the copy.
    ASSERT_TRUE((*copy)->deleteApplication("Applications/Office/Word"));
    ASSERT_TRUE((*copy)->setFarmSetting(FarmSetting::MaxConnectionsPerUser, 7));
    EXPECT_EQ(*store->image(), *live);

    // Dropped while the copy is still open, as the object model keeps its connections.
    scratch->reset();
    if (onPostgres())
        EXPECT_TRUE(scratchDatabasesOfThisProcess().empty());
    else
        EXPECT_FALSE(fs::exists(copied.path));
    EXPECT_EQ(*store->image(), *live);
}

// Drops a role of the test cluster, with its privileges in one database, however the test ends.
struct TestRole {
    std::string name = "scratch_reader_" + std::to_string(::getpid());
    const PostgresTestDatabase& database;
    explicit TestRole(const PostgresTestDatabase& db) : database(db) {
        testing::runPostgresSql(PostgresTestDatabase::conninfoFor("postgres"),
                                "DROP ROLE IF EXISTS " + name + "; CREATE ROLE " + name +
                                    " LOGIN NOCREATEDB");
    }
    ~TestRole() {
        try {
            database.run("DROP OWNED BY " + name);
            testing::runPostgresSql(PostgresTestDatabase::conninfoFor("postgres"),
                                    "DROP ROLE " + name);
        } catch (const std::exception&) {
            // Dropped by the next run's DROP ROLE IF EXISTS.
        }
    }
};

TEST(ScratchDatabase, AUserWhoMayNotCreateDatabasesIsToldWhichPrivilegeIsMissing) {
    PostgresTestDatabase database;
    ASSERT_TRUE(createPostgresFarmStore(database.conninfo(), testing::smallFarm()));
    TestRole reader(database);
    database.run("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + reader.name);
    const std::string conninfo = "host=" + PostgresTestDatabase::host() + " user=" + reader.name +
                                 " dbname=" + database.name();
    // The user reads the farm well enough.
    auto readable = openPostgresFarmStore(conninfo);
    ASSERT_TRUE(readable) << readable.status().toString();
    ASSERT_TRUE((*readable)->image());

    auto copy = ScratchStore::copy(postgresAt(conninfo), "/nonexistent");
    ASSERT_FALSE(copy);
    EXPECT_EQ(copy.status().code(), Status::Code::IOError);
    const std::string& message = copy.status().message();
    EXPECT_NE(message.find("the user " + reader.name + " may not create databases"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("lacks the privilege CREATEDB"), std::string::npos) << message;
    EXPECT_NE(message.find(conninfo), std::string::npos) << message;
    EXPECT_TRUE(scratchDatabasesOfThisProcess().empty());
}

TEST(ScratchDatabase, ACopyThatFailsPartWayLeavesNoDatabase) {
    PostgresTestDatabase database;
    auto made = createPostgresFarmStore(database.conninfo(), testing::smallFarm());
    ASSERT_TRUE(made);
    ASSERT_TRUE((*made)->saveApplication(newApplication("Applications", "Calc"), nullptr));
    made->reset();
    // A name the store refuses, written past it: the farm reads, but cannot be written again.
    database.run("UPDATE application SET name = 'Ca/lc'");

    auto copy = ScratchStore::copy(postgresAt(database.conninfo()), "/nonexistent");
    ASSERT_FALSE(copy);
    EXPECT_NE(copy.status().message().find("The farm cannot be copied into the scratch database " +
                                           std::string(kScratchDatabasePrefix)),
              std::string::npos)
        << copy.status().message();
    EXPECT_TRUE(scratchDatabasesOfThisProcess().empty());
}

TEST(ScratchDatabase, DatabasesLeftBehindADayAgoAreDroppedByTheNextCopy) {
    PostgresTestDatabase database;
    ASSERT_TRUE(createPostgresFarmStore(database.conninfo(), testing::smallFarm()));
    const std::string pid = std::to_string(::getpid());
    const std::string prefix(kScratchDatabasePrefix);
    const std::string old =
        prefix + std::to_string(std::time(nullptr) - 25 * 3600) + "_" + pid + "_0a0a0a";
    const std::string recent =
        prefix + std::to_string(std::time(nullptr) - 23 * 3600) + "_" + pid + "_0b0b0b";
    const std::string another = prefix + "kept_" + pid + "_";
    const std::string postgres = PostgresTestDatabase::conninfoFor("postgres");
    // Gone from the shared cluster at the end, whatever the test's outcome.
    const sky::testing::ScopedUndo dropped([&] {
        for (const std::string& name : {old, recent, another}) {
            try {
                testing::runPostgresSql(postgres,
                                        "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
            } catch (const std::exception& error) {
                ADD_FAILURE() << "could not drop " << name << ": " << error.what();
            }
        }
    });
    for (const std::string& name : {old, recent, another}) {
        testing::runPostgresSql(postgres, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
        testing::runPostgresSql(postgres, "CREATE DATABASE " + name);
    }

    {
        auto copy = ScratchStore::copy(postgresAt(database.conninfo()), "/nonexistent");
        ASSERT_TRUE(copy) << copy.status().toString();
    }
    const std::vector<std::string> left = scratchDatabases();
    EXPECT_FALSE(contains(left, old));
    EXPECT_TRUE(contains(left, recent));
    EXPECT_TRUE(contains(left, another));
    EXPECT_EQ(scratchDatabasesOfThisProcess(), (std::vector<std::string>{recent, another}));
}

} // namespace
} // namespace sky::farm

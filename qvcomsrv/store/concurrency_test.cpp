// Several processes on one store, a store held by another program, and stores that are damaged,
// missing or something else.
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "qvcomsrv/store/store_test_support.h"

using namespace sky::farm;
using namespace sky::farm::testing;
using Code = Status::Code;

namespace {

// Runs `work` in a child process with a connection of its own to the store at `location`; the
// child's exit code is 0 when `work` returned true.
pid_t inChild(const StoreLocation& location, const std::function<bool(FarmStore&)>& work) {
    const pid_t pid = fork();
    if (pid == 0) {
        bool ok = false;
        {
            auto store = canonicalStoreType(location.type) == kSqliteStoreType
                             ? openSqliteFarmStore(location.path, SqliteOptions{30000})
                             : openPostgresFarmStore(location.path,
                                                     postgres::ConnectionOptions{10, 60000, 30000});
            ok = store && work(**store);
        }
        _exit(ok ? 0 : 1);
    }
    return pid;
}

int exitCode(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Saves `count` new applications, and publishes the shared application on `server` by loading,
// changing and saving it, as the object model does.
bool saveMany(FarmStore& store, const std::string& prefix, int count, const std::string& server) {
    for (int i = 0; i < count; ++i) {
        Application app = newApplication("Applications/Office", prefix + std::to_string(i));
        app.servers = {server};
        if (!store.saveApplication(app, nullptr))
            return false;
        if (i % 50 == 0) {
            auto shared = store.application("Applications/Shared");
            if (!shared)
                return false;
            Application edit = *shared;
            grantUser(edit, {2, 1, "CORP", prefix + std::to_string(i)});
            if (!edit.isPublishedOn(server) && !publishOn(edit, server))
                return false;
            if (!store.saveApplication(edit, &*shared))
                return false;
        }
    }
    return true;
}

std::string garbage(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    return bytes;
}

// The first page of a table's b-tree.
int rootPage(const std::string& path, const std::string& table) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = ?1", -1, &stmt,
                       nullptr);
    sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    const int page = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return page;
}

void overwritePage(const std::string& path, int page) {
    ASSERT_GT(page, 1);
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(page - 1) * 4096);
    file << garbage(4096);
}

} // namespace

// Several processes on one store, on each kind of store.
using StoreConcurrency = FarmStoreTest;
INSTANTIATE_TEST_SUITE_P(EveryKind, StoreConcurrency, everyStoreKind(), storeKindName);

TEST_P(StoreConcurrency, AnotherProcessSeesWhatWasSaved) {
    {
        auto store = createSmallFarm();
        Application app = newApplication("Applications/Office", "Word");
        app.servers = {"BETA"};
        ASSERT_TRUE(store->saveApplication(app, nullptr));
        ASSERT_TRUE(store->setFarmSetting(FarmSetting::SNMPThresholdValue, 42));
    }
    const pid_t child = inChild(location(), [](FarmStore& store) {
        auto app = store.application("Applications/Office/Word");
        if (!app || app->servers != std::vector<std::string>{"BETA"})
            return false;
        if (store.farm()->settings.number(FarmSetting::SNMPThresholdValue) != 42)
            return false;
        return bool(store.publish("Applications/Office/Word", "GAMMA"));
    });
    ASSERT_EQ(exitCode(child), 0);
    EXPECT_EQ(reopen()->application("Applications/Office/Word")->servers,
              (std::vector<std::string>{"BETA", "GAMMA"}));
}

TEST_P(StoreConcurrency, TwoProcessesSavingAtOnceLoseNothing) {
    {
        auto store = createSmallFarm();
        ASSERT_TRUE(store->saveApplication(newApplication("Applications", "Shared"), nullptr));
    }
    constexpr int kEach = 300;
    const pid_t first =
        inChild(location(), [](FarmStore& s) { return saveMany(s, "first", kEach, "ALPHA"); });
    const pid_t second =
        inChild(location(), [](FarmStore& s) { return saveMany(s, "second", kEach, "GAMMA"); });
    EXPECT_EQ(exitCode(first), 0);
    EXPECT_EQ(exitCode(second), 0);

    auto store = reopen();
    EXPECT_EQ(store->applications(IconLoading::Skip)->size(), 2u * kEach + 1);
    EXPECT_EQ(store->applicationsOnServer("ALPHA", IconLoading::Skip)->size(), kEach + 1u);
    EXPECT_EQ(store->applicationsOnServer("GAMMA", IconLoading::Skip)->size(), kEach + 1u);
    auto shared = store->application("Applications/Shared");
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->servers, (std::vector<std::string>{"ALPHA", "GAMMA"}));
    EXPECT_EQ(shared->users.size(), 2u * (kEach / 50)); // every grant of both processes
}

TEST_P(StoreConcurrency, FourProcessesChangingTheSameApplicationsKeepEveryChange) {
    constexpr int kApplications = 100;
    const std::vector<std::string> servers{"ALPHA", "BETA", "GAMMA", "DELTA"};
    {
        auto store = createSmallFarm();
        FarmImage image = smallFarm();
        image.servers.push_back({"DELTA", "West", 5, 2});
        ASSERT_TRUE(store->replace(image));
        for (int i = 0; i < kApplications; ++i)
            ASSERT_TRUE(store->saveApplication(
                newApplication("Applications/Office", "App" + std::to_string(i)), nullptr));
    }
    // Each process loads every application, publishes it on its own server, grants it to a user
    // of its own and saves it, as administrators at four servers would at once.
    std::vector<pid_t> children;
    for (const std::string& server : servers) {
        children.push_back(inChild(location(), [&](FarmStore& store) {
            for (int i = 0; i < kApplications; ++i) {
                auto loaded = store.application("Applications/Office/App" + std::to_string(i));
                if (!loaded)
                    return false;
                Application edit = *loaded;
                if (!publishOn(edit, server))
                    return false;
                grantUser(edit, {2, 1, "CORP", "admin-of-" + server});
                if (auto saved = store.saveApplication(edit, &*loaded); !saved) {
                    std::fprintf(stderr, "%s\n", saved.status().toString().c_str());
                    return false;
                }
            }
            return true;
        }));
    }
    for (pid_t child : children)
        EXPECT_EQ(exitCode(child), 0);

    auto apps = reopen()->applications(IconLoading::Skip);
    ASSERT_TRUE(apps) << apps.status().toString();
    ASSERT_EQ(apps->size(), static_cast<std::size_t>(kApplications));
    for (const Application& app : *apps) {
        EXPECT_EQ(app.servers, (std::vector<std::string>{"ALPHA", "BETA", "DELTA", "GAMMA"}))
            << app.distinguishedName();
        EXPECT_EQ(app.users.size(), servers.size()) << app.distinguishedName();
    }
}

TEST(SqliteStoreLocking, AStoreHeldTooLongGivesABusyError) {
    createSmallFarm();
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(testStorePath().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    auto store = reopen(testStorePath(), 100);
    // Readers are not held up by a writer.
    EXPECT_TRUE(store->applications(IconLoading::Skip));
    Status busy = store->addAdministrator("bob");
    EXPECT_EQ(busy.code(), Code::Busy);
    EXPECT_EQ(busy.message(), "The farm store " + testStorePath() +
                                  " is in use by another program and did not become free in "
                                  "time; try again.");
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_TRUE(store->addAdministrator("bob"));
}

TEST(StoreDamage, AMissingStoreIsNamed) {
    auto missing = openSqliteFarmStore(testStorePath());
    EXPECT_EQ(missing.status().code(), Code::NotFound);
    EXPECT_EQ(missing.status().message(), "There is no farm store " + testStorePath() + ".");
}

TEST(StoreDamage, AFileThatIsNoDatabaseIsRefused) {
    std::ofstream(testStorePath()) << std::string(8192, 'x');
    auto opened = openSqliteFarmStore(testStorePath());
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.status().code(), Code::Corrupt);
    EXPECT_EQ(opened.status().message(), "The farm store " + testStorePath() +
                                             " is damaged or is not a farm store (file is not a "
                                             "database).");
}

TEST(StoreDamage, ADatabaseOfAnotherKindIsNotAFarmStore) {
    const std::string path = (farmsDirectory() / "other.db").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    auto opened = openSqliteFarmStore(path);
    EXPECT_EQ(opened.status().code(), Code::Corrupt);
    EXPECT_EQ(opened.status().message(), path + " is not a farm store.");

    createSmallFarm();
    ASSERT_EQ(sqlite3_open(testStorePath().c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 7", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    auto newer = openSqliteFarmStore(testStorePath());
    EXPECT_EQ(newer.status().code(), Code::NotSupported);
    EXPECT_EQ(newer.status().message(), "The farm store " + testStorePath() +
                                            " has format version 7; this program reads version " +
                                            std::to_string(kSqliteSchemaVersion) + ".");
}

TEST(StoreDamage, AStoreDamagedInsideGivesErrorsNotACrash) {
    {
        auto store = createSmallFarm();
        for (int i = 0; i < 200; ++i) {
            Application app = newApplication("Applications/Office", "App" + std::to_string(i));
            app.servers = {"ALPHA", "BETA"};
            app.users = {{2, 1, "CORP", "user" + std::to_string(i)}};
            app.icon = colourIcon(0xFF000000u + static_cast<std::uint32_t>(i));
            ASSERT_TRUE(store->saveApplication(app, nullptr));
        }
    }
    // Garbage over every page but the first: the schema itself is lost.
    const std::string path = testStorePath();
    const std::string copy = path + ".copy";
    std::filesystem::copy_file(path, copy);
    {
        std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(0, std::ios::end);
        const std::streamoff size = file.tellg();
        ASSERT_GT(size, 16384);
        file.seekp(4096);
        file << garbage(static_cast<std::size_t>(size - 4096));
    }
    auto schemaLost = openSqliteFarmStore(copy);
    EXPECT_EQ(schemaLost.status().code(), Code::Corrupt);
    EXPECT_EQ(schemaLost.status().message(), "The farm store " + copy +
                                                 " is damaged or is not a farm store (database "
                                                 "disk image is malformed).");

    // Garbage over the first page of the application table: the store opens, and every use of
    // the applications reports the damage.
    overwritePage(path, rootPage(path, "application"));
    auto opened = openSqliteFarmStore(path);
    ASSERT_TRUE(opened) << opened.status().toString();
    FarmStore& store = **opened;
    auto apps = store.applications(IconLoading::Load);
    ASSERT_FALSE(apps);
    EXPECT_EQ(apps.status().code(), Code::Corrupt);
    EXPECT_NE(apps.status().message().find("is damaged"), std::string::npos);
    Application app = newApplication("Applications", "Late");
    EXPECT_EQ(store.saveApplication(app, nullptr).status().code(), Code::Corrupt);
    EXPECT_EQ(store.publish("Applications/Office/App1", "ALPHA").code(), Code::Corrupt);
}

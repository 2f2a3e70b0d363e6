// Shared by the farm store's tests: a small farm to start from and a store of it on the test's
// fresh machine, or in a database of the test's own; the tests that every kind of store must
// pass run once per kind (FarmStoreTest).
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "qvcomsrv/store/postgres_farm_store.h"
#include "qvcomsrv/store/sqlite_farm_store.h"
#include "qvcomsrv/store/testing/postgres_test_database.h"

namespace sky::farm::testing {

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Two zones, three servers, folders Office and Office/Tools, no applications.
inline FarmImage smallFarm() {
    FarmImage image;
    image.farm.name = "Test Farm";
    image.administrators = {"alice"};
    image.zones = {{"East", "ALPHA"}, {"West", "GAMMA"}};
    image.servers = {{"ALPHA", "East", 5, 2}, {"BETA", "East", 5, 0}, {"GAMMA", "West", 5, 2}};
    image.folders = {"Applications/Office", "Applications/Office/Tools"};
    return image;
}

// A one-colour icon, distinct for each colour.
inline Bytes colourIcon(std::uint32_t argb) {
    IconPicture picture;
    picture.pixels.fill(argb);
    return encodeIcon(picture);
}

inline Application newApplication(const std::string& folder, const std::string& name) {
    Application app;
    app.folder = folder;
    app.name = name;
    app.description = name + " for everyone";
    return app;
}

inline std::string testStorePath() {
    return farmStoreOnMachine("Test Farm").path;
}

// A new store holding smallFarm().
inline std::unique_ptr<FarmStore> createSmallFarm(const std::string& path = testStorePath()) {
    auto store = createSqliteFarmStore(path, FarmInfo{"Test Farm"});
    EXPECT_TRUE(store) << store.status().toString();
    EXPECT_TRUE((*store)->replace(smallFarm()));
    return std::move(*store);
}

// A second connection to the same store, as another process would have.
inline std::unique_ptr<FarmStore> reopen(const std::string& path = testStorePath(),
                                         int busyTimeoutMs = 5000) {
    auto store = openSqliteFarmStore(path, SqliteOptions{busyTimeoutMs});
    EXPECT_TRUE(store) << store.status().toString();
    return store ? std::move(*store) : nullptr;
}

enum class StoreKind { Sqlite, Postgres };

inline const char* storeKindText(StoreKind kind) {
    return kind == StoreKind::Sqlite ? "SQLite" : "PostgreSQL";
}
// How GoogleTest shows the kind in a test's listing.
inline void PrintTo(StoreKind kind, std::ostream* out) {
    *out << storeKindText(kind);
}
inline std::string storeKindName(const ::testing::TestParamInfo<StoreKind>& info) {
    return storeKindText(info.param);
}
// The kinds a suite of FarmStoreTest runs on:
// INSTANTIATE_TEST_SUITE_P(EveryKind, Suite, everyStoreKind(), storeKindName).
inline auto everyStoreKind() {
    return ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres);
}

// A test that runs on each kind of store: one store per test, a file on the test's machine or a
// database of the test's own.
class FarmStoreTest : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override {
        if (GetParam() == StoreKind::Postgres)
            database_ = std::make_unique<PostgresTestDatabase>();
    }

    bool onPostgres() const { return GetParam() == StoreKind::Postgres; }

    // Where the test's store is; its messages name it so.
    std::string testStorePath() const {
        return onPostgres() ? database_->conninfo() : testing::testStorePath();
    }
    StoreLocation location() const {
        return {std::string(onPostgres() ? kPostgresStoreType : kSqliteStoreType), testStorePath()};
    }

    Result<std::unique_ptr<FarmStore>> create(const FarmInfo& farm) const {
        return createFarmStore(location(), farm);
    }

    std::unique_ptr<FarmStore> createSmallFarm() const {
        auto store = create(FarmInfo{"Test Farm"});
        EXPECT_TRUE(store) << store.status().toString();
        if (!store)
            return nullptr;
        EXPECT_TRUE((*store)->replace(smallFarm()));
        return std::move(*store);
    }

    // A second connection to the same store, as another process would have.
    std::unique_ptr<FarmStore> reopen(int busyTimeoutMs = 5000) const {
        auto store =
            onPostgres()
                ? openPostgresFarmStore(testStorePath(),
                                        postgres::ConnectionOptions{10, 30000, busyTimeoutMs})
                : openSqliteFarmStore(testStorePath(), SqliteOptions{busyTimeoutMs});
        EXPECT_TRUE(store) << store.status().toString();
        return store ? std::move(*store) : nullptr;
    }

    std::unique_ptr<PostgresTestDatabase> database_;
};

} // namespace sky::farm::testing

// Shared by the farm store's tests: a small farm to start from and a store of it on the test's
// fresh machine.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "qvcomsrv/store/sqlite_farm_store.h"

namespace sky::farm::testing {

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

} // namespace sky::farm::testing

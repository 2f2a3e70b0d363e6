// Another program's hold on the farm store, for the tests of what a command does when a save
// is refused.
#pragma once

#include <filesystem>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "sky/machine.h"

namespace brask::testing {

// Another program writing to the farm store: while it holds the store, the object model can read
// but every save waits for it and then fails as busy.
class StoreHold {
public:
    StoreHold() {
        const std::filesystem::path farms = sky::machine::root() / "farms";
        for (const auto& entry : std::filesystem::directory_iterator(farms)) {
            if (entry.path().extension() == ".db") {
                path_ = entry.path();
            }
        }
        EXPECT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK) << path_;
        EXPECT_EQ(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_);
    }
    ~StoreHold() {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }
    StoreHold(const StoreHold&) = delete;
    StoreHold& operator=(const StoreHold&) = delete;

private:
    std::filesystem::path path_;
    sqlite3* db_ = nullptr;
};

} // namespace brask::testing

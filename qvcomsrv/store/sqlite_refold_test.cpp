// Names of every script matched without regard to case, and a store of the first format, whose
// keys were folded for ASCII and Latin-1 only, brought to the rule in force without losing a
// name.
#include <filesystem>
#include <fstream>
#include <iterator>

#include <sqlite3.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "qvcomsrv/store/store_test_support.h"
#include "sky/sqlite_testing.h"
#include "sky/text.h"

namespace sky::farm {
namespace {

using testing::createSmallFarm;
using ::testing::HasSubstr;
using testing::newApplication;
using testing::reopen;
using testing::testStorePath;

TEST(StoreNames, GreekCyrillicAndAccentedNamesAreOneWithoutRegardToCase) {
    auto store = createSmallFarm();
    ASSERT_TRUE(store->saveApplication(newApplication("Applications", "\u03a9mega"), nullptr));
    ASSERT_TRUE(store->createSubFolder("Applications", "\u041c\u043e\u0441\u043a\u0432\u0430"));
    ASSERT_TRUE(store->saveApplication(
        newApplication("Applications/\u041c\u043e\u0441\u043a\u0432\u0430", "\u010ce\u0161tina"),
        nullptr));

    auto omega = store->application("Applications/\u03c9MEGA");
    ASSERT_TRUE(omega) << omega.status().toString();
    EXPECT_EQ(omega->name, "\u03a9mega");
    auto czech = store->application(
        "APPLICATIONS/\u041c\u041e\u0421\u041a\u0412\u0410/\u010d\u0415\u0160TINA");
    EXPECT_FALSE(czech) << "E and Cyrillic IE are different letters";
    czech =
        store->application("APPLICATIONS/\u041c\u041e\u0421\u041a\u0412\u0410/\u010dE\u0160TINA");
    ASSERT_TRUE(czech) << czech.status().toString();
    EXPECT_EQ(czech->name, "\u010ce\u0161tina");

    // A second application whose name differs only in case is refused, whatever the script.
    auto twin = store->saveApplication(newApplication("Applications", "\u03c9MEGA"), nullptr);
    EXPECT_FALSE(twin);
    EXPECT_EQ(twin.status().code(), Status::Code::AlreadyExists);
    EXPECT_FALSE(store->createSubFolder("Applications", "\u043c\u043e\u0441\u043a\u0432\u0430"));
    // Accents are not case.
    EXPECT_TRUE(store->saveApplication(newApplication("Applications", "\u03a9m\u00e9ga"), nullptr));
    EXPECT_TRUE(store->isAdministrator("ALICE").value());
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The small farm as a store of the first format held it, with names its rule left unfolded
// beside names they now equal: applications "Ωmega" (published on ALPHA) and "ωMEGA", servers
// "ΣIGMA" and "σigma", folders "мир" (with an application "Файл") and "МИР", and administrators
// "Άννα" and "ΆΝΝΑ".
void writeFirstFormatStore() {
    {
        auto store = createSmallFarm();
        ASSERT_TRUE(store->saveApplication(newApplication("Applications", "\u03a9mega"), nullptr));
        ASSERT_TRUE(store->publish("Applications/\u03a9mega", "ALPHA"));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(testStorePath().c_str(), &db), SQLITE_OK);
    sky::testing::execSql(
        db, "INSERT INTO application (folder_id, name, dn_key, app_type, description) "
            "VALUES (1, '\u03c9MEGA', 'APPLICATIONS/\u03c9MEGA', 3, 'second')");
    sky::testing::execSql(
        db, "INSERT INTO server (name, name_key, zone_id, os_major, os_minor) VALUES "
            "('\u03a3IGMA', '\u03a3IGMA', 1, 5, 2), ('\u03c3igma', '\u03c3IGMA', 1, 5, 0)");
    sky::testing::execSql(
        db, "INSERT INTO folder (parent_id, name, dn, dn_key) VALUES (1, '\u043c\u0438\u0440', "
            "'Applications/\u043c\u0438\u0440', 'APPLICATIONS/\u043c\u0438\u0440')");
    sky::testing::execSql(
        db,
        "INSERT INTO application (folder_id, name, dn_key, app_type, description) VALUES "
        "((SELECT id FROM folder WHERE name = '\u043c\u0438\u0440'), '\u0424\u0430\u0439\u043b', "
        "'APPLICATIONS/\u043c\u0438\u0440/\u0424\u0430\u0439\u043b', 3, 'file')");
    sky::testing::execSql(
        db, "INSERT INTO folder (parent_id, name, dn, dn_key) VALUES (1, '\u041c\u0418\u0420', "
            "'Applications/\u041c\u0418\u0420', 'APPLICATIONS/\u041c\u0418\u0420')");
    sky::testing::execSql(db, "INSERT INTO administrator (account_key, account) VALUES "
                              "('\u0386\u03bd\u03bd\u03b1', '\u0386\u03bd\u03bd\u03b1'), "
                              "('\u0386\u039d\u039d\u0391', '\u0386\u039d\u039d\u0391')");
    sky::testing::execSql(db, "DROP TABLE meta; PRAGMA user_version = 1");
    sqlite3_close(db);
}

TEST(StoreNames, AStoreOfTheFirstFormatIsFoldedAgainAndLosesNoName) {
    writeFirstFormatStore();
    const std::filesystem::path report = testStorePath() + ".renamed.txt";
    auto store = reopen();
    ASSERT_TRUE(store);

    // The first of two equal names keeps it; the second is kept under a new one, with its data.
    auto omega = store->application("Applications/\u03c9mega");
    ASSERT_TRUE(omega) << omega.status().toString();
    EXPECT_EQ(omega->name, "\u03a9mega");
    EXPECT_EQ(omega->servers, std::vector<std::string>{"ALPHA"}) << "its publication is kept";
    auto second = store->application("Applications/\u03a9MEGA (2)");
    ASSERT_TRUE(second) << second.status().toString();
    EXPECT_EQ(second->name, "\u03c9MEGA (2)");
    EXPECT_EQ(second->description, "second");

    auto sigma = store->server("\u03c3IGMA");
    ASSERT_TRUE(sigma);
    EXPECT_EQ(sigma->name, "\u03a3IGMA");
    auto sigma2 = store->server("\u03a3igma (2)");
    ASSERT_TRUE(sigma2) << sigma2.status().toString();
    EXPECT_EQ(sigma2->name, "\u03c3igma (2)");
    EXPECT_EQ(sigma2->osMinor, 0);

    // A folder found under any case, its application with it; its twin under a new name.
    EXPECT_TRUE(store->folderExists("applications/\u041c\u0418\u0420").value());
    auto file = store->application("Applications/\u041c\u0438\u0440/\u0444\u0430\u0439\u043b");
    ASSERT_TRUE(file) << file.status().toString();
    EXPECT_EQ(file->description, "file");
    EXPECT_TRUE(store->folderExists("Applications/\u043c\u0438\u0440 (2)").value());

    // Two spellings of one administrator are one account.
    auto administrators = store->administrators();
    ASSERT_TRUE(administrators);
    EXPECT_EQ(administrators->size(), 2u);
    EXPECT_TRUE(store->isAdministrator("\u03ac\u03bd\u03bd\u03b1").value());

    const std::string text = readFile(report);
    EXPECT_THAT(text, HasSubstr("\"Applications/\u03c9MEGA (2)\""));
    EXPECT_THAT(text, HasSubstr("\"\u03c3igma (2)\""));
    EXPECT_THAT(text, HasSubstr("\"Applications/\u041c\u0418\u0420 (2)\""));
    EXPECT_THAT(text, HasSubstr("one account"));

    // Once is enough.
    store.reset();
    store = reopen();
    ASSERT_TRUE(store);
    EXPECT_EQ(readFile(report), text);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(testStorePath().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sky::testing::querySqlText(db, "PRAGMA user_version"),
              std::to_string(kSqliteSchemaVersion));
    EXPECT_EQ(sky::testing::querySqlText(db, "SELECT value FROM meta WHERE name = 'folding'"),
              sky::foldingRule());
    sqlite3_close(db);
}

TEST(StoreNames, AStoreFoldedByEverySimpleMappingIsFoldedAgainAndItsNamesComeApart) {
    // Under the rule before, "ıx" had the key "IX"; Windows' case table leaves dotless i alone,
    // so after the store is folded again "ıx" and "ix" are two names.
    {
        auto store = createSmallFarm();
        ASSERT_TRUE(store->saveApplication(newApplication("Applications", "\u0131x"), nullptr));
        ASSERT_TRUE(store->publish("Applications/\u0131x", "ALPHA"));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(testStorePath().c_str(), &db), SQLITE_OK);
    sky::testing::execSql(db, "UPDATE application SET dn_key = 'APPLICATIONS/IX' WHERE name = "
                              "'\u0131x'");
    sky::testing::execSql(
        db, "UPDATE meta SET value = 'simple upper case, Unicode 15.0' WHERE name = 'folding'");
    sqlite3_close(db);

    auto store = reopen();
    ASSERT_TRUE(store);
    auto dotless = store->application("APPLICATIONS/\u0131X");
    ASSERT_TRUE(dotless) << dotless.status().toString();
    EXPECT_EQ(dotless->name, "\u0131x");
    EXPECT_EQ(dotless->servers, std::vector<std::string>{"ALPHA"}) << "its publication is kept";
    EXPECT_FALSE(store->application("Applications/IX"));
    ASSERT_TRUE(store->saveApplication(newApplication("Applications", "ix"), nullptr));
    EXPECT_TRUE(store->application("Applications/IX"));
    EXPECT_FALSE(std::filesystem::exists(testStorePath() + ".renamed.txt"));

    ASSERT_EQ(sqlite3_open(testStorePath().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sky::testing::querySqlText(db, "SELECT value FROM meta WHERE name = 'folding'"),
              sky::foldingRule());
    sqlite3_close(db);
}

} // namespace
} // namespace sky::farm

// The audit trail of a real store, of each kind: each change records its entries in its own
// transaction, with the actor the store was told; refused changes and changes to nothing record
// nothing; a store of the previous format gains the table when it is first opened; the trail is
// listed newest first, filtered and pruned.
#include "qvcomsrv/store/audit.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "qvcomsrv/store/store_test_support.h"
#include "sky/scoped_state.h"
#include "sky/sqlite_testing.h"

namespace sky::farm {
namespace {

using testing::FarmStoreTest;
using testing::newApplication;
using testing::StoreKind;

// "Operation DN setting old→new" of each entry as the trail lists them: the newest change first,
// the entries of one change in the order it made them.
std::vector<std::string> lines(const std::vector<AuditEntry>& entries) {
    std::vector<std::string> result;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        std::string line = it->operation + " " + it->distinguishedName;
        if (!it->setting.empty())
            line += " " + it->setting + " " + it->oldValue.value_or("-") + "→" +
                    it->newValue.value_or("-");
        result.push_back(line);
    }
    return result;
}

std::vector<AuditEntry> trail(FarmStore& store, AuditQuery query = {}) {
    auto entries = store.auditTrail(query);
    EXPECT_TRUE(entries) << entries.status().toString();
    return entries ? *entries : std::vector<AuditEntry>{};
}

class AuditTrail : public FarmStoreTest {};

INSTANTIATE_TEST_SUITE_P(EveryKind, AuditTrail, testing::everyStoreKind(), testing::storeKindName);

TEST_P(AuditTrail, EveryKindOfChangeIsRecordedWithItsActorAndNothingElse) {
    auto store = createSmallFarm();
    ASSERT_TRUE(store);
    // Filling a new farm is not a change anyone made through the object model.
    EXPECT_TRUE(trail(*store).empty());
    store->setActor({"alice", "ADMIN-PC"});

    Application word = newApplication("Applications/Office", "Word");
    word.servers = {"ALPHA"};
    word.users = {{1, 1, "CORP", "bob"}};
    auto saved = store->saveApplication(word, nullptr);
    ASSERT_TRUE(saved);
    Application edited = *saved;
    ASSERT_TRUE(edited.settings.set(AppSetting::DefaultWindowWidth, 1024));
    edited.servers.push_back("BETA");
    edited.icon = testing::colourIcon(0xFF00FF00);
    ASSERT_TRUE(store->saveApplication(edited, &*saved));
    // Saving it as it is changes nothing and records nothing.
    auto again = store->application("Applications/Office/Word");
    ASSERT_TRUE(again);
    ASSERT_TRUE(store->saveApplication(*again, &*again));

    ASSERT_TRUE(store->setFarmSetting(FarmSetting::MaxConnectionsPerUser, 5));
    ASSERT_TRUE(store->setFarmSetting(FarmSetting::MaxConnectionsPerUser, 5));
    ASSERT_TRUE(store->createSubFolder("Applications", "Finance"));
    ASSERT_TRUE(store->publish("applications/office/WORD", "gamma"));
    ASSERT_TRUE(store->unpublish("Applications/Office/Word", "ALPHA"));
    ASSERT_TRUE(store->addAdministrator("carol"));
    ASSERT_TRUE(store->removeAdministrator("CAROL"));
    ASSERT_TRUE(store->deleteApplication("Applications/Office/Word"));

    // Refused changes record nothing.
    EXPECT_FALSE(store->setFarmSetting(FarmSetting::DegradationBias, 9));
    EXPECT_FALSE(store->publish("Applications/Nothing", "ALPHA"));
    EXPECT_FALSE(store->addAdministrator("alice"));
    EXPECT_FALSE(store->createSubFolder("Applications", "Finance"));
    EXPECT_FALSE(store->saveApplication(newApplication("Applications/Missing", "X"), nullptr));

    const std::vector<AuditEntry> entries = trail(*store);
    EXPECT_EQ(lines(entries),
              (std::vector<std::string>{
                  "DeleteApplication Applications/Office/Word",
                  "RemoveAdministrator CAROL",
                  "AddAdministrator carol",
                  "Unpublish Applications/Office/Word Server ALPHA→-",
                  "Publish Applications/Office/Word Server -→GAMMA",
                  "CreateFolder Applications/Finance",
                  "SetFarmSetting Test Farm MaxConnectionsPerUser 0→5",
                  "ChangeApplication Applications/Office/Word DefaultWindowWidth 800→1024",
                  "Publish Applications/Office/Word Server -→BETA",
                  "ChangeApplication Applications/Office/Word Icon →4286 bytes",
                  "CreateApplication Applications/Office/Word",
              }));
    EXPECT_EQ(entries.back().newValue,
              "Description=Word for everyone; Server=ALPHA; User=CORP\\bob");
    for (const AuditEntry& entry : entries) {
        EXPECT_EQ(entry.user, "alice");
        EXPECT_EQ(entry.machine, "ADMIN-PC");
        EXPECT_EQ(entry.time.size(), 24u) << entry.time;
        EXPECT_EQ(entry.time.back(), 'Z');
    }
    // Newest first: times never rise down the list, ids of one change in its order.
    for (std::size_t i = 1; i < entries.size(); ++i)
        EXPECT_GE(entries[i - 1].time, entries[i].time);
}

// A save records what it changed and nothing else: not the settings it left as they were, nor
// what another program changed meanwhile (which that program recorded), nor a server twice when
// the caller named it twice or in another spelling; the stored icon's old size even though the
// save overwrites it.
TEST_P(AuditTrail, ASaveOfOneSettingOutOfManyRecordsThatOneWithItsOldAndNewValue) {
    auto store = createSmallFarm();
    auto other = reopen();
    ASSERT_TRUE(store && other);
    Application calc = newApplication("Applications", "Calc");
    ASSERT_TRUE(calc.settings.set(AppSetting::DefaultWindowHeight, 700));
    ASSERT_TRUE(calc.settings.set(AppSetting::DefaultWindowWidth, 900));
    ASSERT_TRUE(calc.settings.set(AppSetting::DefaultInitProg, "C:\\calc.exe"));
    ASSERT_TRUE(calc.settings.set(AppSetting::CPUPriority, 1));
    ASSERT_TRUE(calc.settings.set(AppSetting::InstanceLimit, 3));
    calc.servers = {"ALPHA", "BETA"};
    calc.users = {{1, 1, "CORP", "bob"}, {1, 1, "CORP", "eve"}};
    calc.groups = {{2, 1, "CORP", "Staff"}};
    calc.icon = testing::colourIcon(0xFF0000FF);
    ASSERT_TRUE(store->saveApplication(calc, nullptr));
    auto loaded = store->application("Applications/Calc");
    ASSERT_TRUE(loaded);
    // Another program changes a setting and a user meanwhile.
    other->setActor({"bob", "PC2"});
    auto theirs = other->application("Applications/Calc");
    ASSERT_TRUE(theirs);
    Application theirEdit = *theirs;
    ASSERT_TRUE(theirEdit.settings.set(AppSetting::InstanceLimit, 5));
    theirEdit.users.pop_back();
    ASSERT_TRUE(other->saveApplication(theirEdit, &*theirs));

    store->setActor({"alice", "PC1"});
    const std::size_t before = trail(*store).size();
    Application edit = *loaded;
    ASSERT_TRUE(edit.settings.set(AppSetting::DefaultWindowHeight, 768));
    ASSERT_TRUE(store->saveApplication(edit, &*loaded));
    std::vector<AuditEntry> entries = trail(*store, {std::nullopt, std::string("alice"), {}});
    ASSERT_EQ(trail(*store).size(), before + 1);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].operation, "ChangeApplication");
    EXPECT_EQ(entries[0].distinguishedName, "Applications/Calc");
    EXPECT_EQ(entries[0].setting, "DefaultWindowHeight");
    EXPECT_EQ(entries[0].oldValue, "700");
    EXPECT_EQ(entries[0].newValue, "768");
    // What bob changed stands in the store and in the trail under his name.
    EXPECT_EQ(lines(trail(*store, {std::nullopt, std::string("bob"), {}})),
              (std::vector<std::string>{"ChangeApplication Applications/Calc InstanceLimit 3→5",
                                        "RevokeUser Applications/Calc User CORP\\eve→-"}));

    // A server named twice, in another spelling than the store's, is one publication and one
    // entry, in the stored spelling; the icon removed records the old icon's size.
    auto now = store->application("Applications/Calc");
    ASSERT_TRUE(now);
    Application more = *now;
    more.servers.push_back("gamma");
    more.servers.push_back("Gamma");
    more.icon = Bytes();
    ASSERT_TRUE(store->saveApplication(more, &*now));
    entries = trail(*store, {std::nullopt, std::string("alice"), {}});
    ASSERT_GE(entries.size(), 2u);
    entries.resize(entries.size() - 1);
    EXPECT_EQ(lines(entries),
              (std::vector<std::string>{"Publish Applications/Calc Server -→GAMMA",
                                        "ChangeApplication Applications/Calc Icon 4286 bytes→"}));

    // Saved whole (without the state it was loaded in) as it is: nothing changes, nothing is
    // recorded, though the icon is compared with the stored one.
    auto whole = store->application("Applications/Calc");
    ASSERT_TRUE(whole);
    const std::size_t count = trail(*store).size();
    ASSERT_TRUE(store->saveApplication(*whole, nullptr));
    EXPECT_EQ(trail(*store).size(), count);
}

TEST_P(AuditTrail, TwoConnectionsRecordTheirOwnActors) {
    auto first = createSmallFarm();
    auto second = reopen();
    ASSERT_TRUE(first && second);
    first->setActor({"alice", "PC1"});
    second->setActor({"bob", "PC2"});
    ASSERT_TRUE(first->saveApplication(newApplication("Applications", "Calc"), nullptr));
    ASSERT_TRUE(second->saveApplication(newApplication("Applications", "Paint"), nullptr));
    ASSERT_TRUE(first->setFarmSetting(FarmSetting::EnableSNMPAgent, 1));

    const auto alices = trail(*second, {std::nullopt, std::string("ALICE"), std::nullopt});
    ASSERT_EQ(alices.size(), 2u);
    EXPECT_EQ(alices[0].operation, "SetFarmSetting");
    EXPECT_EQ(alices[1].distinguishedName, "Applications/Calc");
    const auto paint =
        trail(*first, {std::nullopt, std::nullopt, std::string("applications/PAINT")});
    ASSERT_EQ(paint.size(), 1u);
    EXPECT_EQ(paint[0].user, "bob");
    EXPECT_EQ(paint[0].machine, "PC2");
    EXPECT_TRUE(trail(*first, {std::nullopt, std::string("carol"), std::nullopt}).empty());
}

TEST_P(AuditTrail, SinceAndPruneCutAtTheGivenTime) {
    auto store = createSmallFarm();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->addAdministrator("carol"));
    const std::vector<AuditEntry> all = trail(*store);
    ASSERT_EQ(all.size(), 1u);
    const std::string at = all[0].time;
    EXPECT_EQ(trail(*store, {at, std::nullopt, std::nullopt}).size(), 1u);
    EXPECT_TRUE(trail(*store, {std::string("2999-01-01T00:00:00.000Z"), std::nullopt, std::nullopt})
                    .empty());
    auto none = store->pruneAuditTrail(at);
    ASSERT_TRUE(none);
    EXPECT_EQ(*none, 0);
    auto pruned = store->pruneAuditTrail("2999-01-01T00:00:00.000Z");
    ASSERT_TRUE(pruned);
    EXPECT_EQ(*pruned, 1);
    EXPECT_TRUE(trail(*store).empty());
    // Turned off (to measure what it costs), changes record nothing.
    store->setAuditing(false);
    ASSERT_TRUE(store->removeAdministrator("carol"));
    EXPECT_TRUE(trail(*store).empty());
}

TEST_P(AuditTrail, AStoreOfThePreviousFormatGainsTheTableWhenFirstOpened) {
    auto made = createSmallFarm();
    ASSERT_TRUE(made);
    ASSERT_TRUE(made->addAdministrator("carol"));
    made.reset();
    sqlite3* db = nullptr;
    if (onPostgres()) {
        database_->run("DROP TABLE audit; UPDATE store_version SET version = 1");
    } else {
        ASSERT_EQ(sqlite3_open(testStorePath().c_str(), &db), SQLITE_OK);
        sky::testing::execSql(db, "DROP TABLE audit; PRAGMA user_version = 2");
        sqlite3_close(db);
    }

    auto store = reopen();
    ASSERT_TRUE(store);
    // The trail starts empty and records from then on; the farm is as it was.
    EXPECT_TRUE(trail(*store).empty());
    ASSERT_TRUE(store->addAdministrator("dave"));
    EXPECT_EQ(lines(trail(*store)), std::vector<std::string>{"AddAdministrator dave"});
    auto admins = store->administrators();
    ASSERT_TRUE(admins);
    EXPECT_EQ(*admins, (std::vector<std::string>{"alice", "carol", "dave"}));
    if (onPostgres()) {
        EXPECT_NO_THROW(
            database_->run("DO $$ BEGIN IF (SELECT version FROM store_version) <> " +
                           std::to_string(kPostgresSchemaVersion) +
                           " THEN RAISE EXCEPTION 'the store was not upgraded'; END IF; END $$"));
    } else {
        ASSERT_EQ(sqlite3_open(testStorePath().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sky::testing::querySqlText(db, "PRAGMA user_version"),
                  std::to_string(kSqliteSchemaVersion));
        sqlite3_close(db);
    }
}

TEST(AuditTime, PeopleWriteTimesInIso8601LocalUnlessTheySayOtherwise) {
    const sky::testing::ScopedEnvironmentVariable timeZone("TZ", "Europe/Berlin");
    EXPECT_EQ(*auditTimeFromText("2026-12-08"), "2026-12-07T23:00:00.000Z");
    EXPECT_EQ(*auditTimeFromText("2026-12-08T17:30"), "2026-12-08T16:30:00.000Z");
    EXPECT_EQ(*auditTimeFromText("2026-07-08 17:30:05"), "2026-07-08T15:30:05.000Z");
    EXPECT_EQ(*auditTimeFromText("2026-12-08T17:30:00Z"), "2026-12-08T17:30:00.000Z");
    EXPECT_EQ(*auditTimeFromText("2026-12-08T17:30+01:00"), "2026-12-08T16:30:00.000Z");
    EXPECT_EQ(*auditTimeFromText("2026-12-08T00:30-02:30"), "2026-12-08T03:00:00.000Z");
    for (const char* wrong : {"", "yesterday", "2026-13-01", "2026-02-30", "2026-12-8",
                              "2026-12-08T25:00", "2026-12-08T17:30Q", "2026-12-08T17:30+1"}) {
        const auto parsed = auditTimeFromText(wrong);
        ASSERT_FALSE(parsed) << wrong;
        EXPECT_EQ(parsed.status().code(), Status::Code::InvalidArgument);
        EXPECT_NE(parsed.status().message().find("ISO 8601"), std::string::npos);
    }
}

} // namespace
} // namespace sky::farm

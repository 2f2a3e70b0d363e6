// The behaviour every kind of farm store has, run on each kind.
#include <sqlite3.h>

#include <optional>

#include <gtest/gtest.h>

#include "qvcomsrv/store/store_test_support.h"
#include "sky/sqlite_testing.h"

using namespace sky::farm;
using namespace sky::farm::testing;
using Code = Status::Code;

namespace {

// Runs SQL on the store's file through a connection of its own, as a tool beside the store would.
void runSqliteSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

std::vector<std::string> names(const std::vector<Application>& apps) {
    std::vector<std::string> dns;
    for (const Application& app : apps)
        dns.push_back(app.distinguishedName());
    return dns;
}

Application saved(FarmStore& store, Application app) {
    auto result = store.saveApplication(app, nullptr);
    EXPECT_TRUE(result) << result.status().toString();
    return result ? *result : app;
}

class StoreConformance : public FarmStoreTest {
protected:
    // Makes the store refuse, from inside the database, to grant an application to `name`: a
    // failure at the last writes of a save.
    void refuseGrantsOf(const std::string& name) const {
        if (onPostgres()) {
            database_->run("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                           "IF NEW.name = '" +
                           name +
                           "' THEN RAISE EXCEPTION 'refused'; END IF; "
                           "RETURN NEW; END $$; CREATE TRIGGER refuse BEFORE INSERT ON "
                           "account_grant FOR EACH ROW EXECUTE FUNCTION refuse();");
        } else {
            runSqliteSql(testStorePath(), "CREATE TRIGGER refuse BEFORE INSERT ON account_grant "
                                          "WHEN NEW.name = '" +
                                              name +
                                              "' BEGIN SELECT "
                                              "RAISE(ABORT, 'refused'); END;");
        }
    }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(EveryKind, StoreConformance, everyStoreKind(), storeKindName);

TEST_P(StoreConformance, ANewFarmHasDefaultsAndOnlyTheRootFolder) {
    auto created = create(FarmInfo{"Fresh"});
    ASSERT_TRUE(created) << created.status().toString();
    FarmStore& store = **created;
    auto farm = store.farm();
    ASSERT_TRUE(farm);
    EXPECT_EQ(farm->name, "Fresh");
    EXPECT_TRUE(farm->reportsSessionReliability);
    EXPECT_EQ(farm->settings, FarmSettings());
    EXPECT_TRUE(store.folders()->empty());
    EXPECT_TRUE(*store.folderExists("Applications"));
    EXPECT_TRUE(store.applications(IconLoading::Skip)->empty());
    EXPECT_TRUE(store.zones()->empty());
    EXPECT_TRUE(store.administrators()->empty());

    auto again = create(FarmInfo{"Fresh"});
    ASSERT_FALSE(again);
    EXPECT_EQ(again.status().code(), Code::AlreadyExists);
    EXPECT_EQ(again.status().message(), "The farm store " + testStorePath() + " already exists.");
    EXPECT_EQ(create(FarmInfo{""}).status().code(), Code::InvalidArgument);
}

TEST_P(StoreConformance, ANewStoreHoldsTheWholeFarmOrIsNotThere) {
    FarmImage farm = smallFarm();
    Application word = newApplication("Applications/Office", "Word");
    word.servers = {"ALPHA"};
    farm.applications = {word};

    // A farm that cannot be stored leaves no store behind, not even an empty one.
    FarmImage bad = farm;
    bad.servers.push_back({"DELTA", "North", 5, 2});
    auto refused = createFarmStore(location(), bad);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.status().code(), Code::NotFound) << refused.status().toString();
    EXPECT_EQ(openFarmStore(location()).status().code(), Code::NotFound);

    auto made = createFarmStore(location(), farm);
    ASSERT_TRUE(made) << made.status().toString();
    made->reset();
    auto reopened = openFarmStore(location());
    ASSERT_TRUE(reopened) << reopened.status().toString();
    auto image = (*reopened)->image();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->servers, farm.servers);
    EXPECT_EQ(image->administrators, farm.administrators);
    ASSERT_EQ(image->applications.size(), 1u);
    EXPECT_EQ(image->applications[0].servers, word.servers);
    EXPECT_EQ(createFarmStore(location(), farm).status().code(), Code::AlreadyExists);
}

TEST_P(StoreConformance, AFarmSettingTakesEffectAtOnceForEveryConnection) {
    auto store = createSmallFarm();
    auto other = reopen();
    ASSERT_TRUE(store->setFarmSetting(FarmSetting::MaxConnectionsPerUser, 7));
    ASSERT_TRUE(store->setFarmSetting(FarmSetting::NDSPreferredTree, std::string("CORP_TREE")));
    EXPECT_EQ(std::get<std::int32_t>(*other->farmSetting(FarmSetting::MaxConnectionsPerUser)), 7);
    EXPECT_EQ(other->farm()->settings.text(FarmSetting::NDSPreferredTree), "CORP_TREE");

    Status refused = store->setFarmSetting(FarmSetting::DegradationBias, 3);
    EXPECT_EQ(refused.message(), "The value 3 is not valid for DegradationBias: "
                                 "QVWinOvraDegradationBias takes 0 to 2.");
    EXPECT_EQ(other->farm()->settings.number(FarmSetting::DegradationBias), 1);
}

TEST_P(StoreConformance, AnOlderFarmDoesNotReportSessionReliability) {
    FarmInfo older{"Older"};
    older.reportsSessionReliability = false;
    auto store = create(older);
    ASSERT_TRUE(store);
    auto port = (*store)->farmSetting(FarmSetting::SRPort);
    ASSERT_FALSE(port);
    EXPECT_EQ(port.status().code(), Code::NotSupported);
    EXPECT_EQ(port.status().message(), "The farm Older does not report session reliability "
                                       "settings.");
    EXPECT_EQ((*store)->setFarmSetting(FarmSetting::SREnabled, 0).code(), Code::NotSupported);
    EXPECT_TRUE((*store)->setFarmSetting(FarmSetting::EnableACR, 0));
    EXPECT_FALSE((*store)->farm()->reportsSessionReliability);
}

TEST_P(StoreConformance, AdministratorsAreMatchedIgnoringCase) {
    auto store = createSmallFarm();
    EXPECT_TRUE(*store->isAdministrator("ALICE"));
    EXPECT_FALSE(*store->isAdministrator("bob"));
    ASSERT_TRUE(store->addAdministrator("Bob"));
    EXPECT_TRUE(*reopen()->isAdministrator("bob"));
    Status twice = store->addAdministrator("BOB");
    EXPECT_EQ(twice.code(), Code::AlreadyExists);
    EXPECT_EQ(twice.message(), "BOB is already an administrator of the farm.");
    EXPECT_EQ(*store->administrators(), (std::vector<std::string>{"alice", "Bob"}));
    ASSERT_TRUE(store->removeAdministrator("ALICE"));
    Status missing = store->removeAdministrator("alice");
    EXPECT_EQ(missing.code(), Code::NotFound);
    EXPECT_EQ(missing.message(), "alice is not an administrator of the farm.");
    EXPECT_EQ(store->addAdministrator("").code(), Code::InvalidArgument);
    EXPECT_EQ(*store->administrators(), std::vector<std::string>{"Bob"});
}

TEST_P(StoreConformance, ZonesAndServersComeOrderedByName) {
    auto store = createSmallFarm();
    EXPECT_EQ(*store->zones(), (std::vector<Zone>{{"East", "ALPHA"}, {"West", "GAMMA"}}));
    auto servers = store->servers();
    ASSERT_TRUE(servers);
    ASSERT_EQ(servers->size(), 3u);
    EXPECT_EQ((*servers)[1], (Server{"BETA", "East", 5, 0}));
    EXPECT_EQ(store->server("gamma")->name, "GAMMA");
    auto unknown = store->server("DELTA");
    EXPECT_EQ(unknown.status().code(), Code::NotFound);
    EXPECT_EQ(unknown.status().message(), "There is no server named DELTA in the farm.");
}

TEST_P(StoreConformance, SubFoldersAreCreatedOnceUnderAnExistingFolder) {
    auto store = createSmallFarm();
    auto created = store->createSubFolder("applications/OFFICE/tools", "Macros");
    ASSERT_TRUE(created) << created.status().toString();
    EXPECT_EQ(*created, "Applications/Office/Tools/Macros"); // the stored spelling of the parent
    EXPECT_TRUE(*reopen()->folderExists("APPLICATIONS/office/tools/macros"));
    EXPECT_FALSE(*store->folderExists("Applications/Office/Macros"));

    auto twice = store->createSubFolder("Applications/Office/Tools", "MACROS");
    EXPECT_EQ(twice.status().code(), Code::AlreadyExists);
    EXPECT_EQ(twice.status().message(), "The folder Applications/Office/Tools/Macros already "
                                        "exists.");
    auto orphan = store->createSubFolder("Applications/Finance", "Reports");
    EXPECT_EQ(orphan.status().message(), "The folder Applications/Finance does not exist.");
    EXPECT_EQ(store->createSubFolder("Applications", "A/B").status().code(), Code::InvalidArgument);
    EXPECT_EQ(store->folderExists("Office").status().code(), Code::InvalidArgument);

    saved(*store, newApplication("Applications/Office", "Word"));
    auto clash = store->createSubFolder("Applications/Office", "word");
    EXPECT_EQ(clash.status().message(), "Applications/Office/Word is an application; a folder "
                                        "cannot have its name.");
    EXPECT_EQ(*store->folders(),
              (std::vector<std::string>{"Applications/Office", "Applications/Office/Tools",
                                        "Applications/Office/Tools/Macros"}));
}

TEST_P(StoreConformance, AnApplicationSavedComesBackWhole) {
    auto store = createSmallFarm();
    Application app = newApplication("applications/office", "Word");
    ASSERT_TRUE(app.settings.set(AppSetting::DefaultInitProg, std::string("C:\\Office\\word.exe")));
    ASSERT_TRUE(app.settings.set(AppSetting::DefaultWindowType, 8));
    ASSERT_TRUE(app.settings.set(AppSetting::LumoAttributes, 6));
    app.servers = {"gamma", "alpha", "ALPHA"};
    app.users = {{2, 1, "CORP", "zoe"}, {2, 1, "CORP", "adam"}};
    app.groups = {{4, 3, "corp.example", "Writers"}};
    app.icon = colourIcon(0xFF3366CC);
    const Application result = saved(*store, app);
    EXPECT_NE(result.id, 0);
    EXPECT_EQ(result.folder, "Applications/Office");

    auto loaded = reopen()->application("APPLICATIONS/OFFICE/WORD");
    ASSERT_TRUE(loaded) << loaded.status().toString();
    EXPECT_EQ(loaded->distinguishedName(), "Applications/Office/Word");
    EXPECT_EQ(loaded->description, "Word for everyone");
    EXPECT_EQ(loaded->type, kWindowsApplicationType);
    EXPECT_EQ(loaded->settings.text(AppSetting::DefaultInitProg), "C:\\Office\\word.exe");
    EXPECT_EQ(loaded->settings.number(AppSetting::DefaultWindowType), 8);
    EXPECT_EQ(loaded->settings.number(AppSetting::LumoAttributes), 6);
    EXPECT_EQ(loaded->settings.number(AppSetting::EnableApp), 1);
    EXPECT_EQ(loaded->servers, (std::vector<std::string>{"ALPHA", "GAMMA"}));
    EXPECT_EQ(loaded->users, app.users); // in the order granted
    EXPECT_EQ(loaded->groups, app.groups);
    EXPECT_EQ(loaded->icon, app.icon);
    EXPECT_EQ(*store->applicationIcon(loaded->id), *app.icon);

    auto missing = store->application("Applications/Office/Excel");
    EXPECT_EQ(missing.status().message(), "There is no application Applications/Office/Excel in "
                                          "the farm.");
}

TEST_P(StoreConformance, AnApplicationOnManyServersWithManyGrantsIsSavedWhole) {
    // More servers than a save looks up in one statement, and more grants than it writes in one:
    // 70 servers named S070 down to S001, and 40 accounts.
    auto store = create(FarmInfo{"Test Farm"});
    ASSERT_TRUE(store) << store.status().toString();
    FarmImage image = smallFarm();
    std::vector<std::string> all;
    for (int i = 70; i >= 1; --i) {
        const std::string name = (i < 10 ? "S00" : "S0") + std::to_string(i);
        image.servers.push_back({name, "East", 5, 2});
        all.insert(all.begin(), name);
    }
    ASSERT_TRUE((*store)->replace(image));
    Application app = newApplication("Applications/Office", "Word");
    for (int i = 70; i >= 1; --i)
        app.servers.push_back((i < 10 ? "s00" : "s0") + std::to_string(i));
    app.servers.push_back("S070"); // the same server again
    for (int i = 0; i < 40; ++i)
        (i % 4 ? app.users : app.groups).push_back({2, 1, "CORP", "account" + std::to_string(i)});
    app.icon = colourIcon(0xFF3366CC);
    const Application made = saved(**store, app);
    EXPECT_EQ(made.servers.size(), 70u);

    auto loaded = reopen()->application("Applications/Office/Word");
    ASSERT_TRUE(loaded) << loaded.status().toString();
    EXPECT_EQ(loaded->servers, all); // in the order of their names
    EXPECT_EQ(loaded->users, app.users);
    EXPECT_EQ(loaded->groups, app.groups);
    EXPECT_EQ(loaded->icon, app.icon);

    // A change naming them all again, and a server more that the farm lacks, among them.
    Application edit = *loaded;
    edit.description = "Changed";
    edit.servers.insert(edit.servers.begin() + 40, "S071");
    const Status refused = (*store)->saveApplication(edit, &*loaded).status();
    EXPECT_EQ(refused.code(), Code::NotFound) << refused.toString();
    EXPECT_EQ(refused.message(), "There is no server named S071 in the farm.");
    edit.servers.erase(edit.servers.begin() + 40);
    edit.servers.erase(edit.servers.begin(), edit.servers.begin() + 35);
    edit.users.pop_back();
    auto changed = (*store)->saveApplication(edit, &*loaded);
    ASSERT_TRUE(changed) << changed.status().toString();
    auto reread = reopen()->application("Applications/Office/Word");
    ASSERT_TRUE(reread) << reread.status().toString();
    EXPECT_EQ(reread->description, "Changed");
    EXPECT_EQ(reread->servers, std::vector<std::string>(all.begin() + 35, all.end()));
    EXPECT_EQ(reread->users, edit.users);
    EXPECT_EQ(reread->groups, app.groups);
}

TEST_P(StoreConformance, AnApplicationWithoutAnIconOfItsOwnShowsTheDefault) {
    auto store = createSmallFarm();
    saved(*store, newApplication("Applications", "Notepad"));
    auto app = store->application("Applications/Notepad");
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->icon.has_value());
    EXPECT_TRUE(app->icon->empty());
    EXPECT_EQ(iconOf(*app->icon), defaultIcon());
}

TEST_P(StoreConformance, ASaveThatIsRefusedWritesNothing) {
    auto store = createSmallFarm();
    Application unknownServer = newApplication("Applications", "Calc");
    unknownServer.servers = {"ALPHA", "DELTA"};
    EXPECT_EQ(store->saveApplication(unknownServer, nullptr).status().message(),
              "There is no server named DELTA in the farm.");
    Application noFolder = newApplication("Applications/Finance", "Ledger");
    EXPECT_EQ(store->saveApplication(noFolder, nullptr).status().message(),
              "The folder Applications/Finance does not exist.");
    Application badIcon = newApplication("Applications", "Paint");
    badIcon.icon = Bytes{0, 0, 1, 0, 1, 0, 32, 32};
    EXPECT_EQ(store->saveApplication(badIcon, nullptr).status().code(), Code::InvalidArgument);
    Application badAccount = newApplication("Applications", "Mail");
    badAccount.users = {{9, 1, "CORP", "zoe"}};
    EXPECT_EQ(store->saveApplication(badAccount, nullptr).status().code(), Code::InvalidArgument);
    Application badName = newApplication("Applications", "A\\B");
    EXPECT_EQ(store->saveApplication(badName, nullptr).status().code(), Code::InvalidArgument);
    Application badType = newApplication("Applications", "Odd");
    badType.type = 36;
    EXPECT_EQ(store->saveApplication(badType, nullptr).status().code(), Code::InvalidArgument);
    Application onFolder = newApplication("Applications", "office");
    EXPECT_EQ(store->saveApplication(onFolder, nullptr).status().message(),
              "Applications/Office is a folder; an application cannot have its name.");

    EXPECT_TRUE(reopen()->applications(IconLoading::Load)->empty());
    EXPECT_TRUE(store->applicationsOnServer("ALPHA", IconLoading::Skip)->empty());
}

TEST_P(StoreConformance, ASaveThatFailsHalfwayLeavesNothingHalfWritten) {
    auto store = createSmallFarm();
    Application app = newApplication("Applications/Office", "Word");
    app.servers = {"ALPHA"};
    const Application first = saved(*store, app);

    // A failure injected at the last writes of a save: granting the account "explode".
    refuseGrantsOf("explode");
    Application fresh = newApplication("Applications", "Excel");
    fresh.servers = {"ALPHA", "BETA"};
    fresh.users = {{2, 1, "CORP", "zoe"}, {2, 1, "CORP", "explode"}};
    fresh.icon = colourIcon(0xFF00AA00);
    auto failed = store->saveApplication(fresh, nullptr);
    ASSERT_FALSE(failed);
    EXPECT_NE(failed.status().message().find("refused"), std::string::npos);

    Application changed = first;
    changed.description = "changed";
    changed.name = "Writer";
    ASSERT_TRUE(publishOn(changed, "GAMMA"));
    grantUser(changed, {2, 1, "CORP", "explode"});
    ASSERT_FALSE(store->saveApplication(changed, &first));

    auto other = reopen();
    EXPECT_EQ(names(*other->applications(IconLoading::Skip)),
              std::vector<std::string>{"Applications/Office/Word"});
    auto kept = other->application("Applications/Office/Word");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->description, "Word for everyone");
    EXPECT_EQ(kept->servers, std::vector<std::string>{"ALPHA"});
    EXPECT_TRUE(kept->users.empty());
    EXPECT_TRUE(other->applicationsOnServer("BETA", IconLoading::Skip)->empty());
}

TEST_P(StoreConformance, TwoApplicationsCannotShareADistinguishedName) {
    auto store = createSmallFarm();
    saved(*store, newApplication("Applications/Office", "Word"));
    Application twin = newApplication("Applications/office", "WORD");
    auto refused = store->saveApplication(twin, nullptr);
    EXPECT_EQ(refused.status().code(), Code::AlreadyExists);
    EXPECT_EQ(refused.status().message(), "The application Applications/Office/Word already "
                                          "exists.");

    // Moving another application onto that name is refused too; moving it elsewhere works.
    const Application excel = saved(*store, newApplication("Applications", "Excel"));
    Application moved = excel;
    moved.folder = "Applications/Office";
    moved.name = "word";
    EXPECT_EQ(store->saveApplication(moved, &excel).status().code(), Code::AlreadyExists);
    moved.folder = "Applications/Office/Tools";
    moved.name = "Excel";
    ASSERT_TRUE(store->saveApplication(moved, &excel));
    EXPECT_EQ(
        names(*store->applications(IconLoading::Skip)),
        (std::vector<std::string>{"Applications/Office/Tools/Excel", "Applications/Office/Word"}));
    EXPECT_EQ(store->application("Applications/Excel").status().code(), Code::NotFound);
}

TEST_P(StoreConformance, ASaveKeepsWhatOthersChangedMeanwhile) {
    auto store = createSmallFarm();
    Application app = newApplication("Applications/Office", "Word");
    app.servers = {"ALPHA"};
    app.users = {{2, 1, "CORP", "zoe"}};
    saved(*store, app);

    // Two administrators load the application; each changes something else and saves.
    auto first = store->application("Applications/Office/Word");
    auto other = reopen();
    auto second = other->application("Applications/Office/Word");
    ASSERT_TRUE(first && second);
    Application firstEdit = *first;
    ASSERT_TRUE(publishOn(firstEdit, "BETA"));
    ASSERT_TRUE(firstEdit.settings.set(AppSetting::DefaultEncryption, 5));
    ASSERT_TRUE(store->saveApplication(firstEdit, &*first));

    Application secondEdit = *second;
    ASSERT_TRUE(withdrawFrom(secondEdit, "ALPHA"));
    ASSERT_TRUE(publishOn(secondEdit, "GAMMA"));
    secondEdit.description = "Word processor";
    grantGroup(secondEdit, {4, 1, "CORP", "Staff"});
    secondEdit.icon = colourIcon(0xFFAA0000);
    auto result = other->saveApplication(secondEdit, &*second);
    ASSERT_TRUE(result) << result.status().toString();

    auto now = reopen()->application("Applications/Office/Word");
    ASSERT_TRUE(now);
    EXPECT_EQ(now->servers, (std::vector<std::string>{"BETA", "GAMMA"}));
    EXPECT_EQ(now->settings.number(AppSetting::DefaultEncryption), 5);
    EXPECT_EQ(now->description, "Word processor");
    EXPECT_EQ(now->users, app.users);
    EXPECT_EQ(now->groups, (std::vector<Account>{{4, 1, "CORP", "Staff"}}));
    EXPECT_EQ(now->icon, secondEdit.icon);
    EXPECT_EQ(result->servers, now->servers); // the save hands back the merged application
}

TEST_P(StoreConformance, AChangeSpelledInAnotherCaseKeepsTheStoredNamesAndTakesTheNewName) {
    // A change that keeps the application's folder and servers, named in other cases, looks
    // none of them up: they keep the spelling stored. The application's own name is the
    // caller's, in its new case; a server gained is looked up and stored as spelled in the farm.
    auto store = createSmallFarm();
    Application app = newApplication("Applications/Office", "Word");
    app.servers = {"ALPHA", "BETA"};
    saved(*store, app);
    for (const bool gaining : {false, true}) {
        auto loaded = store->application("Applications/Office/Word");
        ASSERT_TRUE(loaded) << loaded.status().toString();
        Application edit = *loaded;
        edit.folder = "applications/OFFICE";
        edit.name = gaining ? "Word" : "WORD";
        edit.servers = {"beta", "Alpha", "alpha"};
        if (gaining)
            edit.servers.push_back("gamma");
        edit.description = gaining ? "Gained" : "Renamed";
        auto result = store->saveApplication(edit, &*loaded);
        ASSERT_TRUE(result) << result.status().toString();
        auto now = reopen()->application("Applications/Office/Word");
        ASSERT_TRUE(now) << now.status().toString();
        EXPECT_EQ(now->folder, "Applications/Office");
        EXPECT_EQ(now->name, gaining ? "Word" : "WORD");
        EXPECT_EQ(now->description, edit.description);
        EXPECT_EQ(now->servers, gaining ? (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"})
                                        : (std::vector<std::string>{"ALPHA", "BETA"}));
        EXPECT_EQ(result->folder, now->folder);
        EXPECT_EQ(result->name, now->name);
    }
    // Named as a folder, an application is refused all the same.
    auto loaded = store->application("Applications/Office/Word");
    ASSERT_TRUE(loaded);
    Application edit = *loaded;
    edit.name = "TOOLS";
    const auto refused = store->saveApplication(edit, &*loaded);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(contains(refused.status().message(), "is a folder")) << refused.status().toString();
}

TEST_P(StoreConformance, ASaveWithoutWhatWasLoadedReplacesTheApplication) {
    auto store = createSmallFarm();
    Application app = newApplication("Applications", "Paint");
    app.servers = {"ALPHA", "BETA"};
    app.icon = colourIcon(0xFF112233);
    Application stored = saved(*store, app);
    stored.servers = {"GAMMA"};
    stored.users = {{1, 0, "", "guest"}};
    stored.icon = Bytes(); // back to the default icon
    ASSERT_TRUE(store->saveApplication(stored, nullptr));
    auto now = store->application("Applications/Paint");
    EXPECT_EQ(now->servers, std::vector<std::string>{"GAMMA"});
    EXPECT_EQ(now->users.size(), 1u);
    EXPECT_TRUE(now->icon->empty());

    // An icon not loaded is left as it is.
    ASSERT_TRUE(store->saveApplication(newApplication("Applications", "Mail"), nullptr));
    auto mail = store->application("Applications/Mail");
    Application withIcon = *mail;
    withIcon.icon = colourIcon(0xFF445566);
    ASSERT_TRUE(store->saveApplication(withIcon, nullptr));
    Application iconNotLoaded = *mail;
    iconNotLoaded.icon.reset();
    iconNotLoaded.description = "post";
    ASSERT_TRUE(store->saveApplication(iconNotLoaded, nullptr));
    EXPECT_EQ(store->application("Applications/Mail")->icon, withIcon.icon);
}

TEST_P(StoreConformance, SavingAnApplicationDeletedMeanwhileFails) {
    auto store = createSmallFarm();
    const Application app = saved(*store, newApplication("Applications", "Paint"));
    EXPECT_TRUE(*store->applicationExists(app.id));
    ASSERT_TRUE(reopen()->deleteApplication("applications/paint"));
    EXPECT_FALSE(*store->applicationExists(app.id));
    Application edit = app;
    edit.description = "late";
    auto late = store->saveApplication(edit, &app);
    EXPECT_EQ(late.status().code(), Code::NotFound);
    EXPECT_EQ(late.status().message(), "The application Applications/Paint no longer exists in "
                                       "the farm; another administrator may have deleted it.");
    EXPECT_EQ(store->deleteApplication("Applications/Paint").code(), Code::NotFound);
}

TEST_P(StoreConformance, PublishingAtOnceReportsEveryMistake) {
    auto store = createSmallFarm();
    saved(*store, newApplication("Applications/Office", "Word"));
    ASSERT_TRUE(store->publish("applications/office/word", "beta"));
    Status twice = store->publish("Applications/Office/Word", "BETA");
    EXPECT_EQ(twice.code(), Code::AlreadyExists);
    EXPECT_EQ(twice.message(),
              "The application Applications/Office/Word is already published on server BETA.");
    EXPECT_EQ(store->publish("Applications/Office/Word", "DELTA").message(),
              "There is no server named DELTA in the farm.");
    EXPECT_EQ(store->publish("Applications/Office/Excel", "BETA").message(),
              "There is no application Applications/Office/Excel in the farm.");
    EXPECT_EQ(store->publish("Office/Word", "BETA").code(), Code::InvalidArgument);
    EXPECT_EQ(names(*reopen()->applicationsOnServer("Beta", IconLoading::Skip)),
              std::vector<std::string>{"Applications/Office/Word"});

    Status notThere = store->unpublish("Applications/Office/Word", "ALPHA");
    EXPECT_EQ(notThere.code(), Code::NotFound);
    EXPECT_EQ(notThere.message(),
              "The application Applications/Office/Word is not published on server ALPHA.");
    ASSERT_TRUE(store->unpublish("Applications/Office/Word", "BETA"));
    EXPECT_TRUE(store->application("Applications/Office/Word")->servers.empty());
    EXPECT_EQ(store->applicationsOnServer("DELTA", IconLoading::Skip).status().code(),
              Code::NotFound);
}

TEST_P(StoreConformance, ApplicationsComeOrderedByDistinguishedNameIgnoringCase) {
    auto store = createSmallFarm();
    for (const char* name : {"zip", "Access", "word", "Calc"}) {
        Application app = newApplication("Applications/Office", name);
        app.servers = {"ALPHA"};
        app.icon = colourIcon(0xFF000000u + static_cast<std::uint32_t>(name[0]));
        saved(*store, app);
    }
    saved(*store, newApplication("Applications", "Paint"));
    const std::vector<std::string> expected{"Applications/Office/Access",
                                            "Applications/Office/Calc", "Applications/Office/word",
                                            "Applications/Office/zip", "Applications/Paint"};
    auto all = store->applications(IconLoading::Skip);
    EXPECT_EQ(names(*all), expected);
    EXPECT_FALSE((*all)[0].icon.has_value()); // not loaded
    auto onAlpha = store->applicationsOnServer("ALPHA", IconLoading::Load);
    EXPECT_EQ(names(*onAlpha), std::vector<std::string>(expected.begin(), expected.end() - 1));
    EXPECT_EQ((*onAlpha)[1].icon, colourIcon(0xFF000000u + 'C'));
}

TEST_P(StoreConformance, DeletingAnApplicationWithdrawsItEverywhere) {
    auto store = createSmallFarm();
    Application app = newApplication("Applications", "Paint");
    app.servers = {"ALPHA", "GAMMA"};
    app.users = {{1, 0, "", "guest"}};
    app.icon = colourIcon(0xFF010203);
    saved(*store, app);
    ASSERT_TRUE(store->deleteApplication("Applications/PAINT"));
    EXPECT_TRUE(store->applicationsOnServer("GAMMA", IconLoading::Skip)->empty());
    // A new application of the same name starts afresh.
    const Application again = saved(*store, newApplication("Applications", "Paint"));
    EXPECT_TRUE(store->application("Applications/Paint")->servers.empty());
    EXPECT_TRUE(store->application("Applications/Paint")->users.empty());
    EXPECT_TRUE(store->applicationIcon(again.id)->empty());
}

// Applications of a replaced farm go in many to a statement: what they read back as is what
// saving each one makes, and one that cannot be stored is named and leaves the farm as it was.
TEST_P(StoreConformance, AFarmReplacedInBatchesReadsAsItsApplicationsSavedOneByOne) {
    auto store = createSmallFarm();
    const char* servers[] = {"ALPHA", "beta", "Gamma"};
    std::vector<Application> apps;
    for (int i = 0; i < 150; ++i) {
        Application app = newApplication(i % 3 ? "Applications/Office" : "Applications/New/Deep",
                                         "App " + std::to_string(i));
        app.servers = {servers[i % 3], servers[(i + 1) % 3]};
        if (i % 5 == 0)
            app.servers.push_back("alpha"); // a repeat, dropped
        if (i % 4 == 0)
            app.users = {{2, 1, "CORP", "user" + std::to_string(i)}, {1, 0, "", "guest"}};
        app.groups = {{4, 1, "CORP", "Group" + std::to_string(i % 7)}};
        if (i % 2 == 0)
            app.icon = colourIcon(0xFF000000u + static_cast<std::uint32_t>(i));
        ASSERT_TRUE(app.settings.set(AppSetting::DefaultWindowWidth, 640 + i));
        apps.push_back(std::move(app));
    }
    const FarmImage base = smallFarm();
    FarmImage image = base;
    image.applications.assign(apps.begin(), apps.begin() + 10);
    std::vector<std::size_t> asked;
    const auto batches = [&](const std::vector<Application>& all) {
        return [&asked, &all](std::size_t first, std::vector<Application>& batch) {
            asked.push_back(first);
            for (std::size_t i = 10 + first; i < all.size() && i < 10 + first + 70; ++i)
                batch.push_back(all[i]);
            return !batch.empty();
        };
    };
    ASSERT_TRUE(store->replace(image, batches(apps)));
    EXPECT_EQ(asked, (std::vector<std::size_t>{0, 70, 140}));
    auto batched = reopen()->image();
    ASSERT_TRUE(batched) << batched.status().toString();

    FarmImage withFolders = base; // a save needs its folder made
    withFolders.folders.push_back("Applications/New/Deep");
    ASSERT_TRUE(store->replace(withFolders));
    for (const Application& app : apps)
        ASSERT_TRUE(store->saveApplication(app, nullptr)) << app.distinguishedName();
    auto oneByOne = reopen()->image();
    ASSERT_TRUE(oneByOne);
    ASSERT_EQ(batched->applications.size(), 150u);
    ASSERT_EQ(oneByOne->applications.size(), 150u);
    for (std::size_t i = 0; i < 150; ++i) {
        Application a = batched->applications[i], b = oneByOne->applications[i];
        a.id = b.id = 0;
        EXPECT_EQ(a, b) << b.distinguishedName();
    }
    EXPECT_EQ(batched->folders, oneByOne->folders);
    EXPECT_EQ(batched->applications[0].servers,
              (std::vector<std::string>{"ALPHA", "BETA"})); // stored spelling, repeat dropped

    // An application that cannot be stored is named, wherever its batch, and nothing changes.
    const auto refusal = [&](const std::vector<Application>& all) {
        image.applications.assign(all.begin(), all.begin() + 10);
        return store->replace(image, batches(all)).message();
    };
    std::vector<Application> wrong = apps;
    wrong[120].name = "APP 4";
    wrong[120].folder = "Applications/office";
    EXPECT_EQ(refusal(wrong), "Applications/Office/APP 4 cannot be stored: The application "
                              "Applications/Office/APP 4 already exists.");
    wrong = apps;
    wrong[100].servers.push_back("DELTA");
    EXPECT_EQ(refusal(wrong), "Applications/Office/App 100 cannot be stored: There is no server "
                              "named DELTA in the farm.");
    wrong = apps;
    wrong[90].folder = "Applications";
    wrong[90].name = "New";
    EXPECT_EQ(refusal(wrong), "Applications/New cannot be stored: Applications/New is a folder; "
                              "an application cannot have its name.");
    wrong = apps;
    wrong[140].folder = "Applications/Office/App 1";
    EXPECT_EQ(refusal(wrong), "Applications/Office/App 1/App 140 cannot be stored: "
                              "Applications/Office/App 1 is an application; a folder cannot have "
                              "its name.");
    EXPECT_EQ(reopen()->applications(IconLoading::Skip)->size(), 150u);
}

// The whole farm's icons are read a thousand to a statement, by their applications' ids, so that a
// PostgreSQL result (which holds every row of its statement at once) never holds them all beside
// the farm: 2,400 icons among 2,500 applications come back each with its own, in three statements
// (counted on SQLite, whose statements a test can count).
TEST_P(StoreConformance, TheWholeFarmsIconsAreReadAThousandToAStatement) {
    auto store = createSmallFarm();
    FarmImage image = smallFarm();
    for (std::uint32_t i = 0; i < 2500; ++i) {
        Application app = newApplication("Applications/Office", "App " + std::to_string(i));
        if (i % 25 != 7)
            app.icon = colourIcon(0xFF000000u + i);
        image.applications.push_back(std::move(app));
    }
    ASSERT_TRUE(store->replace(image));
    std::optional<sky::testing::StatementCounter> statements;
    if (!onPostgres())
        statements.emplace(testStorePath());
    auto read = reopen()->image();
    ASSERT_TRUE(read) << read.status().toString();
    ASSERT_EQ(read->applications.size(), 2500u);
    for (const Application& app : read->applications) {
        const auto i = static_cast<std::uint32_t>(std::stoul(app.name.substr(4)));
        ASSERT_TRUE(app.icon) << app.name;
        EXPECT_EQ(*app.icon, i % 25 != 7 ? colourIcon(0xFF000000u + i) : Bytes()) << app.name;
    }
    if (statements) {
        EXPECT_EQ(statements->count("FROM application_icon"), 3) << statements->list();
        EXPECT_EQ(statements->rows("FROM application_icon"), 2400);
    }
}

TEST_P(StoreConformance, TheWholeFarmIsReplacedInOneGo) {
    auto store = createSmallFarm();
    FarmImage image = smallFarm();
    image.farm.name = "Replaced";
    ASSERT_TRUE(image.farm.settings.set(FarmSetting::OvraKeepAliveTimeout, 90));
    Application app = newApplication("Applications/Finance/Reports", "Ledger");
    app.servers = {"BETA"};
    app.groups = {{4, 1, "CORP", "Accounts"}};
    app.icon = colourIcon(0xFF998877);
    image.applications = {app};
    ASSERT_TRUE(store->replace(image));

    auto read = reopen()->image();
    ASSERT_TRUE(read) << read.status().toString();
    EXPECT_EQ(read->farm, image.farm);
    EXPECT_EQ(read->zones, image.zones);
    EXPECT_EQ(read->servers, image.servers);
    // Folders an application needs are created.
    EXPECT_EQ(read->folders,
              (std::vector<std::string>{"Applications/Finance", "Applications/Finance/Reports",
                                        "Applications/Office", "Applications/Office/Tools"}));
    ASSERT_EQ(read->applications.size(), 1u);
    Application back = read->applications[0];
    back.id = 0;
    EXPECT_EQ(back, app);

    // A farm that cannot be leaves the farm as it was.
    FarmImage wrong = image;
    wrong.farm.name = "Wrong";
    wrong.zones[1].dataCollector = "ALPHA";
    Status refused = store->replace(wrong);
    EXPECT_EQ(refused.message(), "The data collector ALPHA of zone West is not a server of that "
                                 "zone.");
    wrong = image;
    wrong.servers.push_back({"alpha", "East", 5, 2});
    EXPECT_EQ(store->replace(wrong).message(), "The server alpha is listed twice.");
    wrong = image;
    wrong.servers[0].zone = "North";
    EXPECT_EQ(store->replace(wrong).message(), "The zone North of server ALPHA is not a zone of "
                                               "the farm.");
    EXPECT_EQ(reopen()->farm()->name, "Replaced");
    EXPECT_EQ(reopen()->applications(IconLoading::Skip)->size(), 1u);
}

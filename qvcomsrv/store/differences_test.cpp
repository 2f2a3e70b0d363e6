// What differs between two states of an application, as the audit trail and the import preview
// tell it: servers and accounts matched as the farm matches names (ignoring case, by the
// platform's folding for every script, also where a character outside ASCII folds),
// settings and fields with their old and new values, and icons only when both are loaded.
#include "qvcomsrv/store/differences.h"

#include <gtest/gtest.h>

namespace sky::farm {
namespace {

Application withServers(std::vector<std::string> servers) {
    Application app;
    app.folder = "Applications";
    app.name = "Calc";
    app.servers = std::move(servers);
    return app;
}

TEST(ApplicationDifferences, ServersAreMatchedIgnoringCaseInEveryScript) {
    const auto differences = [](std::vector<std::string> before, std::vector<std::string> after) {
        return differencesBetween(withServers(std::move(before)), withServers(std::move(after)));
    };
    // The same names in another case: nothing gained or lost.
    EXPECT_TRUE(differences({"ALPHA", "Beta"}, {"alpha", "BETA"}).empty());
    EXPECT_TRUE(differences({"ΩMEGA"}, {"ωmega"}).empty());
    // Outside ASCII too: y with diaeresis folds to U+0178.
    EXPECT_TRUE(differences({"SRV\u0178"}, {"srv\u00ff"}).empty());
    // U+0131 (dotless i) and U+017F (long s) have no capital in Windows' case table: "srvı" and
    // "SRVI" are two servers, as they are there.
    const ApplicationDifferences dotless = differences({"SRVI"}, {"srv\u0131"});
    EXPECT_EQ(dotless.serversGained, std::vector<std::string>{"srv\u0131"});
    EXPECT_EQ(dotless.serversLost, std::vector<std::string>{"SRVI"});
    EXPECT_FALSE(differences({"\u017frv"}, {"SRV"}).empty());

    const ApplicationDifferences changed =
        differences({"ALPHA", "BETA", "ΩMEGA"}, {"beta", "Gamma", "ωmega", "DELTA"});
    EXPECT_EQ(changed.serversGained, (std::vector<std::string>{"Gamma", "DELTA"}));
    EXPECT_EQ(changed.serversLost, std::vector<std::string>{"ALPHA"});
    EXPECT_TRUE(changed.settings.empty());
    // A name that only begins like another is another.
    EXPECT_EQ(differences({"SRV1"}, {"srv10"}).serversGained, std::vector<std::string>{"srv10"});
}

TEST(ApplicationDifferences, AccountsFieldsSettingsAndIconsWithOldAndNewValues) {
    Application before = withServers({"ALPHA"});
    before.users = {{1, 1, "CORP", "bob"}, {1, 1, "CORP", "eve"}};
    before.groups = {{2, 1, "CORP", "Staff"}};
    Application after = before;
    after.users = {{1, 1, "corp", "BOB"}, {1, 1, "CORP", "carol"}};
    after.groups = {};
    after.description = "Pocket calculator";
    after.folder = "APPLICATIONS"; // the same folder
    ASSERT_TRUE(after.settings.set(AppSetting::DefaultWindowWidth, 1024));
    ASSERT_TRUE(after.settings.set(AppSetting::DefaultInitProg, "calc.exe"));

    const ApplicationDifferences differences = differencesBetween(before, after);
    EXPECT_EQ(differences.settings,
              (std::vector<SettingChange>{
                  {"Description", std::string(), std::string("Pocket calculator")},
                  {"DefaultInitProg", std::string(), std::string("calc.exe")},
                  {"DefaultWindowWidth", 800, 1024},
              }));
    EXPECT_EQ(differences.usersGained, (std::vector<Account>{{1, 1, "CORP", "carol"}}));
    EXPECT_EQ(differences.usersLost, (std::vector<Account>{{1, 1, "CORP", "eve"}}));
    EXPECT_EQ(differences.groupsLost, (std::vector<Account>{{2, 1, "CORP", "Staff"}}));
    EXPECT_TRUE(differences.groupsGained.empty());
    EXPECT_FALSE(differences.iconChanged);

    // Icons: compared only when both are loaded.
    before.icon = Bytes{1, 2, 3};
    after = before;
    EXPECT_TRUE(differencesBetween(before, after).empty());
    after.icon = Bytes{1, 2, 4};
    EXPECT_TRUE(differencesBetween(before, after).iconChanged);
    after.icon.reset();
    EXPECT_TRUE(differencesBetween(before, after).empty());
}

} // namespace
} // namespace sky::farm

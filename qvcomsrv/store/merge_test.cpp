#include <gtest/gtest.h>

#include "qvcomsrv/store/merge.h"

using namespace sky::farm;

namespace {

Application base() {
    Application app;
    app.id = 7;
    app.name = "Word";
    app.folder = "Applications/Office";
    app.servers = {"ALPHA", "BETA"};
    app.users = {{2, 1, "CORP", "zoe"}, {2, 1, "CORP", "adam"}};
    return app;
}

} // namespace

TEST(Merge, UnchangedFieldsKeepTheCurrentValue) {
    const Application loaded = base();
    Application current = base();
    current.description = "theirs";
    ASSERT_TRUE(current.settings.set(AppSetting::DefaultSoundType, 1));
    current.name = "Writer";
    const Application merged = mergeChanges(current, loaded, loaded); // we changed nothing
    EXPECT_EQ(merged, current);
}

TEST(Merge, TheLaterChangeOfOneSettingWins) {
    const Application loaded = base();
    Application current = base();
    ASSERT_TRUE(current.settings.set(AppSetting::DefaultWindowColor, 4));
    Application edited = base();
    ASSERT_TRUE(edited.settings.set(AppSetting::DefaultWindowColor, 1));
    EXPECT_EQ(mergeChanges(current, loaded, edited).settings.number(AppSetting::DefaultWindowColor),
              1);
}

TEST(Merge, ServersWithdrawnAndPublishedApplyToTheCurrentList) {
    const Application loaded = base();
    Application current = base();
    current.servers = {"ALPHA", "BETA", "GAMMA"}; // someone published on GAMMA
    Application edited = base();
    edited.servers = {"beta", "DELTA"}; // we withdrew ALPHA and published on DELTA
    EXPECT_EQ(mergeChanges(current, loaded, edited).servers,
              (std::vector<std::string>{"BETA", "GAMMA", "DELTA"}));
    // Withdrawing what someone else withdrew already is no conflict.
    current.servers = {"BETA"};
    EXPECT_EQ(mergeChanges(current, loaded, edited).servers,
              (std::vector<std::string>{"BETA", "DELTA"}));
}

TEST(Merge, AccountsChangedByTypeAreGrantedAgain) {
    const Application loaded = base();
    Application current = base();
    current.users.push_back({1, 0, "", "guest"});
    Application edited = base();
    edited.users[0].accountType = 1;              // zoe is now a local user
    edited.users.erase(edited.users.begin() + 1); // adam removed
    edited.groups = {{4, 1, "CORP", "Staff"}};
    const Application merged = mergeChanges(current, loaded, edited);
    EXPECT_EQ(merged.users, (std::vector<Account>{{1, 0, "", "guest"}, {1, 1, "CORP", "zoe"}}));
    EXPECT_EQ(merged.groups, edited.groups);
}

TEST(Merge, AnIconIsTakenOnlyWhenTheCallerChangedIt) {
    Application loaded = base();
    Application current = base();
    Application edited = base();
    edited.icon = Bytes{1}; // loaded without icon, then given one
    EXPECT_EQ(mergeChanges(current, loaded, edited).icon, Bytes{1});
    loaded.icon = Bytes{1};
    EXPECT_FALSE(mergeChanges(current, loaded, edited).icon.has_value()); // unchanged
    edited.icon = Bytes();
    EXPECT_EQ(mergeChanges(current, loaded, edited).icon, Bytes()); // back to the default
}

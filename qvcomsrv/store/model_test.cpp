#include <gtest/gtest.h>

#include "qvcomsrv/store/model.h"
#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/settings.h"

using namespace sky::farm;

TEST(Settings, DefaultsAreValidValuesOfTheirKind) {
    for (const SettingDef& def : farmSettingDefs())
        EXPECT_TRUE(def.check(def.defaultValue())) << def.name;
    for (const SettingDef& def : appSettingDefs())
        EXPECT_TRUE(def.check(def.defaultValue())) << def.name;
    FarmSettings farm;
    EXPECT_EQ(farm.number(FarmSetting::SRPort), 2598);
    EXPECT_EQ(farm.text(FarmSetting::NDSPreferredTree), "");
    AppSettings app;
    EXPECT_EQ(app.number(AppSetting::EnableApp), 1);
    EXPECT_EQ(app.number(AppSetting::InstanceLimit), -1);
}

TEST(Settings, EnumerationsRefuseValuesOutsideTheirMembers) {
    AppSettings app;
    EXPECT_TRUE(app.set(AppSetting::DefaultWindowType, 8)); // 1600x1200, numbered after 7
    EXPECT_EQ(app.number(AppSetting::DefaultWindowType), 8);
    Status tooBig = app.set(AppSetting::DefaultWindowType, 9);
    EXPECT_EQ(tooBig.code(), Status::Code::InvalidArgument);
    EXPECT_EQ(tooBig.message(),
              "The value 9 is not valid for DefaultWindowType: QVWinWindowType takes 0 to 8.");
    EXPECT_EQ(app.number(AppSetting::DefaultWindowType), 8); // unchanged by the refusal
    EXPECT_FALSE(app.set(AppSetting::DefaultEncryption, -1));
    EXPECT_FALSE(app.set(AppSetting::CPUPriority, 6));
}

TEST(Settings, BitSetsTakeAnyCombinationOfTheirBits) {
    AppSettings app;
    EXPECT_TRUE(app.set(AppSetting::LumoAttributes, 6)); // minimum sound and encryption
    EXPECT_TRUE(app.set(AppSetting::LumoAttributes, 31));
    Status outside = app.set(AppSetting::LumoAttributes, 32);
    EXPECT_EQ(outside.message(), "The value 32 is not valid for LumoAttributes: "
                                 "QVWinAppLumoAttribute takes a combination of 1, 2, 4, 8 and "
                                 "16.");
    EXPECT_TRUE(app.set(AppSetting::QVAttributes, 3));
    EXPECT_FALSE(app.set(AppSetting::QVAttributes, 4));
}

TEST(Settings, FlagsKeepTheNumberGivenAndKindsAreChecked) {
    FarmSettings farm;
    EXPECT_TRUE(farm.set(FarmSetting::EnableACR, -1));
    EXPECT_EQ(farm.number(FarmSetting::EnableACR), -1);
    EXPECT_EQ(farm.set(FarmSetting::NDSPreferredTree, 5).message(),
              "NDSPreferredTree takes text, not a number.");
    EXPECT_EQ(farm.set(FarmSetting::SRPort, std::string("2598")).message(),
              "SRPort takes a number, not text.");
}

TEST(Settings, FoundByTheirPropertyNames) {
    EXPECT_EQ(findFarmSetting("OvraKeepAliveTimeout"), FarmSetting::OvraKeepAliveTimeout);
    EXPECT_EQ(findAppSetting("HideDisabledApp"), AppSetting::HideDisabledApp);
    EXPECT_FALSE(findAppSetting("AppName")); // a field of the application, not a setting
    EXPECT_FALSE(findFarmSetting("sRpORT"));
    EXPECT_TRUE(isSessionReliability(FarmSetting::SRTimeout));
    EXPECT_FALSE(isSessionReliability(FarmSetting::EnableACR));
}

TEST(Names, DistinguishedNamesSplitIntoSegments) {
    EXPECT_EQ(*splitDistinguishedName("Applications"), std::vector<std::string>{});
    EXPECT_EQ(*splitDistinguishedName("applications/Office/Word"),
              (std::vector<std::string>{"Office", "Word"}));
    EXPECT_EQ(*splitDistinguishedName("Applications/Tools/Applications/Setup"),
              (std::vector<std::string>{"Tools", "Applications", "Setup"}));
    for (const char* bad : {"", "Office/Word", "ApplicationsX/Word", "Applications/",
                            "Applications//Word", "Applications/Word/", "Applications/A\\B"}) {
        auto parts = splitDistinguishedName(bad);
        ASSERT_FALSE(parts) << bad;
        EXPECT_EQ(parts.status().code(), Status::Code::InvalidArgument);
    }
    EXPECT_EQ(splitDistinguishedName("Office/Word").status().message(),
              "\"Office/Word\" is not a distinguished name: it must begin with \"Applications\".");
}

TEST(Names, DotsAndInvisibleControlsCannotName) {
    for (const char* bad : {".", "..", "Tab\there", "Next\xC2\x85Line",
                            "Reversed\xE2\x80\xAE"
                            "exe.txt",
                            "Isolate\xE2\x81\xA6"
                            "d",
                            "Del\x7F"}) {
        EXPECT_EQ(checkSegmentName("application", bad).code(), Status::Code::InvalidArgument)
            << bad;
        EXPECT_EQ(checkSegmentName("folder", bad).code(), Status::Code::InvalidArgument) << bad;
    }
    EXPECT_EQ(checkSegmentName("application", "..").message(),
              "\"..\" cannot name an application.");
    EXPECT_EQ(checkSegmentName("folder", "Next\xC2\x85Line").message(),
              "The folder name \"Next\xC2\x85Line\" must not contain control characters.");
    for (const char* good :
         {"Setup..", "...", ".profile", "Caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC"})
        EXPECT_TRUE(checkSegmentName("application", good)) << good;

    for (const char* bad : {"Applications/../../etc", "Applications/./Word",
                            "Applications/Office/..", "Applications/A\xC2\x85"}) {
        auto parts = splitDistinguishedName(bad);
        EXPECT_FALSE(parts) << bad;
    }
    EXPECT_EQ(splitDistinguishedName("Applications/../../etc").status().message(),
              "\"Applications/../../etc\" is not a distinguished name: \"..\" cannot be a "
              "segment.");
    EXPECT_TRUE(splitDistinguishedName("Applications/Setup../Run"));
}

TEST(Names, MatchIgnoringCaseAsWindowsDoes) {
    EXPECT_TRUE(sameName("Applications/Office/WORD", "applications/office/word"));
    EXPECT_TRUE(sameName("Größe", "GRÖßE")); // Latin-1 letters fold too
    EXPECT_FALSE(sameName("Word", "Word "));
    EXPECT_EQ(checkSegmentName("application", "A/B").message(),
              "The application name \"A/B\" must not contain \"/\" or \"\\\".");
    EXPECT_FALSE(checkSegmentName("folder", ""));
    EXPECT_FALSE(checkSegmentName("folder", "Line\nBreak"));
}

TEST(Application, PublishingInMemoryReportsWhatIsAlreadySo) {
    Application app;
    app.name = "Word";
    app.folder = "Applications/Office";
    EXPECT_EQ(app.distinguishedName(), "Applications/Office/Word");
    EXPECT_TRUE(publishOn(app, "ALPHA"));
    Status again = publishOn(app, "alpha");
    EXPECT_EQ(again.code(), Status::Code::AlreadyExists);
    EXPECT_EQ(again.message(),
              "The application Applications/Office/Word is already published on server alpha.");
    EXPECT_TRUE(withdrawFrom(app, "Alpha"));
    Status notThere = withdrawFrom(app, "ALPHA");
    EXPECT_EQ(notThere.code(), Status::Code::NotFound);
    EXPECT_EQ(notThere.message(),
              "The application Applications/Office/Word is not published on server ALPHA.");
    EXPECT_TRUE(app.servers.empty());
}

TEST(Application, GrantingAnAccountTwiceKeepsOne) {
    Application app;
    grantUser(app, {2, 1, "CORP", "alice"});
    grantUser(app, {2, 1, "corp", "ALICE"});
    grantUser(app, {2, 3, "corp", "alice"}); // another authority: another account
    grantGroup(app, {4, 1, "CORP", "Staff"});
    EXPECT_EQ(app.users.size(), 2u);
    EXPECT_EQ(app.groups.size(), 1u);
    EXPECT_EQ(app.users[0].displayName(), "CORP\\alice");
    EXPECT_FALSE(checkAccount({8, 1, "CORP", "x"}));
    EXPECT_FALSE(checkAccount({1, 4, "CORP", "x"}));
    EXPECT_FALSE(checkAccount({1, 1, "CORP", ""}));
    EXPECT_TRUE(checkAccount({7, 0, "", "x"}));
}

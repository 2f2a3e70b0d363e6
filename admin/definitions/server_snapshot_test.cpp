// Take offline and bring online over a real farm.
#include "definitions/server_snapshot.h"

#include <gtest/gtest.h>

#include "core/runtime_errors.h"
#include "definitions/definitions_test_support.h"

namespace brask {
namespace {

using namespace testing;
using sky::farm::Application;

// The distinguished names of the applications published on `server`.
std::vector<std::string> publishedOn(const std::string& server) {
    std::vector<std::string> names;
    for (const Application& app : servedFarm().applications) {
        if (app.isPublishedOn(server)) {
            names.push_back(app.distinguishedName());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ServerSnapshotTest : public DefinitionsTest {
protected:
    void SetUp() override {
        DefinitionsTest::SetUp();
        auto image = emptyFarm("Snapshots", {"SRV1", "SRV2", "SRV3"});
        image.servers[1].osMajor = 6;
        image.servers[1].osMinor = 1;
        image.folders = {"Applications/Office"};
        image.applications = {application("Applications/Office", "Word", {"SRV1", "SRV2"}),
                              application("Applications", "Calc", {"SRV2"}),
                              application("Applications", "A=B", {"SRV2"}),
                              application("Applications", "Paint", {"SRV1"})};
        serveFarm(image);
    }

    AdminState state_;
    RecordingFeedback feedback_;
};

TEST_F(ServerSnapshotTest, OfflineWithdrawsEveryApplicationAndRecordsIt) {
    ASSERT_TRUE(takeServerOffline(state_, feedback_, u"srv2", windowsFile("srv2.ini")));
    EXPECT_TRUE(feedback_.reports_.empty());
    EXPECT_TRUE(publishedOn("SRV2").empty());
    EXPECT_EQ(publishedOn("SRV1"),
              (std::vector<std::string>{"Applications/Office/Word", "Applications/Paint"}));

    std::vector<std::string> lines = fileLines(hostFile("srv2.ini"));
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"[Servers]", "ServerName=SRV2", "Windows NT Version=6.1",
                                        "", "[Applications]"}));
    std::vector<std::string> recorded(lines.begin() + 5, lines.begin() + 8);
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(recorded, (std::vector<std::string>{"DistinguishedName=Applications/A=B",
                                                  "DistinguishedName=Applications/Calc",
                                                  "DistinguishedName=Applications/Office/Word"}));
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[9], "");
    ASSERT_EQ(feedback_.progress_.size(), 4u);
    EXPECT_FLOAT_EQ(feedback_.progress_.back(), 99.0f);
}

// An application whose line the code page cannot hold stops the run before it is withdrawn, so
// that the file names exactly the applications that were withdrawn and bringing the server online
// puts back all of them.
TEST_F(ServerSnapshotTest, AnApplicationTheFileCannotNameStaysOnTheServer) {
    sky::farm::FarmImage image = servedFarm();
    image.applications.push_back(application("Applications", "Пейнт", {"SRV1"}));
    serveFarm(image);
    EXPECT_FALSE(takeServerOffline(state_, feedback_, u"SRV1", windowsFile("srv1.ini")));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_EQ(feedback_.reports_[0].number, kInvalidCall);
    EXPECT_NE(feedback_.reports_[0].description.find("Пейнт"), std::string::npos)
        << feedback_.reports_[0].description;
    // Those before it in the server's order are withdrawn and recorded; it and those after it
    // stay.
    const std::vector<std::string> stillOn = publishedOn("SRV1");
    EXPECT_NE(std::find(stillOn.begin(), stillOn.end(), "Applications/Пейнт"), stillOn.end());
    std::vector<std::string> withdrawn;
    for (const char* dn : {"Applications/Office/Word", "Applications/Paint"}) {
        if (std::find(stillOn.begin(), stillOn.end(), dn) == stillOn.end()) {
            withdrawn.push_back(std::string("DistinguishedName=") + dn);
        }
    }
    std::vector<std::string> lines = fileLines(hostFile("srv1.ini"));
    ASSERT_GE(lines.size(), 5u);
    std::vector<std::string> recorded(lines.begin() + 5, lines.end());
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(recorded, withdrawn);
    ASSERT_TRUE(bringServerOnline(state_, feedback_, u"SRV1", windowsFile("srv1.ini")));
    EXPECT_EQ(publishedOn("SRV1"),
              (std::vector<std::string>{"Applications/Office/Word", "Applications/Paint",
                                        "Applications/Пейнт"}));
}

// The step is 99 divided by the count of the server's applications, in fractions: a seventh of
// 99 is 14.142857..., where whole-number division would step by 14 and end at 98.
TEST_F(ServerSnapshotTest, ProgressStepsByNinetyNineOverTheCountInFractions) {
    auto image = emptyFarm("Seven", {"SRV1"});
    addApplications(image, 7);
    serveFarm(image);

    ASSERT_TRUE(takeServerOffline(state_, feedback_, u"SRV1", windowsFile("srv1.ini")));
    EXPECT_TRUE(feedback_.reports_.empty());
    EXPECT_TRUE(publishedOn("SRV1").empty());
    feedback_.expectStepsOverApplications(7);
}

// The count is a 16-bit number: a server of more applications stops before the first is
// withdrawn, with an overflow.
TEST_F(ServerSnapshotTest, AServerOfMoreThan32767ApplicationsStopsWithAnOverflow) {
    auto image = emptyFarm("Crowded", {"SRV1"});
    addApplications(image, 32768);
    serveFarm(image);

    EXPECT_FALSE(takeServerOffline(state_, feedback_, u"SRV1", windowsFile("srv1.ini")));
    feedback_.expectTooManyApplications();
    EXPECT_EQ(publishedOn("SRV1").size(), 32768u) << "nothing was withdrawn";
}

TEST_F(ServerSnapshotTest, EmptyServerGivesAnEmptyListThatBringsNothingOnline) {
    ASSERT_TRUE(takeServerOffline(state_, feedback_, u"SRV3", windowsFile("srv3.ini")));
    EXPECT_EQ(fileBytes(hostFile("srv3.ini")),
              "[Servers]\r\nServerName=SRV3\r\nWindows NT Version=5.2\r\n\r\n[Applications]\r\n"
              "\r\n\r\n");
    EXPECT_EQ(feedback_.progress_, std::vector<float>{0.0f});

    ASSERT_TRUE(bringServerOnline(state_, feedback_, u"SRV3", windowsFile("srv3.ini")));
    EXPECT_TRUE(publishedOn("SRV3").empty());
    EXPECT_TRUE(feedback_.reports_.empty());
}

TEST_F(ServerSnapshotTest, SecondOfflineIntoTheSameFileRecordsNothing) {
    ASSERT_TRUE(takeServerOffline(state_, feedback_, u"SRV1", windowsFile("srv1.ini")));
    ASSERT_TRUE(takeServerOffline(state_, feedback_, u"SRV1", windowsFile("srv1.ini")));
    EXPECT_EQ(fileLines(hostFile("srv1.ini")),
              (std::vector<std::string>{"[Servers]", "ServerName=SRV1", "Windows NT Version=5.2",
                                        "", "[Applications]", "", ""}));
}

TEST_F(ServerSnapshotTest, SnapshotOfOneServerBringsAnotherOnline) {
    ASSERT_TRUE(takeServerOffline(state_, feedback_, u"SRV2", windowsFile("srv2.ini")));
    ASSERT_TRUE(bringServerOnline(state_, feedback_, u"SRV3", windowsFile("srv2.ini")));
    EXPECT_TRUE(feedback_.reports_.empty());
    EXPECT_EQ(publishedOn("SRV3"),
              (std::vector<std::string>{"Applications/A=B", "Applications/Calc",
                                        "Applications/Office/Word"}));
    EXPECT_TRUE(publishedOn("SRV2").empty());
    // The status showed each name without "Applications/", "=" included.
    std::vector<std::string> statuses = feedback_.statuses_;
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses, (std::vector<std::string>{"", "A=B", "Calc", "Office/Word"}));
}

TEST_F(ServerSnapshotTest, OnlyDistinguishedNameLinesAreRead) {
    writeBytes(hostFile("hand.ini"), "[Servers]\r\nServerName=SRV1\r\n=Applications/Paint\r\n"
                                     "Applications/Paint\r\n"
                                     "distinguishedname=Applications/Paint\r\n"
                                     "[Applications]\r\nDistinguishedName=Applications/A=B\r\n");
    ASSERT_TRUE(bringServerOnline(state_, feedback_, u"SRV3", windowsFile("hand.ini")));
    EXPECT_EQ(publishedOn("SRV3"), std::vector<std::string>{"Applications/A=B"});
}

TEST_F(ServerSnapshotTest, OnlineStopsAtAnApplicationAlreadyOnTheServer) {
    writeBytes(hostFile("srv1.ini"), "[Applications]\r\nDistinguishedName=Applications/Calc\r\n"
                                     "DistinguishedName=Applications/Paint\r\n"
                                     "DistinguishedName=Applications/Office/Word\r\n");
    EXPECT_FALSE(bringServerOnline(state_, feedback_, u"SRV1", windowsFile("srv1.ini")));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_LT(feedback_.reports_[0].number, 0);
    EXPECT_NE(feedback_.reports_[0].description.find("SRV1"), std::string::npos)
        << feedback_.reports_[0].description;
    EXPECT_EQ(publishedOn("SRV1"),
              (std::vector<std::string>{"Applications/Calc", "Applications/Office/Word",
                                        "Applications/Paint"}));
    // Word, after the failure, was not reached: it was on SRV1 already in any case; Calc, before
    // it, stays published.
}

TEST_F(ServerSnapshotTest, OnlineOfAnApplicationThatIsGoneStops) {
    writeBytes(hostFile("gone.ini"), "DistinguishedName=Applications/Calc\r\n"
                                     "DistinguishedName=Applications/Gone\r\n"
                                     "DistinguishedName=Applications/Paint\r\n");
    EXPECT_FALSE(bringServerOnline(state_, feedback_, u"SRV3", windowsFile("gone.ini")));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_LT(feedback_.reports_[0].number, 0);
    EXPECT_EQ(publishedOn("SRV3"), std::vector<std::string>{"Applications/Calc"});
}

TEST_F(ServerSnapshotTest, FilesAreOpenedBeforeAnyObjectIsTouched) {
    EXPECT_FALSE(bringServerOnline(state_, feedback_, u"SRV1", windowsFile("missing.ini")));
    EXPECT_FALSE(takeServerOffline(state_, feedback_, u"SRV1", windowsFile("none\\srv1.ini")));
    ASSERT_EQ(feedback_.reports_.size(), 2u);
    EXPECT_EQ(feedback_.reports_[0].number, kFileNotFound);
    EXPECT_EQ(feedback_.reports_[1].number, kPathNotFound);
    EXPECT_EQ(state_.farm.get(), nullptr);
    EXPECT_EQ(state_.server.get(), nullptr);
    EXPECT_EQ(publishedOn("SRV1"),
              (std::vector<std::string>{"Applications/Office/Word", "Applications/Paint"}));
}

TEST_F(ServerSnapshotTest, UnknownServerStopsOfflineWithTheObjectsError) {
    EXPECT_FALSE(takeServerOffline(state_, feedback_, u"NOWHERE", windowsFile("x.ini")));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_LT(feedback_.reports_[0].number, 0);
    EXPECT_EQ(fileBytes(hostFile("x.ini")), "");
}

} // namespace
} // namespace brask

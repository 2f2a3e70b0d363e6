// Farm import over a real farm: definition files written as a person or an older export would
// have them, read into a farm that the object model module serves, the result read from the store.
#include "definitions/import_farm.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "core/runtime_errors.h"
#include "definitions/definitions_test_support.h"
#include "definitions/export_farm.h"
#include "definitions/file_system.h"
#include "sky/sqlite_testing.h"

namespace brask {
namespace {

using namespace testing;
using sky::farm::Application;
using sky::farm::AppSetting;
using sky::farm::FarmSetting;

const Application* find(const sky::farm::FarmImage& image, const std::string& dn) {
    for (const Application& app : image.applications) {
        if (app.distinguishedName() == dn) {
            return &app;
        }
    }
    return nullptr;
}

class ImportFarmTest : public DefinitionsTest {
protected:
    void SetUp() override {
        DefinitionsTest::SetUp();
        fs::create_directories(work_ / "icons");
        writeBytes(work_ / "icons" / "red.ico", asText(colourIcon(0xFFFF0000)));
        writeBytes(work_ / "icons" / "blue.ico", asText(colourIcon(0xFF0000FF)));
    }

    static std::string asText(const sky::farm::Bytes& bytes) {
        return std::string(bytes.begin(), bytes.end());
    }

    // The "Icon=" line of an icon in the work folder's icons folder.
    std::string icon(const std::string& file) const {
        return "Icon=" + sky::narrow(windowsWork()) + "\\icons\\" + file;
    }

    // Writes `lines` with CR LF and imports the file.
    bool importLines(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\r\n";
        }
        writeBytes(hostFile("import.ini"), text);
        return importFarm(state_, feedback_, windowsFile("import.ini"));
    }

    AdminState state_;
    RecordingFeedback feedback_;
};

TEST_F(ImportFarmTest, FarmLinesAsTheReaderTakesThem) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    // No "[Farm]" header: lines before any header belong to the farm.
    ASSERT_TRUE(importLines({
        "MaxConnectionsPerUser=7",
        "maxconnectionsperuser=5",
        "NDSPreferredTree=a=b",
        "=MaxConnectionsPerUser=99",
        "Farmname=Renamed",
        "OvraVideoBufferSize=0.9765625",
        " [Farm]",
        "SNMPThresholdValue=lots",
        "LogOverLimitDenials=1",
        "DegradationBias=9",
        "OvraKeepAliveTime=45",
        "SRPort=2599",
    }));
    EXPECT_TRUE(feedback_.reports_.empty());
    const auto farm = servedFarm().farm;
    EXPECT_EQ(farm.name, "Target");
    EXPECT_EQ(farm.settings.number(FarmSetting::MaxConnectionsPerUser), 7);
    EXPECT_EQ(farm.settings.text(FarmSetting::NDSPreferredTree), "a=b");
    EXPECT_EQ(farm.settings.number(FarmSetting::OvraVideoBufferSize), 1000);
    // A value that is no number, and one the farm refuses, are passed over in silence.
    EXPECT_EQ(farm.settings.number(FarmSetting::SNMPThresholdValue), 0);
    EXPECT_EQ(farm.settings.number(FarmSetting::DegradationBias), 1);
    EXPECT_EQ(farm.settings.number(FarmSetting::LogOverLimitDenials), 1);
    EXPECT_EQ(farm.settings.number(FarmSetting::OvraKeepAliveTimeout), 45);
    EXPECT_EQ(farm.settings.number(FarmSetting::SRPort), 2599);
    EXPECT_TRUE(feedback_.notices_.empty());
}

TEST_F(ImportFarmTest, ApplicationWithFoldersServersAccountsAndIcon) {
    auto target = emptyFarm("Target", {"SRV1", "SRV2"});
    target.folders = {"Applications/Office"};
    serveFarm(target);
    ASSERT_TRUE(importLines({
        "[FARM]",
        "",
        "[application]",
        "AppName=Calc",
        "DistinguishedName=Applications/Office/Tools/Calc",
        "EnableApp=1",
        "HideDisabledApp=1",
        "Description=Sums=totals",
        "DefaultInitProg=   calc.exe /x  ",
        "DefaultWorkDir= C:\\Tools ",
        "DefaultWindowType=8",
        "CPUPriority=5",
        "Server=SRV2",
        "LumoFolder=Lumo",
        "StartMenuFolder=Start",
        "QVAttributes=2",
        "LumoAttributes=6",
        "ParentFolderDN=Applications/Office/Tools",
        "Farmname=Ignored",
        "",
        "[Servers]",
        "Server=SRV1",
        "",
        "[Users]",
        "User=2:1:CORP:alice",
        "User=1:0::kiosk:extra",
        "",
        "[Groups]",
        "Group=4:3:corp.example.com:Staff",
        "",
        "[Icon]",
        icon("red.ico"),
        "",
    }));
    EXPECT_TRUE(feedback_.reports_.empty()) << feedback_.reports_[0].description;
    const auto image = servedFarm();
    EXPECT_NE(std::find(image.folders.begin(), image.folders.end(), "Applications/Office/Tools"),
              image.folders.end());
    const Application* calc = find(image, "Applications/Office/Tools/Calc");
    ASSERT_NE(calc, nullptr);
    EXPECT_EQ(calc->description, "Sums=totals");
    EXPECT_EQ(calc->settings.text(AppSetting::DefaultInitProg), "calc.exe /x");
    EXPECT_EQ(calc->settings.text(AppSetting::DefaultWorkDir), " C:\\Tools ");
    EXPECT_EQ(calc->settings.number(AppSetting::DefaultWindowType), 8);
    EXPECT_EQ(calc->settings.number(AppSetting::HideDisabledApp), 0);
    EXPECT_EQ(calc->settings.number(AppSetting::QVAttributes), 2);
    EXPECT_EQ(calc->settings.number(AppSetting::LumoAttributes), 6);
    EXPECT_EQ(calc->settings.text(AppSetting::LumoFolder), "Lumo");
    // Only the servers section's line publishes.
    EXPECT_EQ(calc->servers, std::vector<std::string>{"SRV1"});
    EXPECT_EQ(calc->users,
              (std::vector<sky::farm::Account>{{2, 1, "CORP", "alice"}, {1, 0, "", "kiosk"}}));
    EXPECT_EQ(calc->groups, (std::vector<sky::farm::Account>{{4, 3, "corp.example.com", "Staff"}}));
    ASSERT_TRUE(calc->icon);
    EXPECT_EQ(*calc->icon, colourIcon(0xFFFF0000));
    EXPECT_EQ(feedback_.statuses_, (std::vector<std::string>{"", "Office/Tools/Calc"}));
    // No scratch icon stays behind in the temporary folder.
    WCHAR temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    for (const auto& entry : fs::directory_iterator(*sky::machine::toHostPath(temp))) {
        EXPECT_NE(entry.path().extension(), ".ico") << entry.path();
    }
}

TEST_F(ImportFarmTest, PublishedDesktopSetsTheBitThenTheWholeAttributes) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    ASSERT_TRUE(
        importLines({"[Application]", "AppName=Desk", "DefaultInitProg=PublishedDesktop",
                     "ParentFolderDN=Applications", "[Icon]", icon("red.ico"), "[Application]",
                     "AppName=Desk2", "DefaultInitProg=PublishedDesktop", "LumoAttributes=12",
                     "[Icon]", icon("red.ico"), "[Application]", "AppName=NotDesk",
                     "DefaultInitProg=publisheddesktop", "[Icon]", icon("red.ico")}));
    const auto image = servedFarm();
    ASSERT_EQ(image.applications.size(), 3u);
    EXPECT_EQ(find(image, "Applications/Desk")->settings.number(AppSetting::LumoAttributes), 8);
    EXPECT_EQ(find(image, "Applications/Desk")->settings.text(AppSetting::DefaultInitProg), "");
    EXPECT_EQ(find(image, "Applications/Desk2")->settings.number(AppSetting::LumoAttributes), 12);
    const Application* other = find(image, "Applications/NotDesk");
    EXPECT_EQ(other->settings.number(AppSetting::LumoAttributes), 0);
    EXPECT_EQ(other->settings.text(AppSetting::DefaultInitProg), "publisheddesktop");
}

TEST_F(ImportFarmTest, BlocksWithoutIconLineAreNeverStored) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    ASSERT_TRUE(
        importLines({"[Application]", "AppName=Dropped", "[Icon]", "", "[Application]",
                     "AppName=AlsoDropped", "[Users]", "[Application]", "AppName=Kept", "[Icon]",
                     "Icons=x", icon("blue.ico"), "[Application]", "AppName=Last"}));
    EXPECT_TRUE(feedback_.reports_.empty());
    const auto image = servedFarm();
    ASSERT_EQ(image.applications.size(), 1u);
    EXPECT_EQ(image.applications[0].name, "Kept");
    EXPECT_EQ(*image.applications[0].icon, colourIcon(0xFF0000FF));
}

TEST_F(ImportFarmTest, ApplicationValueThatIsNoNumberStopsTheImport) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    EXPECT_FALSE(importLines({"MaxConnectionsPerUser=lots", "SNMPThresholdValue=9", "[Application]",
                              "AppName=First", "[Icon]", icon("red.ico"), "[Application]",
                              "AppName=Second", "InstanceLimit=abc", "[Icon]", icon("red.ico"),
                              "[Application]", "AppName=Third", "[Icon]", icon("red.ico")}));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_EQ(feedback_.reports_[0].number, kTypeMismatch);
    const auto image = servedFarm();
    EXPECT_EQ(image.farm.settings.number(FarmSetting::SNMPThresholdValue), 9);
    ASSERT_EQ(image.applications.size(), 1u);
    EXPECT_EQ(image.applications[0].name, "First");
}

TEST_F(ImportFarmTest, AccountLineWithThreeFieldsStopsTheImport) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    EXPECT_FALSE(
        importLines({"[Application]", "AppName=First", "[Icon]", icon("red.ico"), "[Application]",
                     "AppName=Second", "[Users]", "User=2:1:CORP", "[Icon]", icon("red.ico")}));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_EQ(feedback_.reports_[0].number, kSubscriptOutOfRange);
    // The report ends with what the import did before the failure, which is in the farm.
    EXPECT_EQ(feedback_.reports_[0].description,
              "Subscript out of range\r\r     Done before the error: 1 applications");
    const auto image = servedFarm();
    ASSERT_EQ(image.applications.size(), 1u);
    EXPECT_EQ(image.applications[0].name, "First");
}

TEST_F(ImportFarmTest, ServerTheFarmDoesNotKnowStopsWithTheObjectsError) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    EXPECT_FALSE(importLines({"[Application]", "AppName=First", "[Servers]", "Server=NOWHERE",
                              "[Icon]", icon("red.ico")}));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_LT(feedback_.reports_[0].number, 0);
    EXPECT_NE(feedback_.reports_[0].description.find("NOWHERE"), std::string::npos)
        << feedback_.reports_[0].description;
}

TEST_F(ImportFarmTest, MovedIconsFolderStopsAtTheFirstIconLineItMisses) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    EXPECT_FALSE(
        importLines({"[Farm]", "MaxConnectionsPerUser=4", "[Application]", "AppName=Before",
                     "[Icon]", icon("red.ico"), "[Application]", "AppName=Moved", "[Icon]",
                     "Icon=" + sky::narrow(windowsWork()) + "\\gone\\red.ico", "[Application]",
                     "AppName=After", "[Icon]", icon("red.ico")}));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_EQ(feedback_.reports_[0].number, kPathNotFound);
    const auto image = servedFarm();
    EXPECT_EQ(image.farm.settings.number(FarmSetting::MaxConnectionsPerUser), 4);
    ASSERT_EQ(image.applications.size(), 1u);
    EXPECT_EQ(image.applications[0].name, "Before");
}

// The icon goes to the object model through a scratch copy in the temporary folder: made afresh
// for this user alone (a file or link left at its name is removed, never written through),
// holding no more than one byte past the icon cap, and gone afterwards on every path, failures
// included. Copies of whatever an "Icon=" line named were left there before.
TEST_F(ImportFarmTest, TheScratchCopyOfAnIconIsTheToolsOwnAndNeverLeftBehind) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    const fs::path temp = hostPath(temporaryFolder());
    const fs::path scratch = temp / ("brask-import-" + std::to_string(::getpid()) + ".ico");
    const fs::path victim = work_ / "victim.txt";
    writeBytes(victim, "not to be overwritten");
    fs::create_symlink(victim, scratch);
    writeBytes(work_ / "icons" / "secret.ico", "a text file that is no icon");
    fs::permissions(work_ / "icons" / "secret.ico", fs::perms::owner_read | fs::perms::group_read);
    { std::ofstream create(work_ / "icons" / "huge.ico"); }
    fs::resize_file(work_ / "icons" / "huge.ico", std::uintmax_t{2} << 30);
    const auto leftovers = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(temp))
            if (entry.path().filename().string().starts_with("brask-import-"))
                names.push_back(entry.path().filename().string());
        return names;
    };

    EXPECT_FALSE(importLines({"[Application]", "AppName=Secret", "[Icon]", icon("secret.ico")}));
    EXPECT_EQ(fileBytes(victim), "not to be overwritten");
    EXPECT_EQ(leftovers(), std::vector<std::string>());

    feedback_.reports_.clear();
    EXPECT_FALSE(importLines({"[Application]", "AppName=Huge", "[Icon]", icon("huge.ico")}));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_NE(feedback_.reports_[0].description.find("larger than 4 MiB"), std::string::npos)
        << feedback_.reports_[0].description;
    EXPECT_EQ(leftovers(), std::vector<std::string>());

    EXPECT_TRUE(importLines({"[Application]", "AppName=Red", "[Icon]", icon("red.ico")}));
    EXPECT_EQ(leftovers(), std::vector<std::string>());
}

TEST_F(ImportFarmTest, ListOrIconLinesBeforeAnyApplicationStopTheImport) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    EXPECT_FALSE(importLines({"[Servers]", "Server=SRV1"}));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_EQ(feedback_.reports_[0].number, kObjectNotSet);
}

TEST_F(ImportFarmTest, MissingFileStopsBeforeAnyObjectIsTouched) {
    EXPECT_FALSE(importFarm(state_, feedback_, windowsFile("missing.ini")));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_EQ(feedback_.reports_[0].number, kFileNotFound);
    EXPECT_EQ(state_.farm.get(), nullptr);
}

TEST_F(ImportFarmTest, RootApplicationIsReplacedButOnlyByOneBoundForTheRoot) {
    auto target = emptyFarm("Target", {"SRV1"});
    target.folders = {"Applications/Tools"};
    Application calc;
    calc.name = "Calc";
    calc.description = "old root";
    calc.servers = {"SRV1"};
    Application toolsCalc;
    toolsCalc.name = "Calc";
    toolsCalc.folder = "Applications/Tools";
    toolsCalc.description = "old tools";
    target.applications = {calc, toolsCalc};
    serveFarm(target);

    // Bound for a sub-folder: the root application of that name stays; the folder's own one is
    // not deleted first, so its save fails, and that is passed over.
    ASSERT_TRUE(importLines({"[Application]", "AppName=Calc", "Description=new tools",
                             "ParentFolderDN=Applications/Tools", "[Icon]", icon("red.ico")}));
    auto image = servedFarm();
    ASSERT_EQ(image.applications.size(), 2u);
    EXPECT_EQ(find(image, "Applications/Calc")->description, "old root");
    EXPECT_EQ(find(image, "Applications/Tools/Calc")->description, "old tools");

    // Bound for the root, by name or by no folder at all: the old one goes, the new one comes.
    ASSERT_TRUE(importLines({"[Application]", "AppName=Calc  ", "Description=new root",
                             "ParentFolderDN=APPLICATIONS", "[Icon]", icon("blue.ico")}));
    image = servedFarm();
    ASSERT_EQ(image.applications.size(), 2u);
    EXPECT_EQ(find(image, "Applications/Calc  ")->description, "new root");
    EXPECT_TRUE(find(image, "Applications/Calc  ")->servers.empty());
    EXPECT_EQ(find(image, "Applications/Tools/Calc")->description, "old tools");
    EXPECT_TRUE(feedback_.reports_.empty());
}

// The second "Icon=" line of a root-level block stores the application again: it deletes the
// one the first line stored, and the save writes it again, the same or with the new icon, rather
// than reporting a save it did not make.
TEST_F(ImportFarmTest, AnApplicationStoredTwiceByOneBlockStaysInTheFarm) {
    serveFarm(emptyFarm("Target", {"SRV1"}));
    ASSERT_TRUE(
        importLines({"[Application]", "AppName=Same", "Description=kept", "[Servers]",
                     "Server=SRV1", "[Icon]", icon("red.ico"), icon("red.ico"), "[Application]",
                     "AppName=Other", "[Icon]", icon("red.ico"), icon("blue.ico")}));
    EXPECT_TRUE(feedback_.reports_.empty());
    const auto image = servedFarm();
    ASSERT_EQ(image.applications.size(), 2u);
    const Application* same = find(image, "Applications/Same");
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(same->description, "kept");
    EXPECT_EQ(same->servers, std::vector<std::string>{"SRV1"});
    EXPECT_EQ(*same->icon, colourIcon(0xFFFF0000));
    const Application* other = find(image, "Applications/Other");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(*other->icon, colourIcon(0xFF0000FF));
}

TEST_F(ImportFarmTest, ExportedFileComesBackIntoAFreshFarm) {
    auto source = emptyFarm("Source", {"SRV1", "SRV2"});
    source.folders = {"Applications/Office", "Applications/Office/Tools"};
    Application word;
    word.folder = "Applications/Office/Tools";
    word.name = "Word";
    word.description = "Letters\r\nServer=SRV2";
    word.servers = {"SRV1"};
    word.users = {{2, 1, "CORP", "alice"}};
    word.icon = colourIcon(0xFF123456);
    source.applications = {word};
    serveFarm(source);
    ASSERT_TRUE(exportFarm(state_, feedback_, windowsFile("source.ini")));

    serveFarm(emptyFarm("Source", {"SRV1", "SRV2"}));
    ASSERT_TRUE(importFarm(state_, feedback_, windowsFile("source.ini")));
    EXPECT_TRUE(feedback_.reports_.empty());
    const auto image = servedFarm();
    const Application* imported = find(image, "Applications/Office/Tools/Word");
    ASSERT_NE(imported, nullptr);
    EXPECT_EQ(imported->description, "Letters Server=SRV2");
    EXPECT_EQ(imported->servers, std::vector<std::string>{"SRV1"});
    EXPECT_EQ(imported->users, word.users);
    EXPECT_EQ(*imported->icon, *word.icon);
}

TEST_F(ImportFarmTest, BytesTheCodePageLeavesUndefinedComeBackUnchanged) {
    // Code page 1252 has no characters for 0x81, 0x8D, 0x8F, 0x90 and 0x9D; they are read as the
    // controls of the same numbers, so a text holding them is stored as it was written and is
    // exported again byte for byte.
    serveFarm(emptyFarm("Target", {"SRV1"}));
    const std::string bytes = "\x81\x8d\x8f\x90\x9d";
    ASSERT_TRUE(
        importLines({"[FARM]", "", "[application]", "AppName=Calc",
                     "DistinguishedName=Applications/Calc", "Description=Sums" + bytes,
                     "Server=SRV1", "ParentFolderDN=Applications", "[Icon]", icon("red.ico")}));
    auto image = servedFarm();
    ASSERT_EQ(image.applications.size(), 1u);
    EXPECT_EQ(image.applications[0].description, "Sums\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d");
    ASSERT_TRUE(exportFarm(state_, feedback_, windowsFile("again.ini")));
    EXPECT_TRUE(feedback_.reports_.empty());
    const std::vector<std::string> lines = fileLines(hostFile("again.ini"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Description=Sums" + bytes), lines.end());

    // A name cannot hold controls: such an application stops the import with the object
    // model's reason before it is stored, and the farm still exports.
    EXPECT_FALSE(importLines({"[FARM]", "", "[application]", "AppName=Calc" + bytes,
                              "DistinguishedName=Applications/Calc" + bytes, "Server=SRV1",
                              "ParentFolderDN=Applications", "[Icon]", icon("blue.ico")}));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_NE(feedback_.reports_[0].description.find("control characters"), std::string::npos)
        << feedback_.reports_[0].description;
    image = servedFarm();
    ASSERT_EQ(image.applications.size(), 1u);
    EXPECT_EQ(image.applications[0].name, "Calc");
    feedback_.reports_.clear();
    EXPECT_TRUE(exportFarm(state_, feedback_, windowsFile("after.ini")));
    EXPECT_TRUE(feedback_.reports_.empty());
}

// The work of an import grows with its applications by the same statements for each: the folders
// an application goes into are asked for by the first application of the run that needs them,
// not again by each (a folder look-up and a failed creation of every level, twice the store's
// statements of the save itself).
TEST_F(ImportFarmTest, EachFolderIsAskedForOncePerRun) {
    const auto target = emptyFarm("Counted", {"SRV1", "SRV2"});
    sky::testing::StatementCounter statements(sky::farm::farmStoreOnMachine(target.farm.name).path);
    const auto importApplications = [&](int count) {
        serveFarm(target);
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i) {
            const std::string folder =
                i % 2 ? "Applications/Office/Tools" : "Applications/Office/Games";
            lines.insert(lines.end(),
                         {"[Application]", "AppName=App" + std::to_string(i),
                          "ParentFolderDN=" + folder, "[Servers]", "Server=SRV1", "Server=SRV2",
                          "[Users]", "User=2:1:CORP:alice", "[Icon]", icon("red.ico")});
        }
        statements.reset();
        EXPECT_TRUE(importLines(lines));
        const std::pair counted{statements.count(), statements.count(" folder ")};
        EXPECT_TRUE(feedback_.reports_.empty());
        const auto image = servedFarm();
        EXPECT_EQ(image.applications.size(), static_cast<std::size_t>(count));
        EXPECT_EQ(image.folders,
                  (std::vector<std::string>{"Applications/Office", "Applications/Office/Games",
                                            "Applications/Office/Tools"}));
        return counted;
    };
    importApplications(2); // opens the object model's connection to the store
    const auto [ten, tenOnFolders] = importApplications(10);
    const auto [twenty, twentyOnFolders] = importApplications(20);
    const auto [thirty, thirtyOnFolders] = importApplications(30);
    // Ten applications more: ten saves more, each of which finds its folder once; and the same
    // statements for each ten.
    EXPECT_EQ(twentyOnFolders - tenOnFolders, 10) << statements.list(" folder ");
    EXPECT_EQ(thirtyOnFolders - twentyOnFolders, 10);
    EXPECT_EQ(thirty - twenty, twenty - ten) << statements.list();
}

} // namespace
} // namespace brask

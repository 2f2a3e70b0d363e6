// Farm export over a real farm: the store written as a test wants it, the object model module
// serving it in process, the file and the icons read back as bytes.
#include "definitions/export_farm.h"

#include <set>

#include <gtest/gtest.h>

#include "core/runtime_errors.h"
#include "definitions/definitions_test_support.h"

namespace brask {
namespace {

using namespace testing;
using sky::farm::Application;
using sky::farm::AppSetting;
using sky::farm::FarmSetting;

// The keys of the lines, "[Header]" lines as they are, blank lines as "".
std::vector<std::string> keysOf(const std::vector<std::string>& lines) {
    std::vector<std::string> keys;
    for (const std::string& line : lines) {
        const std::size_t equals = line.find('=');
        keys.push_back(equals == std::string::npos ? line : line.substr(0, equals));
    }
    return keys;
}

const std::vector<std::string> kFarmBlock = {"[Farm]",
                                             "Farmname",
                                             "MaxConnectionsPerUser",
                                             "EnforceConnectionsLimitOnAdmins",
                                             "LogOverLimitDenials",
                                             "DCRespondToClientBroadcast",
                                             "RASRespondToClientBroadcast",
                                             "UseClientLocalTime",
                                             "DisableClientLocalTimeEstimation",
                                             "EnableDNSAddressResolution",
                                             "NDSPreferredTree",
                                             "EnableContentRedirection",
                                             "EnableRemoteConsoleConnections",
                                             "OvraKeepAliveEnable",
                                             "OvraKeepAliveTime",
                                             "NoRedundantGraphics",
                                             "AlternateCachingMethod",
                                             "OvraVideoBufferSize",
                                             "DegradationBias",
                                             "NotifyDegradation",
                                             "LogACRAttempts",
                                             "EnableACR",
                                             "LumoEnumMode",
                                             "ZonesShareLoadInfo",
                                             "EnableSNMPAgent",
                                             "SNMPDisconnectTrap",
                                             "SNMPLogoffTrap",
                                             "SNMPLogonTrap",
                                             "SNMPThresholdValue",
                                             "SNMPThresholdExceededTrap",
                                             "LegacyQVServerCompatibleMode"};
const std::vector<std::string> kSessionReliability = {"SREnabled", "SRPort", "SRTimeout"};

std::vector<std::string> applicationKeys(bool desktop) {
    std::vector<std::string> keys = {"AppName",
                                     "DistinguishedName",
                                     "EnableApp",
                                     "HideDisabledApp",
                                     "Description",
                                     "DefaultInitProg",
                                     "DefaultWorkDir",
                                     "DefaultWindowHeight",
                                     "DefaultWindowScale",
                                     "DefaultWindowType",
                                     "DefaultWindowWidth",
                                     "DefaultWindowColor",
                                     "InstanceLimit",
                                     "AllowMultiInstancePerUser",
                                     "CPUPriority",
                                     "DefaultSoundType",
                                     "EnableSSLConnections",
                                     "DefaultEncryption",
                                     "WaitOnPrinterCreation",
                                     "LumoFolder",
                                     "AddToClientStartMenu",
                                     "PlaceUnderProgramsFolder",
                                     "StartMenuFolder",
                                     "AddShortcutToClientDesktop",
                                     "DesktopIntegrate",
                                     "QVAttributes",
                                     "LumoAttributes",
                                     "ParentFolderDN"};
    if (desktop) {
        keys.erase(keys.begin() + 6);
    }
    return keys;
}

template <class... Lists> std::vector<std::string> joined(const Lists&... lists) {
    std::vector<std::string> all;
    (all.insert(all.end(), lists.begin(), lists.end()), ...);
    return all;
}

// The lines of the block that starts with "AppName=<name>" up to its "Icon=" line.
std::vector<std::string> blockOf(const std::vector<std::string>& lines,
                                 const std::string& distinguishedName) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == "DistinguishedName=" + distinguishedName) {
            std::vector<std::string> block;
            for (std::size_t j = i - 1; j < lines.size(); ++j) {
                block.push_back(lines[j]);
                if (lines[j].starts_with("Icon=")) {
                    break;
                }
            }
            return block;
        }
    }
    ADD_FAILURE() << "no block for " << distinguishedName;
    return {};
}

std::string valueOf(const std::vector<std::string>& block, const std::string& key) {
    for (const std::string& line : block) {
        if (line.starts_with(key + "=")) {
            return line.substr(key.size() + 1);
        }
    }
    ADD_FAILURE() << "no line " << key;
    return {};
}

class ExportFarmTest : public DefinitionsTest {
protected:
    bool exportTo(const std::string& file) {
        return exportFarm(state_, feedback_, windowsFile(file));
    }
    std::string iconLine(const std::string& file) const {
        return "Icon=" + sky::narrow(windowsWork()) + "\\icons\\" + file;
    }

    AdminState state_;
    RecordingFeedback feedback_;
};

TEST_F(ExportFarmTest, FarmBlockThenOneBlockPerWindowsApplication) {
    auto image = emptyFarm("Export Farm", {"SRV1", "SRV2"});
    ASSERT_TRUE(image.farm.settings.set(FarmSetting::OvraVideoBufferSize, 1000));
    ASSERT_TRUE(image.farm.settings.set(FarmSetting::NDSPreferredTree, std::string("TREE")));
    ASSERT_TRUE(image.farm.settings.set(FarmSetting::MaxConnectionsPerUser, -3));
    image.folders = {"Applications/Tools"};
    Application calc = application("Applications", "Calc", {"SRV2", "SRV1"});
    calc.description = "Sums";
    calc.users = {{2, 1, "CORP", "alice"}, {1, 0, "", "kiosk"}};
    calc.groups = {{4, 3, "corp.example.com", "Staff"}};
    calc.icon = colourIcon(0xFFFF0000);
    ASSERT_TRUE(calc.settings.set(AppSetting::DefaultInitProg,
                                  std::string("\"C:\\Tools\\calc.exe\" /x=1")));
    ASSERT_TRUE(calc.settings.set(AppSetting::DefaultWorkDir, std::string("C:\\Tools")));
    ASSERT_TRUE(calc.settings.set(AppSetting::DefaultWindowType, 8));
    Application desktop = application("Applications/Tools", "Desk", {"SRV1"});
    ASSERT_TRUE(desktop.settings.set(AppSetting::LumoAttributes, 12));
    ASSERT_TRUE(desktop.settings.set(AppSetting::DefaultInitProg, std::string("ignored.exe")));
    Application document = application("Applications", "Handbook");
    document.type = sky::farm::kPublishedContentType;
    image.applications = {calc, desktop, document};
    serveFarm(image);

    ASSERT_TRUE(exportTo("farm.ini"));
    EXPECT_TRUE(feedback_.reports_.empty());
    const std::vector<std::string> lines = fileLines(hostFile("farm.ini"));
    const std::vector<std::string> blockEnd = {""};
    EXPECT_EQ(keysOf(lines),
              joined(kFarmBlock, kSessionReliability, blockEnd,
                     std::vector<std::string>{"[Application]"}, applicationKeys(false),
                     std::vector<std::string>{"", "[Servers]", "Server", "Server", "", "[Users]",
                                              "User", "User", "", "[Groups]", "Group", "", "[Icon]",
                                              "Icon", "", "", "[Application]"},
                     applicationKeys(true),
                     std::vector<std::string>{"", "[Servers]", "Server", "", "[Users]", "",
                                              "[Groups]", "", "[Icon]", "Icon", ""}));
    EXPECT_EQ(lines[1], "Farmname=Export Farm");
    EXPECT_EQ(lines[2], "MaxConnectionsPerUser=-3");
    EXPECT_EQ(lines[10], "NDSPreferredTree=TREE");
    EXPECT_EQ(lines[17], "OvraVideoBufferSize=0.9765625");

    const auto calcBlock = blockOf(lines, "Applications/Calc");
    EXPECT_EQ(valueOf(calcBlock, "Description"), "Sums");
    EXPECT_EQ(valueOf(calcBlock, "DefaultInitProg"), "\"C:\\Tools\\calc.exe\" /x=1");
    EXPECT_EQ(valueOf(calcBlock, "DefaultWorkDir"), "C:\\Tools");
    EXPECT_EQ(valueOf(calcBlock, "DefaultWindowType"), "8");
    EXPECT_EQ(valueOf(calcBlock, "ParentFolderDN"), "Applications");
    EXPECT_NE(std::find(calcBlock.begin(), calcBlock.end(), "User=2:1:CORP:alice"),
              calcBlock.end());
    EXPECT_NE(std::find(calcBlock.begin(), calcBlock.end(), "User=1:0::kiosk"), calcBlock.end());
    EXPECT_NE(std::find(calcBlock.begin(), calcBlock.end(), "Group=4:3:corp.example.com:Staff"),
              calcBlock.end());
    EXPECT_EQ(calcBlock.back(), iconLine("Calc.ico"));

    const auto deskBlock = blockOf(lines, "Applications/Tools/Desk");
    EXPECT_EQ(valueOf(deskBlock, "DefaultInitProg"), "PublishedDesktop");
    EXPECT_EQ(valueOf(deskBlock, "LumoAttributes"), "12");
    EXPECT_EQ(valueOf(deskBlock, "ParentFolderDN"), "Applications/Tools");
    EXPECT_EQ(deskBlock.back(), iconLine("Desk.ico"));

    // The icons as the object model writes them; the content application has none.
    EXPECT_EQ(fileBytes(work_ / "icons" / "Calc.ico"),
              std::string(calc.icon->begin(), calc.icon->end()));
    EXPECT_EQ(fileBytes(work_ / "icons" / "Desk.ico"),
              std::string(sky::farm::defaultIcon().begin(), sky::farm::defaultIcon().end()));
    EXPECT_FALSE(fs::exists(work_ / "icons" / "Handbook.ico"));

    // 0, then 99/3 per Windows application: the content application is counted, not stepped.
    ASSERT_EQ(feedback_.progress_.size(), 3u);
    EXPECT_EQ(feedback_.progress_[0], 0.0f);
    EXPECT_FLOAT_EQ(feedback_.progress_[1], 33.0f);
    EXPECT_FLOAT_EQ(feedback_.progress_[2], 66.0f);
    // The export leaves the farm object it used as the shared farm.
    EXPECT_NE(state_.farm.get(), nullptr);
}

// The step is 99 divided by the count of applications, in fractions: a seventh of 99 is
// 14.142857..., where whole-number division would step by 14 and end at 98.
TEST_F(ExportFarmTest, ProgressStepsByNinetyNineOverTheCountInFractions) {
    auto image = emptyFarm("Seven", {"SRV1"});
    addApplications(image, 7);
    serveFarm(image);

    ASSERT_TRUE(exportTo("seven.ini"));
    EXPECT_TRUE(feedback_.reports_.empty());
    feedback_.expectStepsOverApplications(7);
}

// The count is a 16-bit number: a farm of more applications stops the export before its first
// application, with an overflow.
TEST_F(ExportFarmTest, AFarmOfMoreThan32767ApplicationsStopsWithAnOverflow) {
    auto image = emptyFarm("Crowded", {"SRV1"});
    addApplications(image, 32768);
    serveFarm(image);

    EXPECT_FALSE(exportTo("crowded.ini"));
    feedback_.expectTooManyApplications();
    for (const std::string& line : fileLines(hostFile("crowded.ini"))) {
        EXPECT_NE(line, "[Application]") << "no application was written";
    }
}

TEST_F(ExportFarmTest, FarmWithoutSessionReliabilityOrWindowsApplications) {
    auto image = emptyFarm("Old Farm", {"SRV1"});
    image.farm.reportsSessionReliability = false;
    Application document = application("Applications", "Handbook");
    document.type = sky::farm::kPublishedContentType;
    image.applications = {document};
    serveFarm(image);

    ASSERT_TRUE(exportTo("old.ini"));
    EXPECT_TRUE(feedback_.reports_.empty());
    EXPECT_EQ(keysOf(fileLines(hostFile("old.ini"))), kFarmBlock);
    EXPECT_EQ(feedback_.progress_, std::vector<float>{0.0f});
}

TEST_F(ExportFarmTest, SecondExportLeavesOnlyItsOwnIcons) {
    auto image = emptyFarm("Icons", {"SRV1"});
    image.applications = {application("Applications", "One"), application("Applications", "Two")};
    serveFarm(image);
    ASSERT_TRUE(exportTo("first.ini"));
    writeBytes(work_ / "icons" / "notes.txt", "kept");
    writeBytes(work_ / "icons" / "STRAY.ICO", "gone");

    image.applications = {application("Applications", "Three")};
    serveFarm(image);
    ASSERT_TRUE(exportTo("second.ini"));
    std::vector<std::string> icons;
    for (const auto& entry : fs::directory_iterator(work_ / "icons")) {
        icons.push_back(entry.path().filename().string());
    }
    std::sort(icons.begin(), icons.end());
    EXPECT_EQ(icons, (std::vector<std::string>{"Three.ico", "notes.txt"}));
}

TEST_F(ExportFarmTest, AcceptedProposedNameIsWrittenWithoutExtension) {
    serveFarm(emptyFarm("Plain", {}));
    ASSERT_TRUE(exportTo("Farm_Plain"));
    EXPECT_EQ(fileLines(hostFile("Farm_Plain")).front(), "[Farm]");
}

TEST_F(ExportFarmTest, NameNoFileCanHaveStopsRightAfterItsIconHeader) {
    // The farm store refuses "." and ".." as names, so a farm cannot hold them; the characters no
    // file name can have are the names an export meets.
    for (const char* bad : {"Report: 2003", "Why?", "A|B", "Say \"Hi\""}) {
        SCOPED_TRACE(bad);
        auto image = emptyFarm("Names", {"SRV1"});
        // "!" sorts first: the good name is written before the bad one stops the export.
        image.applications = {application("Applications", "!Setup.."),
                              application("Applications", bad)};
        serveFarm(image);
        RecordingFeedback feedback;
        EXPECT_FALSE(exportFarm(state_, feedback, windowsFile("names.ini")));
        ASSERT_EQ(feedback.reports_.size(), 1u);
        EXPECT_EQ(feedback.reports_[0].number, kBadFileName);
        EXPECT_TRUE(feedback.reports_[0].description.starts_with("Bad file name or number"))
            << feedback.reports_[0].description;

        const std::vector<std::string> lines = fileLines(hostFile("names.ini"));
        EXPECT_EQ(lines.back(), "[Icon]");
        // "!Setup.." is written as it is; nothing lands outside the icons folder.
        EXPECT_NE(std::find(lines.begin(), lines.end(), iconLine("!Setup...ico")), lines.end());
        EXPECT_TRUE(fs::exists(work_ / "icons" / "!Setup...ico"));
        std::vector<std::string> icons;
        for (const auto& entry : fs::directory_iterator(work_ / "icons")) {
            icons.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(icons, std::vector<std::string>{"!Setup...ico"});
        EXPECT_FALSE(fs::exists(work_ / "Report"));
    }
}

TEST_F(ExportFarmTest, TextTheCodePageCannotHoldStopsAtThatApplication) {
    auto image = emptyFarm("Code Page", {"SRV1"});
    Application greek = application("Applications", "Calc");
    greek.description = "\xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1"; // Athens, in Greek
    image.applications = {greek};
    serveFarm(image);

    EXPECT_FALSE(exportTo("greek.ini"));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_EQ(feedback_.reports_[0].number, kInvalidCall);
    const std::string& description = feedback_.reports_[0].description;
    EXPECT_NE(description.find("Description="), std::string::npos) << description;
    EXPECT_NE(description.find("Applications/Calc"), std::string::npos) << description;
    const std::vector<std::string> lines = fileLines(hostFile("greek.ini"));
    EXPECT_EQ(lines.back(), "HideDisabledApp=0");
    EXPECT_EQ(fileBytes(hostFile("greek.ini")).find('?'), std::string::npos);
}

// An account name holding ":" (stored before grants refused such names) would come back as
// another account: the export stops there and says whose it is. The groups are written after
// the users, so the users' lines are in the file.
TEST_F(ExportFarmTest, AnAccountNameHoldingAColonStopsAtThatApplication) {
    for (const auto& [authority, name] : {std::pair<std::string, std::string>{"CO:RP", "a"},
                                          std::pair<std::string, std::string>{"CO", "RP:a:b"}}) {
        auto image = emptyFarm("Colons", {"SRV1"});
        Application calc = application("Applications", "Calc");
        calc.users = {{2, 1, "CORP", "alice"}};
        calc.groups = {{4, 1, authority, name}};
        image.applications = {calc};
        serveFarm(image);

        feedback_.reports_.clear();
        EXPECT_FALSE(exportTo("colons.ini"));
        ASSERT_EQ(feedback_.reports_.size(), 1u);
        EXPECT_EQ(feedback_.reports_[0].number, kInvalidCall);
        const std::string& description = feedback_.reports_[0].description;
        EXPECT_NE(description.find("Applications/Calc"), std::string::npos) << description;
        EXPECT_NE(description.find(authority + "\\" + name), std::string::npos) << description;
        const std::vector<std::string> lines = fileLines(hostFile("colons.ini"));
        EXPECT_EQ(lines.back(), "[Groups]");
        EXPECT_NE(std::find(lines.begin(), lines.end(), "User=2:1:CORP:alice"), lines.end());
    }
}

TEST_F(ExportFarmTest, SameNameInTwoFoldersKeepsBothIcons) {
    auto image = emptyFarm("Twins", {"SRV1"});
    image.folders = {"Applications/Tools", "Applications/Old"};
    Application first = application("Applications", "Calc");
    first.icon = colourIcon(0xFFFF0000);
    Application second = application("Applications/Tools", "calc");
    second.icon = colourIcon(0xFF00FF00);
    Application real = application("Applications/Old", "Calc (2)");
    real.icon = colourIcon(0xFF0000FF);
    Application third = application("Applications/Old", "CALC");
    third.icon = colourIcon(0xFF808080);
    image.applications = {first, second, real, third};
    serveFarm(image);

    ASSERT_TRUE(exportTo("twins.ini"));
    const std::vector<std::string> lines = fileLines(hostFile("twins.ini"));
    std::set<std::string> files;
    for (const Application& app : image.applications) {
        const std::string icon = blockOf(lines, app.distinguishedName()).back();
        const std::string prefix = iconLine("");
        ASSERT_TRUE(icon.starts_with(prefix)) << icon;
        const std::string file = icon.substr(prefix.size());
        EXPECT_TRUE(files.insert(sky::narrow(sky::upper(sky::widen(file)))).second) << file;
        EXPECT_EQ(fileBytes(work_ / "icons" / file),
                  std::string(app.icon->begin(), app.icon->end()))
            << app.distinguishedName();
    }
    EXPECT_TRUE(files.contains("CALC.ICO"));
    EXPECT_TRUE(files.contains("CALC (2).ICO"));
    EXPECT_TRUE(files.contains("CALC (3).ICO"));
}

TEST_F(ExportFarmTest, LineBreaksInsideValuesCannotStartLinesOfTheirOwn) {
    auto image = emptyFarm("Breaks", {"SRV1"});
    Application app = application("Applications", "Calc");
    app.description = "first\r\nServer=EVIL\r[Farm]\nlast";
    ASSERT_TRUE(app.settings.set(AppSetting::LumoFolder, std::string("a\n\nb")));
    image.applications = {app};
    serveFarm(image);

    ASSERT_TRUE(exportTo("breaks.ini"));
    const std::vector<std::string> lines = fileLines(hostFile("breaks.ini"));
    const auto block = blockOf(lines, "Applications/Calc");
    EXPECT_EQ(valueOf(block, "Description"), "first Server=EVIL [Farm] last");
    EXPECT_EQ(valueOf(block, "LumoFolder"), "a  b");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[Farm]"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Server=EVIL"), 0);
}

TEST_F(ExportFarmTest, FailuresOfTheFileAreReportedWithTheRuntimesNumbers) {
    serveFarm(emptyFarm("Files", {}));
    EXPECT_FALSE(exportTo("missing\\farm.ini"));
    ASSERT_EQ(feedback_.reports_.size(), 1u);
    EXPECT_EQ(feedback_.reports_[0].number, kPathNotFound);
    EXPECT_EQ(feedback_.reports_[0].description, "Path not found");

    // An icons folder that is a file cannot be cleared or created.
    fs::remove_all(work_ / "icons");
    writeBytes(work_ / "icons", "not a folder");
    RecordingFeedback second;
    EXPECT_FALSE(exportFarm(state_, second, windowsFile("farm.ini")));
    ASSERT_EQ(second.reports_.size(), 1u);
    EXPECT_GT(second.reports_[0].number, 0);
    EXPECT_FALSE(fs::exists(hostFile("farm.ini")));
}

} // namespace
} // namespace brask

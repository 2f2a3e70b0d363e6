// The import preview over a real farm: the real object model module loaded in process and pointed
// at a scratch copy, the farm itself read from its store before and after, and the real program's
// --dry-run compared with what the real import then does to the farm's dump.
#include "definitions/import_preview.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/runtime_errors.h"
#include "definitions/definitions_test_support.h"
#include "definitions/export_farm.h"
#include "definitions/server_snapshot.h"
#include "qvcomsrv/store/scratch_copy.h"
#include "qvcomsrv/store/testing/postgres_test_database.h"
#include "sky/heap_tally.h"
#include "sky/program_run.h"

namespace brask {
namespace {

using namespace testing;
using nlohmann::json;
using sky::farm::Application;

std::string qvfarm() {
    return (sky::testing::buildBin() / "qvfarm").string();
}

const PreviewedApplication* findPreviewed(const ImportPreview& preview, const std::string& dn) {
    for (const PreviewedApplication& app : preview.applications) {
        if (app.distinguishedName == dn) {
            return &app;
        }
    }
    return nullptr;
}

// --- The real program: the preview printed by --dry-run against the real import's effect. ---

sky::testing::ProgramRun braskadmin(const fs::path& folder, const std::string& arguments) {
    return sky::testing::runCommand("cd '" + folder.string() + "' && '" +
                                        (sky::testing::buildBin() / "braskadmin").string() + "' " +
                                        arguments,
                                    folder / "stderr.txt");
}

json dumpedFarm() {
    const sky::testing::ProgramRun run = sky::testing::runCommand(qvfarm() + " dump");
    EXPECT_EQ(run.exitCode, 0);
    return json::parse(run.out);
}

// What changed between two dumps, as the preview tells it.
struct DumpChanges {
    std::set<std::string> added, changed, removed, folders;
    std::map<std::string, json> farmSettings;
};

DumpChanges changesBetween(const json& before, const json& after) {
    DumpChanges changes;
    std::map<std::string, json> old;
    for (const json& app : before["applications"]) {
        old[app["distinguishedName"]] = app;
    }
    std::set<std::string> now;
    for (const json& app : after["applications"]) {
        const std::string dn = app["distinguishedName"];
        now.insert(dn);
        if (!old.contains(dn)) {
            changes.added.insert(dn);
        } else if (old[dn] != app) {
            changes.changed.insert(dn);
        }
    }
    for (const auto& [dn, app] : old) {
        if (!now.contains(dn)) {
            changes.removed.insert(dn);
        }
    }
    for (const json& folder : after["folders"]) {
        if (std::find(before["folders"].begin(), before["folders"].end(), folder) ==
            before["folders"].end()) {
            changes.folders.insert(folder.get<std::string>());
        }
    }
    for (const auto& [name, value] : after["farm"]["settings"].items()) {
        if (before["farm"]["settings"][name] != value) {
            changes.farmSettings[name] = value;
        }
    }
    return changes;
}

DumpChanges changesPreviewed(const json& preview) {
    DumpChanges changes;
    for (const json& app : preview["applications"]) {
        if (app["outcome"] == "added") {
            changes.added.insert(app["distinguishedName"].get<std::string>());
        } else if (app["outcome"] == "replaced") {
            changes.changed.insert(app["distinguishedName"].get<std::string>());
        }
    }
    for (const json& dn : preview["removed"]) {
        changes.removed.insert(dn.get<std::string>());
    }
    for (const json& folder : preview["foldersCreated"]) {
        changes.folders.insert(folder.get<std::string>());
    }
    for (const json& setting : preview["farmSettings"]) {
        changes.farmSettings[setting["name"]] = setting["new"];
    }
    return changes;
}

struct PreviewCase {
    std::string file;
    sky::farm::FarmImage farm;
};

// Makes `image` the farm this machine serves, in the PostgreSQL database `conninfo`.
void servePostgresFarm(const sky::farm::FarmImage& image, const std::string& conninfo) {
    const sky::farm::StoreLocation location{std::string(sky::farm::kPostgresStoreType), conninfo};
    auto store = sky::farm::createFarmStore(location, image);
    ASSERT_TRUE(store) << store.status().message();
    ASSERT_TRUE(sky::farm::setMachineFarmStore(location));
}

// The scratch databases on the test cluster.
std::vector<std::string> scratchDatabases() {
    return sky::farm::testing::queryPostgresColumn(
        sky::farm::testing::PostgresTestDatabase::conninfoFor("postgres"),
        "SELECT datname FROM pg_database WHERE starts_with(datname, '" +
            std::string(sky::farm::kScratchDatabasePrefix) + "') ORDER BY datname");
}

// The scratch databases made since `since` by processes that have ended: left behind. (Other
// tests on the shared cluster make their own at the same time, in processes still running.)
std::vector<std::string> scratchDatabasesOfEndedProcesses(std::time_t since) {
    std::vector<std::string> left;
    const std::size_t prefix = sky::farm::kScratchDatabasePrefix.size();
    for (const std::string& name : scratchDatabases()) {
        const std::size_t pidAt = name.find('_', prefix) + 1;
        const long long made = std::atoll(name.c_str() + prefix);
        const long pid = std::atol(name.c_str() + pidAt);
        if (made >= since && pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            left.push_back(name);
        }
    }
    return left;
}

// The scratch databases this process made (its id is in their names).
std::vector<std::string> scratchDatabasesOfThisProcess() {
    std::vector<std::string> ours;
    for (const std::string& name : scratchDatabases()) {
        if (name.find("_" + std::to_string(::getpid()) + "_") != std::string::npos) {
            ours.push_back(name);
        }
    }
    return ours;
}

class ImportPreviewTest : public DefinitionsTest {
protected:
    // Writes `lines` with CR LF into the work folder.
    void writeLines(const std::string& name, const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\r\n";
        }
        writeBytes(hostFile(name), text);
    }

    // The exported file's lines with `key`'s line in the block of `dn` (the farm's, for "")
    // replaced by `replacement`.
    static std::vector<std::string> edited(std::vector<std::string> lines, const std::string& dn,
                                           const std::string& key, const std::string& replacement) {
        bool inBlock = dn.empty(); // "": the farm's section, before the first application
        for (std::string& line : lines) {
            if (line.starts_with("DistinguishedName=")) {
                inBlock = line == "DistinguishedName=" + dn;
            }
            if (inBlock && line.starts_with(key + "=")) {
                line = replacement;
            }
        }
        return lines;
    }

    ImportPreview preview(const std::string& file) {
        return previewCommand(PreviewedCommand::Import, u"", windowsFile(file), feedback_);
    }

    // The demonstration farm, and the farm with its servers, zones and administrators but none of
    // its folders and applications.
    sky::farm::FarmImage demoAndFreshFarm() {
        const std::string demo = qvfarm() + " demo >/dev/null";
        EXPECT_EQ(std::system(demo.c_str()), 0) << demo;
        sky::farm::FarmImage fresh = servedFarm();
        fresh.farm.name = "Fresh";
        fresh.folders.clear();
        fresh.applications.clear();
        return fresh;
    }

    // Icons of their own, so that the file's icons are theirs (an application without one would
    // gain the default icon's bytes as its own).
    static void giveOwnIcons(sky::farm::FarmImage& farm) {
        for (std::size_t i = 0; i < farm.applications.size(); ++i) {
            farm.applications[i].icon = colourIcon(0xFF000000 + static_cast<std::uint32_t>(i));
        }
    }

    struct Edit {
        std::string dn, key, line;
    };
    // Exports the served farm into farm.ini, and writes it with `edits` made as changed.ini.
    void exportChanged(const std::vector<Edit>& edits) {
        AdminState state;
        ASSERT_TRUE(exportFarm(state, feedback_, windowsFile("farm.ini")));
        std::vector<std::string> lines = fileLines(hostFile("farm.ini"));
        for (const Edit& edit : edits) {
            lines = edited(lines, edit.dn, edit.key, edit.line);
        }
        writeLines("changed.ini", lines);
    }

    // bad.ini: a farm setting and three applications with icons, the third with a bad
    // InstanceLimit; the second in a new folder.
    void writeFileThatStopsAtTheThirdApplication() {
        fs::create_directories(work_ / "icons");
        const sky::farm::Bytes red = colourIcon(0xFFFF0000);
        writeBytes(work_ / "icons" / "red.ico", std::string(red.begin(), red.end()));
        const std::string icon = "Icon=" + sky::narrow(windowsWork()) + "\\icons\\red.ico";
        writeLines("bad.ini", {"[Farm]",
                               "MaxConnectionsPerUser=4",
                               "",
                               "[Application]",
                               "AppName=One",
                               "InstanceLimit=2",
                               "[Servers]",
                               "Server=SRV1",
                               "[Icon]",
                               icon,
                               "[Application]",
                               "AppName=Two",
                               "ParentFolderDN=Applications/Tools",
                               "[Icon]",
                               icon,
                               "[Application]",
                               "AppName=Three",
                               "InstanceLimit=many",
                               "[Icon]",
                               icon});
    }

    // The served farm `demo` exported into demo.ini, and files made from it: two settings of
    // one application changed (settings.ini), a farm setting changed (farm.ini), a bad
    // InstanceLimit in the fifth application (stops.ini).
    void exportWithDerivedFiles(const sky::farm::FarmImage& demo) {
        AdminState state;
        ASSERT_TRUE(exportFarm(state, feedback_, windowsFile("demo.ini")));
        const std::vector<std::string> lines = fileLines(hostFile("demo.ini"));
        const std::string someApp = demo.applications.back().distinguishedName();
        writeLines("settings.ini",
                   edited(edited(lines, someApp, "DefaultWindowWidth", "DefaultWindowWidth=1280"),
                          someApp, "EnableApp", "EnableApp=0"));
        writeLines("farm.ini",
                   edited(lines, "", "MaxConnectionsPerUser", "MaxConnectionsPerUser=9"));
        std::vector<std::string> stopping = lines;
        for (std::size_t i = 0, seen = 0; i < stopping.size(); ++i) {
            if (stopping[i].starts_with("InstanceLimit=") && ++seen == 5) {
                stopping[i] = "InstanceLimit=unlimited";
            }
        }
        writeLines("stops.ini", stopping);
    }

    // Previews `file` with the real program, then imports it: the preview leaves the farm's dump
    // as it was and tells what the import then changes in it, and both end alike.
    void expectPreviewAgreesWithImport(const std::string& file) {
        const json before = dumpedFarm();
        const auto previewed = braskadmin(work_, "import --dry-run --json " + file);
        EXPECT_EQ(dumpedFarm(), before) << "the preview changed the farm";
        const auto imported = braskadmin(work_, "import " + file);
        EXPECT_EQ(previewed.exitCode, imported.exitCode) << imported.errors;
        const json preview = json::parse(previewed.out);
        EXPECT_EQ(preview["ranToEnd"], imported.exitCode == 0);
        const DumpChanges expected = changesBetween(before, dumpedFarm());
        const DumpChanges told = changesPreviewed(preview);
        EXPECT_EQ(told.added, expected.added);
        EXPECT_EQ(told.changed, expected.changed);
        EXPECT_EQ(told.removed, expected.removed);
        EXPECT_EQ(told.folders, expected.folders);
        EXPECT_EQ(told.farmSettings, expected.farmSettings);
        if (!imported.errors.empty()) {
            EXPECT_NE(imported.errors.find(std::to_string(preview["stop"]["number"].get<int>())),
                      std::string::npos)
                << imported.errors;
        }
    }

    RecordingFeedback feedback_;
};

TEST_F(ImportPreviewTest, DemoExportIntoAFreshFarmAddsEveryApplication) {
    const sky::farm::FarmImage fresh = demoAndFreshFarm();
    AdminState state;
    ASSERT_TRUE(exportFarm(state, feedback_, windowsFile("demo.ini")));
    const sky::farm::FarmImage demo = servedFarm();
    serveFarm(fresh);
    const sky::farm::FarmImage live = servedFarm();

    const ImportPreview result = preview("demo.ini");
    EXPECT_TRUE(result.ranToEnd());
    EXPECT_EQ(result.farmName, "Fresh");
    std::set<std::string> expected;
    for (const Application& app : demo.applications) {
        if (app.type == sky::farm::kWindowsApplicationType) {
            expected.insert(app.distinguishedName());
        }
    }
    std::set<std::string> added;
    for (const PreviewedApplication& app : result.applications) {
        EXPECT_EQ(app.outcome, SaveOutcome::Added) << app.distinguishedName;
        added.insert(app.distinguishedName);
    }
    EXPECT_EQ(added, expected);
    // Every folder an application goes into, and no other: the demo's folders that hold only
    // published documents are not in the file.
    for (const std::string& dn : expected) {
        for (std::size_t slash = dn.find('/', 13); slash != std::string::npos;
             slash = dn.find('/', slash + 1)) {
            EXPECT_NE(std::find(result.foldersCreated.begin(), result.foldersCreated.end(),
                                dn.substr(0, slash)),
                      result.foldersCreated.end())
                << dn;
        }
    }
    for (const std::string& folder : result.foldersCreated) {
        EXPECT_NE(std::find(demo.folders.begin(), demo.folders.end(), folder), demo.folders.end());
    }
    EXPECT_GE(result.foldersCreated.size(), 8u);
    EXPECT_TRUE(result.removed.empty());
    EXPECT_TRUE(result.farmSettings.empty()) << result.farmSettings.front().name;
    // The farm itself is as it was, and the status showed each application as the import does.
    EXPECT_EQ(servedFarm(), live);
    EXPECT_EQ(feedback_.statuses_.size(), expected.size() + 2);
    EXPECT_TRUE(feedback_.reports_.empty());
}

// The preview compares each application's icon before the run with its icon after it by their
// SHA-256 digests, reading each icon from the store when it needs it: the farm's icons are not
// held, before the run or after it. What the preview holds at its peak for a farm whose
// applications have icons of their own is what it holds for the same farm without them, within
// a tenth of an icon per application (over one icon per application, where it was when the farm
// before the run was held with its icons).
TEST_F(ImportPreviewTest, TheFarmsIconsAreNotHeld) {
    const auto peakHeld = [&](bool ownIcons) {
        sky::farm::FarmImage farm = emptyFarm("Icons", {"SRV1"});
        addApplications(farm, 300);
        if (ownIcons) {
            giveOwnIcons(farm);
        }
        serveFarm(farm);
        AdminState state;
        EXPECT_TRUE(exportFarm(state, feedback_, windowsFile("icons.ini")));
        sky::testing::HeapTally tally;
        const ImportPreview result = preview("icons.ini");
        EXPECT_TRUE(result.ranToEnd());
        EXPECT_EQ(result.applications.size(), 300u);
        return tally.peak();
    };
    const long long plain = peakHeld(false);
    const long long withIcons = peakHeld(true);
    const auto icon = static_cast<long long>(colourIcon(0xFF000000).size());
    EXPECT_LT((withIcons - plain) / 300, icon / 10);
}

TEST_F(ImportPreviewTest, ThreeSettingsOfOneApplicationAreExactlyWhatDiffers) {
    sky::farm::FarmImage farm = emptyFarm("Settings", {"SRV1", "SRV2"});
    farm.applications = {application("Applications", "Calc", {"SRV1"}),
                         application("Applications", "Paint", {"SRV1"}),
                         application("Applications/Office", "Word", {"SRV2"})};
    giveOwnIcons(farm);
    farm.folders = {"Applications/Office"};
    serveFarm(farm);
    const sky::farm::FarmImage live = servedFarm();
    // Paint is given the icon it has, from a file of its own; Calc another.
    fs::create_directories(work_ / "own");
    const auto paintApp =
        std::find_if(live.applications.begin(), live.applications.end(),
                     [](const sky::farm::Application& app) { return app.name == "Paint"; });
    ASSERT_NE(paintApp, live.applications.end());
    const sky::farm::Bytes paintIcon = *paintApp->icon;
    writeBytes(work_ / "own" / "paint.ico", std::string(paintIcon.begin(), paintIcon.end()));
    const sky::farm::Bytes red = colourIcon(0xFFFF0000);
    writeBytes(work_ / "own" / "red.ico", std::string(red.begin(), red.end()));
    const std::string icons = "Icon=" + sky::narrow(windowsWork()) + "\\own\\";
    exportChanged({{"Applications/Calc", "DefaultWindowWidth", "DefaultWindowWidth=1024"},
                   {"Applications/Calc", "InstanceLimit", "InstanceLimit=4"},
                   {"Applications/Calc", "Description", "Description=Pocket calculator"},
                   {"Applications/Paint", "Icon", icons + "paint.ico"},
                   {"Applications/Calc", "Icon", icons + "red.ico"}});

    const ImportPreview result = preview("changed.ini");
    EXPECT_TRUE(result.ranToEnd()) << previewText(result);
    const PreviewedApplication* calc = findPreviewed(result, "Applications/Calc");
    ASSERT_NE(calc, nullptr);
    EXPECT_EQ(calc->outcome, SaveOutcome::Replaced);
    std::map<std::string, std::pair<sky::farm::SettingValue, sky::farm::SettingValue>> changes;
    for (const SettingChange& change : calc->changes.settings) {
        changes[change.name] = {change.before, change.after};
    }
    using Values = std::pair<sky::farm::SettingValue, sky::farm::SettingValue>;
    EXPECT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes["DefaultWindowWidth"], Values(800, 1024));
    EXPECT_EQ(changes["InstanceLimit"], Values(-1, 4));
    EXPECT_EQ(changes["Description"], Values(std::string(), std::string("Pocket calculator")));
    EXPECT_TRUE(calc->changes.serversGained.empty() && calc->changes.serversLost.empty());
    EXPECT_TRUE(calc->changes.iconChanged);

    // Paint goes over itself unchanged, its icon read from another file; Word, in a folder, is
    // passed over since one of that name is already there.
    const PreviewedApplication* paint = findPreviewed(result, "Applications/Paint");
    ASSERT_NE(paint, nullptr);
    EXPECT_EQ(paint->outcome, SaveOutcome::Unchanged);
    const PreviewedApplication* word = findPreviewed(result, "Applications/Office/Word");
    ASSERT_NE(word, nullptr);
    EXPECT_EQ(word->outcome, SaveOutcome::PassedOver);
    EXPECT_LT(word->errorNumber, 0);
    EXPECT_NE(word->errorDescription.find("Word"), std::string::npos) << word->errorDescription;
    EXPECT_TRUE(result.foldersCreated.empty());
    EXPECT_TRUE(result.removed.empty());
    EXPECT_EQ(servedFarm(), live);

    const std::string text = previewText(result);
    EXPECT_NE(text.find("  replaced     Applications/Calc\n"
                        "                 Description: \"\" → \"Pocket calculator\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Summary: 0 added, 1 replaced, 1 unchanged, 1 passed over, 0 removed, 0 "
                        "folders created, 0 farm settings changed; the import would run to its "
                        "end.\n"),
              std::string::npos)
        << text;
}

TEST_F(ImportPreviewTest, ABadInstanceLimitStopsWithTypeMismatchAfterTheApplicationsBefore) {
    serveFarm(emptyFarm("Stops", {"SRV1"}));
    const sky::farm::FarmImage live = servedFarm();
    writeFileThatStopsAtTheThirdApplication();
    const ImportPreview result = preview("bad.ini");
    ASSERT_FALSE(result.ranToEnd());
    EXPECT_EQ(result.stop->number, kTypeMismatch);
    EXPECT_TRUE(result.stop->description.starts_with(sky::narrow(runtimeErrorText(kTypeMismatch))))
        << result.stop->description;
    EXPECT_EQ(result.stop->storedBefore,
              (std::vector<std::string>{"Applications/One", "Applications/Tools/Two"}));
    ASSERT_EQ(result.farmSettings.size(), 1u);
    EXPECT_EQ(result.farmSettings[0].name, "MaxConnectionsPerUser");
    EXPECT_EQ(result.foldersCreated, std::vector<std::string>{"Applications/Tools"});
    // The error report is the preview's, not shown as the import would show it.
    EXPECT_TRUE(feedback_.reports_.empty());
    EXPECT_EQ(servedFarm(), live);

    const json document = json::parse(previewJson(result));
    EXPECT_EQ(document["ranToEnd"], false);
    EXPECT_EQ(document["stop"]["number"], kTypeMismatch);
    EXPECT_EQ(document["stop"]["storedBefore"].size(), 2u);
    EXPECT_EQ(document["summary"]["added"], 2);
}

// A farm served from PostgreSQL is previewed on a scratch database of its server, which is gone
// afterwards, whether the import would run to its end or stop.
TEST_F(ImportPreviewTest, APreviewOfAFarmInPostgreSQLListsWhatWouldChangeAndLeavesNoScratchCopy) {
    sky::farm::testing::PostgresTestDatabase database;
    sky::farm::FarmImage farm = emptyFarm("Shared", {"SRV1", "SRV2"});
    farm.applications = {application("Applications", "Calc", {"SRV1"}),
                         application("Applications", "Paint", {"SRV1", "SRV2"})};
    giveOwnIcons(farm);
    servePostgresFarm(farm, database.conninfo());
    const sky::farm::FarmImage live = servedFarm();
    ASSERT_EQ(live.applications.size(), 2u);
    exportChanged({{"Applications/Calc", "DefaultWindowWidth", "DefaultWindowWidth=1024"},
                   {"Applications/Calc", "InstanceLimit", "InstanceLimit=4"},
                   {"", "MaxConnectionsPerUser", "MaxConnectionsPerUser=9"}});

    const ImportPreview result = preview("changed.ini");
    EXPECT_TRUE(result.ranToEnd());
    EXPECT_EQ(result.farmName, "Shared");
    const PreviewedApplication* calc = findPreviewed(result, "Applications/Calc");
    ASSERT_NE(calc, nullptr);
    EXPECT_EQ(calc->outcome, SaveOutcome::Replaced);
    using Values = std::pair<sky::farm::SettingValue, sky::farm::SettingValue>;
    std::map<std::string, Values> changes;
    for (const SettingChange& change : calc->changes.settings) {
        changes[change.name] = {change.before, change.after};
    }
    EXPECT_EQ(changes, (std::map<std::string, Values>{{"DefaultWindowWidth", Values(800, 1024)},
                                                      {"InstanceLimit", Values(-1, 4)}}));
    const PreviewedApplication* paint = findPreviewed(result, "Applications/Paint");
    ASSERT_NE(paint, nullptr);
    EXPECT_EQ(paint->outcome, SaveOutcome::Unchanged);
    ASSERT_EQ(result.farmSettings.size(), 1u);
    EXPECT_EQ(result.farmSettings[0].name, "MaxConnectionsPerUser");
    EXPECT_EQ(result.farmSettings[0].after, sky::farm::SettingValue(9));
    EXPECT_EQ(servedFarm(), live);
    EXPECT_EQ(scratchDatabasesOfThisProcess(), std::vector<std::string>{});
}

TEST_F(ImportPreviewTest, APreviewOfAFarmInPostgreSQLThatWouldStopLeavesNoScratchCopy) {
    sky::farm::testing::PostgresTestDatabase database;
    servePostgresFarm(emptyFarm("Stops", {"SRV1"}), database.conninfo());
    const sky::farm::FarmImage live = servedFarm();
    writeFileThatStopsAtTheThirdApplication();

    const ImportPreview result = preview("bad.ini");
    ASSERT_FALSE(result.ranToEnd());
    EXPECT_EQ(result.stop->number, kTypeMismatch);
    EXPECT_EQ(result.stop->storedBefore,
              (std::vector<std::string>{"Applications/One", "Applications/Tools/Two"}));
    EXPECT_EQ(result.foldersCreated, std::vector<std::string>{"Applications/Tools"});
    ASSERT_EQ(result.farmSettings.size(), 1u);
    EXPECT_EQ(servedFarm(), live);
    EXPECT_EQ(scratchDatabasesOfThisProcess(), std::vector<std::string>{});
}

TEST_F(ImportPreviewTest, BringingOnlineListsTheServersGained) {
    sky::farm::FarmImage farm = emptyFarm("Online", {"SRV1", "SRV2"});
    farm.applications = {application("Applications", "Calc", {"SRV1"}),
                         application("Applications", "Paint", {"SRV1", "SRV2"})};
    serveFarm(farm);
    AdminState state;
    ASSERT_TRUE(takeServerOffline(state, feedback_, u"SRV1", windowsFile("srv1.ini")));
    const sky::farm::FarmImage live = servedFarm();

    const ImportPreview result =
        previewCommand(PreviewedCommand::Online, u"SRV2", windowsFile("srv1.ini"), feedback_);
    ASSERT_EQ(result.applications.size(), 1u);
    EXPECT_EQ(result.applications[0].distinguishedName, "Applications/Calc");
    EXPECT_EQ(result.applications[0].outcome, SaveOutcome::Replaced);
    EXPECT_EQ(result.applications[0].changes.serversGained, std::vector<std::string>{"SRV2"});
    EXPECT_TRUE(result.applications[0].changes.settings.empty());
    // Paint is on SRV2 already: publishing it there again fails and ends the run.
    ASSERT_FALSE(result.ranToEnd());
    EXPECT_LT(result.stop->number, 0);
    EXPECT_NE(result.stop->description.find("SRV2"), std::string::npos) << result.stop->description;
    EXPECT_EQ(result.stop->storedBefore, std::vector<std::string>{"Applications/Calc"});
    EXPECT_EQ(servedFarm(), live);
    EXPECT_NE(previewText(result).find("Preview: bringing server SRV2 online from "),
              std::string::npos);
}

// A root-level block with two "Icon=" lines stores its application twice; the second store
// deletes the one the first made, and its save writes it again. The preview lists it once, as
// added, and removes nothing; the real import agrees.
TEST_F(ImportPreviewTest, AnApplicationStoredTwiceIsListedOnceAsAdded) {
    serveFarm(emptyFarm("Twice", {"SRV1"}));
    fs::create_directories(work_ / "icons");
    const sky::farm::Bytes red = colourIcon(0xFFFF0000);
    writeBytes(work_ / "icons" / "red.ico", std::string(red.begin(), red.end()));
    const std::string icon = "Icon=" + sky::narrow(windowsWork()) + "\\icons\\red.ico";
    writeLines("twice.ini", {"[Application]", "AppName=Twice", "[Icon]", icon, icon});

    const ImportPreview told = preview("twice.ini");
    ASSERT_EQ(told.applications.size(), 1u);
    EXPECT_EQ(told.applications[0].distinguishedName, "Applications/Twice");
    EXPECT_EQ(told.applications[0].outcome, SaveOutcome::Added);
    EXPECT_TRUE(told.removed.empty());
    EXPECT_NE(previewText(told).find("Summary: 1 added, 0 replaced, 0 unchanged, 0 passed over, "
                                     "0 removed"),
              std::string::npos)
        << previewText(told);
    expectPreviewAgreesWithImport("twice.ini");
}

TEST_F(ImportPreviewTest, PreviewAndRealImportAgreeOnEveryFile) {
    const sky::farm::FarmImage fresh = demoAndFreshFarm();
    const sky::farm::FarmImage demo = servedFarm();
    exportWithDerivedFiles(demo);
    const PreviewCase cases[] = {
        {"demo.ini", fresh}, {"demo.ini", demo},   {"settings.ini", demo}, {"settings.ini", fresh},
        {"farm.ini", demo},  {"stops.ini", fresh}, {"stops.ini", demo}};
    for (const PreviewCase& c : cases) {
        SCOPED_TRACE(c.file + " into " + c.farm.farm.name);
        serveFarm(c.farm);
        expectPreviewAgreesWithImport(c.file);
    }
}

TEST_F(ImportPreviewTest, PreviewAndRealImportAgreeOnAFarmInPostgreSQL) {
    const sky::farm::FarmImage fresh = demoAndFreshFarm();
    const sky::farm::FarmImage demo = servedFarm();
    exportWithDerivedFiles(demo);
    const PreviewCase cases[] = {
        {"demo.ini", fresh}, {"settings.ini", demo}, {"farm.ini", demo}, {"stops.ini", demo}};
    const std::time_t started = std::time(nullptr);
    for (const PreviewCase& c : cases) {
        SCOPED_TRACE(c.file + " into " + c.farm.farm.name);
        sky::farm::testing::PostgresTestDatabase database;
        servePostgresFarm(c.farm, database.conninfo());
        expectPreviewAgreesWithImport(c.file);
        // The program dropped its scratch database before it ended.
        EXPECT_EQ(scratchDatabasesOfEndedProcesses(started), std::vector<std::string>{});
    }
}

TEST_F(ImportPreviewTest, TheOptionsStandAnywhereAndGoWithImportAndOnlineOnly) {
    serveFarm(emptyFarm("Options", {"SRV1"}));
    writeLines("farm.ini", {"[Farm]", "MaxConnectionsPerUser=2"});
    for (const std::string line :
         {"import --dry-run farm.ini", "import farm.ini --dry-run", "--dry-run import farm.ini"}) {
        const auto run = braskadmin(work_, line);
        EXPECT_EQ(run.exitCode, 0) << line << ": " << run.errors;
        EXPECT_NE(run.out.find("  MaxConnectionsPerUser: 0 → 2\n"), std::string::npos) << run.out;
    }
    EXPECT_EQ(servedFarm().farm.settings.number(sky::farm::FarmSetting::MaxConnectionsPerUser), 0);
    const auto json = braskadmin(work_, "import --json farm.ini --dry-run");
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_EQ(json::parse(json.out)["farmSettings"][0]["new"], 2);
    // Refused with the same words wherever they stand, before anything runs: no view printed, no
    // file written.
    for (const std::string line :
         {"export --dry-run out.ini", "--dry-run export out.ini", "--dry-run view apps",
          "view farm --dry-run", "view servers --json", "--json view apps",
          "publish --dry-run --server SRV1 Calc", "--dry-run"}) {
        const auto refused = braskadmin(work_, line);
        EXPECT_EQ(refused.exitCode, 1) << line;
        const std::string option =
            line.find("--json") != std::string::npos ? "--json" : "--dry-run";
        EXPECT_EQ(refused.errors, option + " goes with the import and online commands only\n")
            << line;
        EXPECT_EQ(refused.out, "") << line;
        EXPECT_FALSE(fs::exists(work_ / "out.ini"));
    }
    const auto jsonAlone = braskadmin(work_, "import --json farm.ini");
    EXPECT_EQ(jsonAlone.exitCode, 1);
    EXPECT_EQ(jsonAlone.errors, "--json goes with --dry-run\n");
    EXPECT_EQ(servedFarm().farm.settings.number(sky::farm::FarmSetting::MaxConnectionsPerUser), 0);
    // A file that is not there: the import would stop at once with "File not found".
    const auto missing = braskadmin(work_, "import --dry-run nothing.ini");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.out.find("would stop with error 53"), std::string::npos) << missing.out;
}

} // namespace
} // namespace brask

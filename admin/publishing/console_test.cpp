// The publishing commands of the command-line mode: the real braskadmin on a real farm for their
// output, exit codes and what they leave in the farm; in process for the order of their pairs.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "publishing/console_commands.h"
#include "publishing/publishing_test_support.h"
#include "qvcomsrv/store/machine_farms.h"
#include "shell/command_line.h"
#include "sky/machine.h"
#include "sky/registry.h"
#include "sky/sqlite_testing.h"
#include "sky/text.h"

namespace brask {
namespace {

using testing::runProgram;
using testing::serversOf;

class PublishingCommandLineTest : public ::testing::Test {
protected:
    PublishingCommandLineTest() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~PublishingCommandLineTest() override { CoUninitialize(); }

    void SetUp() override {
        ASSERT_TRUE(testing::objectModelBuilt())
            << "the object model module (qvcomsrv.dll) is not in " << sky::testing::buildBin();
        testing::registerObjectModel();
        const testing::TestFarm farm =
            testing::farmOf({"S1", "S2", "S3"}, {"Applications/Alpha", "Applications/Beta",
                                                 "Applications/Gamma", "Applications/Office/Word"});
        testing::installPublishedFarm(
            farm, {{"Applications/Alpha", {"S1"}}, {"Applications/Beta", {"S1", "S2"}}});
    }

    static testing::ProgramRun brask(const std::string& arguments) {
        return runProgram("braskadmin", arguments);
    }
};

TEST_F(PublishingCommandLineTest, PublishAndUnpublishSayWhatTheWindowsSay) {
    const testing::ProgramRun publish =
        brask("publish --server S3 --server s2 'office\\Word' Gamma");
    EXPECT_EQ(publish.exitCode, kExitSuccess) << publish.errors;
    EXPECT_EQ(publish.out, "Published 2 applications\n");
    EXPECT_EQ(publish.errors, "");
    nlohmann::json dump = testing::dumpFarm();
    EXPECT_EQ(serversOf(dump, "Applications/Office/Word"), (std::vector<std::string>{"S2", "S3"}));
    EXPECT_EQ(serversOf(dump, "Applications/Gamma"), (std::vector<std::string>{"S2", "S3"}));

    // Alpha does not run on S2: passed over in silence.
    const testing::ProgramRun unpublish = brask("unpublish --server S2 --server S1 Alpha Beta");
    EXPECT_EQ(unpublish.exitCode, kExitSuccess) << unpublish.errors;
    EXPECT_EQ(unpublish.out, "Unpublished 2 applications\n");
    EXPECT_EQ(unpublish.errors, "");
    dump = testing::dumpFarm();
    EXPECT_EQ(serversOf(dump, "Applications/Alpha"), std::vector<std::string>{});
    EXPECT_EQ(serversOf(dump, "Applications/Beta"), std::vector<std::string>{});
}

TEST_F(PublishingCommandLineTest, AnUnknownNameChangesNothing) {
    const nlohmann::json before = testing::dumpFarm();
    const testing::ProgramRun run = brask("publish --server S3 --server S9 Gamma Nope");
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.errors, "There is no application Nope in the farm.\n"
                          "There is no server S9 in the farm.\n");
    EXPECT_EQ(brask("clone S7 --to S3").errors, "There is no server S7 in the farm.\n");
    EXPECT_EQ(brask("options Word").errors, "There is no application Word in the farm.\n");
    EXPECT_EQ(testing::dumpFarm(), before);
}

TEST_F(PublishingCommandLineTest, NoticesHelpAndBadArguments) {
    testing::ProgramRun run = brask("unpublish --server S1");
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.errors, "Publish: Sorry: \nNo Applications Selected\n");
    EXPECT_EQ(brask("options").errors, "Publish: Sorry: \nNo Applications Selected\n");
    EXPECT_EQ(brask("clone --to S1").errors, "Clone: Sorry: \nNo Server Selected\n");

    run = brask("publish --help");
    EXPECT_EQ(run.exitCode, kExitSuccess);
    EXPECT_NE(run.out.find("--server"), std::string::npos) << run.out;
    run = brask("options --help");
    EXPECT_NE(run.out.find("\"Percent of client desktop...\" (5)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"256 colors\" (1, the default)"), std::string::npos) << run.out;

    for (const char* wrong :
         {"publish Alpha", "clone S1", "options --colors purple Alpha", "options --size 7 Alpha",
          "options --width 1.5 Alpha", "options --percent 40000 Alpha"}) {
        run = brask(wrong);
        EXPECT_EQ(run.exitCode, kExitFailure) << wrong;
        EXPECT_NE(run.errors, "") << wrong;
    }
    EXPECT_NE(brask("options --colors purple Alpha").errors.find("purple"), std::string::npos);
}

TEST_F(PublishingCommandLineTest, OptionsTakeEntriesByTextOrPosition) {
    const testing::ProgramRun run =
        brask("options --colors 'true COLOR (24 bit)' --size 4 --width 1152 --height 864 "
              "--encryption 'rc5 (56-bit)' --audio 1 Alpha 'Office\\Word'");
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.errors;
    EXPECT_EQ(run.out, "Changed  2 applications\n");
    const nlohmann::json settings =
        testing::dumpedApplication(testing::dumpFarm(), "Applications/Office/Word")["settings"];
    EXPECT_EQ(settings["DefaultWindowColor"], 4);
    EXPECT_EQ(settings["DefaultWindowType"], 5);
    EXPECT_EQ(settings["DefaultEncryption"], 4);
    EXPECT_EQ(settings["DefaultSoundType"], 1);
    EXPECT_EQ(settings["DefaultWindowScale"], 90);
    EXPECT_EQ(settings["DefaultWindowHeight"], 864);
    EXPECT_EQ(settings["DefaultWindowWidth"], 1152);
}

TEST_F(PublishingCommandLineTest, CloneStopsAtTheFirstFailureAndCountsTheSource) {
    // S2 runs Beta already: the clone onto S2 stops there, before S3.
    testing::ProgramRun run = brask("clone S1 --to S3 --to S2");
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.errors.find("Unexpected error.\n\n\n     Error :-2147220991\n"),
              std::string::npos)
        << run.errors;
    // S2's clone was cut off: no server is said cloned.
    EXPECT_TRUE(run.errors.ends_with("\n\n     Done before the error: 0 of 2 servers\n"))
        << run.errors;
    EXPECT_EQ(serversOf(testing::dumpFarm(), "Applications/Alpha"),
              (std::vector<std::string>{"S1", "S2"}));

    run = brask("clone s1 --to S1 --to S3");
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.errors;
    EXPECT_EQ(run.out, "Cloned 2 servers\n");
    const nlohmann::json dump = testing::dumpFarm();
    EXPECT_EQ(serversOf(dump, "Applications/Alpha"), (std::vector<std::string>{"S1", "S2", "S3"}));
    EXPECT_EQ(serversOf(dump, "Applications/Beta"), (std::vector<std::string>{"S1", "S2", "S3"}));
}

TEST_F(PublishingCommandLineTest, ALostChangeIsListedAndCounted) {
    testing::StoreHold hold;
    // Alpha runs on S1 already and has nothing to save; Gamma's save meets the held store.
    const testing::ProgramRun run = brask("publish --server S1 Alpha Gamma");
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.out, "Published 2 applications\n1 changes could not be saved\n");
    EXPECT_TRUE(run.errors.starts_with("Applications/Gamma on S1: error -2147024726: "))
        << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
}

TEST_F(PublishingCommandLineTest, SomeoneElseIsRefused) {
    ASSERT_EQ(
        runProgram("qvfarm", "admin remove '" + sky::narrow(sky::registry::currentUser()) + "'")
            .exitCode,
        0);
    const testing::ProgramRun run = brask("publish --server S3 Alpha");
    EXPECT_EQ(run.exitCode, kExitRefused);
    EXPECT_EQ(serversOf(testing::dumpFarm(), "Applications/Alpha"), std::vector<std::string>{"S1"});
}

// The pairs a run went through, in order.
std::vector<std::pair<std::u16string, std::u16string>> ranPairs;

LostChange recordPair(AdminState& state, std::u16string_view app, std::u16string_view server) {
    ranPairs.emplace_back(app, server);
    return PublishApplication(state, app, server);
}

TEST_F(PublishingCommandLineTest, PairsRunInTheDialogsOrder) {
    AdminState state;
    std::ostringstream out;
    std::ostringstream errors;
    ConsoleFeedback feedback(errors, false);
    const PairCommand recording{u"Published ", &recordPair};
    ranPairs.clear();
    EXPECT_EQ(runPairsOnConsole(state, recording, {u"S3", u"S2"}, {u"alpha", u"Gamma"}, out, errors,
                                feedback),
              kExitSuccess)
        << errors.str();
    EXPECT_EQ(ranPairs, (std::vector<std::pair<std::u16string, std::u16string>>{
                            {u"Applications/Gamma", u"S2"},
                            {u"Applications/Alpha", u"S2"},
                            {u"Applications/Gamma", u"S3"},
                            {u"Applications/Alpha", u"S3"}}));
    EXPECT_EQ(out.str(), "Published 2 applications\n");
}

LostChange recordOnly(AdminState&, std::u16string_view app, std::u16string_view server) {
    ranPairs.emplace_back(app, server);
    return {};
}

// The names given are looked up in the farm one by one: a publish of three names reads the same
// applications in a farm of 400 as in one of 4, and hands them over as the view's
// selection would (from its last entry to its first, each once, as the farm spells them).
TEST_F(PublishingCommandLineTest, ThreeNamesAreFoundWithoutReadingTheWholeFarm) {
    std::map<std::size_t, int> applicationsRead;
    for (const std::size_t size : {std::size_t{4}, std::size_t{400}}) {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < size; ++i) {
            names.push_back("Applications/Office/App" + std::to_string(i));
        }
        testing::TestFarm farm = testing::farmOf({"S1", "S2"}, names);
        testing::installPublishedFarm(farm, {});
        sky::testing::StatementCounter statements(sky::farm::farmStoreOnMachine(farm.name).path);
        AdminState state;
        std::ostringstream out;
        std::ostringstream errors;
        ConsoleFeedback feedback(errors, false);
        const PairCommand recording{u"Published ", &recordOnly};
        ranPairs.clear();
        EXPECT_EQ(
            runPairsOnConsole(state, recording, {u"S1"},
                              {u"office\\app2", u"Office\\App0", u"OFFICE\\APP2", u"Office\\App1"},
                              out, errors, feedback),
            kExitSuccess)
            << errors.str();
        EXPECT_EQ(ranPairs, (std::vector<std::pair<std::u16string, std::u16string>>{
                                {u"Applications/Office/App2", u"S1"},
                                {u"Applications/Office/App1", u"S1"},
                                {u"Applications/Office/App0", u"S1"}}))
            << size;
        EXPECT_EQ(out.str(), "Published 3 applications\n");
        // The rows of the statements that read applications: what the old fill of the whole
        // application view read was one for each application in the farm.
        applicationsRead[size] = statements.rows(" FROM application");
        EXPECT_LE(applicationsRead[size], 8) << size << statements.list(" FROM application");
        // A name that is not an entry of the view is not found by its distinguished name.
        errors.str("");
        EXPECT_EQ(runPairsOnConsole(state, recording, {u"S1"}, {u"Office/App1", u"App1"}, out,
                                    errors, feedback),
                  kExitFailure);
        EXPECT_EQ(errors.str(), "There is no application Office/App1 in the farm.\n"
                                "There is no application App1 in the farm.\n");
    }
    EXPECT_EQ(applicationsRead[400], applicationsRead[4]);
    EXPECT_GT(applicationsRead[4], 0) << "the farm's statements were counted";
}

int stepsRun = 0;
std::optional<testing::StoreHold> hold;

// Publishes, except that the store is held from the third pair on and the fourth fails.
LostChange publishUntilTheFourth(AdminState& state, std::u16string_view app,
                                 std::u16string_view server) {
    if (++stepsRun == 3) {
        hold.emplace();
    }
    if (stepsRun == 4) {
        throw sky::ComError(E_UNEXPECTED);
    }
    return PublishApplication(state, app, server);
}

TEST_F(PublishingCommandLineTest, ARunEndedByAFailureSaysHowFarItGot) {
    AdminState state;
    std::ostringstream out;
    std::ostringstream errors;
    ConsoleFeedback feedback(errors, false);
    stepsRun = 0;
    const PairCommand failing{u"Published ", &publishUntilTheFourth};
    EXPECT_EQ(runPairsOnConsole(state, failing, {u"S3", u"S2"}, {u"alpha", u"Gamma"}, out, errors,
                                feedback),
              kExitFailure);
    hold.reset();
    EXPECT_EQ(stepsRun, 4);
    EXPECT_EQ(out.str(), "");
    // The report, ending with the count, then the change lost before the failure.
    const std::string report = errors.str();
    const std::string count =
        "\n\n     Done before the error: 2 of 4 pairs (1 changes could not be saved)\n";
    const std::size_t at = report.find(count);
    ASSERT_NE(at, std::string::npos) << report;
    EXPECT_NE(report.find("Unexpected error.\n\n\n     Error :-2147418113\n"), std::string::npos)
        << report;
    EXPECT_LT(report.find("Error :"), at);
    EXPECT_TRUE(report.substr(at + count.size()).starts_with("Applications/Gamma on S3: error "))
        << report;
    // What is said done is in the farm, and nothing else.
    const nlohmann::json dump = testing::dumpFarm();
    EXPECT_EQ(serversOf(dump, "Applications/Gamma"), std::vector<std::string>{"S2"});
    EXPECT_EQ(serversOf(dump, "Applications/Alpha"), (std::vector<std::string>{"S1", "S2"}));
}

// Every change the commands make is in the farm's audit trail as made by the user running them;
// a change the farm refuses, and a preview, record nothing.
TEST_F(PublishingCommandLineTest, TheAuditTrailRecordsEachCommandsChangesWithItsUser) {
    const auto audit = [] {
        const testing::ProgramRun run = runProgram("qvfarm", "audit --json");
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        std::vector<std::string> lines;
        for (const nlohmann::json& entry : nlohmann::json::parse(run.out)) {
            EXPECT_EQ(entry["user"], testing::currentUser());
            lines.push_back(entry["operation"].get<std::string>() + " " +
                            entry["distinguishedName"].get<std::string>() + " " +
                            entry["setting"].get<std::string>() + " " +
                            (entry["old"].is_null() ? "-" : entry["old"].get<std::string>()) + " " +
                            (entry["new"].is_null() ? "-" : entry["new"].get<std::string>()));
        }
        std::reverse(lines.begin(), lines.end());
        return lines;
    };
    ASSERT_TRUE(audit().empty());
    EXPECT_EQ(brask("publish --server S3 Gamma").exitCode, kExitSuccess);
    EXPECT_EQ(brask("unpublish --server S2 Beta").exitCode, kExitSuccess);
    // Refused: Alpha runs on S1 already; nothing is saved and nothing recorded.
    brask("publish --server S1 Alpha");
    EXPECT_EQ(brask("options --width 1024 Gamma").exitCode, kExitSuccess);
    EXPECT_EQ(brask("clone S1 --to S3").exitCode, kExitSuccess);
    std::vector<std::string> recorded = audit();
    ASSERT_GE(recorded.size(), 5u);
    EXPECT_EQ(recorded[0], "Publish Applications/Gamma Server - S3");
    EXPECT_EQ(recorded[1], "Unpublish Applications/Beta Server S2 -");
    std::vector<std::string> expected{
        "ChangeApplication Applications/Gamma DefaultWindowWidth 800 1024",
        "Publish Applications/Alpha Server - S3", "Publish Applications/Beta Server - S3"};
    for (const std::string& line : expected) {
        EXPECT_NE(std::find(recorded.begin(), recorded.end(), line), recorded.end()) << line;
    }
    for (const std::string& line : recorded) {
        EXPECT_TRUE(line.find("Applications/Alpha") == std::string::npos ||
                    line == "Publish Applications/Alpha Server - S3")
            << line;
    }

    const std::size_t before = recorded.size();
    const std::filesystem::path file = sky::machine::root() / "farm.ini";
    std::ofstream(file, std::ios::binary) << "[Farm]\r\nMaxConnectionsPerUser=4\r\n";
    EXPECT_EQ(brask("import --dry-run '" + file.string() + "'").exitCode, kExitSuccess);
    EXPECT_EQ(audit().size(), before);
    EXPECT_EQ(brask("import '" + file.string() + "'").exitCode, kExitSuccess);
    recorded = audit();
    ASSERT_EQ(recorded.size(), before + 1);
    EXPECT_EQ(recorded.back().substr(0, 40), "SetFarmSetting Farm1 MaxConnectionsPerUs");
    // The same import again changes nothing and records nothing.
    EXPECT_EQ(brask("import '" + file.string() + "'").exitCode, kExitSuccess);
    EXPECT_EQ(audit().size(), before + 1);
}

} // namespace
} // namespace brask

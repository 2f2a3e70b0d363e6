// braskadmin export, import, offline and online: the real program, run in a folder of the test's
// machine, on a farm the object model serves.
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "core/console_feedback.h"
#include "core/messages.h"
#include "shell/command_line.h"
#include "shell/store_hold.h"
#include "shell/test_farm.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/registry.h"
#include "sky/text.h"

namespace brask {
namespace {

namespace fs = std::filesystem;

using ProgramOutput = sky::testing::ProgramRun;

// braskadmin with `arguments`, in `folder`; standard output and standard error apart.
ProgramOutput braskadmin(const fs::path& folder, const std::string& arguments) {
    return sky::testing::runCommand("cd '" + folder.string() + "' && '" +
                                        (sky::testing::buildBin() / "braskadmin").string() + "' " +
                                        arguments,
                                    folder / "stderr.txt");
}

class DefinitionsCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testing::objectModelBuilt())
            << "the object model module is not built: build qvcomsrv before these tests";
        testing::registerObjectModel();
        work_ = sky::machine::root() / "work";
        fs::create_directories(work_);
        testing::TestFarm farm;
        farm.name = "Console";
        farm.zones = {{"Main", "SRV1"}};
        farm.servers = {"SRV1"};
        farm.applications = {"Applications/Calc", "Applications/Office/Word"};
        testing::installFarm(farm);
    }
    fs::path work_;
};

TEST_F(DefinitionsCommandLineTest, EachCommandHasHelp) {
    for (const char* command : {"export", "import"}) {
        const ProgramOutput run = braskadmin(work_, std::string(command) + " --help");
        EXPECT_EQ(run.exitCode, kExitSuccess) << command;
        EXPECT_NE(run.out.find("FILE"), std::string::npos) << run.out;
    }
    for (const char* command : {"offline", "online"}) {
        const ProgramOutput run = braskadmin(work_, std::string(command) + " --help");
        EXPECT_EQ(run.exitCode, kExitSuccess) << command;
        EXPECT_NE(run.out.find("SERVER"), std::string::npos) << run.out;
    }
    EXPECT_EQ(braskadmin(work_, "export").exitCode, kExitFailure);
    EXPECT_EQ(braskadmin(work_, "offline SRV1").exitCode, kExitFailure);
    const ProgramOutput help = braskadmin(work_, "--help");
    for (const char* command : {"export", "import", "offline", "online"}) {
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    }
}

TEST_F(DefinitionsCommandLineTest, CommandsSayNothingWhenTheyGoWell) {
    ProgramOutput run = braskadmin(work_, "export farm.ini");
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.errors;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.errors, "");
    EXPECT_TRUE(fs::exists(work_ / "farm.ini"));
    EXPECT_TRUE(fs::exists(work_ / "icons" / "Calc.ico"));
    EXPECT_TRUE(fs::exists(work_ / "icons" / "Word.ico"));

    run = braskadmin(work_, "import farm.ini");
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.errors;
    EXPECT_EQ(run.out + run.errors, "");

    run = braskadmin(work_, "offline SRV1 'srv 1.ini'");
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.errors;
    EXPECT_EQ(run.out + run.errors, "");
    std::ifstream snapshot(work_ / "srv 1.ini", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(snapshot)),
                           std::istreambuf_iterator<char>());
    EXPECT_TRUE(text.starts_with("[Servers]\r\nServerName=SRV1\r\n")) << text;

    run = braskadmin(work_, "online SRV1 'srv 1.ini'");
    EXPECT_EQ(run.exitCode, kExitSuccess) << run.errors;
    EXPECT_EQ(run.out + run.errors, "");
}

// `online` goes on past a save the farm refuses, then lists each such application with its
// reason and how many they were, and exits with 1.
TEST_F(DefinitionsCommandLineTest, OnlineListsTheApplicationsItCouldNotPutBack) {
    std::ofstream(work_ / "srv1.ini", std::ios::binary)
        << "DistinguishedName=Applications/Calc\r\n";
    testing::StoreHold hold;
    const ProgramOutput run = braskadmin(work_, "online SRV1 srv1.ini");
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.errors.starts_with("Applications/Calc: error -2147024726: ")) << run.errors;
    EXPECT_TRUE(run.errors.ends_with("\n1 applications could not be brought online\n"))
        << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 2) << run.errors;
}

TEST_F(DefinitionsCommandLineTest, FailureWritesTheReportAndExitsWithOne) {
    const ProgramOutput run = braskadmin(work_, "import missing.ini");
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.errors,
              consoleText(unexpectedErrorText(
                  53, u"File not found\r\r     Done before the error: 0 applications")));
}

TEST_F(DefinitionsCommandLineTest, OnlyAnAdministratorMayRunThem) {
    const std::string remove = (sky::testing::buildBin() / "qvfarm").string() + " admin remove '" +
                               sky::narrow(sky::registry::currentUser()) + "' >/dev/null";
    ASSERT_EQ(std::system(remove.c_str()), 0);
    for (const char* command :
         {"export farm.ini", "import farm.ini", "offline SRV1 s.ini", "online SRV1 s.ini"}) {
        const ProgramOutput run = braskadmin(work_, command);
        EXPECT_EQ(run.exitCode, kExitRefused) << command;
        EXPECT_EQ(run.errors, consoleText(refusalText())) << command;
    }
    EXPECT_FALSE(fs::exists(work_ / "farm.ini"));
    EXPECT_FALSE(fs::exists(work_ / "s.ini"));
}

} // namespace
} // namespace brask

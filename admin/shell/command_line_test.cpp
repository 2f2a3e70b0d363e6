// The command-line mode, in process for its output and as the real program for its exit codes.
#include "shell/command_line.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "core/messages.h"
#include "shell/test_farm.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/registry.h"
#include "sky/temp_machine.h"
#include "sky/text.h"

namespace brask {
namespace {

using sky::testing::ProgramRun;

enum class StandardError { Dropped, Kept };

// Runs build/bin/braskadmin with `arguments` on the test's machine; standard error is dropped or
// kept after standard output.
ProgramRun runBraskAdmin(const std::string& arguments,
                         StandardError errors = StandardError::Dropped) {
    return sky::testing::runCommand((sky::testing::buildBin() / "braskadmin").string() + " " +
                                    arguments +
                                    (errors == StandardError::Dropped ? " 2>/dev/null" : " 2>&1"));
}

TEST(CommandLineTest, WithoutObjectModelTheCheckFailsAndSaysWhy) {
    AdminState state;
    std::ostringstream out;
    std::ostringstream errors;
    ConsoleFeedback feedback(errors, false);
    EXPECT_EQ(printView(state, kServerView, out, errors, feedback), kExitFailure);
    EXPECT_EQ(out.str(), "");
    const std::string text = errors.str();
    EXPECT_EQ(text.find(consoleText(refusalText())), std::string::npos) << text;
    EXPECT_NE(text.find("Unexpected error.\n\n\n     Error :-"), std::string::npos) << text;
}

TEST(CommandLineTest, ExitCodes) {
    EXPECT_EQ(runBraskAdmin("--help").exitCode, kExitSuccess);
    EXPECT_NE(runBraskAdmin("--help").out.find("view"), std::string::npos);
    EXPECT_EQ(runBraskAdmin("view").exitCode, kExitFailure);
    EXPECT_EQ(runBraskAdmin("view everything").exitCode, kExitFailure);
    EXPECT_EQ(runBraskAdmin("--no-such-option").exitCode, kExitFailure);
    // No object model on this machine: the farm cannot be asked, which is no refusal.
    const ProgramRun failed = runBraskAdmin("view apps");
    EXPECT_EQ(failed.exitCode, kExitFailure);
    EXPECT_EQ(failed.out, "");
}

// A program on the machine: qvfarm, with its output dropped.
int runQvfarm(const std::string& arguments) {
    const std::string command =
        (sky::testing::buildBin() / "qvfarm").string() + " " + arguments + " >/dev/null";
    return std::system(command.c_str());
}

TEST(CommandLineTest, TheDemoFarmAsAnAdministratorAndAsAnyoneElse) {
    ASSERT_TRUE(brask::testing::objectModelBuilt())
        << "the object model module (qvcomsrv.dll) is missing from the build";
    ASSERT_EQ(runQvfarm("demo"), 0);
    ASSERT_EQ(runQvfarm("register"), 0);

    const ProgramRun farm = runBraskAdmin("view farm");
    EXPECT_EQ(farm.exitCode, kExitSuccess);
    EXPECT_TRUE(farm.out.starts_with("Farm name\t: Demo Farm\nZone name\t: Branch\n")) << farm.out;
    EXPECT_TRUE(farm.out.ends_with("Number of servers\t: 9\n")) << farm.out;

    ASSERT_EQ(runQvfarm("admin remove '" + sky::narrow(sky::registry::currentUser()) + "'"), 0);
    const ProgramRun refused = runBraskAdmin("view farm", StandardError::Kept);
    EXPECT_EQ(refused.exitCode, kExitRefused);
    EXPECT_EQ(refused.out, consoleText(refusalText()));
}

// The windows without a display: one line naming what works without one, and exit code 1, instead
// of Qt's lines and an abort; whether no display is named or the one named cannot be reached.
TEST(CommandLineTest, WithoutADisplayTheWindowsSaySoInOneLine) {
    const std::string program = (sky::testing::buildBin() / "braskadmin").string();
    for (const std::string display : {"", "DISPLAY=:97 ", "WAYLAND_DISPLAY=nowhere-97 "}) {
        const ProgramRun run = sky::testing::runCommand(
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR=/nonexistent " +
            display + "'" + program + "' 2>&1");
        EXPECT_EQ(run.exitCode, kExitFailure) << display << run.out;
        EXPECT_EQ(run.out,
                  "braskadmin: the windows need a display, and there is none (DISPLAY and "
                  "WAYLAND_DISPLAY are unset or cannot be reached); without one use the "
                  "command-line mode (braskadmin view farm|apps|servers, braskadmin --help) or "
                  "run the windows under xvfb-run (xvfb-run braskadmin)\n")
            << display;
    }
}

TEST(CommandLineTest, PicturesIntoAFolderThatCannotBeWrittenSayWhy) {
    // /proc exists, and not even root may create files in it.
    const ProgramRun run = runBraskAdmin("--screenshot /proc", StandardError::Kept);
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_NE(run.out.find("cannot write into /proc: "), std::string::npos) << run.out;
}

TEST(CommandLineTest, ADamagedStoreOrRegistryIsReportedNotTakenForARefusal) {
    ASSERT_TRUE(std::filesystem::exists(sky::testing::buildBin() / "qvcomsrv.dll"))
        << "the object model module (qvcomsrv.dll) is not built";
    ASSERT_EQ(runQvfarm("demo"), 0);
    ASSERT_EQ(runQvfarm("register"), 0);
    const std::filesystem::path store = sky::machine::root() / "farms" / "Demo Farm.db";
    {
        std::ofstream damage(store, std::ios::binary | std::ios::trunc);
        damage << std::string(4096, 'x');
    }
    const ProgramRun damagedStore = runBraskAdmin("view farm", StandardError::Kept);
    EXPECT_EQ(damagedStore.exitCode, kExitFailure) << damagedStore.out;
    EXPECT_EQ(damagedStore.out.find(consoleText(refusalText())), std::string::npos)
        << damagedStore.out;
    EXPECT_NE(damagedStore.out.find("Unexpected error."), std::string::npos) << damagedStore.out;
    EXPECT_NE(damagedStore.out.find("is damaged"), std::string::npos) << damagedStore.out;

    {
        std::ofstream damage(sky::machine::root() / "registry.db",
                             std::ios::binary | std::ios::trunc);
        damage << std::string(4096, 'x');
    }
    const ProgramRun damagedHive = runBraskAdmin("view farm", StandardError::Kept);
    EXPECT_EQ(damagedHive.exitCode, kExitFailure) << damagedHive.out;
    EXPECT_EQ(damagedHive.out.find(consoleText(refusalText())), std::string::npos)
        << damagedHive.out;
}

} // namespace
} // namespace brask

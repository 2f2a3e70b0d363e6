// The command-line mode, in process for its output and as the real program for its exit codes.
#include "shell/command_line.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "core/messages.h"
#include "shell/test_farm.h"
#include "sky/registry.h"
#include "sky/temp_machine.h"
#include "sky/text.h"

namespace brask {
namespace {

struct ProgramRun {
    int exitCode;
    std::string out;
};

enum class StandardError { Dropped, Kept };

// Runs build/bin/braskadmin with `arguments` on the test's machine; standard error is dropped or
// kept after standard output.
ProgramRun runBraskAdmin(const std::string& arguments,
                         StandardError errors = StandardError::Dropped) {
    const std::string command = (sky::testing::buildBin() / "braskadmin").string() + " " +
                                arguments +
                                (errors == StandardError::Dropped ? " 2>/dev/null" : " 2>&1");
    ProgramRun run{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return run;
    }
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        run.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(CommandLineTest, WithoutObjectModelTheCheckRefusesAndSaysWhy) {
    AdminState state;
    std::ostringstream out;
    std::ostringstream errors;
    ConsoleFeedback feedback(errors, false);
    EXPECT_EQ(printView(state, kServerView, out, errors, feedback), kExitRefused);
    EXPECT_EQ(out.str(), "");
    const std::string text = errors.str();
    EXPECT_TRUE(text.starts_with(consoleText(refusalText()))) << text;
    EXPECT_NE(text.find("Unexpected error.\n\n\n     Error :-"), std::string::npos) << text;
}

TEST(CommandLineTest, ExitCodes) {
    EXPECT_EQ(runBraskAdmin("--help").exitCode, kExitSuccess);
    EXPECT_NE(runBraskAdmin("--help").out.find("view"), std::string::npos);
    EXPECT_EQ(runBraskAdmin("view").exitCode, kExitFailure);
    EXPECT_EQ(runBraskAdmin("view everything").exitCode, kExitFailure);
    EXPECT_EQ(runBraskAdmin("--no-such-option").exitCode, kExitFailure);
    const ProgramRun refused = runBraskAdmin("view apps");
    EXPECT_EQ(refused.exitCode, kExitRefused);
    EXPECT_EQ(refused.out, "");
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
    EXPECT_TRUE(farm.out.ends_with("Number of servers\t: 8\n")) << farm.out;

    ASSERT_EQ(runQvfarm("admin remove '" + sky::narrow(sky::registry::currentUser()) + "'"), 0);
    const ProgramRun refused = runBraskAdmin("view farm", StandardError::Kept);
    EXPECT_EQ(refused.exitCode, kExitRefused);
    EXPECT_EQ(refused.out, consoleText(refusalText()));
}

} // namespace
} // namespace brask

// qvreg.exe run as BraskAdmin runs it: the built program, installed under its Windows name in a
// program folder with a blank in its path, started with unquoted command lines on a machine that
// knows two farm stores.
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "qvcomsrv/store/machine_farms.h"
#include "qvcomsrv/store/testing/postgres_test_database.h"
#include "registration.h"
#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "sky/text.h"

namespace fs = std::filesystem;
using sky::qvreg::Request;

namespace {

constexpr char16_t kProgramFolder[] = u"C:\\Program Files\\Vantor\\BraskAdmin";

// A farm store for the farm `name` on the test's machine, with the given servers.
void createFarm(const std::string& name, const std::vector<std::string>& servers) {
    auto store =
        sky::farm::createFarmStore(sky::farm::farmStoreOnMachine(name), sky::farm::FarmInfo{name});
    ASSERT_TRUE(store) << store.status().toString();
    sky::farm::FarmImage image;
    image.farm.name = name;
    image.zones = {{"Main", servers.front()}};
    for (const auto& server : servers)
        image.servers.push_back({server, "Main", 5, 2});
    ASSERT_TRUE((*store)->replace(image));
}

std::string servedStore() {
    auto served = sky::farm::machineFarmStore();
    return served ? fs::path(served->path).stem().string() : "(none)";
}

class Qvreg : public ::testing::Test {
protected:
    void SetUp() override {
        createFarm("North", {"ALPHA", "BETA"});
        createFarm("South", {"GAMMA"});
        ASSERT_TRUE(sky::farm::setMachineFarmStore(sky::farm::farmStoreOnMachine("North")));
        const fs::path folder = *sky::machine::toHostPath(kProgramFolder);
        fs::create_directories(folder);
        program_ = folder / "qvreg.exe";
        fs::copy_file(sky::testing::buildBin() / "qvreg", program_,
                      fs::copy_options::overwrite_existing);
    }

    // Starts "<program folder>\qvreg.exe" + `tail` unquoted, as BraskAdmin does, and waits.
    static DWORD start(const std::u16string& tail) {
        std::u16string line = std::u16string(kProgramFolder) + u"\\qvreg.exe" + tail;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info)) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return 0xFFFFFFFFu;
        }
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
        DWORD code = 0xFFFFFFFFu;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return code;
    }

    // Runs the installed program from a shell and gives back what it wrote on standard error.
    std::string standardError(const std::string& arguments, int* exitCode) {
        const std::string command = "'" + program_.string() + "' " + arguments + " 2>&1 >/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        std::string text;
        char buffer[256];
        while (pipe && fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        const int status = pipe ? pclose(pipe) : -1;
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return text;
    }

    fs::path program_;
};

TEST_F(Qvreg, BraskAdminsTwoRunsSwitchTheMachineToTheNamedServersFarm) {
    EXPECT_EQ(start(u" /uGAMMA"), 0u);
    EXPECT_EQ(servedStore(), "(none)") << "the /u run clears the machine's binding";
    EXPECT_EQ(start(u" GAMMA"), 0u);
    EXPECT_EQ(servedStore(), "South");
    EXPECT_EQ(start(u" GAMMA "), 0u) << "a trailing blank is no argument of its own";
    EXPECT_EQ(servedStore(), "South");

    EXPECT_EQ(start(u" beta"), 0u) << "server names match ignoring case";
    EXPECT_EQ(servedStore(), "North");
    EXPECT_EQ(start(u" ALPHA"), 0u) << "naming a server of the served farm keeps it";
    EXPECT_EQ(servedStore(), "North");
}

TEST_F(Qvreg, AServerOfAFarmOnPostgresSwitchesTheMachineToThatFarm) {
    sky::farm::testing::PostgresTestDatabase database;
    const sky::farm::StoreLocation east{"PostgreSQL", database.conninfo()};
    {
        auto store = sky::farm::createFarmStore(east, sky::farm::FarmInfo{"East"});
        ASSERT_TRUE(store) << store.status().toString();
        sky::farm::FarmImage image;
        image.farm.name = "East";
        image.zones = {{"Main", "OMEGA"}};
        image.servers = {{"OMEGA", "Main", 5, 2}};
        ASSERT_TRUE((*store)->replace(image));
    }
    // The machine served it once, and so knows it.
    ASSERT_TRUE(sky::farm::rememberFarmStore("East", east));

    EXPECT_EQ(start(u" omega"), 0u);
    EXPECT_EQ(*sky::farm::machineFarmStore(), east);
    EXPECT_EQ(start(u" GAMMA"), 0u);
    EXPECT_EQ(servedStore(), "South");
    EXPECT_EQ(start(u" OMEGA"), 0u);
    EXPECT_EQ(*sky::farm::machineFarmStore(), east);
}

TEST_F(Qvreg, AnUnknownServerFailsWithAMessageAndChangesNothing) {
    EXPECT_EQ(start(u" DELTA"), DWORD(sky::qvreg::kExitUnknownServer));
    EXPECT_EQ(start(u" /uDELTA"), DWORD(sky::qvreg::kExitUnknownServer));
    EXPECT_EQ(servedStore(), "North");

    int code = 0;
    const std::string message = standardError("DELTA", &code);
    EXPECT_EQ(code, sky::qvreg::kExitUnknownServer);
    EXPECT_NE(message.find("DELTA"), std::string::npos) << message;
}

// Two farms that list one server: neither is taken; both are named, with how to pick one, and
// the machine keeps the farm it serves. A server only one of them lists still binds.
TEST_F(Qvreg, AServerTwoFarmsListIsRefusedWithBoth) {
    createFarm("West", {"GAMMA", "DELTA"});
    EXPECT_EQ(start(u" GAMMA"), DWORD(sky::qvreg::kExitAmbiguous));
    EXPECT_EQ(start(u" /ugamma"), DWORD(sky::qvreg::kExitAmbiguous));
    EXPECT_EQ(servedStore(), "North");

    int code = 0;
    const std::string message = standardError("GAMMA", &code);
    EXPECT_EQ(code, sky::qvreg::kExitAmbiguous);
    EXPECT_EQ(message, "qvreg: 2 farm stores of this machine list the server GAMMA:\n  " +
                           sky::farm::farmStoreOnMachine("South").path + " (SQLite)\n  " +
                           sky::farm::farmStoreOnMachine("West").path +
                           " (SQLite)\nName the one you mean by its store: qvfarm select FILE "
                           "for a store file, qvfarm select --postgres CONNINFO (or a "
                           "postgresql:// URI) for a PostgreSQL store.\n");
    EXPECT_EQ(start(u" DELTA"), 0u);
    EXPECT_EQ(servedStore(), "West");
}

TEST_F(Qvreg, NoServerOrAnUnknownSwitchIsAUsageError) {
    int code = 0;
    EXPECT_NE(standardError("", &code).find("No server named"), std::string::npos);
    EXPECT_EQ(code, sky::qvreg::kExitUsage);
    EXPECT_NE(standardError("/x", &code).find("Unknown switch"), std::string::npos);
    EXPECT_EQ(code, sky::qvreg::kExitUsage);
    EXPECT_EQ(start(u""), DWORD(sky::qvreg::kExitUsage)) << "only pieces of the program's path";
    EXPECT_EQ(servedStore(), "North");
}

TEST(QvregArguments, TheLastArgumentIsTheRequest) {
    auto parse = [](std::vector<std::u16string> arguments) {
        return sky::qvreg::parseArguments(arguments);
    };
    Request bind = parse({u"Files\\Vantor\\BraskAdmin\\qvreg.exe", u"SRV01"});
    EXPECT_EQ(bind.action, Request::Action::Bind);
    EXPECT_EQ(bind.server, "SRV01");
    Request unbind = parse({u"Files\\Vantor\\BraskAdmin\\qvreg.exe", u"/uSRV01"});
    EXPECT_EQ(unbind.action, Request::Action::Unbind);
    EXPECT_EQ(unbind.server, "SRV01");
    EXPECT_EQ(parse({u"-USRV01"}).action, Request::Action::Unbind);
    EXPECT_EQ(parse({u"/u"}).action, Request::Action::Invalid);
    EXPECT_EQ(parse({u"/?"}).action, Request::Action::Help);
    EXPECT_EQ(parse({u"--HELP"}).action, Request::Action::Help);
    EXPECT_EQ(parse({}).action, Request::Action::Invalid);
    EXPECT_EQ(parse({u"USERVER"}).action, Request::Action::Bind) << "a name starting with U";
}

} // namespace

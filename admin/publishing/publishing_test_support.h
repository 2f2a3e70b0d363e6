// What the publishing tests share: a farm whose applications already run on servers, the farm as
// qvfarm dumps it, the real braskadmin run with its two streams apart, and another program's
// hold on the farm store.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "shell/store_hold.h"
#include "shell/test_farm.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/temp_machine.h"

namespace brask::testing {

// A farm of these servers (in one zone, the first its data collector) and applications.
inline TestFarm farmOf(std::vector<std::string> servers, std::vector<std::string> applications) {
    TestFarm farm;
    if (!servers.empty()) {
        farm.zones = {{"Main", servers.front()}};
    }
    farm.servers = std::move(servers);
    farm.applications = std::move(applications);
    return farm;
}

// The farm, with `servers` naming the servers each application (by distinguished name) already
// runs on and `settings` the Windows settings every application starts with; loaded with qvfarm
// and made the machine's farm.
inline void installPublishedFarm(const TestFarm& farm,
                                 const std::map<std::string, std::vector<std::string>>& servers,
                                 const nlohmann::json& settings = nlohmann::json::object()) {
    nlohmann::json dump = farmDump(farm);
    for (nlohmann::json& application : dump["applications"]) {
        const auto published = servers.find(application["distinguishedName"]);
        if (published != servers.end()) {
            application["servers"] = published->second;
        }
        application["settings"] = settings;
    }
    const std::filesystem::path file = sky::machine::root() / (farm.name + ".json");
    std::ofstream(file) << dump.dump();
    const std::string command =
        (sky::testing::buildBin() / "qvfarm").string() + " load '" + file.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

using sky::testing::ProgramRun;

// Runs a program of the build with `arguments` (already quoted for the shell) on the test's
// machine.
inline ProgramRun runProgram(const std::string& program, const std::string& arguments) {
    return sky::testing::runCommand((sky::testing::buildBin() / program).string() + " " + arguments,
                                    sky::machine::root() / "stderr.txt");
}

// The machine's farm as `qvfarm dump` writes it.
inline nlohmann::json dumpFarm() {
    const ProgramRun dump = runProgram("qvfarm", "dump");
    EXPECT_EQ(dump.exitCode, 0) << dump.errors;
    return nlohmann::json::parse(dump.out, nullptr, false);
}

// The servers an application runs on, and one of its settings, from a dump.
inline const nlohmann::json& dumpedApplication(const nlohmann::json& dump, const std::string& dn) {
    for (const nlohmann::json& application : dump["applications"]) {
        if (application["distinguishedName"] == dn) {
            return application;
        }
    }
    static const nlohmann::json none;
    ADD_FAILURE() << dn << " is not in the farm";
    return none;
}
inline std::vector<std::string> serversOf(const nlohmann::json& dump, const std::string& dn) {
    return dumpedApplication(dump, dn).value("servers", std::vector<std::string>{});
}

} // namespace brask::testing

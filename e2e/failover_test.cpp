// The farm on a primary and its synchronous standby, served by the QVCom service of an installed
// machine and changed by BraskAdmin's command line, while the database server fails over: a
// publish run cut off by the primary's stop (fast or immediate) says how far it got, and the farm
// and its audit trail agree with it; the first command after the standby's promotion works; the
// old primary started again without fencing is refused by every program of the machine; the first
// command after a failover while the service is idle works.
//
// Each test installs a machine of its own (scripts/install-machine) and a pair of its own
// (PostgresTestPair), both removed at its end whatever its outcome: the service is stopped, the
// pair's clusters are stopped and removed (and if the test is killed, the fixture's cleanup
// removes them). Every program runs under `timeout`.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "qvcomsrv/store/testing/postgres_test_database.h"
#include "shell/test_farm.h"
#include "sky/machine.h"
#include "sky/program_run.h"

namespace {

namespace fs = std::filesystem;
using sky::farm::testing::PostgresTestPair;
using sky::farm::testing::queryPostgresColumn;
using sky::testing::ProgramRun;
using Clock = std::chrono::steady_clock;

constexpr int kApplications = 300;

std::string shellQuoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string appName(int n) {
    char name[16];
    std::snprintf(name, sizeof name, "App %03d", n);
    return name;
}

// A machine installed as the installer lays it, its farm on the pair; the service stopped when
// it goes.
class InstalledMachine {
public:
    InstalledMachine() : root_(sky::machine::root() / "installed") {
        const ProgramRun install = sky::testing::runCommand(
            shellQuoted(std::string(SKY_SOURCE_DIR) + "/scripts/install-machine") + " --machine " +
                shellQuoted(root_.string()) + " --bin " +
                shellQuoted(sky::testing::buildBin().string()),
            sky::machine::root() / "errors.txt");
        EXPECT_EQ(install.exitCode, 0) << install.out << install.errors;
    }
    ~InstalledMachine() {
        if (tool("sc", "query QVCom").out.find("RUNNING") != std::string::npos)
            tool("sc", "stop QVCom");
        for (int wait = 0; wait < 200; ++wait) {
            if (tool("sc", "query QVCom").out.find("STOPPED") != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    InstalledMachine(const InstalledMachine&) = delete;
    InstalledMachine& operator=(const InstalledMachine&) = delete;

    ProgramRun run(const std::string& command) const {
        return sky::testing::runCommand("cd " + shellQuoted(root_.string()) +
                                            " && SKYLOOM_MACHINE=" + shellQuoted(root_.string()) +
                                            " timeout 120 " + command,
                                        root_.parent_path() / "errors.txt");
    }
    ProgramRun admin(const std::string& arguments) const {
        return run(
            shellQuoted(
                (root_ / "drive_c/Program Files/Vantor/BraskAdmin/BraskAdmin.exe").string()) +
            " " + arguments);
    }
    ProgramRun tool(const std::string& name, const std::string& arguments) const {
        return run(shellQuoted((sky::testing::buildBin() / name).string()) + " " + arguments);
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

// "publish --server S 'App 000' 'App 001' ..." for the applications from `first` to `last`.
std::string publishCommand(const std::string& server, int first, int last) {
    std::string command = "publish --server " + server;
    for (int n = first; n <= last; ++n)
        command += " " + shellQuoted(appName(n));
    return command;
}

class FailoverThroughTheService : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        pair_.createDatabase("farm");
        conninfo_ = pair_.conninfo("farm");
        brask::testing::TestFarm farm;
        farm.name = "Failover Farm";
        farm.zones = {{"Main", "S1"}};
        farm.servers = {"S1", "S2"};
        for (int n = 0; n < kApplications; ++n)
            farm.applications.push_back("Applications/" + appName(n));
        nlohmann::json dump = brask::testing::farmDump(farm);
        for (nlohmann::json& application : dump["applications"])
            application["servers"] = nlohmann::json::array();
        const fs::path file = sky::machine::root() / "farm.json";
        std::ofstream(file) << dump.dump();
        const ProgramRun load =
            machine_.tool("qvfarm", "load " + shellQuoted(file.string()) + " --postgres " +
                                        shellQuoted(conninfo_));
        ASSERT_EQ(load.exitCode, 0) << load.errors;
    }

    // Which applications run on `server`, and which the audit trail says were published there,
    // as the server in `host` holds them.
    std::set<std::string> publishedOn(const std::string& host, const std::string& server) const {
        const auto rows = queryPostgresColumn(
            PostgresTestPair::conninfoOf(host, "farm"),
            "SELECT a.name FROM application a JOIN publication p ON p.application_id = a.id JOIN "
            "server s ON s.id = p.server_id WHERE s.name = '" +
                server + "'");
        return {rows.begin(), rows.end()};
    }
    std::set<std::string> auditedOn(const std::string& host, const std::string& server) const {
        const auto rows =
            queryPostgresColumn(PostgresTestPair::conninfoOf(host, "farm"),
                                "SELECT substr(dn, 14) FROM audit WHERE operation = 'Publish' AND "
                                "new_value = '" +
                                    server + "'");
        return {rows.begin(), rows.end()};
    }
    std::size_t publicationsOn(const std::string& host) const {
        return std::stoul(queryPostgresColumn(PostgresTestPair::conninfoOf(host, "farm"),
                                              "SELECT count(*) FROM publication")
                              .at(0));
    }

    PostgresTestPair pair_;
    InstalledMachine machine_;
    std::string conninfo_;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Stop, FailoverThroughTheService, ::testing::Values("fast", "immediate"),
                         [](const auto& info) { return std::string(info.param); });

TEST_P(FailoverThroughTheService, ARunCutOffByTheFailoverSaysWhatTheFarmHolds) {
    const std::string a = pair_.primary(), b = pair_.standby();
    // The service connected to the primary.
    ASSERT_EQ(machine_.admin("publish --server S2 " + shellQuoted(appName(0))).exitCode, 0);

    // A publish run of every application on S1, with the primary stopped once a third is done.
    ProgramRun run;
    std::thread publisher(
        [&] { run = machine_.admin(publishCommand("S1", 0, kApplications - 1)); });
    const auto started = Clock::now();
    // (Besides the one on S2 above.)
    while (publicationsOn(a) < kApplications / 3 + 1 &&
           Clock::now() - started < std::chrono::minutes(1))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto fault = Clock::now();
    pair_.halt(a, GetParam());
    publisher.join();
    pair_.promote(b);

    // The run failed and said how far it got: the report ends with the count when a failure
    // ended it; a run whose failures all lost a change went on to its end and counts them. The
    // lost changes follow on standard error, one a line.
    EXPECT_EQ(run.exitCode, 1) << run.out << run.errors;
    std::map<std::string, std::string> lost; // application: its line
    std::istringstream lines(run.errors);
    for (std::string line; std::getline(lines, line);) {
        const auto on = line.find(" on S1: error ");
        if (line.starts_with("Applications/") && on != std::string::npos)
            lost[line.substr(13, on - 13)] = line;
    }
    std::size_t done = 0;
    std::smatch count;
    if (std::regex_search(
            run.errors, count,
            std::regex("Done before the error: ([0-9]+) of ([0-9]+) pairs( \\(([0-9]+) "
                       "changes could not be saved\\))?\n"))) {
        done = std::stoul(count[1]);
        EXPECT_EQ(count[2], std::to_string(kApplications));
        EXPECT_EQ(lost.size(), count[4].matched ? std::stoul(count[4]) : 0u) << run.errors;
    } else {
        EXPECT_NE(run.out.find(std::to_string(lost.size()) + " changes could not be saved"),
                  std::string::npos)
            << run.out << run.errors;
        done = kApplications - lost.size();
    }

    // The farm, on the promoted standby: what was counted done is there, with its audit entry;
    // what was lost is not, but for at most the one change whose commit the stop cut off.
    const std::set<std::string> farm = publishedOn(b, "S1");
    EXPECT_EQ(farm, auditedOn(b, "S1"));
    std::size_t lostButThere = 0;
    for (const auto& [app, line] : lost) {
        if (farm.contains(app)) {
            ++lostButThere;
            EXPECT_NE(line.find("while the change was being committed: it may or may not have "
                                "been made"),
                      std::string::npos)
                << line;
        }
    }
    EXPECT_LE(lostButThere, 1u);
    EXPECT_EQ(farm.size(), done + lostButThere) << run.errors;
    EXPECT_GE(done, static_cast<std::size_t>(kApplications / 3));
    EXPECT_LT(done, static_cast<std::size_t>(kApplications));

    // The first command after the promotion works, on the new primary.
    const ProgramRun again = machine_.admin(publishCommand("S1", 0, kApplications - 1));
    const auto served = Clock::now();
    EXPECT_EQ(again.exitCode, 0) << again.errors;
    EXPECT_EQ(publishedOn(b, "S1").size(), static_cast<std::size_t>(kApplications));
    std::cout << "[ figures  ] " << GetParam() << " stop: " << done << " pairs reported done, "
              << lost.size() << " lost (" << lostButThere << " of them in the farm), "
              << farm.size() << " in the farm; the first command after the fault succeeded "
              << std::chrono::duration_cast<std::chrono::milliseconds>(served - fault).count()
              << " ms after it\n";

    // The old primary started again, not fenced: writable, behind. qvfarm (which libpq takes to
    // it first) is refused it and reads the farm of the new primary, as the service does.
    pair_.resume(a);
    ASSERT_EQ(
        queryPostgresColumn(PostgresTestPair::conninfoOf(a, "farm"), "SELECT pg_is_in_recovery()"),
        std::vector<std::string>{"f"});
    const ProgramRun dump = machine_.tool("qvfarm", "dump");
    ASSERT_EQ(dump.exitCode, 0) << dump.errors;
    const nlohmann::json dumped = nlohmann::json::parse(dump.out);
    int published = 0;
    for (const nlohmann::json& application : dumped["applications"])
        published += application["servers"].size() > 0;
    EXPECT_EQ(published, kApplications);
    std::string encoded;
    for (char c : a)
        encoded += c == '/' ? std::string("%2F") : std::string(1, c);
    const ProgramRun alone = machine_.tool(
        "qvfarm", "dump --store " + shellQuoted("postgresql://skyfarm@/farm?host=" + encoded));
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_NE(alone.errors.find("which takes writes but is behind the farm: it is on timeline 1, "
                                "and this machine saw the farm on timeline 2"),
              std::string::npos)
        << alone.errors;
    const std::size_t onOld = publicationsOn(a);
    ASSERT_EQ(machine_.admin("publish --server S2 " + shellQuoted(appName(1))).exitCode, 0);
    EXPECT_EQ(publishedOn(b, "S2"), (std::set<std::string>{appName(0), appName(1)}));
    EXPECT_EQ(publicationsOn(a), onOld);

    // Fenced: the old primary made a standby of the new one. Then a failover while the service
    // is idle, and the first command after it works.
    pair_.makeStandby(a, b);
    const auto idleFault = Clock::now();
    pair_.halt(b, GetParam());
    pair_.promote(a);
    const ProgramRun first = machine_.admin("publish --server S2 " + shellQuoted(appName(2)));
    EXPECT_EQ(first.exitCode, 0) << first.errors;
    std::cout
        << "[ figures  ] idle failover (" << GetParam() << " stop): the first command succeeded "
        << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - idleFault).count()
        << " ms after the fault\n";
    EXPECT_EQ(publishedOn(a, "S2"), (std::set<std::string>{appName(0), appName(1), appName(2)}));
}

// Two servers of one farm whose store is a PostgreSQL database: each machine (a machine folder of
// its own) serves the shared farm, what BraskAdmin changes through the object model on one is in
// the other's views at once, and qvreg.exe on either finds the farm of a server whichever kind of
// store holds it.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "core/admin_state.h"
#include "core/farm.h"
#include "qvcomsrv/store/testing/postgres_test_database.h"
#include "shell/test_farm.h"
#include "sky/bstr.h"
#include "sky/machine.h"

namespace brask {
namespace {

namespace fs = std::filesystem;

struct ProgramOutcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a built program on the machine in `machine`, as a program started there would run.
ProgramOutcome runOn(const fs::path& machine, const std::string& program,
                     const std::string& arguments) {
    const fs::path errors = machine / "errors.txt";
    const std::string command = "SKYLOOM_MACHINE=" + quoted(machine.string()) + " " +
                                quoted((sky::testing::buildBin() / program).string()) + " " +
                                arguments + " 2>" + quoted(errors.string());
    ProgramOutcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(errors);
    run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

class SharedFarmTest : public ::testing::Test {
protected:
    void SetUp() override {
        first_ = sky::machine::root();
        second_ = first_ / "second-machine";
        fs::create_directories(second_);
    }

    sky::farm::testing::PostgresTestDatabase database_;
    fs::path first_;
    fs::path second_;
};

TEST_F(SharedFarmTest, WhatOneServerChangesTheOtherSeesAtOnce) {
    testing::TestFarm farm;
    farm.name = "Shared";
    farm.zones = {{"Main", "SRV-A"}};
    farm.servers = {"SRV-A", "SRV-B"};
    farm.applications = {"Applications/Office/Word"};
    const fs::path dump = first_ / "shared.json";
    std::ofstream(dump) << testing::farmDump(farm).dump();
    const std::string conninfo = quoted(database_.conninfo());

    // The first server puts the farm on the database; the second selects it.
    const ProgramOutcome loaded =
        runOn(first_, "qvfarm", "load " + quoted(dump.string()) + " --postgres " + conninfo);
    ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
    ASSERT_EQ(runOn(first_, "qvfarm", "register").exitCode, 0);
    const ProgramOutcome selected = runOn(second_, "qvfarm", "select --postgres " + conninfo);
    ASSERT_EQ(selected.exitCode, 0) << selected.err;
    ASSERT_EQ(runOn(second_, "qvfarm", "register").exitCode, 0);
    EXPECT_EQ(runOn(second_, "braskadmin", "view apps").out, "Office\\Word\n");

    // On the first server, an application added as BraskAdmin's import adds one.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        AdminState state;
        ISkyloomFarm6* shared = openFarm(state);
        sky::ComPtr<ISkyloomApplication4> added;
        ASSERT_EQ(shared->AddApplication4(SkyloomWinAppObject, added.put()), S_OK);
        auto application = added.as<ISkyloomApplication5>();
        sky::ComPtr<ISkyloomWinApp4> settings;
        ASSERT_EQ(application->get_WinAppObject4(settings.put()), S_OK);
        ASSERT_EQ(settings->put_AppName(sky::Bstr::fromUtf8("Calculator").get()), S_OK);
        ASSERT_EQ(settings->put_ParentFolderDN(sky::Bstr::fromUtf8("Applications/Office").get()),
                  S_OK);
        ASSERT_EQ(application->SaveData(), S_OK);
    }
    CoUninitialize();

    // The second server's BraskAdmin lists it at once.
    const ProgramOutcome apps = runOn(second_, "braskadmin", "view apps");
    EXPECT_EQ(apps.exitCode, 0) << apps.err;
    EXPECT_EQ(apps.out, "Office\\Calculator\nOffice\\Word\n");
    EXPECT_EQ(runOn(first_, "braskadmin", "view apps").out, apps.out);

    // The second machine serves a farm file of its own next; qvreg.exe finds the shared farm by
    // its server on either machine.
    ASSERT_EQ(runOn(second_, "qvfarm", "create Local").exitCode, 0);
    EXPECT_EQ(runOn(second_, "braskadmin", "view apps").out, "");
    const ProgramOutcome back = runOn(second_, "qvreg", "SRV-B");
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(runOn(second_, "braskadmin", "view apps").out, apps.out);
    const ProgramOutcome same = runOn(first_, "qvreg", "srv-a");
    EXPECT_EQ(same.exitCode, 0) << same.err;
    EXPECT_EQ(runOn(first_, "braskadmin", "view apps").out, apps.out);
}

} // namespace
} // namespace brask

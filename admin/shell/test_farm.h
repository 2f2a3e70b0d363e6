// A farm for the window tests, set up as a person would: written as a farm dump and loaded with
// the real qvfarm tool, with the object model module registered on the test's machine.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <windows.h>

#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "sky/text.h"

namespace brask::testing {

// The name of the user running the tests, as the farm knows its administrators.
inline std::string currentUser() {
    WCHAR name[257];
    DWORD size = 257;
    return GetUserNameW(name, &size) ? sky::narrow(name) : std::string();
}

struct TestFarm {
    std::string name = "Farm1";
    // The farm's administrators; the user running the tests unless a test says otherwise.
    std::vector<std::string> administrators{currentUser()};
    // Zones with their data collectors.
    std::vector<std::pair<std::string, std::string>> zones;
    // Servers: a data collector in its zone, every other server in the first zone.
    std::vector<std::string> servers;
    // Distinguished names of published Windows applications; their folders are made too.
    std::vector<std::string> applications;
};

inline nlohmann::json farmDump(const TestFarm& farm) {
    using nlohmann::json;
    json zones = json::array();
    for (const auto& [zone, collector] : farm.zones) {
        zones.push_back({{"name", zone}, {"dataCollector", collector}});
    }
    json servers = json::array();
    for (const std::string& server : farm.servers) {
        std::string zone = farm.zones.empty() ? "" : farm.zones.front().first;
        for (const auto& [name, collector] : farm.zones) {
            if (collector == server) {
                zone = name;
            }
        }
        servers.push_back(
            {{"name", server}, {"zone", zone}, {"osVersion", {{"major", 5}, {"minor", 2}}}});
    }
    std::vector<std::string> folders;
    json applications = json::array();
    for (const std::string& dn : farm.applications) {
        for (std::size_t slash = dn.find('/', 13); slash != std::string::npos;
             slash = dn.find('/', slash + 1)) {
            const std::string folder = dn.substr(0, slash);
            if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
                folders.push_back(folder);
            }
        }
        applications.push_back({{"distinguishedName", dn},
                                {"type", 3},
                                {"description", ""},
                                {"settings", json::object()},
                                {"servers", json::array()},
                                {"users", json::array()},
                                {"groups", json::array()}});
    }
    return {{"format", "skyloom-farm"},
            {"version", 1},
            {"farm", {{"name", farm.name}}},
            {"administrators", farm.administrators},
            {"zones", zones},
            {"servers", servers},
            {"folders", folders},
            {"applications", applications}};
}

// Loads the farm with `qvfarm load` and makes it the machine's farm.
inline void installFarm(const TestFarm& farm) {
    const std::filesystem::path dump = sky::machine::root() / (farm.name + ".json");
    std::ofstream(dump) << farmDump(farm).dump();
    const std::string command =
        (sky::testing::buildBin() / "qvfarm").string() + " load '" + dump.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Whether the build has the object model module (qvcomsrv.dll).
inline bool objectModelBuilt() {
    return std::filesystem::exists(sky::testing::buildBin() / "qvcomsrv.dll");
}

// Registers the built object model module on the test's machine, as its self-registration does.
inline void registerObjectModel() {
    const std::u16string module =
        sky::machine::toWindowsPath(sky::testing::buildBin() / "qvcomsrv.dll");
    const HMODULE loaded = LoadLibraryW(module.c_str());
    ASSERT_NE(loaded, nullptr) << sky::narrow(module) << ": error " << GetLastError();
    using RegisterServer = HRESULT (*)();
    const auto registerServer = reinterpret_cast<RegisterServer>(
        reinterpret_cast<void (*)()>(GetProcAddress(loaded, "DllRegisterServer")));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
}

} // namespace brask::testing

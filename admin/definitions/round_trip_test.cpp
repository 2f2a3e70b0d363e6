// The demonstration farm exported, imported into a fresh farm with the same servers and none of
// its folders, and exported again: the same file apart from the lines the reader does not apply,
// the same icons byte for byte.
#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

#include "definitions/definitions_test_support.h"
#include "definitions/export_farm.h"
#include "definitions/import_farm.h"

namespace brask {
namespace {

using namespace testing;

// The farm block and the application blocks of a definition file, without the lines that import
// does not apply; the blocks sorted, since a store may enumerate in another order.
struct Blocks {
    std::vector<std::string> farm;
    std::vector<std::vector<std::string>> applications;
};

Blocks blocksOf(const std::vector<std::string>& lines) {
    Blocks blocks;
    std::vector<std::string>* current = &blocks.farm;
    for (const std::string& line : lines) {
        if (line == "[Application]") {
            blocks.applications.emplace_back();
            current = &blocks.applications.back();
        }
        if (line.starts_with("Farmname=") || line.starts_with("HideDisabledApp=") ||
            line.starts_with("CPUPriority=")) {
            continue;
        }
        current->push_back(line);
    }
    std::sort(blocks.applications.begin(), blocks.applications.end());
    return blocks;
}

std::map<std::string, std::string> iconsIn(const fs::path& folder) {
    std::map<std::string, std::string> icons;
    for (const auto& entry : fs::directory_iterator(folder)) {
        icons[entry.path().filename().string()] = fileBytes(entry.path());
    }
    return icons;
}

TEST_F(DefinitionsTest, DemoFarmRoundTrip) {
    const std::string demo = (sky::testing::buildBin() / "qvfarm").string() + " demo >/dev/null";
    ASSERT_EQ(std::system(demo.c_str()), 0) << demo;
    const sky::farm::FarmImage original = servedFarm();

    AdminState state;
    RecordingFeedback feedback;
    ASSERT_TRUE(exportFarm(state, feedback, windowsFile("first.ini")));
    const std::map<std::string, std::string> firstIcons = iconsIn(work_ / "icons");

    sky::farm::FarmImage fresh = original;
    fresh.folders.clear();
    fresh.applications.clear();
    fresh.farm.settings = {};
    serveFarm(fresh);
    ASSERT_TRUE(importFarm(state, feedback, windowsFile("first.ini")));
    ASSERT_TRUE(exportFarm(state, feedback, windowsFile("second.ini")));
    EXPECT_TRUE(feedback.reports_.empty()) << feedback.reports_[0].description;

    const Blocks first = blocksOf(fileLines(hostFile("first.ini")));
    const Blocks second = blocksOf(fileLines(hostFile("second.ini")));
    EXPECT_EQ(first.farm, second.farm);
    ASSERT_EQ(first.applications.size(), second.applications.size());
    for (std::size_t i = 0; i < first.applications.size(); ++i) {
        EXPECT_EQ(first.applications[i], second.applications[i]);
    }
    EXPECT_EQ(iconsIn(work_ / "icons"), firstIcons);

    // Every Windows application of the demo arrived; its published documents are not exported.
    const sky::farm::FarmImage imported = servedFarm();
    std::size_t windowsApplications = 0;
    for (const sky::farm::Application& app : original.applications) {
        windowsApplications += app.type == sky::farm::kWindowsApplicationType;
    }
    EXPECT_EQ(imported.applications.size(), windowsApplications);
    EXPECT_EQ(first.applications.size(), windowsApplications);
    EXPECT_GT(windowsApplications, 30u);
}

} // namespace
} // namespace brask

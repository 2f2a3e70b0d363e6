#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "commands.h"
#include "demo_farm.h"
#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "qvcomsrv/store/sqlite_farm_store.h"
#include "sky/sqlite_testing.h"

using namespace sky;

namespace {

const farm::Application* find(const farm::FarmImage& image, const std::string& dn) {
    for (const farm::Application& app : image.applications) {
        if (app.distinguishedName() == dn)
            return &app;
    }
    return nullptr;
}

} // namespace

TEST(DemoFarm, LooksLikeACompanysFarm) {
    const farm::FarmImage image = qvfarm::demoFarm("Demo", "tester");
    EXPECT_EQ(image.zones.size(), 2u);
    ASSERT_EQ(image.servers.size(), 9u);
    std::map<std::string, int> versions;
    for (const farm::Server& server : image.servers)
        ++versions[std::to_string(server.osMajor) + "." + std::to_string(server.osMinor)];
    EXPECT_GE(versions["5.0"], 2);
    EXPECT_GE(versions["5.2"], 2);
    EXPECT_EQ(versions["5.0"] + versions["5.2"], 9);
    // One server runs no application, so that any other can be cloned onto it.
    std::set<std::string> idle;
    for (const farm::Server& server : image.servers)
        idle.insert(server.name);
    for (const farm::Application& app : image.applications) {
        for (const std::string& server : app.servers)
            idle.erase(server);
    }
    EXPECT_EQ(idle, (std::set<std::string>{"BR-SRV04"}));
    EXPECT_GE(image.applications.size(), 40u);
    EXPECT_LE(image.applications.size(), 45u);
    EXPECT_EQ(image.administrators, (std::vector<std::string>{"Administrator", "tester"}));

    // Folders nest two deep, and applications sit at every level.
    std::set<std::size_t> depths;
    for (const farm::Application& app : image.applications)
        depths.insert(farm::splitDistinguishedName(app.folder)->size());
    EXPECT_EQ(depths, (std::set<std::size_t>{0, 1, 2}));

    const farm::Application* desktop = find(image, "Applications/Desktops/Headquarters Desktop");
    ASSERT_NE(desktop, nullptr);
    EXPECT_EQ(desktop->type, farm::kWindowsApplicationType);
    EXPECT_EQ(desktop->settings.number(farm::AppSetting::LumoAttributes) & 8, 8);
    const farm::Application* handbook = find(image, "Applications/Documents/Employee Handbook");
    ASSERT_NE(handbook, nullptr);
    EXPECT_NE(handbook->type, farm::kWindowsApplicationType);
    const farm::Application* setup = find(image, "Applications/Office/Tools/Office Setup");
    ASSERT_NE(setup, nullptr);
    EXPECT_EQ(setup->settings.number(farm::AppSetting::EnableApp), 0);

    // Accounts of every kind of authority; icons real and all different.
    std::set<std::int32_t> authorities, accountTypes;
    std::set<farm::Bytes> icons;
    for (const farm::Application& app : image.applications) {
        for (const auto* accounts : {&app.users, &app.groups}) {
            for (const farm::Account& account : *accounts) {
                authorities.insert(account.authorityType);
                accountTypes.insert(account.accountType);
            }
        }
        ASSERT_TRUE(app.icon && farm::checkIcon(*app.icon)) << app.distinguishedName();
        icons.insert(*app.icon);
    }
    EXPECT_EQ(authorities, (std::set<std::int32_t>{1, 2, 3}));
    EXPECT_GE(accountTypes.size(), 5u);
    EXPECT_EQ(icons.size(), image.applications.size());
}

TEST(DemoFarm, AStoreTakesItWhole) {
    const farm::FarmImage image = qvfarm::demoFarm("Demo", "tester");
    auto store =
        farm::createSqliteFarmStore(farm::farmStoreOnMachine("Demo").path, farm::FarmInfo{"Demo"});
    ASSERT_TRUE(store);
    ASSERT_TRUE((*store)->replace(image));
    auto read = (*store)->image();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->applications.size(), image.applications.size());
    EXPECT_EQ(read->folders.size(), image.folders.size());
    EXPECT_TRUE(*(*store)->isAdministrator("TESTER"));
    std::size_t onServer = 0;
    for (const farm::Application& app : image.applications)
        onServer += app.isPublishedOn("HQ-SRV01");
    EXPECT_GT(onServer, 20u);
    EXPECT_EQ((*store)->applicationsOnServer("HQ-SRV01", farm::IconLoading::Skip)->size(),
              onServer);
}

// A farm made to measure is written many rows to a statement: a thousand applications more (with
// their servers, accounts and icons) take a few dozen statements more, not thousands.
TEST(DemoFarm, MadeToMeasureIsWrittenManyRowsToAStatement) {
    const auto statementsFor = [](std::size_t applications) {
        const std::string name = "Measured " + std::to_string(applications);
        sky::testing::StatementCounter statements(farm::farmStoreOnMachine(name).path);
        const qvfarm::LargeDemoFarm demo = qvfarm::largeDemoFarm(name, "tester", applications, 20);
        auto store =
            farm::createFarmStore(farm::farmStoreOnMachine(name), demo.image, demo.applications);
        EXPECT_TRUE(store) << store.status().message();
        EXPECT_EQ((*store)->applications(farm::IconLoading::Skip)->size(), applications);
        return statements.count("INSERT");
    };
    const int thousand = statementsFor(1000);
    const int twoThousand = statementsFor(2000);
    const int threeThousand = statementsFor(3000);
    // Each thousand: 16 statements of 64 applications, and the publications (256 a statement),
    // grants (128) and icons (32) of a thousand applications.
    EXPECT_EQ(threeThousand - twoThousand, twoThousand - thousand);
    EXPECT_GT(twoThousand - thousand, 16);
    EXPECT_LT(twoThousand - thousand, 100);
}

// "qvfarm demo" at a size shows its progress when standard error is a terminal: a percentage
// rewriting itself as the batches are written, wiped before the result is written; nothing when
// it is not.
TEST(DemoFarm, MadeToMeasureShowsItsProgressOnATerminal) {
    for (const bool terminal : {true, false}) {
        std::ostringstream out, err;
        ASSERT_EQ(qvfarm::buildDemoFarm("Progress", qvfarm::DemoSize{4500, 10}, std::nullopt,
                                        "tester", {out, err, terminal}),
                  0)
            << err.str();
        EXPECT_NE(out.str().find("4500 applications"), std::string::npos) << out.str();
        if (!terminal) {
            EXPECT_EQ(err.str(), "");
            continue;
        }
        // The batches are of 1,000 applications: 0, 22, 44, 66 and 88 percent written before
        // each, all once the last is, then wiped.
        EXPECT_EQ(err.str(), "\r0%\r22%\r44%\r66%\r88%\r100%\r    \r");
    }
}

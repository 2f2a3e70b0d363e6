#include <map>
#include <set>

#include <gtest/gtest.h>

#include "demo_farm.h"
#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "qvcomsrv/store/sqlite_farm_store.h"

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

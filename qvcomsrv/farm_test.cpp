// The farm object as programs use it: a fresh farm object per operation, its zones, servers and
// applications, the administrator check by name, the farm-wide settings without a save step, and
// the failures a user meets (no farm, a damaged store, members called too early).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "member_access.h"
#include "qvcomsrv/store/machine_farms.h"
#include "results.h"
#include "testing/module_test_support.h"

// Stats of the path `watchedPath` names asked for by this process (the module included: the
// program exports the name, so the module's call comes here). Each goes on to the system as the
// C library's would.
namespace {
std::atomic<const char*> watchedPath{nullptr};
std::atomic<int> watchedStats{0};

// Counts the stats of `path` while it lives (from zero); `path` must outlive it.
class CountStats {
public:
    explicit CountStats(const std::string& path) {
        watchedStats = 0;
        watchedPath = path.c_str();
    }
    ~CountStats() { watchedPath = nullptr; }
    CountStats(const CountStats&) = delete;
    CountStats& operator=(const CountStats&) = delete;
    int count() const { return watchedStats.load(); }
};
} // namespace

extern "C" int stat(const char* path, struct stat* info) {
    const char* watched = watchedPath.load();
    if (watched && std::strcmp(path, watched) == 0)
        watchedStats.fetch_add(1, std::memory_order_relaxed);
    return static_cast<int>(::syscall(SYS_newfstatat, AT_FDCWD, path, info, 0));
}

namespace qvcomsrv::testing {
namespace {

using sky::ComPtr;

class FarmTest : public ObjectModelTest {};

TEST_F(FarmTest, ReportsItsNameZonesServersAndApplications) {
    auto farm = openFarm();
    sky::Bstr name;
    ASSERT_EQ(farm->get_FarmName(name.put()), S_OK);
    EXPECT_EQ(name.utf8(), "Skyfarm");

    ComPtr<ISkyloomZones> zones;
    ASSERT_EQ(farm->get_Zones(zones.put()), S_OK);
    std::vector<std::string> seen;
    for (const ComPtr<ISkyloomZone3>& zone : sky::enumerateAs<ISkyloomZone3>(zones.get())) {
        sky::Bstr zoneName, collector;
        ASSERT_EQ(zone->get_ZoneName(zoneName.put()), S_OK);
        ASSERT_EQ(zone->get_DataCollector(collector.put()), S_OK);
        seen.push_back(zoneName.utf8() + ":" + collector.utf8());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"East:ALPHA", "West:GAMMA"}));

    ComPtr<ISkyloomServers> servers;
    ASSERT_EQ(farm->get_Servers(servers.put()), S_OK);
    LONG count = 0;
    ASSERT_EQ(servers->get_Count(&count), S_OK);
    EXPECT_EQ(count, 3);

    ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
    std::vector<std::string> names;
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        sky::Bstr dn;
        ASSERT_EQ(app->get_DistinguishedName(dn.put()), S_OK);
        names.push_back(dn.utf8());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Applications/Intranet", "Applications/Notepad",
                                               "Applications/Office/Word"}));
}

TEST_F(FarmTest, CollectionsCountFromOneAndMoveTheirStartWithSkipAndReset) {
    auto farm = openFarm();
    ComPtr<ISkyloomServers> servers;
    ASSERT_EQ(farm->get_Servers(servers.put()), S_OK);

    ComPtr<IDispatch> item;
    ASSERT_EQ(servers->get_Item(1, item.put()), S_OK);
    sky::Bstr name;
    ASSERT_EQ(item.as<ISkyloomServer5>()->get_ServerName(name.put()), S_OK);
    EXPECT_EQ(name.utf8(), "ALPHA");
    EXPECT_EQ(servers->get_Item(0, item.put()), DISP_E_BADINDEX);
    EXPECT_NE(failureText().find("counted from 1"), std::string::npos);
    EXPECT_EQ(servers->get_Item(4, item.put()), DISP_E_BADINDEX);

    ASSERT_EQ(servers->Skip(2), S_OK);
    std::vector<std::string> rest;
    for (const auto& server : sky::enumerateAs<ISkyloomServer5>(servers.get())) {
        ASSERT_EQ(server->get_ServerName(name.put()), S_OK);
        rest.push_back(name.utf8());
    }
    EXPECT_EQ(rest, std::vector<std::string>{"GAMMA"});
    EXPECT_EQ(servers->Skip(5), S_FALSE);
    ASSERT_EQ(servers->Reset(), S_OK);
    int all = 0;
    for (const auto& server : sky::enumerateAs<ISkyloomServer5>(servers.get())) {
        (void)server;
        ++all;
    }
    EXPECT_EQ(all, 3);
}

// The farm's only administrator becomes "somebody-else", not the user running the test.
void giveFarmToSomebodyElse(sky::farm::FarmStore& store) {
    const auto admins = store.administrators();
    ASSERT_TRUE(admins);
    for (const std::string& admin : *admins)
        ASSERT_TRUE(store.removeAdministrator(admin));
    ASSERT_TRUE(store.addAdministrator("somebody-else"));
}

// The objects a farm hands out (its collections, an application's users and groups) ask their
// member gate of the farm they were read from, as the objects that made them do: calling their
// members looks up the machine's farm record no more (it did for every member, a registry read
// and a stat each). Their members stay the farm's administrators' own: once the caller is no
// longer one, they are refused within the time a decision is kept.
TEST_F(FarmTest, ObjectsReadFromAFarmAskTheirGateOfThatFarm) {
    auto farm = openFarm();
    ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
    auto app = openApplication("Applications/Notepad");
    ComPtr<ISkyloomServers> servers;
    ComPtr<ISkyloomUsers> users;
    ComPtr<ISkyloomGroups> groups;
    ASSERT_EQ(app->get_Servers(servers.put()), S_OK);
    ASSERT_EQ(app->get_Users(users.put()), S_OK);
    ASSERT_EQ(app->get_Groups(groups.put()), S_OK);
    ComPtr<IDispatch> user, group;
    ASSERT_EQ(users->get_Item(1, user.put()), S_OK);
    ASSERT_EQ(groups->get_Item(1, group.put()), S_OK);
    // By name, through IDispatch, which asks each member's gate.
    auto read = [&] {
        return std::vector<std::string>{
            std::to_string(sky::getProperty(apps.get(), u"Count").toInt32()),
            std::to_string(sky::getProperty(servers.get(), u"Count").toInt32()),
            std::to_string(sky::getProperty(users.get(), u"Count").toInt32()),
            sky::getProperty(user.get(), u"UserName").toUtf8(),
            sky::getProperty(group.get(), u"GroupName").toUtf8(),
        };
    };
    const std::vector<std::string> expected{
        "3", std::to_string(stored("Applications/Notepad").servers.size()), "1", "alice", "Staff"};
    // Looking up the machine's farm stats its store file.
    auto location = sky::farm::machineFarmStore();
    ASSERT_TRUE(location) << location.status().toString();
    {
        const CountStats stats(location->path);
        const ComPtr<ISkyloomApplication5> bound = openApplication("Applications/Notepad");
        EXPECT_GE(stats.count(), 1) << "the count does not see the module's stats";
    }
    {
        const CountStats stats(location->path);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(read(), expected);
        EXPECT_EQ(stats.count(), 0);
    }

    ASSERT_NO_FATAL_FAILURE(giveFarmToSomebodyElse(*servedStore()));
    std::this_thread::sleep_for(std::chrono::milliseconds(kAccessDecisionMilliseconds + 100));
    for (IDispatch* object :
         {static_cast<IDispatch*>(apps.get()), static_cast<IDispatch*>(servers.get()),
          static_cast<IDispatch*>(users.get())}) {
        try {
            sky::getProperty(object, u"Count");
            ADD_FAILURE() << "a collection answered a caller who administers no farm";
        } catch (const sky::ComError& e) {
            EXPECT_EQ(e.result(), E_ACCESSDENIED);
        }
    }
    for (auto [object, name] :
         {std::pair{user.get(), u"UserName"}, std::pair{group.get(), u"GroupName"}}) {
        try {
            sky::getProperty(object, name);
            ADD_FAILURE() << "an account answered a caller who administers no farm";
        } catch (const sky::ComError& e) {
            EXPECT_EQ(e.result(), E_ACCESSDENIED);
        }
    }
}

TEST_F(FarmTest, AdministratorCheckByNameThroughDispatch) {
    auto farm = openFarm();
    ComPtr<ISkyloomWinFarm> settings;
    ASSERT_EQ(farm->get_WinFarmObject(settings.put()), S_OK);
    // As the logon window does it: by name, a property get without arguments.
    EXPECT_NE(sky::getProperty(settings.get(), u"IsVantorAdministrator").toInt32(), 0);

    // Someone else's farm.
    auto store = servedStore();
    ASSERT_NO_FATAL_FAILURE(giveFarmToSomebodyElse(*store));
    ComPtr<ISkyloomWinFarm> other;
    ASSERT_EQ(openFarm()->get_WinFarmObject(other.put()), S_OK);
    EXPECT_EQ(sky::getProperty(other.get(), u"isvantoradministrator").toInt32(), 0);
}

// In process the caller is the process's own user: one who does not administer the farm binds
// it and learns that it is not an administrator, and nothing else, by name or early-bound.
TEST_F(FarmTest, InProcessAUserWhoIsNotAnAdministratorReadsAndChangesNothing) {
    auto store = servedStore();
    ASSERT_NO_FATAL_FAILURE(giveFarmToSomebodyElse(*store));
    const auto before = store->image();
    ASSERT_TRUE(before);

    auto farm = openFarm();
    ComPtr<ISkyloomWinFarm6> settings;
    ASSERT_EQ(farm->get_WinFarmObject6(settings.put()), S_OK);
    LONG admin = -1;
    EXPECT_EQ(settings->get_IsVantorAdministrator(&admin), S_OK);
    EXPECT_EQ(admin, 0);
    sky::Bstr name;
    EXPECT_EQ(farm->get_FarmName(name.put()), E_ACCESSDENIED);
    EXPECT_EQ(failureText(), "Access is denied.");
    EXPECT_EQ(farm->get_DataStoreLocation(name.put()), E_ACCESSDENIED);
    ComPtr<ISkyloomApplications> apps;
    EXPECT_EQ(farm->get_Applications(apps.put()), E_ACCESSDENIED);
    EXPECT_EQ(settings->put_EnableACR(0), E_ACCESSDENIED);
    EXPECT_THROW(sky::getProperty(settings.get(), u"EnableACR"), sky::ComError);

    auto app = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    sky::Bstr dn(u"Applications/Notepad");
    EXPECT_EQ(app->Initialize(SkyloomWinAppObject, dn.get()), S_OK); // binding reads nothing
    EXPECT_EQ(app->LoadData(-1), E_ACCESSDENIED);
    EXPECT_EQ(app->Delete(), E_ACCESSDENIED);
    ComPtr<ISkyloomApplication5> added;
    EXPECT_EQ(farm->AddApplication5(SkyloomWinAppObject, added.put()), E_ACCESSDENIED);

    const auto after = store->image();
    ASSERT_TRUE(after);
    EXPECT_TRUE(*before == *after);
}

// A late-bound client holds the settings object as a plain object: it asks it for IDispatch, then
// calls by name. The settings face answers with itself: its names are the settings' names first,
// and the farm's own members answer through it too (an identifier of the other faces' range).
TEST_F(FarmTest, SettingsObjectsAskedForIDispatchAnswerAsTheFaceTheyWereHandedOutAs) {
    auto farm = openFarm();
    ComPtr<ISkyloomWinFarm> settings;
    ASSERT_EQ(farm->get_WinFarmObject(settings.put()), S_OK);
    ComPtr<IDispatch> plain;
    ASSERT_EQ(settings->QueryInterface(IID_IDispatch, plain.putVoid()), S_OK);
    EXPECT_NE(sky::getProperty(plain.get(), u"IsVantorAdministrator").toInt32(), 0);
    EXPECT_FALSE(
        sky::dispatch::isOtherFaceId(sky::dispatchId(plain.get(), u"IsVantorAdministrator")));
    EXPECT_TRUE(sky::dispatch::isOtherFaceId(sky::dispatchId(plain.get(), u"FarmName")));
    EXPECT_EQ(sky::getProperty(plain.get(), u"FarmName").toUtf8(),
              sky::getProperty(farm.get(), u"FarmName").toUtf8());
    // Asked again through the IDispatch it gave, it stays the settings.
    ComPtr<IDispatch> again;
    ASSERT_EQ(plain->QueryInterface(IID_IDispatch, again.putVoid()), S_OK);
    EXPECT_EQ(again.get(), plain.get());
    // The farm, asked the same, is still the farm; so is its ISupportErrorInfo asked for IDispatch.
    ComPtr<IDispatch> farmDispatch;
    ASSERT_EQ(farm->QueryInterface(IID_IDispatch, farmDispatch.putVoid()), S_OK);
    EXPECT_EQ(sky::getProperty(farmDispatch.get(), u"FarmName").toString(), u"Skyfarm");
    auto errors = farm.as<ISupportErrorInfo>();
    ComPtr<IDispatch> throughErrors;
    ASSERT_EQ(errors->QueryInterface(IID_IDispatch, throughErrors.putVoid()), S_OK);
    EXPECT_EQ(throughErrors.get(), farmDispatch.get());
    // One object all the same, whichever face is asked for its identity.
    ComPtr<IUnknown> a, b, c;
    ASSERT_EQ(plain->QueryInterface(IID_IUnknown, a.putVoid()), S_OK);
    ASSERT_EQ(farm->QueryInterface(IID_IUnknown, b.putVoid()), S_OK);
    ASSERT_EQ(errors->QueryInterface(IID_IUnknown, c.putVoid()), S_OK);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(c.get(), b.get());
    // From the settings' IDispatch, the farm's own family is still there.
    ComPtr<ISkyloomFarm> back;
    ASSERT_EQ(plain->QueryInterface(IID_ISkyloomFarm, back.putVoid()), S_OK);
    EXPECT_EQ(sky::getProperty(back.get(), u"FarmName").toString(), u"Skyfarm");

    // The server's and the application's settings likewise.
    ComPtr<ISkyloomServer4> server;
    ASSERT_EQ(farm->GetServer4(SkyloomWinSrvObject, bstr("beta").get(), server.put()), S_OK);
    ComPtr<ISkyloomWinServer4> windows;
    ASSERT_EQ(server->get_WinServerObject4(windows.put()), S_OK);
    ComPtr<IDispatch> plainServer;
    ASSERT_EQ(windows->QueryInterface(IID_IDispatch, plainServer.putVoid()), S_OK);
    EXPECT_EQ(sky::getProperty(plainServer.get(), u"WinNTVerMajor").toInt32(), 6);

    ComPtr<ISkyloomApplication4> app;
    ASSERT_EQ(
        farm->GetApplication4(SkyloomWinAppObject, bstr("Applications/Notepad").get(), app.put()),
        S_OK)
        << failureText();
    ASSERT_EQ(app->LoadData(-1), S_OK) << failureText();
    ComPtr<ISkyloomWinApp4> appSettings;
    ASSERT_EQ(app->get_WinAppObject4(appSettings.put()), S_OK);
    ComPtr<IDispatch> plainApp;
    ASSERT_EQ(appSettings->QueryInterface(IID_IDispatch, plainApp.putVoid()), S_OK);
    EXPECT_EQ(sky::getProperty(plainApp.get(), u"DefaultWindowType").toInt32(), 3);
}

TEST_F(FarmTest, AnswersEveryInterfaceOfItsFamiliesAndNoOther) {
    auto farm = openFarm();
    const IID* own[] = {&IID_ISkyloomFarm,     &IID_ISkyloomFarm2,    &IID_ISkyloomFarm3,
                        &IID_ISkyloomFarm4,    &IID_ISkyloomFarm5,    &IID_ISkyloomFarm6,
                        &IID_ISkyloomWinFarm,  &IID_ISkyloomWinFarm2, &IID_ISkyloomWinFarm3,
                        &IID_ISkyloomWinFarm4, &IID_ISkyloomWinFarm5, &IID_ISkyloomWinFarm6,
                        &IID_IDispatch,        &IID_ISupportErrorInfo};
    for (const IID* iid : own) {
        ComPtr<IUnknown> face;
        EXPECT_EQ(farm->QueryInterface(*iid, face.putVoid()), S_OK);
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(farm->QueryInterface(IID_ISkyloomServer, none.putVoid()), E_NOINTERFACE);
    EXPECT_EQ(farm->QueryInterface(IID_ISkyloomApplication, none.putVoid()), E_NOINTERFACE);

    // One identity whichever face is asked, and the settings object is the farm itself.
    ComPtr<IUnknown> identity, throughSettings;
    ComPtr<ISkyloomWinFarm> settings;
    ASSERT_EQ(farm->get_WinFarmObject(settings.put()), S_OK);
    ASSERT_EQ(farm->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
    ASSERT_EQ(settings->QueryInterface(IID_IUnknown, throughSettings.putVoid()), S_OK);
    EXPECT_EQ(identity.get(), throughSettings.get());

    auto errors = farm.as<ISupportErrorInfo>();
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_ISkyloomWinFarm5), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_ISkyloomServer), S_FALSE);
}

TEST_F(FarmTest, SettingsTakeEffectOnEveryPutWithoutASave) {
    auto settings = openFarm().as<ISkyloomWinFarm5>();
    ASSERT_EQ(settings->put_MaxConnectionsPerUser(7), S_OK);
    ASSERT_EQ(settings->put_NDSPreferredTree(bstr("CORP-TREE").get()), S_OK);
    ASSERT_EQ(settings->put_DegradationBias(QVWinOvraBiasToColorDepth), S_OK);
    ASSERT_EQ(settings->put_SRPort(2598), S_OK);

    // A fresh farm object, as the next operation makes, and the store itself.
    auto again = openFarm().as<ISkyloomWinFarm5>();
    LONG value = 0;
    ASSERT_EQ(again->get_MaxConnectionsPerUser(&value), S_OK);
    EXPECT_EQ(value, 7);
    sky::Bstr tree;
    ASSERT_EQ(again->get_NDSPreferredTree(tree.put()), S_OK);
    EXPECT_EQ(tree.utf8(), "CORP-TREE");
    QVWinOvraDegradationBias bias{};
    ASSERT_EQ(again->get_DegradationBias(&bias), S_OK);
    EXPECT_EQ(bias, QVWinOvraBiasToColorDepth);
    EXPECT_EQ(std::get<std::int32_t>(*servedStore()->farmSetting(sky::farm::FarmSetting::SRPort)),
              2598);

    // A value outside the enumeration is refused and leaves the setting as it was.
    EXPECT_EQ(again->put_DegradationBias(static_cast<QVWinOvraDegradationBias>(9)), E_INVALIDARG);
    EXPECT_NE(failureText().find("DegradationBias"), std::string::npos) << failureText();
    ASSERT_EQ(again->get_DegradationBias(&bias), S_OK);
    EXPECT_EQ(bias, QVWinOvraBiasToColorDepth);
}

TEST_F(FarmTest, SettingsAreReachedByNameToo) {
    auto farm = openFarm();
    auto settings = farm.as<ISkyloomWinFarm5>();
    sky::putProperty(settings.get(), u"SNMPThresholdValue", sky::Variant(std::int32_t{42}));
    EXPECT_EQ(sky::getProperty(settings.get(), u"SNMPThresholdValue").toInt32(), 42);
}

TEST(OlderFarm, CannotReportSessionReliability) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    installFarm(sampleFarm(), /*reportsSessionReliability=*/false);
    registerModule();
    {
        auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
        ASSERT_EQ(farm->Initialize(SkyloomWinFarmObject), S_OK) << failureText();
        auto settings = farm.as<ISkyloomWinFarm5>();
        LONG value = 0;
        EXPECT_EQ(settings->get_SREnabled(&value), kNotSupported);
        EXPECT_FALSE(failureText().empty());
        EXPECT_EQ(settings->get_SRPort(&value), kNotSupported);
        EXPECT_EQ(settings->get_SRTimeout(&value), kNotSupported);
        // Everything else answers.
        EXPECT_EQ(settings->get_ZonesShareLoadInfo(&value), S_OK);
    }
    CoUninitialize();
}

TEST(FarmInitialize, WithoutAFarmOnTheMachineSaysSo) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    registerModule();
    {
        auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
        EXPECT_EQ(farm->Initialize(SkyloomWinFarmObject), kNotFound);
        const std::string text = failureText();
        EXPECT_NE(text.find("The farm cannot be opened"), std::string::npos) << text;
        EXPECT_NE(text.find("qvfarm"), std::string::npos) << text;
    }
    CoUninitialize();
}

TEST(FarmInitialize, WithADamagedStoreSaysSo) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const sky::farm::StoreLocation location = sky::farm::farmStoreOnMachine("Broken");
    {
        std::ofstream out(location.path, std::ios::binary);
        out << "this is not a farm store, just some text that happens to be here";
    }
    ASSERT_TRUE(sky::farm::setMachineFarmStore(location));
    registerModule();
    {
        auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
        EXPECT_EQ(farm->Initialize(SkyloomWinFarmObject), kStoreDamaged);
        EXPECT_NE(failureText().find(location.path), std::string::npos);
    }
    CoUninitialize();
}

TEST_F(FarmTest, RefusesOtherKindsAndMembersBeforeInitialize) {
    auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
    sky::Bstr name;
    EXPECT_EQ(farm->get_FarmName(name.put()), E_UNEXPECTED);
    EXPECT_NE(failureText().find("Initialize"), std::string::npos);

    EXPECT_EQ(farm->Initialize(SkyloomZoneObject), E_INVALIDARG);
    EXPECT_NE(failureText().find("SkyloomWinFarmObject"), std::string::npos);
}

TEST_F(FarmTest, MembersNoProgramCallsAnswerNotImplementedWithADescription) {
    auto farm = openFarm();
    ComPtr<ISkyloomSessions> sessions;
    EXPECT_EQ(farm->get_Sessions(sessions.put()), E_NOTIMPL);
    EXPECT_NE(failureText().find("Sessions"), std::string::npos);
    // Also by name.
    try {
        sky::getProperty(farm.get(), u"LocalServerName");
        ADD_FAILURE() << "LocalServerName answered";
    } catch (const sky::ComError& e) {
        EXPECT_EQ(e.result(), E_NOTIMPL);
        EXPECT_NE(std::string(e.what()).find("LocalServerName"), std::string::npos);
    }
}

TEST_F(FarmTest, GetServerGivesTheServersWindowsVersion) {
    auto farm = openFarm();
    ComPtr<ISkyloomServer4> server;
    ASSERT_EQ(farm->GetServer4(SkyloomWinSrvObject, bstr("beta").get(), server.put()), S_OK);
    ComPtr<ISkyloomWinServer4> windows;
    ASSERT_EQ(server->get_WinServerObject4(windows.put()), S_OK);
    LONG major = 0, minor = 0;
    ASSERT_EQ(windows->get_WinNTVerMajor(&major), S_OK);
    ASSERT_EQ(windows->get_WinNTVerMinor(&minor), S_OK);
    EXPECT_EQ(major, 6);
    EXPECT_EQ(minor, 1);
    sky::Bstr name;
    ASSERT_EQ(server->get_ServerName(name.put()), S_OK);
    EXPECT_EQ(name.utf8(), "BETA") << "the farm's spelling";

    EXPECT_EQ(farm->GetServer4(SkyloomWinSrvObject, bstr("OMEGA").get(), server.put()), kNotFound);
    EXPECT_NE(failureText().find("OMEGA"), std::string::npos);
}

} // namespace
} // namespace qvcomsrv::testing

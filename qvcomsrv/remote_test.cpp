// The object model called from another process: the module served by a server process that
// the test starts (as the QVCom service serves it), the classes registered for a local service
// only, and every call crossing the boundary through the generated proxies.
#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "qvcomsrv/member_access.h"
#include "qvcomsrv/store/machine_farms.h"
#include "qvcomsrv/store/postgres_farm_store.h"
#include "qvcomsrv/store/testing/postgres_test_database.h"
#include "sky/accounts.h"
#include "sky/bounded_wait.h"
#include "sky/forking.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/remote.h"
#include "sky/services.h"
#include "sky/temp_machine.h"
#include "testing/module_test_support.h"

extern char** environ;

namespace qvcomsrv::testing {
namespace {

constexpr HRESULT notFound = static_cast<HRESULT>(0x80070490); // ERROR_NOT_FOUND
constexpr const char16_t* appId = u"{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}";

// A program of the build's testprograms folder, with pipes to its standard input and output.
class Child {
public:
    Child(const std::string& program, std::vector<std::string> args) {
        int in[2], out[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const std::string path = (sky::testing::buildBin() / "testprograms" / program).string();
        args.insert(args.begin(), path);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ), 0)
            << path;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input_ = in[1];
        output_ = fdopen(out[0], "r");
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            wait();
        }
        if (input_ >= 0)
            close(input_);
        if (output_)
            fclose(output_);
    }

    std::string line() {
        char text[512];
        if (!output_ || !std::fgets(text, sizeof text, output_))
            return "";
        std::string s(text);
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    }
    void send(const std::string& text) {
        ASSERT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Closes standard input (the server stops) and waits; returns the exit status.
    int stop() {
        close(input_);
        input_ = -1;
        return wait();
    }
    void killHard() {
        kill(pid_, SIGKILL);
        wait();
    }
    int wait() {
        int status = 0;
        if (pid_ > 0)
            waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    FILE* output_ = nullptr;
};

const CLSID* const servedClasses[] = {
    &CLSID_SkyloomFarm,          &CLSID_SkyloomServer, &CLSID_SkyloomApplication,
    &CLSID_SkyloomUser,          &CLSID_SkyloomGroup,  &CLSID_SkyloomFolder,
    &CLSID_SkyloomAppSrvBinding, &CLSID_SkyloomZone,   &CLSID_SkyloomCredential};

std::u16string clsidText(const CLSID& clsid) {
    OLECHAR text[40];
    StringFromGUID2(clsid, text, 40);
    return text;
}

void setString(HKEY root, const std::u16string& key, const char16_t* name,
               const std::u16string& value) {
    HKEY k = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
        ERROR_SUCCESS);
    RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(k);
}

// The classes as qvcom registers them: reached through the application identifier's local
// service, with no in-process server.
void registerForLocalService() {
    registerModule();
    for (const CLSID* clsid : servedClasses) {
        const std::u16string key = u"Software\\Classes\\CLSID\\" + clsidText(*clsid);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (key + u"\\InprocServer32").c_str());
        setString(HKEY_LOCAL_MACHINE, key, u"AppID", appId);
    }
    setString(HKEY_LOCAL_MACHINE, std::u16string(u"Software\\Classes\\APPID\\") + appId,
              u"LocalService", u"QVCom");
}

class RemoteObjectModelTest : public ObjectModelTest {
protected:
    void SetUp() override {
        ObjectModelTest::SetUp();
        registerForLocalService();
        startServer();
    }
    void TearDown() override {
        if (server_) {
            EXPECT_EQ(server_->stop(), 0);
        }
        ObjectModelTest::TearDown();
    }
    void startServer() {
        server_ = std::make_unique<Child>(
            "qvcomsrv_local_server",
            std::vector<std::string>{(sky::testing::buildBin() / "qvcomsrv.dll").string()});
        ASSERT_EQ(server_->line(), "ready");
    }
    // Objects the server holds for its clients, once this process has handed back what it let go.
    std::string serverObjects() {
        sky::remote::deliverReleases();
        server_->send("objects\n");
        return server_->line();
    }

    std::unique_ptr<Child> server_;
};

TEST_F(RemoteObjectModelTest, FarmPropertiesCollectionsAndDispatchByNameCrossTheBoundary) {
    auto farm = openFarm();
    sky::Bstr name;
    ASSERT_EQ(farm->get_FarmName(name.put()), S_OK) << failureText();
    EXPECT_EQ(name.utf8(), "Skyfarm");

    sky::ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
    std::vector<std::string> names;
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        sky::Bstr dn;
        ASSERT_EQ(app->get_DistinguishedName(dn.put()), S_OK);
        names.push_back(dn.utf8());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Applications/Intranet", "Applications/Notepad",
                                               "Applications/Office/Word"}));

    sky::ComPtr<ISkyloomServers> servers;
    ASSERT_EQ(farm->get_Servers(servers.put()), S_OK);
    LONG count = 0;
    ASSERT_EQ(servers->get_Count(&count), S_OK);
    EXPECT_EQ(count, 3);

    // The administrator check, by name on the object WinFarmObject hands back.
    sky::ComPtr<ISkyloomWinFarm> settings;
    ASSERT_EQ(farm->get_WinFarmObject(settings.put()), S_OK);
    EXPECT_NE(sky::getProperty(settings.get(), u"IsVantorAdministrator").toInt32(), 0);
    // The farm object answers its settings family too, and is one object whichever face asks.
    auto winFarm = farm.as<ISkyloomWinFarm5>();
    EXPECT_EQ(farm.as<IUnknown>().get(), winFarm.as<IUnknown>().get());
}

TEST_F(RemoteObjectModelTest, SettingsAskedForIDispatchAnswerByTheSettingsNamesAcrossTheBoundary) {
    auto farm = openFarm();
    sky::ComPtr<ISkyloomWinFarm> settings;
    ASSERT_EQ(farm->get_WinFarmObject(settings.put()), S_OK);
    sky::ComPtr<IDispatch> plain;
    ASSERT_EQ(settings->QueryInterface(IID_IDispatch, plain.putVoid()), S_OK);
    EXPECT_NE(sky::getProperty(plain.get(), u"IsVantorAdministrator").toInt32(), 0);
    // The farm's own names answer through the settings too.
    EXPECT_EQ(sky::getProperty(plain.get(), u"FarmName").toString(), u"Skyfarm");
    // The farm asked the same still answers as the farm, and both are one object.
    sky::ComPtr<IDispatch> farmDispatch;
    ASSERT_EQ(farm->QueryInterface(IID_IDispatch, farmDispatch.putVoid()), S_OK);
    EXPECT_EQ(sky::getProperty(farmDispatch.get(), u"FarmName").toString(), u"Skyfarm");
    EXPECT_EQ(plain.as<IUnknown>().get(), farm.as<IUnknown>().get());

    sky::ComPtr<ISkyloomServer4> server;
    ASSERT_EQ(farm->GetServer4(SkyloomWinSrvObject, bstr("beta").get(), server.put()), S_OK)
        << failureText();
    sky::ComPtr<ISkyloomWinServer4> windows;
    ASSERT_EQ(server->get_WinServerObject4(windows.put()), S_OK);
    sky::ComPtr<IDispatch> plainServer;
    ASSERT_EQ(windows->QueryInterface(IID_IDispatch, plainServer.putVoid()), S_OK);
    EXPECT_EQ(sky::getProperty(plainServer.get(), u"WinNTVerMajor").toInt32(), 6);
}

// Which of a few names, each of one face of the object model, an object answers by name.
std::string namesAnswered(const std::string& what, IDispatch* object) {
    static constexpr const char16_t* probes[] = {
        u"FarmName",     u"IsVantorAdministrator", u"Applications",     u"DistinguishedName",
        u"WinAppObject", u"DefaultWorkDir",        u"WinServerObject4", u"WinNTVerMajor"};
    std::string line = what + ":";
    for (const char16_t* probe : probes) {
        std::u16string name(probe);
        LPOLESTR names[] = {name.data()};
        DISPID id = DISPID_UNKNOWN;
        if (object && object->GetIDsOfNames(IID_NULL, names, 1, 0, &id) == S_OK)
            line += " " + sky::narrow(probe);
    }
    return line;
}

// A property read by name, as text; a failure as its number.
std::string valueByName(IDispatch* object, const char16_t* name) {
    try {
        const sky::Variant value = sky::getProperty(object, name);
        if (value.type() == VT_BSTR)
            return sky::narrow(value.toString());
        return std::to_string(value.toInt32());
    } catch (const sky::ComError& e) {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(e.result()));
        return std::string("failed ") + text;
    }
}

// An object reached by name (empty when the name fails).
sky::ComPtr<IDispatch> objectByName(IDispatch* object, const char16_t* name) {
    try {
        return sky::getProperty(object, name).toDispatch();
    } catch (const sky::ComError&) {
        return {};
    }
}

// A script that knows the object model only by name, as a late-bound client does: every object
// it reaches is a result of Invoke (a plain VT_DISPATCH), an item of a collection or of its
// _NewEnum. What it sees, line by line.
std::vector<std::string> lateBoundScript() {
    std::vector<std::string> seen;
    auto farm = sky::createObject<IDispatch>(u"SkyloomCOM.SkyloomFarm");
    sky::callMethod(farm.get(), u"Initialize", static_cast<std::int32_t>(SkyloomWinFarmObject));
    seen.push_back(namesAnswered("farm", farm.get()));
    auto settings = objectByName(farm.get(), u"WinFarmObject");
    seen.push_back(namesAnswered("farm.WinFarmObject", settings.get()));
    seen.push_back("IsVantorAdministrator " +
                   valueByName(settings.get(), u"IsVantorAdministrator"));

    auto apps = objectByName(farm.get(), u"Applications");
    if (!apps)
        return seen;
    const sky::Variant one(std::int32_t{1});
    auto first = sky::invoke(apps.get(), sky::dispatchId(apps.get(), u"Item"), DISPATCH_PROPERTYGET,
                             std::span(&one, 1))
                     .toDispatch();
    seen.push_back(namesAnswered("Applications.Item(1)", first.get()));
    for (const sky::Variant& item : sky::enumerate(apps.get())) {
        auto app = item.toDispatch();
        const std::string dn = valueByName(app.get(), u"DistinguishedName");
        seen.push_back(namesAnswered("item " + dn, app.get()));
        auto windows = objectByName(app.get(), u"WinAppObject");
        seen.push_back(namesAnswered("item " + dn + ".WinAppObject", windows.get()));
        seen.push_back("DefaultWorkDir " + valueByName(windows.get(), u"DefaultWorkDir"));
    }

    auto server = sky::callMethod(farm.get(), u"GetServer4",
                                  static_cast<std::int32_t>(SkyloomWinSrvObject), u"beta")
                      .toDispatch();
    seen.push_back(namesAnswered("farm.GetServer4(beta)", server.get()));
    auto serverSettings = objectByName(server.get(), u"WinServerObject4");
    seen.push_back(namesAnswered("server.WinServerObject4", serverSettings.get()));
    seen.push_back("WinNTVerMajor " + valueByName(serverSettings.get(), u"WinNTVerMajor"));
    return seen;
}

TEST_F(RemoteObjectModelTest, ALateBoundScriptSeesTheSameFacesInProcessAndAcrossTheBoundary) {
    const std::vector<std::string> across = lateBoundScript();
    EXPECT_EQ(serverObjects(), "objects 0") << "the script let go of everything it held";
    // The same script with the module in this process.
    ASSERT_NO_FATAL_FAILURE(registerModule());
    const std::vector<std::string> inProcess = lateBoundScript();
    EXPECT_EQ(serverObjects(), "objects 0") << "in process, the server is not asked";
    EXPECT_EQ(across, inProcess);

    // The faces themselves: each answers by its own names and by those of the object's other
    // faces (the settings by the farm's, the farm by the settings').
    ASSERT_GE(inProcess.size(), 3u);
    EXPECT_EQ(inProcess[0], "farm: FarmName IsVantorAdministrator Applications");
    EXPECT_EQ(inProcess[1], "farm.WinFarmObject: FarmName IsVantorAdministrator Applications");
    EXPECT_EQ(inProcess[2], "IsVantorAdministrator 1");
    const auto lineOf = [&](const std::string& what) {
        for (const std::string& line : inProcess)
            if (line.starts_with(what + ":"))
                return line;
        return std::string();
    };
    EXPECT_EQ(lineOf("item Applications/Notepad.WinAppObject"),
              "item Applications/Notepad.WinAppObject: DistinguishedName WinAppObject "
              "DefaultWorkDir");
    EXPECT_EQ(lineOf("server.WinServerObject4"),
              "server.WinServerObject4: Applications WinServerObject4 WinNTVerMajor");
}

TEST_F(RemoteObjectModelTest, FailuresCarryTheirDescriptionAndChangesReachTheStore) {
    auto app = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    ASSERT_EQ(app->Initialize(SkyloomWinAppObject, bstr("Applications/Nowhere").get()), S_OK);
    EXPECT_EQ(app->LoadData(-1), notFound);
    EXPECT_NE(failureText().find("Applications/Nowhere"), std::string::npos) << failureText();
    try {
        sky::callMethod(app.get(), u"Delete");
        ADD_FAILURE() << "Delete of a missing application succeeded";
    } catch (const sky::ComError& e) {
        EXPECT_EQ(e.result(), notFound);
    }

    // An object of the server passed back to it as an argument: publish Word on BETA.
    auto word = openApplication("Applications/Office/Word");
    auto bind = binding("BETA");
    ASSERT_EQ(word->AddServer(bind.as<ISkyloomAppSrvBinding>().get()), S_OK) << failureText();
    ASSERT_EQ(word->SaveData(), S_OK) << failureText();
    EXPECT_EQ(stored("Applications/Office/Word").servers,
              (std::vector<std::string>{"ALPHA", "BETA"}));
}

TEST_F(RemoteObjectModelTest, ReferencesHeldAcrossTheBoundaryAreReleased) {
    EXPECT_EQ(serverObjects(), "objects 0");
    {
        auto farm = openFarm();
        sky::ComPtr<ISkyloomApplications> apps;
        ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
        auto copy = apps; // a second local reference holds no second remote one
        // The farm, the collection, and what came with the collection: the enumerator its
        // _NewEnum gives and its first items (the three applications).
        EXPECT_EQ(serverObjects(), "objects 6");
    }
    EXPECT_EQ(serverObjects(), "objects 0");

    // A client that dies holding objects has them released, and the server goes on serving.
    Child client("qvcomsrv_farm_probe", {"hold"});
    ASSERT_EQ(client.line(), "holding");
    EXPECT_NE(serverObjects(), "objects 0");
    client.killHard();
    std::string left;
    for (int i = 0; i < 100 && (left = serverObjects()) != "objects 0"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(left, "objects 0");
    sky::Bstr name;
    EXPECT_EQ(openFarm()->get_FarmName(name.put()), S_OK);
}

// What the export reads of one application, as it reads it: names, Windows settings, and the
// names of its servers, users and groups; the number of accounts and servers read.
template <class Item, class Collection, class Read>
int readItems(Collection* collection, Read read) {
    int items = 0;
    for (const auto& item : sky::enumerateAs<Item>(collection)) {
        read(item.get());
        ++items;
    }
    return items;
}

std::string textOf(HRESULT hr, const sky::Bstr& value) {
    EXPECT_EQ(hr, S_OK) << failureText();
    return value.utf8();
}

int readAsTheExportDoes(ISkyloomApplication5* app, std::string& text) {
    sky::Bstr value;
    text += textOf(app->get_AppName(value.put()), value) + "|";
    text += textOf(app->get_DistinguishedName(value.put()), value) + "|";
    text += textOf(app->get_Description(value.put()), value) + "|";
    SkyloomObjectType type{};
    EXPECT_EQ(app->get_AppType(&type), S_OK);
    sky::ComPtr<ISkyloomWinApp4> settings;
    EXPECT_EQ(app->get_WinAppObject4(settings.put()), S_OK);
    text += textOf(settings->get_ParentFolderDN(value.put()), value) + "|";
    text += textOf(settings->get_DefaultInitProg(value.put()), value) + "|";
    text += textOf(settings->get_StartMenuFolder(value.put()), value) + "|";
    LONG number = 0;
    EXPECT_EQ(settings->get_EnableApp(&number), S_OK);
    EXPECT_EQ(settings->get_InstanceLimit(&number), S_OK);
    EXPECT_EQ(settings->get_HideDisabledApp(&number), S_OK);
    QVWinWindowType window{};
    EXPECT_EQ(settings->get_DefaultWindowType(&window), S_OK);
    text += std::to_string(number) + "|" + std::to_string(window);
    sky::ComPtr<ISkyloomServers> servers;
    sky::ComPtr<ISkyloomUsers> users;
    sky::ComPtr<ISkyloomGroups> groups;
    EXPECT_EQ(app->get_Servers(servers.put()), S_OK);
    int items = readItems<ISkyloomServer5>(servers.get(), [&](ISkyloomServer5* server) {
        text += "|" + textOf(server->get_ServerName(value.put()), value);
    });
    EXPECT_EQ(app->get_Users(users.put()), S_OK);
    items += readItems<ISkyloomUser5>(users.get(), [&](ISkyloomUser5* user) {
        SkyloomAccountType account{};
        QVAccountAuthorityType authority{};
        EXPECT_EQ(user->get_AccountType(&account), S_OK);
        EXPECT_EQ(user->get_AAType(&authority), S_OK);
        text += "|" + textOf(user->get_AAName(value.put()), value);
        text += "\\" + textOf(user->get_UserName(value.put()), value);
    });
    EXPECT_EQ(app->get_Groups(groups.put()), S_OK);
    items += readItems<ISkyloomGroup5>(groups.get(), [&](ISkyloomGroup5* group) {
        text += "|" + textOf(group->get_GroupName(value.put()), value);
    });
    text += "\n";
    return items;
}

// The round trips of reading every application as the export does: one for each object's
// properties (its snapshot), whatever the number of properties read, where every get used to be
// one (about 90 an application in the export).
TEST_F(RemoteObjectModelTest, ReadingAnApplicationTakesOneRoundTripForEachObjectsProperties) {
    auto farm = openFarm();
    sky::ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
    int applications = 0;
    std::string acrossText;
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        const std::uint64_t before = sky::remote::requestsSent();
        const int items = readAsTheExportDoes(app.get(), acrossText);
        const std::uint64_t requests = sky::remote::requestsSent() - before;
        // WinAppObject4, which brings the settings' snapshot along, and the get of each of the
        // three collections, whose answer brings the enumerator its _NewEnum gives and that
        // enumerator's first items with their snapshots (its IEnumVARIANT is known without
        // asking, and neither _NewEnum nor the first Next needs a round trip): whatever the
        // number of items. The application's own snapshot came with the Next that fetched it,
        // and holds for every application: the getters of objects called since
        // (WinAppObject4, Servers, Users, Groups) only read, and end no snapshot. Every get was
        // a round trip of its own (10 for the application and its settings, 1 to 4 for each
        // item), and so was each item's Next; with wire 2.4, each collection's _NewEnum and
        // Next and the application's snapshot were one each.
        EXPECT_EQ(requests, 4u) << "application " << applications << " with " << items
                                << " servers and accounts";
        ++applications;
    }
    EXPECT_EQ(applications, 3);

    // The same answers as the module gives in process.
    std::string inProcessText;
    {
        registerModule();
        auto local = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
        ASSERT_EQ(local->Initialize(SkyloomWinFarmObject), S_OK);
        sky::ComPtr<ISkyloomApplications> localApps;
        ASSERT_EQ(local->get_Applications(localApps.put()), S_OK);
        const std::uint64_t before = sky::remote::requestsSent();
        for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(localApps.get()))
            readAsTheExportDoes(app.get(), inProcessText);
        EXPECT_EQ(sky::remote::requestsSent(), before) << "the module was not loaded in process";
    }
    EXPECT_EQ(acrossText, inProcessText);
}

// The names of the farm's applications, one by one from `items`, asking for `count` at a time.
std::vector<std::string> namesFrom(IEnumVARIANT* items, ULONG count, int most = 100) {
    std::vector<std::string> names;
    for (int i = 0; i < most; ++i) {
        std::vector<VARIANT> values(count);
        ULONG fetched = 0;
        const HRESULT hr = items->Next(count, values.data(), &fetched);
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
        for (ULONG k = 0; k < fetched; ++k) {
            sky::ComPtr<ISkyloomApplication5> app;
            EXPECT_EQ(values[k].pdispVal->QueryInterface(IID_ISkyloomApplication5, app.putVoid()),
                      S_OK);
            sky::Bstr dn;
            EXPECT_EQ(app->get_DistinguishedName(dn.put()), S_OK);
            names.push_back(dn.utf8());
            VariantClear(&values[k]);
        }
        if (hr != S_OK || fetched < count)
            break;
    }
    return names;
}

// A _NewEnum's answer brings the enumerator's first items: its first Nexts, a Skip and a Clone
// are answered from them without a round trip while nothing else was called. Once another member
// was called (the collection could answer otherwise after it, were it read live), the items kept
// are dropped and the server's enumerator is set back to where the client's reading stands, so
// that every item comes once, in order, as in process.
TEST_F(RemoteObjectModelTest, AnEnumeratorsFirstItemsComeWithItAndItsPlaceHoldsAfterOtherCalls) {
    auto farm = openFarm();
    const std::vector<std::string> all{"Applications/Intranet", "Applications/Notepad",
                                       "Applications/Office/Word"};
    sky::ComPtr<ISkyloomApplications> apps;
    ASSERT_EQ(farm->get_Applications(apps.put()), S_OK);
    auto fresh = [&] {
        sky::ComPtr<IEnumVARIANT> items;
        EXPECT_EQ(apps->get__NewEnum(items.put()), S_OK) << failureText();
        return items;
    };
    // The collection came with its enumerator: the first _NewEnum is answered with it.
    std::uint64_t before = sky::remote::requestsSent();
    auto items = fresh();
    EXPECT_EQ(sky::remote::requestsSent(), before);
    items = fresh();
    // One at a time, a Skip, the end, and the end again: all from the first items.
    EXPECT_EQ(namesFrom(items.get(), 1, 1), std::vector<std::string>{all[0]});
    EXPECT_EQ(items->Skip(1), S_OK);
    EXPECT_EQ(namesFrom(items.get(), 5), std::vector<std::string>{all[2]});
    EXPECT_EQ(namesFrom(items.get(), 5), std::vector<std::string>{});
    EXPECT_EQ(items->Skip(1), S_FALSE);
    EXPECT_EQ(sky::remote::requestsSent(), before + 1) << "only the _NewEnum";

    // A clone stands where its original does.
    items = fresh();
    EXPECT_EQ(namesFrom(items.get(), 1, 1), std::vector<std::string>{all[0]});
    sky::ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(items->Clone(clone.put()), S_OK);
    EXPECT_EQ(namesFrom(clone.get(), 32), (std::vector<std::string>{all[1], all[2]}));
    EXPECT_EQ(namesFrom(items.get(), 32), (std::vector<std::string>{all[1], all[2]}));

    // Another member called after the first item: the enumerator is set back (Reset, Skip 1)
    // before the next Next, which asks the server.
    items = fresh();
    EXPECT_EQ(namesFrom(items.get(), 1, 1), std::vector<std::string>{all[0]});
    ASSERT_EQ(openApplication("Applications/Notepad")->LoadData(-1), S_OK) << failureText();
    before = sky::remote::requestsSent();
    EXPECT_EQ(namesFrom(items.get(), 32), (std::vector<std::string>{all[1], all[2]}));
    EXPECT_EQ(sky::remote::requestsSent(), before + 3);
    // Read to its end before the call: nothing to set back, and the end is asked of the server.
    items = fresh();
    EXPECT_EQ(namesFrom(items.get(), 32), all);
    ASSERT_EQ(openApplication("Applications/Notepad")->LoadData(-1), S_OK) << failureText();
    before = sky::remote::requestsSent();
    EXPECT_EQ(namesFrom(items.get(), 32), std::vector<std::string>{});
    EXPECT_EQ(sky::remote::requestsSent(), before + 1);
    // Reset goes back to the start of the collection's items, as in process.
    EXPECT_EQ(items->Reset(), S_OK);
    EXPECT_EQ(namesFrom(items.get(), 2), all);

    // The enumerator that came with a collection is good until another member is called, as a
    // snapshot is: then the _NewEnum asks the server.
    sky::ComPtr<ISkyloomApplications> again;
    ASSERT_EQ(farm->get_Applications(again.put()), S_OK);
    ASSERT_EQ(openApplication("Applications/Notepad")->LoadData(-1), S_OK) << failureText();
    before = sky::remote::requestsSent();
    sky::ComPtr<IEnumVARIANT> afterCall;
    ASSERT_EQ(again->get__NewEnum(afterCall.put()), S_OK);
    EXPECT_EQ(namesFrom(afterCall.get(), 32), all);
    EXPECT_EQ(sky::remote::requestsSent(), before + 1);

    // The same through sky::enumerate (a _NewEnum by name): the collection's get aside, one
    // round trip for three applications and their names.
    before = sky::remote::requestsSent();
    std::vector<std::string> names;
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        sky::Bstr dn;
        ASSERT_EQ(app->get_DistinguishedName(dn.put()), S_OK);
        names.push_back(dn.utf8());
    }
    EXPECT_EQ(names, all);
    EXPECT_EQ(sky::remote::requestsSent(), before + 1);
}

// A server's zone is read from the store when it is first asked for (the object holds its name
// alone until then), across the boundary as in process: no snapshot carries it. An item's
// snapshot that did read it loaded the record early, and a zone changed in the store meanwhile
// was answered as it had been.
TEST_F(RemoteObjectModelTest, AServersZoneIsReadWhenItIsAskedForNotWithItsSnapshot) {
    auto app = openApplication("Applications/Notepad");
    sky::ComPtr<ISkyloomServers> servers;
    ASSERT_EQ(app->get_Servers(servers.put()), S_OK);
    std::vector<sky::ComPtr<ISkyloomServer5>> items;
    for (const auto& server : sky::enumerateAs<ISkyloomServer5>(servers.get()))
        items.push_back(server);
    ASSERT_FALSE(items.empty());
    sky::Bstr name;
    ASSERT_EQ(items[0]->get_ServerName(name.put()), S_OK);
    auto image = servedStore()->image();
    ASSERT_TRUE(image) << image.status().toString();
    const std::string moved = "North";
    image->zones.push_back({moved, ""});
    for (sky::farm::Server& server : image->servers)
        if (server.name == name.utf8())
            server.zone = moved;
    for (sky::farm::Zone& zone : image->zones)
        if (zone.dataCollector == name.utf8())
            zone.dataCollector.clear();
    const sky::farm::Status replaced = servedStore()->replace(*image);
    ASSERT_TRUE(replaced) << replaced.toString();
    sky::Bstr zone;
    ASSERT_EQ(items[0]->get_ZoneName(zone.put()), S_OK) << failureText();
    EXPECT_EQ(zone.utf8(), moved);
}

// A value answered from a snapshot is the value a call would give: any other member called on
// the connection (a put through another face of the object, LoadData, a member of another
// object) ends the snapshot, and the next get brings a new one.
TEST_F(RemoteObjectModelTest, AnAnswerFromASnapshotIsNeverStale) {
    auto app = openApplication("Applications/Notepad");
    sky::ComPtr<ISkyloomWinApp4> settings;
    ASSERT_EQ(app->get_WinAppObject4(settings.put()), S_OK);
    auto text = [](auto* object, auto getter) {
        sky::Bstr value;
        EXPECT_EQ((object->*getter)(value.put()), S_OK) << failureText();
        return value.utf8();
    };
    const std::string name = text(app.get(), &ISkyloomApplication5::get_AppName);
    const std::string description = text(app.get(), &ISkyloomApplication5::get_Description);
    // The second get came from the snapshot the first brought.
    std::uint64_t before = sky::remote::requestsSent();
    EXPECT_EQ(text(app.get(), &ISkyloomApplication5::get_DistinguishedName),
              "Applications/Notepad");
    EXPECT_EQ(sky::remote::requestsSent(), before);
    // A face asked for brings its snapshot with the answer.
    auto third = app.as<ISkyloomWinApp3>();
    EXPECT_EQ(text(third.get(), &ISkyloomWinApp3::get_DefaultWorkDir),
              stored("Applications/Notepad").settings.text(sky::farm::AppSetting::DefaultWorkDir));
    EXPECT_EQ(sky::remote::requestsSent(), before + 1);

    // A put through the other face of the same object.
    ASSERT_EQ(settings->put_AppName(bstr("Renamed").get()), S_OK) << failureText();
    EXPECT_EQ(text(app.get(), &ISkyloomApplication5::get_AppName), "Renamed");
    EXPECT_EQ(text(app.get(), &ISkyloomApplication5::get_DistinguishedName),
              "Applications/Renamed");
    // LoadData reads the store again: the change is gone.
    ASSERT_EQ(app->LoadData(-1), S_OK) << failureText();
    EXPECT_EQ(text(app.get(), &ISkyloomApplication5::get_AppName), name);
    // The settings' snapshot, then a change made through a member of another object: the
    // application saved by another object of this client, and this one loaded again.
    EXPECT_EQ(text(settings.get(), &ISkyloomWinApp4::get_DefaultInitProg),
              stored("Applications/Notepad").settings.text(sky::farm::AppSetting::DefaultInitProg));
    {
        auto other = openApplication("Applications/Notepad");
        sky::ComPtr<ISkyloomWinApp4> otherSettings;
        ASSERT_EQ(other->get_WinAppObject4(otherSettings.put()), S_OK);
        ASSERT_EQ(otherSettings->put_DefaultInitProg(bstr("C:\\New\\notepad.exe").get()), S_OK);
        ASSERT_EQ(other->SaveData(), S_OK) << failureText();
    }
    // This object holds what it loaded (as in process) until it loads again.
    EXPECT_NE(text(settings.get(), &ISkyloomWinApp4::get_DefaultInitProg), "C:\\New\\notepad.exe");
    ASSERT_EQ(app->LoadData(-1), S_OK) << failureText();
    EXPECT_EQ(text(settings.get(), &ISkyloomWinApp4::get_DefaultInitProg), "C:\\New\\notepad.exe");
    EXPECT_EQ(text(app.get(), &ISkyloomApplication5::get_Description), description);
    // A number too, read, changed and read again.
    LONG limit = 0;
    ASSERT_EQ(settings->get_InstanceLimit(&limit), S_OK);
    ASSERT_EQ(settings->put_InstanceLimit(limit + 7), S_OK) << failureText();
    LONG after = 0;
    ASSERT_EQ(settings->get_InstanceLimit(&after), S_OK);
    EXPECT_EQ(after, limit + 7);
    // And a get that fails still fails where it is called: an object bound to nothing.
    auto unbound = sky::createObject<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication");
    sky::Bstr nothing;
    before = sky::remote::requestsSent();
    EXPECT_TRUE(FAILED(unbound->get_AppName(nothing.put())));
    EXPECT_FALSE(failureText().empty());
    // Its snapshot (it came with the face the object was made as) held nothing, and the get was
    // called.
    EXPECT_EQ(sky::remote::requestsSent(), before + 1);
}

// The snapshot that came with a face answers its members in any order, each as often as it is
// got, with the values the store holds, and no round trip.
TEST_F(RemoteObjectModelTest, ASnapshotAnswersItsMembersInAnyOrderAndAsOftenAsTheyAreGot) {
    auto app = openApplication("Applications/Notepad");
    sky::ComPtr<ISkyloomWinApp4> settings;
    ASSERT_EQ(app->get_WinAppObject4(settings.put()), S_OK);
    const sky::farm::Application stored = this->stored("Applications/Notepad");
    using Getter = HRESULT (STDMETHODCALLTYPE ISkyloomWinApp4::*)(BSTR*);
    const std::vector<std::pair<Getter, sky::farm::AppSetting>> texts = {
        {&ISkyloomWinApp4::get_DefaultInitProg, sky::farm::AppSetting::DefaultInitProg},
        {&ISkyloomWinApp4::get_DefaultWorkDir, sky::farm::AppSetting::DefaultWorkDir},
        {&ISkyloomWinApp4::get_LumoFolder, sky::farm::AppSetting::LumoFolder},
        {&ISkyloomWinApp4::get_StartMenuFolder, sky::farm::AppSetting::StartMenuFolder}};
    const std::uint64_t before = sky::remote::requestsSent();
    const auto readAll = [&](auto first, auto last) {
        for (auto it = first; it != last; ++it) {
            sky::Bstr value;
            ASSERT_EQ((settings.get()->*it->first)(value.put()), S_OK) << failureText();
            EXPECT_EQ(value.utf8(), stored.settings.text(it->second));
        }
        LONG limit = -1;
        ASSERT_EQ(settings->get_InstanceLimit(&limit), S_OK);
        EXPECT_EQ(limit, stored.settings.number(sky::farm::AppSetting::InstanceLimit));
    };
    readAll(texts.rbegin(), texts.rend()); // last member first
    readAll(texts.begin(), texts.end());   // in the members' order, each a second time
    readAll(texts.begin() + 2, texts.end());
    readAll(texts.begin(), texts.begin() + 1);
    EXPECT_EQ(sky::remote::requestsSent(), before);
}

// Settings handed out as their first version (WinAppObject) and read through later versions,
// as a script written for the first version's days and extended since does: the answer lists
// the faces derived from the first version that the object answers and brings the snapshot of
// the widest, so the QueryInterface for each and every get through any of them costs no round
// trip, with the store's values. A face not derived from the one handed out is still asked for,
// and a change through one face is seen through every other.
TEST_F(RemoteObjectModelTest, SettingsReadThroughLaterVersionsOfTheirFaceCostNoRoundTripMore) {
    auto app = openApplication("Applications/Notepad");
    const sky::farm::Application stored = this->stored("Applications/Notepad");
    using sky::farm::AppSetting;
    std::uint64_t before = sky::remote::requestsSent();
    sky::ComPtr<ISkyloomWinApp> first;
    ASSERT_EQ(app->get_WinAppObject(first.put()), S_OK) << failureText();
    sky::ComPtr<ISkyloomWinApp4> fourth;
    ASSERT_EQ(first->QueryInterface(IID_ISkyloomWinApp4, fourth.putVoid()), S_OK);
    sky::ComPtr<ISkyloomWinApp2> second;
    ASSERT_EQ(fourth->QueryInterface(IID_ISkyloomWinApp2, second.putVoid()), S_OK);
    const auto text = [](auto* object, auto getter) {
        sky::Bstr value;
        EXPECT_EQ((object->*getter)(value.put()), S_OK) << failureText();
        return value.utf8();
    };
    EXPECT_EQ(text(first.get(), &ISkyloomWinApp::get_DefaultInitProg),
              stored.settings.text(AppSetting::DefaultInitProg));
    EXPECT_EQ(text(fourth.get(), &ISkyloomWinApp4::get_DefaultWorkDir),
              stored.settings.text(AppSetting::DefaultWorkDir));
    EXPECT_EQ(text(second.get(), &ISkyloomWinApp2::get_StartMenuFolder),
              stored.settings.text(AppSetting::StartMenuFolder));
    LONG limit = -1;
    LONG hidden = -1;
    EXPECT_EQ(fourth->get_InstanceLimit(&limit), S_OK);
    EXPECT_EQ(fourth->get_HideDisabledApp(&hidden), S_OK);
    EXPECT_EQ(limit, stored.settings.number(AppSetting::InstanceLimit));
    EXPECT_EQ(hidden, stored.settings.number(AppSetting::HideDisabledApp));
    EXPECT_EQ(text(first.get(), &ISkyloomWinApp::get_LumoFolder),
              stored.settings.text(AppSetting::LumoFolder));
    EXPECT_EQ(sky::remote::requestsSent(), before + 1)
        << "WinAppObject alone: the faces and their members came with its answer";

    // The application's own faces are not derived from the settings': asked for.
    before = sky::remote::requestsSent();
    sky::ComPtr<ISkyloomApplication4> application;
    ASSERT_EQ(first->QueryInterface(IID_ISkyloomApplication4, application.putVoid()), S_OK);
    EXPECT_EQ(sky::remote::requestsSent(), before + 1);

    // A change through one face ends the snapshot the faces shared: each asks again.
    ASSERT_EQ(fourth->put_DefaultWorkDir(bstr("C:\\Elsewhere").get()), S_OK) << failureText();
    before = sky::remote::requestsSent();
    EXPECT_EQ(text(first.get(), &ISkyloomWinApp::get_DefaultWorkDir), "C:\\Elsewhere");
    EXPECT_EQ(text(second.get(), &ISkyloomWinApp2::get_DefaultWorkDir), "C:\\Elsewhere");
    EXPECT_EQ(text(fourth.get(), &ISkyloomWinApp4::get_DefaultWorkDir), "C:\\Elsewhere");
    EXPECT_EQ(sky::remote::requestsSent(), before + 3) << "each face's own snapshot";
}

// A local account that is not this process's, made a user of the machine: the machine's group is
// made its own. Switching accounts takes root.
uid_t giveMachineToAnotherAccount() {
    const uid_t other = sky::testing::unusedAccount(40000);
    EXPECT_TRUE(sky::testing::giveMachineGroup(static_cast<gid_t>(other)));
    return other;
}

// What the probe prints (standard error too) for `arguments`, run as the given user (none: as
// this process's user).
std::string probeOutput(const std::string& arguments, std::optional<uid_t> as = std::nullopt) {
    const std::string probe =
        (sky::testing::buildBin() / "testprograms" / "qvcomsrv_farm_probe").string();
    std::string command = probe + " " + arguments + " 2>&1";
    if (as)
        command = sky::testing::runAs(*as, static_cast<gid_t>(*as)) + command;
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    if (pipe)
        pclose(pipe);
    return output;
}

// The probe's answer to "admin".
std::string administratorCheck(std::optional<uid_t> as = std::nullopt) {
    return probeOutput("admin", as);
}

TEST_F(RemoteObjectModelTest, TheAdministratorCheckAnswersForTheCallingUserNotTheServers) {
    // The farm names this process's user, who also runs the server, as its administrator.
    EXPECT_EQ(administratorCheck(), "administrator 1\n");

    // A second local account, made a user of the machine (a member of its group), asks
    // the same server. Switching accounts takes root; without it the test cannot show this.
    ASSERT_EQ(geteuid(), 0u) << "this test runs a client as a second account and needs root";
    uid_t other = 0;
    ASSERT_NO_FATAL_FAILURE(other = giveMachineToAnotherAccount());
    EXPECT_EQ(administratorCheck(other), "administrator 0\n");
    EXPECT_EQ(administratorCheck(), "administrator 1\n");
}

TEST_F(RemoteObjectModelTest, TwoClientsAtOnceBothKeepTheirChanges) {
    const std::string probe =
        (sky::testing::buildBin() / "testprograms" / "qvcomsrv_farm_probe").string();
    const auto runs =
        sky::testing::runCommandsTogether({probe + " publish Applications/Office/Word BETA 2>&1",
                                           probe + " publish Applications/Notepad GAMMA 2>&1"});
    for (const auto& run : runs)
        EXPECT_EQ(run.exitCode, 0) << run.out;
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(stored("Applications/Office/Word").servers),
              (std::vector<std::string>{"ALPHA", "BETA"}));
    EXPECT_EQ(sorted(stored("Applications/Notepad").servers),
              (std::vector<std::string>{"ALPHA", "BETA", "GAMMA"}));
}

// Two administrators publishing through the same server at once: the farm's audit trail records
// each change as made by the client that made it, not by the server's account.
TEST_F(RemoteObjectModelTest, TwoAdministratorsAtOnceEachGetTheirOwnAuditEntries) {
    ASSERT_EQ(geteuid(), 0u) << "this test runs a client as a second account and needs root";
    uid_t other = 0;
    ASSERT_NO_FATAL_FAILURE(other = giveMachineToAnotherAccount());
    // The second account administers the farm too: the machine knows it by its number only.
    ASSERT_TRUE(servedStore()->addAdministrator(std::to_string(other)));
    const std::string probe =
        (sky::testing::buildBin() / "testprograms" / "qvcomsrv_farm_probe").string();
    const std::string asOther = sky::testing::runAs(other, static_cast<gid_t>(other));
    const auto runs = sky::testing::runCommandsTogether(
        {probe + " publish Applications/Office/Word BETA 2>&1",
         asOther + probe + " publish Applications/Notepad GAMMA 2>&1"});
    for (const auto& run : runs)
        EXPECT_EQ(run.exitCode, 0) << run.out;

    auto entries = servedStore()->auditTrail({});
    ASSERT_TRUE(entries) << entries.status().toString();
    std::map<std::string, std::string> byApplication;
    for (const sky::farm::AuditEntry& entry : *entries) {
        if (entry.operation == "AddAdministrator")
            continue; // the test's own, above
        byApplication[entry.distinguishedName + " " + *entry.newValue] = entry.user;
    }
    ASSERT_EQ(byApplication.size(), 2u);
    const std::string self = sky::farm::processActor().user;
    EXPECT_EQ(byApplication["Applications/Office/Word BETA"], self);
    EXPECT_NE(byApplication["Applications/Notepad GAMMA"], self);
    EXPECT_FALSE(byApplication["Applications/Notepad GAMMA"].empty());
}

// A file's bytes.
std::string contentOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The probe's "icon" command (write or read, early-bound or by name) for Notepad with `file`, as
// the given account; a call that does not end within a minute fails the test instead of hanging.
std::string iconCall(const std::string& use, const std::filesystem::path& file, uid_t as,
                     bool late = false) {
    return probeOutput(
        "icon " + use + " Applications/Notepad " + file.string() + (late ? " late" : ""), as);
}

// An administrator of the farm who is not root, with a client of his own, points the service
// (running as root) at files beyond his rights: a link to a file of root's, a folder of root's, a
// pipe and a device of root's. Each call fails with his own open's reason, at once, and nothing
// of root's is read, written, created or opened. What he may open himself works, and a file it
// creates is his. (The service used to open every such name with its own rights: it overwrote
// root's file through the link, created files in root's folder, opened root's pipe and device,
// and read root's icon for him.)
TEST_F(RemoteObjectModelTest,
       AnAdministratorWhoIsNotRootCannotMakeTheServiceOpenFilesBeyondHisRights) {
    namespace fs = std::filesystem;
    ASSERT_EQ(geteuid(), 0u) << "this test runs a client as a second account and needs root";
    uid_t other = 0;
    ASSERT_NO_FATAL_FAILURE(other = giveMachineToAnotherAccount());
    const fs::path base = sky::machine::root() / "attack";
    const fs::path rootOnly = base / "root-only";
    const fs::path mine = base / "mine";
    fs::create_directories(rootOnly);
    fs::create_directories(mine);
    fs::permissions(base, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(rootOnly, fs::perms::owner_all);
    ASSERT_EQ(chown(mine.c_str(), other, static_cast<gid_t>(other)), 0);
    const std::string secretIcon = [] {
        const sky::farm::Bytes bytes = iconFile({0xFF102030u});
        return std::string(bytes.begin(), bytes.end());
    }();
    const fs::path secret = rootOnly / "secret.ico";
    {
        std::ofstream out(secret, std::ios::binary);
        out << secretIcon;
    }
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    // His link to root's file, and root's own pipe (held open by a reader of root's, so that a
    // writer's open would succeed) and device (the null device, 0600) in his folder.
    const fs::path link = mine / "Word.ico";
    ASSERT_EQ(symlink(secret.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), other, static_cast<gid_t>(other)), 0);
    const fs::path pipe = mine / "pipe.ico";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const fs::path device = mine / "device.ico";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0)
        << "the test makes a device node, as root";
    const auto iconBefore = stored("Applications/Notepad").icon;

    // Not yet an administrator: refused at the door, and the file his side made for the call is
    // gone again.
    EXPECT_EQ(iconCall("write", mine / "refused.ico", other),
              "error 0x80070005: Access is denied.\n");
    EXPECT_FALSE(fs::exists(mine / "refused.ico"));
    ASSERT_TRUE(servedStore()->addAdministrator(std::to_string(other)));
    // The service decided about him a moment ago, and keeps a decision that long.
    std::this_thread::sleep_for(std::chrono::milliseconds(kAccessDecisionMilliseconds + 100));

    const auto deniedFor = [](const std::string& output) {
        return output.rfind("error 0x80070005: ", 0) == 0 &&
               output.find("Permission denied") != std::string::npos;
    };
    for (const bool late : {false, true}) {
        const std::string through = iconCall("write", link, other, late);
        EXPECT_TRUE(deniedFor(through)) << through;
        EXPECT_TRUE(contentOf(secret) == secretIcon) << "root's file was overwritten";
        const std::string folder = iconCall("write", rootOnly / "new.ico", other, late);
        EXPECT_TRUE(deniedFor(folder)) << folder;
        EXPECT_FALSE(fs::exists(rootOnly / "new.ico")) << "a file was made in root's folder";
        const std::string read = iconCall("read", link, other, late);
        EXPECT_TRUE(deniedFor(read)) << read;
        const std::string ofPipe = iconCall("write", pipe, other, late);
        EXPECT_TRUE(deniedFor(ofPipe)) << ofPipe;
        const std::string ofDevice = iconCall("write", device, other, late);
        EXPECT_TRUE(deniedFor(ofDevice)) << ofDevice;
    }
    // Nobody opened root's pipe for writing: its reader never saw a writer come and go.
    pollfd watch{reader, POLLIN, 0};
    EXPECT_EQ(poll(&watch, 1, 0), 0) << "root's pipe was opened, revents " << watch.revents;
    close(reader);
    EXPECT_TRUE(stored("Applications/Notepad").icon == iconBefore) << "root's icon was read";

    // His own pipe and a folder are refused at once for what they are, never waited on.
    const fs::path own = mine / "own.ico";
    const fs::path ownPipe = mine / "own-pipe.ico";
    ASSERT_EQ(mkfifo(ownPipe.c_str(), 0600), 0);
    ASSERT_EQ(lchown(ownPipe.c_str(), other, static_cast<gid_t>(other)), 0);
    EXPECT_NE(iconCall("write", ownPipe, other).find("it is a named pipe, not a file"),
              std::string::npos);
    EXPECT_NE(iconCall("read", ownPipe, other).find("it is a named pipe, not a file"),
              std::string::npos);
    EXPECT_NE(iconCall("read", mine, other).find("it is a folder, not a file"), std::string::npos);

    // What he may write and read himself works; the file his call created is his own.
    EXPECT_EQ(iconCall("write", own, other), "");
    struct stat info {};
    ASSERT_EQ(stat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, other);
    EXPECT_EQ(contentOf(own).substr(0, 4), std::string("\0\0\1\0", 4)) << "not an icon file";
    EXPECT_EQ(iconCall("read", own, other, true), "");
}

using sky::testing::within;

// A file system of one file, slow.ico (4 KiB), whose reads are never answered while the file
// system lives: a file on a share that hangs. Mounted with FUSE by this process (which takes
// root) and served on a thread of its own; when it goes, a read that waits fails.
class SlowFileSystem {
public:
    explicit SlowFileSystem(const std::filesystem::path& folder) : folder_(folder) {
        std::filesystem::create_directories(folder);
        device_ = open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (device_ < 0)
            return;
        const std::string options =
            "fd=" + std::to_string(device_) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
        mounted_ = mount("skytest", folder.c_str(), "fuse.skytest", MS_NOSUID | MS_NODEV,
                         options.c_str()) == 0;
        stop_ = eventfd(0, EFD_CLOEXEC);
        if (mounted_)
            thread_ = std::thread([this] { serve(); });
    }
    ~SlowFileSystem() {
        if (mounted_)
            umount2(folder_.c_str(), MNT_DETACH);
        const std::uint64_t one = 1;
        if (write(stop_, &one, sizeof one) < 0) {
        }
        if (thread_.joinable())
            thread_.join();
        if (device_ >= 0)
            close(device_); // ends the connection: the read that waits fails
        close(stop_);
    }
    bool mounted() const { return mounted_; }
    std::filesystem::path file() const { return folder_ / "slow.ico"; }
    // Whether a read of the file has come (and waits).
    bool readWaiting() const { return reads_ > 0; }

private:
    void reply(std::uint64_t unique, int error, const void* data, std::size_t size) {
        fuse_out_header header{static_cast<std::uint32_t>(sizeof header + size), -error, unique};
        iovec parts[2] = {{&header, sizeof header}, {const_cast<void*>(data), size}};
        if (writev(device_, parts, size ? 2 : 1) < 0) {
        }
    }
    static fuse_attr attributes(std::uint64_t node) {
        fuse_attr a{};
        a.ino = node;
        a.nlink = 1;
        a.blksize = 4096;
        a.mode = node == FUSE_ROOT_ID ? S_IFDIR | 0755 : S_IFREG | 0644;
        a.size = node == FUSE_ROOT_ID ? 0 : 4096;
        return a;
    }
    void serve() {
        std::vector<char> buffer((1 << 20) + 4096);
        for (;;) {
            pollfd watch[2] = {{device_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (poll(watch, 2, -1) < 0 || watch[1].revents)
                return;
            const ssize_t got = read(device_, buffer.data(), buffer.size());
            if (got < static_cast<ssize_t>(sizeof(fuse_in_header)))
                continue;
            const auto* in = reinterpret_cast<const fuse_in_header*>(buffer.data());
            const char* argument = buffer.data() + sizeof *in;
            switch (in->opcode) {
            case FUSE_INIT: {
                const auto* init = reinterpret_cast<const fuse_init_in*>(argument);
                fuse_init_out out{};
                out.major = FUSE_KERNEL_VERSION;
                out.minor = std::min<std::uint32_t>(init->minor, FUSE_KERNEL_MINOR_VERSION);
                out.max_readahead = init->max_readahead;
                out.max_write = 65536;
                out.max_background = 16;
                out.congestion_threshold = 12;
                reply(in->unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_LOOKUP:
                if (in->nodeid == FUSE_ROOT_ID && std::string(argument) == "slow.ico") {
                    fuse_entry_out entry{};
                    entry.nodeid = 2;
                    entry.attr = attributes(2);
                    reply(in->unique, 0, &entry, sizeof entry);
                } else {
                    reply(in->unique, ENOENT, nullptr, 0);
                }
                break;
            case FUSE_GETATTR: {
                fuse_attr_out out{};
                out.attr = attributes(in->nodeid);
                reply(in->unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_OPEN:
            case FUSE_OPENDIR: {
                fuse_open_out out{};
                out.open_flags = FOPEN_DIRECT_IO; // every read comes here
                reply(in->unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_READ:
                ++reads_; // never answered
                break;
            case FUSE_FORGET:
            case FUSE_BATCH_FORGET:
            case FUSE_INTERRUPT:
                break; // no answer is expected
            case FUSE_FLUSH:
            case FUSE_RELEASE:
            case FUSE_RELEASEDIR:
                reply(in->unique, 0, nullptr, 0);
                break;
            default:
                reply(in->unique, ENOSYS, nullptr, 0);
            }
        }
    }

    std::filesystem::path folder_;
    int device_ = -1;
    int stop_ = -1;
    bool mounted_ = false;
    std::atomic<int> reads_{0};
    std::thread thread_;
};

// A call that stalls in the service (its icon file is on a file system that never answers a
// read) holds up only its own client: another client's calls are answered meanwhile, and the
// stalled call fails once the file system goes.
TEST_F(RemoteObjectModelTest, AStalledCallOfOneClientLeavesAnotherClientsCallsAnswering) {
    ASSERT_EQ(geteuid(), 0u) << "the test mounts a file system, as root";
    auto slow = std::make_unique<SlowFileSystem>(sky::machine::root() / "slow");
    ASSERT_TRUE(slow->mounted()) << "FUSE could not be mounted: " << std::strerror(errno);
    Child stalled("qvcomsrv_farm_probe",
                  {"icon", "read", "Applications/Notepad", slow->file().string()});
    // The client opened the file itself and handed it over; the service reads it, and waits.
    const auto waiting = within(std::chrono::seconds(20), [&] {
        while (!slow->readWaiting())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return true;
    });
    ASSERT_TRUE(waiting.has_value()) << "the service never read the slow file";

    const auto other = within(std::chrono::seconds(30), [] { return administratorCheck(); });
    ASSERT_TRUE(other.has_value()) << "another client's call waited behind the stalled one";
    EXPECT_EQ(*other, "administrator 1\n");
    const auto list = within(std::chrono::seconds(30), [] { return probeOutput("list"); });
    ASSERT_TRUE(list.has_value()) << "another client's calls waited behind the stalled one";
    EXPECT_NE(list->find("Applications/Notepad|"), std::string::npos) << *list;

    // The file system goes: the read fails, and so does the stalled call.
    slow.reset();
    const auto status = within(std::chrono::seconds(30), [&] { return stalled.wait(); });
    ASSERT_TRUE(status.has_value()) << "the stalled call did not end with its file system";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << *status;
}

TEST_F(RemoteObjectModelTest,
       AStoreThatStopsAnsweringFailsTheCallWithinItsBoundWhileOthersAreServed) {
    // The farm on a PostgreSQL cluster of the test's own, which it stops with SIGSTOP.
    sky::farm::testing::PostgresTestCluster cluster;
    cluster.createDatabase("farm");
    const std::string conninfo = cluster.conninfo("farm");
    ASSERT_TRUE(sky::farm::createPostgresFarmStore(conninfo, sampleFarm()));
    ASSERT_TRUE(
        sky::farm::setMachineFarmStore({std::string(sky::farm::kPostgresStoreType), conninfo}));
    auto farm = openFarm();
    ASSERT_TRUE(farm);

    cluster.freeze();
    // The store's bound: 30 s for a statement and 5 s for the server's answer; then 10 s for
    // a connection. Within a minute, however loaded the machine.
    const auto read = within(std::chrono::seconds(60), [&] {
        sky::ComPtr<ISkyloomApplications> apps;
        const HRESULT hr = farm->get_Applications(apps.put());
        return std::make_pair(hr, failureText());
    });
    // Meanwhile another client is served: its object is made while the store does not answer.
    const pid_t other = sky::testing::forkBesideThreads();
    if (other == 0) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CLSID clsid{};
        sky::ComPtr<ISkyloomFarm6> object;
        const bool made =
            SUCCEEDED(CLSIDFromProgID(u"SkyloomCOM.SkyloomFarm", &clsid)) &&
            SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER,
                                       sky::uuidOf<ISkyloomFarm6>(), object.putVoid()));
        _exit(made ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    cluster.thaw();
    ASSERT_TRUE(read.has_value()) << "the call on a stopped store did not end within its bound";
    EXPECT_TRUE(FAILED(read->first));
    EXPECT_NE(read->second.find("did not answer within 35 seconds"), std::string::npos)
        << read->second;
    // Running again, the store serves the next call.
    auto again = openFarm();
    ASSERT_TRUE(again);
    sky::ComPtr<ISkyloomApplications> apps;
    EXPECT_EQ(again->get_Applications(apps.put()), S_OK) << failureText();
}

// The machine's SQLite store held by another process (a write transaction it does not end): a
// change through the service fails within the store's busy timeout (5 s) with the clear Busy
// message, and another client, whose object is made and whose read is asked for while the change
// waits, is answered; the change goes through once the other process lets go.
TEST_F(RemoteObjectModelTest, AStoreFileHeldByAnotherProcessFailsTheChangeWithinItsBound) {
    const auto location = sky::farm::machineFarmStore();
    ASSERT_TRUE(location) << location.status().toString();
    int held[2], release[2];
    ASSERT_EQ(pipe2(held, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
    const pid_t holder = sky::testing::forkBesideThreads();
    if (holder == 0) {
        sqlite3* db = nullptr;
        const bool holding =
            sqlite3_open(location->path.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        char byte = holding ? 'h' : 'x';
        [[maybe_unused]] const ssize_t told = write(held[1], &byte, 1);
        close(release[1]);
        [[maybe_unused]] const ssize_t ended = read(release[0], &byte, 1); // until the test ends
        _exit(0);
    }
    close(held[1]);
    close(release[0]);
    char byte = 0;
    ASSERT_EQ(read(held[0], &byte, 1), 1);
    close(held[0]);
    const auto letGo = [&] {
        if (release[1] >= 0)
            close(release[1]);
        release[1] = -1;
        int status = 0;
        waitpid(holder, &status, 0);
    };
    if (byte != 'h') {
        letGo();
        FAIL() << "the other process could not hold the store";
    }

    auto farm = openFarm();
    ASSERT_TRUE(farm);
    sky::ComPtr<ISkyloomWinFarm5> settings;
    ASSERT_EQ(farm->QueryInterface(sky::uuidOf<ISkyloomWinFarm5>(), settings.putVoid()), S_OK);
    // Another client, a second into the change's wait: its object is made and its read answered.
    const pid_t other = sky::testing::forkBesideThreads();
    if (other == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CLSID clsid{};
        sky::ComPtr<ISkyloomFarm6> object;
        sky::ComPtr<ISkyloomApplications> apps;
        const bool served =
            SUCCEEDED(CLSIDFromProgID(u"SkyloomCOM.SkyloomFarm", &clsid)) &&
            SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER,
                                       sky::uuidOf<ISkyloomFarm6>(), object.putVoid())) &&
            object->Initialize(SkyloomWinFarmObject) == S_OK &&
            object->get_Applications(apps.put()) == S_OK;
        _exit(served ? 0 : 1);
    }
    const auto change = within(std::chrono::seconds(30), [&] {
        const HRESULT hr = settings->put_EnableACR(0);
        return std::make_pair(hr, failureText());
    });
    int status = -1;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    letGo();
    ASSERT_TRUE(change.has_value()) << "the change on a held store did not end within its bound";
    EXPECT_EQ(change->first, HRESULT_FROM_WIN32(ERROR_BUSY)) << change->second;
    EXPECT_NE(change->second.find("The farm store " + location->path +
                                  " is in use by another program and did not become free in "
                                  "time; try again."),
              std::string::npos)
        << change->second;
    EXPECT_EQ(servedStore()->farm()->settings.number(sky::farm::FarmSetting::EnableACR), 1);
    // Let go, the store takes the change.
    EXPECT_EQ(settings->put_EnableACR(0), S_OK) << failureText();
    EXPECT_EQ(servedStore()->farm()->settings.number(sky::farm::FarmSetting::EnableACR), 0);
}

// A machine user who is not an administrator of the farm gets nothing of it through the service:
// every member of every face of every class the module serves, called by name and early-bound,
// is refused with E_ACCESSDENIED, except the few that tell a logon whether the user is an
// administrator; the farm and its audit trail stay as they were.
TEST_F(RemoteObjectModelTest, AMachineUserWhoIsNotAnAdministratorIsRefusedEveryReadAndChange) {
    ASSERT_EQ(geteuid(), 0u) << "this test runs a client as a second account and needs root";
    uid_t other = 0;
    ASSERT_NO_FATAL_FAILURE(other = giveMachineToAnotherAccount());
    const auto before = servedStore()->image();
    ASSERT_TRUE(before) << before.status().toString();

    const std::string output = probeOutput("sweep", other);
    std::istringstream lines(output);
    std::string line;
    int refused = 0;
    std::set<std::string> open;
    while (std::getline(lines, line)) {
        if (line.rfind("bind ", 0) == 0) {
            EXPECT_EQ(line, "bind 0x00000000"); // binding the farm is open
            continue;
        }
        std::istringstream fields(line);
        std::string way, member, kind, result;
        ASSERT_TRUE(fields >> way >> member >> kind >> result) << line;
        const std::string name = member.substr(member.find('.') + 1);
        std::string family = member.substr(0, member.find('.'));
        while (!family.empty() && std::isdigit(static_cast<unsigned char>(family.back())))
            family.pop_back();
        const bool mayCall =
            (family == "ISkyloomFarm" &&
             (name == "Initialize" || name == "WinFarmObject" || name == "WinFarmObject6")) ||
            (family == "ISkyloomWinFarm" && name == "IsVantorAdministrator");
        if (mayCall) {
            EXPECT_NE(result, "0x80070005") << line;
            open.insert(name);
        } else {
            EXPECT_EQ(result, "0x80070005") << line;
            ++refused;
        }
    }
    EXPECT_EQ(open, (std::set<std::string>{"Initialize", "WinFarmObject", "WinFarmObject6",
                                           "IsVantorAdministrator"}))
        << output;
    // Every member of the nine classes' faces, both ways (over a thousand calls).
    EXPECT_GT(refused, 1000) << output;
    EXPECT_EQ(administratorCheck(other), "administrator 0\n");

    const auto after = servedStore()->image();
    ASSERT_TRUE(after) << after.status().toString();
    EXPECT_TRUE(*before == *after);
    auto entries = servedStore()->auditTrail({});
    ASSERT_TRUE(entries) << entries.status().toString();
    EXPECT_TRUE(entries->empty());
}

// The member gate is asked for every member a snapshot carries, when the server makes it: a
// farm administrator's client reads an application (bringing its snapshot) and takes its
// settings (bringing the snapshot their faces share); once he is no administrator, the next
// request the farm serves him is refused, and so is every get after it, each of them a member
// the snapshot had carried or not, through a face taken before or after (without a call). (Values
// that reached his process while he was one stay there, as they would in process.)
TEST_F(RemoteObjectModelTest, ASnapshotCarriesOnlyWhatTheGateLetsTheCallerRead) {
    ASSERT_EQ(geteuid(), 0u) << "this test runs a client as a second account and needs root";
    uid_t other = 0;
    ASSERT_NO_FATAL_FAILURE(other = giveMachineToAnotherAccount());
    ASSERT_TRUE(servedStore()->addAdministrator(std::to_string(other)));
    const std::string command = sky::testing::runAs(other, static_cast<gid_t>(other)) +
                                (sky::testing::buildBin() / "testprograms").string() +
                                "/qvcomsrv_farm_probe demoted Applications/Notepad 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    char line[512];
    ASSERT_TRUE(std::fgets(line, sizeof line, pipe));
    EXPECT_EQ(std::string(line), "name value Notepad\n");
    ASSERT_TRUE(servedStore()->removeAdministrator(std::to_string(other)));
    std::string rest;
    while (std::fgets(line, sizeof line, pipe))
        rest += line;
    EXPECT_EQ(pclose(pipe), 0) << rest;
    EXPECT_EQ(rest, "servers 0x80070005\nname 0x80070005\ndescription 0x80070005\n"
                    "program 0x80070005\nfolder 0x80070005\n");
    // Not an administrator from the start: every get refused, snapshot or not.
    EXPECT_EQ(probeOutput("demoted Applications/Notepad", other),
              "error 0x80070005: Access is denied.\n");
}

// The fault as it was met: a machine user who is not an administrator published an application
// through a plain client, and the audit trail named him.
TEST_F(RemoteObjectModelTest, ANonAdministratorPublishingThroughAPlainClientIsRefused) {
    ASSERT_EQ(geteuid(), 0u) << "this test runs a client as a second account and needs root";
    uid_t other = 0;
    ASSERT_NO_FATAL_FAILURE(other = giveMachineToAnotherAccount());
    const auto servers = stored("Applications/Notepad").servers;
    EXPECT_EQ(probeOutput("publish Applications/Notepad GAMMA", other),
              "error 0x80070005: Access is denied.\n");
    EXPECT_EQ(stored("Applications/Notepad").servers, servers);
    auto entries = servedStore()->auditTrail({});
    ASSERT_TRUE(entries) << entries.status().toString();
    EXPECT_TRUE(entries->empty());
    // The administrator's own publish still goes through.
    EXPECT_EQ(probeOutput("publish Applications/Notepad GAMMA"), "");
}

TEST_F(RemoteObjectModelTest, AServerThatStopsGivesItsClientsAClearFailure) {
    auto farm = openFarm();
    EXPECT_EQ(server_->stop(), 0);
    server_.reset();
    sky::Bstr name;
    const HRESULT first = farm->get_FarmName(name.put());
    EXPECT_TRUE(first == RPC_E_DISCONNECTED || first == static_cast<HRESULT>(0x800706BA))
        << std::hex << first;
    EXPECT_EQ(farm->get_FarmName(name.put()), RPC_E_DISCONNECTED);
    // With nothing serving the class and no service to start, activation fails as Windows does.
    try {
        sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
        ADD_FAILURE() << "activation without a server succeeded";
    } catch (const sky::ComError& e) {
        EXPECT_EQ(e.result(), CO_E_SERVER_EXEC_FAILURE);
    }
    // A new server is found by the next activation.
    startServer();
    EXPECT_EQ(openFarm()->get_FarmName(name.put()), S_OK);
}

// The classes reached through the service QVCom, which activation starts: the test's server
// program installed as that service.
class ServiceActivationTest : public ObjectModelTest {
protected:
    void SetUp() override {
        ObjectModelTest::SetUp();
        registerForLocalService();
        setString(HKEY_LOCAL_MACHINE, std::u16string(u"Software\\Classes\\APPID\\") + appId,
                  u"ServiceParameters", u"-Service");
        const auto bin = sky::testing::buildBin();
        const std::u16string image =
            sky::machine::toWindowsPath(bin / "testprograms" / "qvcomsrv_local_server") + u" " +
            sky::machine::toWindowsPath(bin / "qvcomsrv.dll") + u" -Service";
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr) << GetLastError();
        service_ =
            CreateServiceW(manager_, u"QVCom", u"QVCom", SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                           image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(service_, nullptr) << GetLastError();
    }
    void TearDown() override {
        sky::services::shutdownServices();
        if (service_)
            CloseServiceHandle(service_);
        if (manager_)
            CloseServiceHandle(manager_);
        ObjectModelTest::TearDown();
    }
    DWORD state() {
        SERVICE_STATUS status{};
        EXPECT_TRUE(QueryServiceStatus(service_, &status));
        return status.dwCurrentState;
    }

    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

TEST_F(ServiceActivationTest, TheFirstObjectStartsTheServiceAndTheNextStartsItAgainAfterAStop) {
    EXPECT_EQ(state(), SERVICE_STOPPED);
    auto farm = openFarm();
    sky::Bstr name;
    ASSERT_EQ(farm->get_FarmName(name.put()), S_OK) << failureText();
    EXPECT_EQ(name.utf8(), "Skyfarm");
    // The service publishes its class objects while it starts; it reports running just after.
    for (int i = 0; i < 500 && state() == SERVICE_START_PENDING; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(state(), SERVICE_RUNNING);

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    for (int i = 0; i < 500 && state() != SERVICE_STOPPED; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(state(), SERVICE_STOPPED);
    const HRESULT first = farm->get_FarmName(name.put());
    EXPECT_TRUE(first == RPC_E_DISCONNECTED || first == static_cast<HRESULT>(0x800706BA))
        << std::hex << first;

    EXPECT_EQ(openFarm()->get_FarmName(name.put()), S_OK) << failureText();
    for (int i = 0; i < 500 && state() == SERVICE_START_PENDING; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(state(), SERVICE_RUNNING);
}

TEST_F(ServiceActivationTest, AServiceThatCannotStartFailsActivationAtOnce) {
    ASSERT_TRUE(DeleteService(service_));
    CloseServiceHandle(service_);
    service_ = CreateServiceW(manager_, u"QVCom", u"QVCom", SERVICE_ALL_ACCESS,
                              SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                              u"C:\\WINDOWS\\System32\\missing.exe", nullptr, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(service_, nullptr);
    const auto began = std::chrono::steady_clock::now();
    try {
        sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
        ADD_FAILURE() << "activation succeeded without a server";
    } catch (const sky::ComError& e) {
        EXPECT_EQ(e.result(), CO_E_SERVER_EXEC_FAILURE);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(25))
        << "a service that cannot start is not waited for";
}

} // namespace
} // namespace qvcomsrv::testing

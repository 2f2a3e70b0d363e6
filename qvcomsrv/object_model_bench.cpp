// The object model through the automation layer, on a farm of 500 servers and 10,000
// applications (5,000 and 100,000 with SKY_BENCH_FARM=large) with 3 servers, 5 users, 2 groups
// and an icon each: the export's read of every application and setting, the import's creation of
// 10,000 applications, and the publish step's 10,000 AddServer and SaveData pairs. Each runs in
// process (remote:0) and across the process boundary (remote:1), against the module served by
// qvcomsrv_local_server as the service serves it, and the ratio of the two is printed at the end;
// beside them a single property get, and its floor: a plain round trip over a Unix socket. The
// benchmarks that change the farm put it back as it was before each run, so that each arm starts
// from the same farm.
#include <windows.h>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "SkyloomCOM.h"
#include "qvcomsrv.h"
#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "sky/automation.h"
#include "sky/bench_support.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/remote.h"
#include "sky/temp_machine.h"

extern char** environ;

namespace {

using namespace sky::farm;
using sky::Bstr;
using sky::ComPtr;

const sky::bench::FarmSize kSize = sky::bench::farmSize();
const int kServers = kSize.servers;
const int kApplications = kSize.applications;
// The applications an import or a publish step handles: the same at every size of farm.
constexpr int kHandled = 10000;
constexpr int kFolders = 20;

std::string serverName(int i) {
    return "SRV" + std::to_string(1000 + i);
}

FarmImage largeFarm() {
    FarmImage image;
    image.farm.name = "Bench Farm";
    // The user running the benchmark: the object model serves only the farm's administrators.
    image.administrators = {processActor().user};
    for (int z = 0; z < 5; ++z)
        image.zones.push_back({"Zone" + std::to_string(z), serverName(z)});
    for (int s = 0; s < kServers; ++s)
        image.servers.push_back({serverName(s), "Zone" + std::to_string(s % 5), 5, 2});
    for (int f = 0; f < kFolders; ++f)
        image.folders.push_back("Applications/Folder" + std::to_string(f));
    for (int i = 0; i < kApplications; ++i) {
        Application app;
        app.folder = "Applications/Folder" + std::to_string(i % kFolders);
        app.name = "Application " + std::to_string(i);
        app.description = "Benchmark application " + std::to_string(i);
        (void)app.settings.set(AppSetting::DefaultInitProg,
                               "C:\\Program Files\\App" + std::to_string(i) + "\\app.exe");
        for (int s = 0; s < 3; ++s)
            app.servers.push_back(serverName((i + s * 37) % 100));
        for (int u = 0; u < 5; ++u)
            app.users.push_back({2, 1, "CORP", "user" + std::to_string((i * 5 + u) % 3000)});
        app.groups = {{4, 1, "CORP", "Group" + std::to_string(i % 50)},
                      {6, 3, "corp.example", "Readers" + std::to_string(i % 7)}};
        IconPicture picture;
        picture.pixels.fill(0xFF000000u | static_cast<std::uint32_t>(i % 64) * 0x030507u);
        app.icon = encodeIcon(picture);
        image.applications.push_back(std::move(app));
    }
    return image;
}

std::filesystem::path programDirectory() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

// A machine with the large farm and the module registered, made once for all benchmarks and
// removed at the end of the run (endFarm), with the server it started.
struct Farm {
    sky::testing::TempMachine machine;
    // qvcomsrv_local_server, serving the classes across the process boundary; it goes first.
    std::optional<sky::testing::StartedServer> server;

    Farm() {
        const StoreLocation location = farmStoreOnMachine("Bench Farm");
        auto store = createFarmStore(location, FarmInfo{"Bench Farm"});
        if (!store || !setMachineFarmStore(location))
            std::abort();
        store_ = std::move(*store);
        restore();
        const std::u16string module =
            sky::machine::toWindowsPath(programDirectory() / "qvcomsrv.dll");
        const HMODULE loaded = LoadLibraryW(module.c_str());
        const auto registerServer =
            loaded ? reinterpret_cast<DllRegisterServerProc>(
                         reinterpret_cast<void (*)()>(GetProcAddress(loaded, "DllRegisterServer")))
                   : nullptr;
        if (!registerServer || FAILED(registerServer()))
            std::abort();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        serveOutOfProcess();
    }

    // The classes also name the QVCom service, and a server process serves them; creating
    // them for CLSCTX_LOCAL_SERVER then reaches that process.
    void serveOutOfProcess() {
        const std::u16string appId = u"{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}";
        for (const CLSID* clsid :
             {&CLSID_SkyloomFarm, &CLSID_SkyloomApplication, &CLSID_SkyloomAppSrvBinding}) {
            OLECHAR text[40];
            StringFromGUID2(*clsid, text, 40);
            setString(u"Software\\Classes\\CLSID\\" + std::u16string(text), u"AppID", appId);
        }
        setString(u"Software\\Classes\\APPID\\" + appId, u"LocalService", u"QVCom");
        server.emplace(std::vector<std::string>{
            (programDirectory() / "testprograms" / "qvcomsrv_local_server").string(),
            (programDirectory() / "qvcomsrv.dll").string()});
        if (server->firstLine() != "ready")
            std::abort();
    }

    static void setString(const std::u16string& key, const char16_t* name,
                          const std::u16string& value) {
        HKEY k = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &k, nullptr) != ERROR_SUCCESS)
            std::abort();
        RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2));
        RegCloseKey(k);
    }

    // Puts the farm back as it was made, undoing what a benchmark changed.
    void restore() {
        if (!store_->replace(image_))
            std::abort();
    }

private:
    const FarmImage image_ = largeFarm();
    std::unique_ptr<FarmStore> store_;
};

std::unique_ptr<Farm>& madeFarm() {
    static std::unique_ptr<Farm> made;
    return made;
}

Farm& farm() {
    if (!madeFarm())
        madeFarm() = std::make_unique<Farm>();
    return *madeFarm();
}

// Stops the server and removes the machine's folder, however the benchmarks ended.
void endFarm() {
    madeFarm().reset();
}

// An object by programmatic identifier, in this process or from the server process.
template <class T> ComPtr<T> create(const char16_t* progId, bool remote) {
    if (!remote)
        return sky::createObject<T>(progId);
    CLSID clsid{};
    sky::check(CLSIDFromProgID(progId, &clsid));
    ComPtr<T> object;
    sky::check(
        CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, sky::uuidOf<T>(), object.putVoid()));
    return object;
}

ComPtr<ISkyloomFarm6> openFarm(bool remote = false) {
    auto object = create<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm", remote);
    sky::check(object->Initialize(SkyloomWinFarmObject));
    return object;
}

template <class Getter, class Object> void readLong(Object* object, Getter getter) {
    LONG value = 0;
    sky::check((object->*getter)(&value));
    benchmark::DoNotOptimize(value);
}

template <class Getter, class Object> void readText(Object* object, Getter getter) {
    Bstr value;
    sky::check((object->*getter)(value.put()));
    benchmark::DoNotOptimize(value.get());
}

template <class Enumeration, class Getter, class Object>
void readEnum(Object* object, Getter getter) {
    Enumeration value{};
    sky::check((object->*getter)(&value));
    benchmark::DoNotOptimize(value);
}

// One property of the farm, read again and again.
void BM_PropertyGet(benchmark::State& state) {
    farm();
    auto object = openFarm(state.range(0) != 0);
    for (auto _ : state)
        readText(object.get(), &ISkyloomFarm6::get_FarmName);
}
BENCHMARK(BM_PropertyGet)->ArgName("remote")->Arg(0)->Arg(1);

// The floor of a call across the boundary: 32 bytes to another process over a Unix socket and
// 32 bytes back.
void BM_SocketRoundTrip(benchmark::State& state) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        std::abort();
    const pid_t echo = fork();
    if (echo == 0) {
        close(pair[0]);
        char buffer[32];
        while (read(pair[1], buffer, sizeof buffer) == sizeof buffer)
            if (write(pair[1], buffer, sizeof buffer) != sizeof buffer)
                break;
        _exit(0);
    }
    close(pair[1]);
    char buffer[32] = {};
    for (auto _ : state) {
        if (write(pair[0], buffer, sizeof buffer) != sizeof buffer ||
            read(pair[0], buffer, sizeof buffer) != sizeof buffer)
            std::abort();
    }
    close(pair[0]);
    kill(echo, SIGTERM);
}
BENCHMARK(BM_SocketRoundTrip);

// The export's reads: every application, its names, every Windows setting, its servers, users
// and groups.
// Reads every application and setting of the farm once, as the export does; the number of
// applications read.
std::int64_t readEverySetting(bool remote) {
    std::int64_t applications = 0;
    ComPtr<ISkyloomApplications> apps;
    sky::check(openFarm(remote)->get_Applications(apps.put()));
    for (const auto& app : sky::enumerateAs<ISkyloomApplication5>(apps.get())) {
        readEnum<SkyloomObjectType>(app.get(), &ISkyloomApplication5::get_AppType);
        readText(app.get(), &ISkyloomApplication5::get_AppName);
        readText(app.get(), &ISkyloomApplication5::get_DistinguishedName);
        readText(app.get(), &ISkyloomApplication5::get_Description);
        ComPtr<ISkyloomWinApp> first;
        sky::check(app->get_WinAppObject(first.put()));
        auto s = first.as<ISkyloomWinApp4>();
        ISkyloomWinApp4* w = s.get();
        readText(w, &ISkyloomWinApp4::get_ParentFolderDN);
        readLong(w, &ISkyloomWinApp4::get_EnableApp);
        readEnum<QVWinEncryptionLevel>(w, &ISkyloomWinApp4::get_DefaultEncryption);
        readText(w, &ISkyloomWinApp4::get_DefaultInitProg);
        readText(w, &ISkyloomWinApp4::get_DefaultWorkDir);
        readEnum<QVWinSoundType>(w, &ISkyloomWinApp4::get_DefaultSoundType);
        readEnum<QVWinWindowColor>(w, &ISkyloomWinApp4::get_DefaultWindowColor);
        readEnum<QVWinWindowType>(w, &ISkyloomWinApp4::get_DefaultWindowType);
        readLong(w, &ISkyloomWinApp4::get_DefaultWindowWidth);
        readLong(w, &ISkyloomWinApp4::get_DefaultWindowHeight);
        readLong(w, &ISkyloomWinApp4::get_DefaultWindowScale);
        readEnum<QVWinDesktopIntegrate>(w, &ISkyloomWinApp4::get_DesktopIntegrate);
        readEnum<QVWinAppQVAttribute>(w, &ISkyloomWinApp4::get_QVAttributes);
        readEnum<QVWinAppLumoAttribute>(w, &ISkyloomWinApp4::get_LumoAttributes);
        readText(w, &ISkyloomWinApp4::get_LumoFolder);
        readEnum<QVWinAppCPUPriorityLevel>(w, &ISkyloomWinApp4::get_CPUPriority);
        readLong(w, &ISkyloomWinApp4::get_InstanceLimit);
        readLong(w, &ISkyloomWinApp4::get_AllowMultiInstancePerUser);
        readLong(w, &ISkyloomWinApp4::get_EnableSSLConnections);
        readText(w, &ISkyloomWinApp4::get_StartMenuFolder);
        readLong(w, &ISkyloomWinApp4::get_PlaceUnderProgramsFolder);
        readLong(w, &ISkyloomWinApp4::get_WaitOnPrinterCreation);
        readLong(w, &ISkyloomWinApp4::get_AddToClientStartMenu);
        readLong(w, &ISkyloomWinApp4::get_AddShortcutToClientDesktop);
        readLong(w, &ISkyloomWinApp4::get_HideDisabledApp);

        ComPtr<ISkyloomServers> servers;
        sky::check(app->get_Servers(servers.put()));
        for (const auto& server : sky::enumerateAs<ISkyloomServer5>(servers.get()))
            readText(server.get(), &ISkyloomServer5::get_ServerName);
        ComPtr<ISkyloomUsers> users;
        sky::check(app->get_Users(users.put()));
        for (const auto& user : sky::enumerateAs<ISkyloomUser5>(users.get())) {
            readEnum<SkyloomAccountType>(user.get(), &ISkyloomUser5::get_AccountType);
            readEnum<QVAccountAuthorityType>(user.get(), &ISkyloomUser5::get_AAType);
            readText(user.get(), &ISkyloomUser5::get_AAName);
            readText(user.get(), &ISkyloomUser5::get_UserName);
        }
        ComPtr<ISkyloomGroups> groups;
        sky::check(app->get_Groups(groups.put()));
        for (const auto& group : sky::enumerateAs<ISkyloomGroup5>(groups.get()))
            readText(group.get(), &ISkyloomGroup5::get_GroupName);
        ++applications;
    }
    return applications;
}

void BM_EnumerateAndReadEverySetting(benchmark::State& state) {
    farm();
    std::int64_t applications = 0;
    const std::uint64_t before = sky::remote::requestsSent();
    for (auto _ : state)
        applications += readEverySetting(state.range(0) != 0);
    state.SetItemsProcessed(applications);
    // Round trips to the server per application (0 in process).
    state.counters["trips/app"] = static_cast<double>(sky::remote::requestsSent() - before) /
                                  static_cast<double>(std::max<std::int64_t>(applications, 1));
}
BENCHMARK(BM_EnumerateAndReadEverySetting)
    ->Unit(benchmark::kMillisecond)
    ->ArgName("remote")
    ->Arg(0)
    ->Arg(1);

// The same reads by several clients at once across the boundary: this process and `clients - 1`
// processes forked from it, each with its own connection to the server. Items are the
// applications read by all of them; the time is the wall clock until the last one is done.
void BM_EnumerateTogether(benchmark::State& state) {
    farm();
    const auto clients = static_cast<int>(state.range(0));
    std::int64_t applications = 0;
    for (auto _ : state) {
        std::vector<pid_t> others;
        for (int i = 1; i < clients; ++i) {
            const pid_t child = fork();
            if (child == 0) {
                CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
                _exit(readEverySetting(true) > 0 ? 0 : 1);
            }
            others.push_back(child);
        }
        applications += readEverySetting(true);
        for (pid_t child : others) {
            int status = 0;
            waitpid(child, &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                std::abort();
        }
    }
    state.SetItemsProcessed(applications * clients);
}
BENCHMARK(BM_EnumerateTogether)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ArgName("clients")
    ->Arg(1)
    ->Arg(4)
    ->Iterations(1);

// The import's creation: AddApplication4, name, folder, settings, a server, SaveData.
void BM_CreateAndSaveApplications(benchmark::State& state) {
    farm().restore();
    int round = 0;
    std::int64_t saved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const bool remote = state.range(0) != 0;
        auto farmObject = openFarm(remote);
        ComPtr<ISkyloomFolder5> root;
        sky::check(farmObject->GetFolder5(Bstr(u"Applications").get(), root.put()));
        const std::string folder = "Imported" + std::to_string(round++);
        sky::check(root->CreateSubFolder(Bstr::fromUtf8(folder).get()));
        const Bstr folderDn = Bstr::fromUtf8("Applications/" + folder);
        auto binding = create<ISkyloomAppSrvBinding2>(u"SkyloomCOM.SkyloomAppSrvBinding", remote);
        sky::check(binding->Initialize(SkyloomWinSrvObject, Bstr(u"SRV1000").get(), Bstr().get()));
        state.ResumeTiming();
        for (int i = 0; i < kHandled; ++i) {
            ComPtr<ISkyloomApplication4> app;
            sky::check(farmObject->AddApplication4(SkyloomWinAppObject, app.put()));
            ComPtr<ISkyloomWinApp4> settings;
            sky::check(app->get_WinAppObject4(settings.put()));
            sky::check(settings->put_AppName(Bstr::fromUtf8("New " + std::to_string(i)).get()));
            sky::check(settings->put_ParentFolderDN(folderDn.get()));
            sky::check(settings->put_DefaultWindowType(QVWinWindow1024X768));
            sky::check(settings->put_DefaultInitProg(Bstr(u"C:\\Apps\\new.exe").get()));
            sky::check(settings->AddServer(binding.as<ISkyloomAppSrvBinding>().get()));
            sky::check(app->SaveData());
            ++saved;
        }
    }
    state.SetItemsProcessed(saved);
}
BENCHMARK(BM_CreateAndSaveApplications)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->ArgName("remote")
    ->Arg(0)
    ->Arg(1);

// The publish step for 10,000 pairs (the first applications of the farm): a new application object
// and binding per pair, Initialize, LoadData(-1), AddServer, SaveData.
void BM_AddServerAndSave(benchmark::State& state) {
    farm().restore();
    int round = 0;
    std::int64_t pairs = 0;
    const bool remote = state.range(0) != 0;
    for (auto _ : state) {
        const Bstr server = Bstr::fromUtf8(serverName(400 + round++));
        for (int i = 0; i < kHandled; ++i) {
            const Bstr dn = Bstr::fromUtf8("Applications/Folder" + std::to_string(i % kFolders) +
                                           "/Application " + std::to_string(i));
            auto app = create<ISkyloomApplication5>(u"SkyloomCOM.SkyloomApplication", remote);
            sky::check(app->Initialize(SkyloomWinAppObject, dn.get()));
            sky::check(app->LoadData(-1));
            auto binding =
                create<ISkyloomAppSrvBinding2>(u"SkyloomCOM.SkyloomAppSrvBinding", remote);
            sky::check(binding->Initialize(SkyloomWinSrvObject, server.get(), Bstr().get()));
            sky::check(app->AddServer(binding.as<ISkyloomAppSrvBinding>().get()));
            sky::check(app->SaveData());
            ++pairs;
        }
    }
    state.SetItemsProcessed(pairs);
}
BENCHMARK(BM_AddServerAndSave)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->ArgName("remote")
    ->Arg(0)
    ->Arg(1);

} // namespace

int main(int argc, char** argv) {
    const int result = sky::bench::runWithRatios(
        argc, argv,
        {{"BM_PropertyGet/remote:1", "BM_SocketRoundTrip"},
         {"BM_PropertyGet/remote:1", "BM_PropertyGet/remote:0"},
         {"BM_EnumerateAndReadEverySetting/remote:1", "BM_EnumerateAndReadEverySetting/remote:0"},
         {"BM_CreateAndSaveApplications/remote:1", "BM_CreateAndSaveApplications/remote:0"},
         {"BM_AddServerAndSave/remote:1", "BM_AddServerAndSave/remote:0"}});
    endFarm();
    return result;
}

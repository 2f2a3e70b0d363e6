// The object model through the automation layer, on a farm of 500 servers and 10,000
// applications with 3 servers, 5 users, 2 groups and an icon each: the export's read of every
// application and setting, the import's creation of applications, and the publish step's
// AddServer and SaveData pairs. Each runs in process (remote:0) and across the process boundary
// (remote:1), against the module served by qvcomsrv_local_server as the service serves it; beside
// them a single property get, and its floor: a plain round trip over a Unix socket.
#include <windows.h>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "SkyloomCOM.h"
#include "qvcomsrv.h"
#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "sky/automation.h"
#include "sky/machine.h"
#include "sky/temp_machine.h"

extern char** environ;

namespace {

using namespace sky::farm;
using sky::Bstr;
using sky::ComPtr;

constexpr int kServers = 500;
constexpr int kApplications = 10000;
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

// A machine with the large farm and the module registered, made once for all benchmarks.
struct Farm {
    sky::testing::TempMachine machine;

    Farm() {
        const StoreLocation location = farmStoreOnMachine("Bench Farm");
        auto store = createFarmStore(location, FarmInfo{"Bench Farm"});
        if (!store || !(*store)->replace(largeFarm()) || !setMachineFarmStore(location))
            std::abort();
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
        int input[2], output[2];
        if (pipe(input) != 0 || pipe(output) != 0)
            std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        posix_spawn_file_actions_addclose(&actions, input[1]);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        std::string program = (programDirectory() / "testprograms" / "qvcomsrv_local_server");
        std::string module = (programDirectory() / "qvcomsrv.dll");
        char* argv[] = {program.data(), module.data(), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) != 0)
            std::abort();
        close(input[0]);
        close(output[1]);
        serverInput = input[1]; // the server stops when this process ends and closes it
        char line[16] = {};
        FILE* out = fdopen(output[0], "r");
        if (!std::fgets(line, sizeof line, out) || std::string(line) != "ready\n")
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

    int serverInput = -1;
};

Farm& farm() {
    static Farm* farm = new Farm;
    return *farm;
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
void BM_EnumerateAndReadEverySetting(benchmark::State& state) {
    farm();
    std::int64_t applications = 0;
    for (auto _ : state) {
        ComPtr<ISkyloomApplications> apps;
        sky::check(openFarm(state.range(0) != 0)->get_Applications(apps.put()));
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
    }
    state.SetItemsProcessed(applications);
}
BENCHMARK(BM_EnumerateAndReadEverySetting)
    ->Unit(benchmark::kMillisecond)
    ->ArgName("remote")
    ->Arg(0)
    ->Arg(1);

// The import's creation: AddApplication4, name, folder, settings, a server, SaveData.
void BM_CreateAndSaveApplications(benchmark::State& state) {
    farm();
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
        for (int i = 0; i < kApplications; ++i) {
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

// The publish step for 10,000 pairs: a new application object and binding per pair, Initialize,
// LoadData(-1), AddServer, SaveData.
void BM_AddServerAndSave(benchmark::State& state) {
    farm();
    int round = 0;
    std::int64_t pairs = 0;
    const bool remote = state.range(0) != 0;
    for (auto _ : state) {
        const Bstr server = Bstr::fromUtf8(serverName(400 + round++));
        for (int i = 0; i < kApplications; ++i) {
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

BENCHMARK_MAIN();

// Export and import of a farm of 10,000 applications (500 servers; 3 servers, 5 users, 2 groups
// and an icon each; 100,000 on 5,000 servers with SKY_BENCH_FARM=large, which the export refuses
// while its counts are 16-bit), in applications per second, each beside its floor measured in
// the same run, the ratios printed at the end:
// for export, the same rows read straight from the store and the same bytes written without the
// object model; for import, the same applications saved straight into the store. Export and
// import run with the object model in process (remote:0) and across the process boundary
// (remote:1), served by qvcomsrv_local_server as the QVCom service serves it. Both arms write
// their definition files, icons and scratch icons on a tmpfs (/dev/shm) when there is one, the
// store staying in the machine's folder (WorkFolder says why).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <tuple>

#include <benchmark/benchmark.h>

#include "definitions/definition_file.h"
#include "definitions/export_farm.h"
#include "definitions/import_farm.h"
#include "definitions/import_preview.h"
#include "definitions/text_file.h"
#include "qvcomsrv/store/farm_store.h"
#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/machine_farms.h"
#include "shell/test_farm.h"
#include "sky/bench_support.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/remote.h"
#include "sky/temp_machine.h"

namespace brask {
namespace {

namespace fs = std::filesystem;
using namespace sky::farm;

const sky::bench::FarmSize kSize = sky::bench::farmSize();
const int kServers = kSize.servers;
const int kApplications = kSize.applications;
constexpr int kFolders = 20;
const std::string kFarmName = "Bench Farm";

std::string serverName(int i) {
    return "SRV" + std::to_string(1000 + i);
}

// The farm without applications or folders: what import fills.
FarmImage emptyLargeFarm() {
    FarmImage image;
    image.farm.name = kFarmName;
    image.administrators = {testing::currentUser()};
    for (int z = 0; z < 5; ++z) {
        image.zones.push_back({"Zone" + std::to_string(z), serverName(z)});
    }
    for (int s = 0; s < kServers; ++s) {
        image.servers.push_back({serverName(s), "Zone" + std::to_string(s % 5), 5, 2});
    }
    return image;
}

FarmImage largeFarm() {
    FarmImage image = emptyLargeFarm();
    for (int f = 0; f < kFolders; ++f) {
        image.folders.push_back("Applications/Folder" + std::to_string(f));
    }
    for (int i = 0; i < kApplications; ++i) {
        Application app;
        app.folder = "Applications/Folder" + std::to_string(i % kFolders);
        app.name = "Application " + std::to_string(i);
        app.description = "Benchmark application " + std::to_string(i);
        (void)app.settings.set(AppSetting::DefaultInitProg,
                               "C:\\Program Files\\App" + std::to_string(i) + "\\app.exe");
        for (int s = 0; s < 3; ++s) {
            app.servers.push_back(serverName((i + s * 37) % 100));
        }
        for (int u = 0; u < 5; ++u) {
            app.users.push_back({2, 1, "CORP", "user" + std::to_string((i * 5 + u) % 3000)});
        }
        app.groups = {{4, 1, "CORP", "Group" + std::to_string(i % 50)},
                      {6, 3, "corp.example", "Readers" + std::to_string(i % 7)}};
        IconPicture picture;
        picture.pixels.fill(0xFF000000u | static_cast<std::uint32_t>(i % 64) * 0x030507u);
        app.icon = encodeIcon(picture);
        image.applications.push_back(std::move(app));
    }
    return image;
}

void serve(const FarmImage& image) {
    const StoreLocation location = farmStoreOnMachine(image.farm.name);
    auto store = fs::exists(location.path) ? openFarmStore(location)
                                           : createFarmStore(location, FarmInfo{image.farm.name});
    if (!store || !(*store)->replace(image) || !setMachineFarmStore(location)) {
        std::abort();
    }
}

// The folder the benchmarks write their files in: on a tmpfs when the machine has one
// (/dev/shm), else in the machine's folder. An export deletes and makes 10,000 icons, and on a
// file system that keeps freed inodes from reuse for a minute (ext4 without a journal, here) the
// time to make each file grows with the files anyone deleted on it lately: the export's times
// would measure that file system and its other users (other tests deleting their temporary
// folders) more than the export. Removed when the benchmarks end.
struct WorkFolder {
    fs::path path;
    bool own = false;

    WorkFolder() {
        std::error_code ec;
        if (fs::is_directory("/dev/shm", ec)) {
            std::string pattern = "/dev/shm/brask-bench-XXXXXX";
            if (mkdtemp(pattern.data())) {
                path = pattern;
                own = true;
                return;
            }
        }
        path = sky::machine::root() / "work";
        fs::create_directories(path);
    }
    ~WorkFolder() {
        if (own) {
            std::error_code ec;
            fs::current_path("/", ec);
            fs::remove_all(path, ec);
        }
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
};

// A machine with the module registered and the large farm, made once; the benchmarks work in
// the work folder. Removed at the end of the run (endMachine), with the server it started.
struct Machine {
    sky::testing::TempMachine machine;
    // qvcomsrv_local_server, once a benchmark crosses the process boundary; it goes first.
    std::optional<sky::testing::StartedServer> server;
    fs::path work;
    const FarmImage large = largeFarm();
    bool changed = false; // the farm is not the large farm as made

    Machine() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        testing::registerObjectModel();
        static const WorkFolder folder;
        work = folder.path;
        fs::current_path(work);
        serve(large);
        std::printf("Files written in %s (%s)\n", work.c_str(),
                    folder.own ? "a tmpfs" : "no tmpfs at /dev/shm: the machine's folder");
    }
    ~Machine() {
        server.reset();
        CoUninitialize();
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;
    // The large farm as made, whatever a benchmark before did to it.
    void serveLargeFarm() {
        if (changed) {
            serve(large);
        }
        changed = false;
    }
    // The large farm without its applications and folders, for an import to fill.
    void serveEmptyFarm() {
        serve(emptyLargeFarm());
        changed = true;
    }
    std::u16string windowsFile(const std::string& name) const {
        return sky::machine::toWindowsPath(work / name);
    }
};

std::unique_ptr<Machine>& madeMachine() {
    static std::unique_ptr<Machine> made;
    return made;
}

Machine& machine() {
    if (!madeMachine()) {
        madeMachine() = std::make_unique<Machine>();
    }
    return *madeMachine();
}

// Stops the server and removes the machine's folder, however the benchmarks ended.
void endMachine() {
    madeMachine().reset();
}

std::u16string classKey(const std::u16string& clsid) {
    return u"Software\\Classes\\CLSID\\" + clsid;
}

void setString(const std::u16string& key, const char16_t* name, const std::u16string& value) {
    HKEY k = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                        nullptr) != ERROR_SUCCESS) {
        std::abort();
    }
    RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(k);
}

// Where BraskAdmin's code finds the object model: in process, as `qvfarm register` leaves a
// machine, or across the process boundary, as `qvcom /RegServer` does (the classes name the
// QVCom service's AppID and have no in-process server), served by qvcomsrv_local_server, started
// the first time and stopped with the machine.
void useObjectModel(bool remote) {
    Machine& m = machine();
    if (!remote) {
        testing::registerObjectModel();
        return;
    }
    if (!m.server) {
        const fs::path bin = sky::testing::buildBin();
        m.server.emplace(
            std::vector<std::string>{(bin / "testprograms" / "qvcomsrv_local_server").string(),
                                     (bin / "qvcomsrv.dll").string()});
    }
    if (m.server->firstLine() != "ready") {
        std::abort();
    }
    const std::u16string appId = u"{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}";
    setString(u"Software\\Classes\\APPID\\" + appId, u"LocalService", u"QVCom");
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID", 0, KEY_READ, &classes) !=
        ERROR_SUCCESS) {
        std::abort();
    }
    std::vector<std::u16string> registered;
    WCHAR name[64];
    for (DWORD i = 0, size = 64; RegEnumKeyExW(classes, i, name, &size, nullptr, nullptr, nullptr,
                                               nullptr) == ERROR_SUCCESS;
         ++i, size = 64) {
        registered.push_back(name);
    }
    RegCloseKey(classes);
    for (const std::u16string& clsid : registered) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (classKey(clsid) + u"\\InprocServer32").c_str());
        setString(classKey(clsid), u"AppID", appId);
    }
}

// Discards what the commands report; a report fails the benchmark.
class CountingFeedback final : public Feedback {
public:
    void progress(float) override {}
    void progressDone() override {}
    void status(std::u16string_view) override {}
    void reportError(std::int32_t, std::u16string_view description) override {
        failure = sky::narrow(description);
    }
    void notice(std::u16string_view, std::u16string_view) override {}
    std::string failure;
};

std::string textOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Once, in milliseconds by the wall clock, in process and across the process boundary.
void inProcessAndAcross(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->ArgName("remote");
    b->Arg(0)->Arg(1);
}

// Round trips to the object server per application of the run (0 in process).
void countRoundTrips(benchmark::State& run, std::uint64_t before) {
    run.counters["trips/app"] = static_cast<double>(sky::remote::requestsSent() - before) /
                                static_cast<double>(run.iterations() * kApplications);
}

// The temporary folder (TMP) a folder of the work folder while it lives: an export writes its
// scratch icon there, and on the same file system as its icons in both arms. The import's
// preview keeps its scratch farm in the machine's temporary folder, as the import keeps the farm.
class TemporaryFolderInWork {
public:
    explicit TemporaryFolderInWork(const fs::path& work) {
        WCHAR value[MAX_PATH + 1];
        const DWORD length = GetEnvironmentVariableW(u"TMP", value, MAX_PATH + 1);
        if (length != 0 && length <= MAX_PATH)
            before_ = std::u16string(value, length);
        fs::create_directories(work / "temp");
        SetEnvironmentVariableW(u"TMP", sky::machine::toWindowsPath(work / "temp").c_str());
    }
    ~TemporaryFolderInWork() {
        SetEnvironmentVariableW(u"TMP", before_ ? before_->c_str() : nullptr);
    }
    TemporaryFolderInWork(const TemporaryFolderInWork&) = delete;
    TemporaryFolderInWork& operator=(const TemporaryFolderInWork&) = delete;

private:
    std::optional<std::u16string> before_;
};

void BM_ExportFarm(benchmark::State& run) {
    Machine& m = machine();
    const TemporaryFolderInWork temporary(m.work);
    m.serveLargeFarm();
    useObjectModel(run.range(0) != 0);
    // Each arm writes its icons into a folder of its own: the second would otherwise first
    // remove the first one's 10,000 icons, and a file system without a journal then searches
    // through every inode freed within the last minute for each icon it makes.
    const fs::path folder = m.work / ("export-remote-" + std::to_string(run.range(0)));
    fs::create_directories(folder);
    fs::current_path(folder);
    AdminState state;
    CountingFeedback feedback;
    const std::uint64_t before = sky::remote::requestsSent();
    for (auto _ : run) {
        if (!exportFarm(state, feedback, m.windowsFile("export.ini"))) {
            fs::current_path(m.work);
            run.SkipWithError(feedback.failure.c_str());
            return;
        }
    }
    fs::current_path(m.work);
    run.SetItemsProcessed(run.iterations() * kApplications);
    countRoundTrips(run, before);
}
BENCHMARK(BM_ExportFarm)->Apply(inProcessAndAcross);

// The store's value of an application key, rendered as the export renders it.
std::u16string storeValue(const Application& app, std::u16string_view key) {
    if (key == u"AppName") {
        return sky::widen(app.name);
    }
    if (key == u"DistinguishedName") {
        return sky::widen(app.distinguishedName());
    }
    if (key == u"Description") {
        return sky::widen(app.description);
    }
    if (key == u"ParentFolderDN") {
        return sky::widen(app.folder);
    }
    for (std::size_t i = 0; i < AppSettings::size(); ++i) {
        if (sky::widen(AppSettings::def(i).name) == key) {
            const SettingValue& value = app.settings.at(i);
            if (const auto* number = std::get_if<std::int32_t>(&value)) {
                return definition::decimal(*number);
            }
            return sky::widen(std::get<std::string>(value));
        }
    }
    return {};
}

std::u16string farmValue(const FarmInfo& farm, std::u16string_view key) {
    std::u16string property(key);
    if (key == u"OvraKeepAliveEnable") {
        property = u"EnableOvraKeepAlive";
    } else if (key == u"OvraKeepAliveTime") {
        property = u"OvraKeepAliveTimeout";
    }
    for (std::size_t i = 0; i < FarmSettings::size(); ++i) {
        if (sky::widen(FarmSettings::def(i).name) == property) {
            const SettingValue& value = farm.settings.at(i);
            if (const auto* number = std::get_if<std::int32_t>(&value)) {
                return key == u"OvraVideoBufferSize" ? definition::kilobytes(*number)
                                                     : definition::decimal(*number);
            }
            return sky::widen(std::get<std::string>(value));
        }
    }
    return {};
}

// The floor of export: the rows straight from the store, the same file and icons written.
void BM_ExportFloor(benchmark::State& run) {
    Machine& m = machine();
    m.serveLargeFarm();
    useObjectModel(false);
    const fs::path icons = m.work / "floor-icons";
    fs::create_directories(icons);
    const std::u16string iconsFolder = sky::machine::toWindowsPath(m.work) + u"\\icons\\";
    for (auto _ : run) {
        auto store = openMachineFarmStore();
        auto farm = (*store)->farm();
        auto applications = (*store)->applications(IconLoading::Load);
        if (!farm || !applications) {
            run.SkipWithError("the store cannot be read");
            return;
        }
        AnsiTextWriter file(m.windowsFile("floor.ini"));
        const auto line = [&file](std::u16string_view key, std::u16string_view value) {
            (void)file.writeLine(std::u16string(key) + u"=" + definition::oneLine(value));
        };
        (void)file.writeLine(u"[Farm]");
        line(u"Farmname", sky::widen(farm->name));
        for (const definition::FarmKey& key : definition::farmKeys()) {
            line(key.key, farmValue(*farm, key.key));
        }
        for (const Application& app : *applications) {
            file.writeEmptyLine();
            (void)file.writeLine(u"[Application]");
            for (const definition::ApplicationKey& key : definition::applicationKeys()) {
                line(key.key, storeValue(app, key.key));
            }
            file.writeEmptyLine();
            (void)file.writeLine(u"[Servers]");
            for (const std::string& server : app.servers) {
                line(u"Server", sky::widen(server));
            }
            for (const auto& [header, key, accounts] :
                 {std::tuple{u"[Users]", u"User", &app.users},
                  std::tuple{u"[Groups]", u"Group", &app.groups}}) {
                file.writeEmptyLine();
                (void)file.writeLine(header);
                for (const Account& account : *accounts) {
                    line(key, definition::accountValue({account.accountType, account.authorityType,
                                                        sky::widen(account.authorityName),
                                                        sky::widen(account.name)}));
                }
            }
            file.writeEmptyLine();
            (void)file.writeLine(u"[Icon]");
            const Bytes& icon = iconOf(*app.icon);
            std::ofstream(icons / (app.name + ".ico"), std::ios::binary)
                .write(reinterpret_cast<const char*>(icon.data()),
                       static_cast<std::streamsize>(icon.size()));
            line(u"Icon", iconsFolder + sky::widen(app.name) + u".ico");
            file.writeEmptyLine();
        }
        file.close();
    }
    run.SetItemsProcessed(run.iterations() * kApplications);
    // The floor writes what the export writes.
    AdminState state;
    CountingFeedback feedback;
    if (!exportFarm(state, feedback, m.windowsFile("export.ini")) ||
        textOf(m.work / "export.ini") != textOf(m.work / "floor.ini")) {
        run.SkipWithError("the floor did not write the bytes the export writes");
    }
}
BENCHMARK(BM_ExportFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The large farm exported into the file that import and its preview read.
bool exportImportFile(benchmark::State& run, AdminState& state, CountingFeedback& feedback) {
    machine().serveLargeFarm();
    if (!exportFarm(state, feedback, machine().windowsFile("import.ini"))) {
        run.SkipWithError(feedback.failure.c_str());
        return false;
    }
    return true;
}

void BM_ImportFarm(benchmark::State& run) {
    Machine& m = machine();
    useObjectModel(run.range(0) != 0);
    AdminState state;
    CountingFeedback feedback;
    if (!exportImportFile(run, state, feedback)) {
        return;
    }
    std::uint64_t trips = 0;
    for (auto _ : run) {
        run.PauseTiming();
        m.serveEmptyFarm();
        run.ResumeTiming();
        const std::uint64_t before = sky::remote::requestsSent();
        if (!importFarm(state, feedback, m.windowsFile("import.ini"))) {
            run.SkipWithError(feedback.failure.c_str());
            return;
        }
        trips += sky::remote::requestsSent() - before;
    }
    run.SetItemsProcessed(run.iterations() * kApplications);
    countRoundTrips(run, sky::remote::requestsSent() - trips);
    auto store = openMachineFarmStore();
    auto arrived = (*store)->applications(IconLoading::Skip);
    if (!arrived || arrived->size() != static_cast<std::size_t>(kApplications)) {
        run.SkipWithError("not every application arrived");
    }
}
BENCHMARK(BM_ImportFarm)->Apply(inProcessAndAcross);

// The preview of the same import: the same file, the farm copied and the import run on the copy,
// then the farm before and after compared.
void BM_PreviewImport(benchmark::State& run) {
    Machine& m = machine();
    useObjectModel(false);
    AdminState state;
    CountingFeedback feedback;
    if (!exportImportFile(run, state, feedback)) {
        return;
    }
    m.serveEmptyFarm();
    for (auto _ : run) {
        const ImportPreview preview =
            previewCommand(PreviewedCommand::Import, u"", m.windowsFile("import.ini"), feedback);
        if (!preview.ranToEnd() ||
            preview.applications.size() != static_cast<std::size_t>(kApplications)) {
            run.SkipWithError("the preview does not add every application");
            return;
        }
    }
    run.SetItemsProcessed(run.iterations() * kApplications);
}
BENCHMARK(BM_PreviewImport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The floor of import: the same folders created and the same applications saved straight into
// the store, one at a time.
void BM_ImportFloor(benchmark::State& run) {
    Machine& m = machine();
    const FarmImage& image = m.large;
    for (auto _ : run) {
        run.PauseTiming();
        m.serveEmptyFarm();
        auto store = openMachineFarmStore();
        run.ResumeTiming();
        for (const std::string& folder : image.folders) {
            (void)(*store)->createSubFolder("Applications", folder.substr(13));
        }
        for (const Application& app : image.applications) {
            if (!(*store)->saveApplication(app, nullptr)) {
                run.SkipWithError("the store refused an application");
                return;
            }
        }
    }
    run.SetItemsProcessed(run.iterations() * kApplications);
}
BENCHMARK(BM_ImportFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace
} // namespace brask

int main(int argc, char** argv) {
    const int result =
        sky::bench::runWithRatios(argc, argv,
                                  {{"BM_ExportFarm/remote:0", "BM_ExportFloor"},
                                   {"BM_ExportFarm/remote:1", "BM_ExportFarm/remote:0"},
                                   {"BM_ImportFarm/remote:0", "BM_ImportFloor"},
                                   {"BM_ImportFarm/remote:1", "BM_ImportFarm/remote:0"},
                                   {"BM_PreviewImport", "BM_ImportFarm/remote:0"}});
    brask::endMachine();
    return result;
}

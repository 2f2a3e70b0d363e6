// The farm store on a large farm: 500 servers, 10,000 applications with 3 servers, 5 users,
// 2 groups and an icon each.
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "qvcomsrv/store/icon.h"
#include "qvcomsrv/store/sqlite_farm_store.h"

namespace fs = std::filesystem;
using namespace sky::farm;

namespace {

constexpr int kServers = 500;
constexpr int kApplications = 10000;
constexpr int kFolders = 20;

std::string serverName(int i) {
    return "SRV" + std::to_string(1000 + i);
}

fs::path scratchDirectory() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "farmstore-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        return fs::path(pattern);
    }();
    return dir;
}

Bytes iconFor(int i) {
    IconPicture picture;
    picture.pixels.fill(0xFF000000u | static_cast<std::uint32_t>(i * 2654435761u >> 8));
    return encodeIcon(picture);
}

Application benchApplication(int i) {
    Application app;
    app.folder = "Applications/Folder" + std::to_string(i % kFolders);
    app.name = "Application " + std::to_string(i);
    app.description = "Benchmark application " + std::to_string(i);
    (void)app.settings.set(AppSetting::DefaultInitProg,
                           "C:\\Program Files\\App" + std::to_string(i) + "\\app.exe");
    (void)app.settings.set(AppSetting::DefaultEncryption, i % 6);
    for (int s = 0; s < 3; ++s)
        app.servers.push_back(serverName((i + s * 37) % 100)); // the first 100 servers
    for (int u = 0; u < 5; ++u)
        app.users.push_back({2, 1, "CORP", "user" + std::to_string((i * 5 + u) % 3000)});
    app.groups = {{4, 1, "CORP", "Group" + std::to_string(i % 50)},
                  {6, 3, "corp.example", "Readers" + std::to_string(i % 7)}};
    app.icon = iconFor(i % 64);
    return app;
}

// A farm of 500 servers and the folders, and no applications.
FarmImage emptyLargeFarm() {
    FarmImage image;
    image.farm.name = "Bench";
    image.zones = {{"East", serverName(0)}, {"West", serverName(1)}};
    for (int i = 0; i < kServers; ++i)
        image.servers.push_back({serverName(i), i % 2 ? "West" : "East", 5, i % 3 ? 2 : 0});
    for (int f = 0; f < kFolders; ++f)
        image.folders.push_back("Applications/Folder" + std::to_string(f));
    return image;
}

std::unique_ptr<FarmStore> freshStore(const std::string& name, const FarmImage& image) {
    const std::string path = (scratchDirectory() / (name + ".db")).string();
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(path + suffix);
    auto store = createSqliteFarmStore(path, image.farm);
    if (!store || !(*store)->replace(image))
        std::abort();
    return std::move(*store);
}

// The full farm, built once and shared by the benchmarks that only read or publish.
FarmStore& largeFarm() {
    static std::unique_ptr<FarmStore> store = [] {
        FarmImage image = emptyLargeFarm();
        for (int i = 0; i < kApplications; ++i)
            image.applications.push_back(benchApplication(i));
        return freshStore("large", image);
    }();
    return *store;
}

void BM_EnumerateApplicationsReadingEverySetting(benchmark::State& state) {
    FarmStore& store = largeFarm();
    const auto icons = state.range(0) ? IconLoading::Load : IconLoading::Skip;
    for (auto _ : state) {
        auto apps = store.applications(icons);
        if (!apps || apps->size() != kApplications)
            state.SkipWithError("enumeration failed");
        std::int64_t sum = 0;
        for (const Application& app : *apps) {
            for (std::size_t i = 0; i < AppSettings::size(); ++i) {
                const auto id = static_cast<AppSetting>(i);
                sum += definition(id).isText()
                           ? static_cast<std::int64_t>(app.settings.text(id).size())
                           : app.settings.number(id);
            }
            sum += static_cast<std::int64_t>(app.servers.size() + app.users.size() +
                                             app.groups.size());
            if (app.icon)
                sum += static_cast<std::int64_t>(app.icon->size());
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kApplications);
    state.counters["applications/s"] = benchmark::Counter(
        static_cast<double>(kApplications), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_EnumerateApplicationsReadingEverySetting)
    ->ArgName("icons")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// As take-offline and clone read a server: its applications, without icons.
void BM_ApplicationsOfOneServer(benchmark::State& state) {
    FarmStore& store = largeFarm();
    int i = 0;
    for (auto _ : state) {
        auto apps = store.applicationsOnServer(serverName(i++ % 100), IconLoading::Skip);
        if (!apps || apps->empty())
            state.SkipWithError("enumeration failed");
    }
}
BENCHMARK(BM_ApplicationsOfOneServer)->Unit(benchmark::kMillisecond);

// Saves with the audit trail recording each one (argument 1) and without it (0), in one run, so
// the trail's cost is the difference.
void BM_CreateAndSave10000Applications(benchmark::State& state) {
    const bool audited = state.range(0) != 0;
    const FarmImage empty = emptyLargeFarm();
    std::vector<Application> apps;
    for (int i = 0; i < kApplications; ++i)
        apps.push_back(benchApplication(i));
    for (auto _ : state) {
        state.PauseTiming();
        auto store = freshStore("saves", empty);
        store->setAuditing(audited);
        state.ResumeTiming();
        for (const Application& app : apps) {
            if (!store->saveApplication(app, nullptr)) {
                state.SkipWithError("save failed");
                break;
            }
        }
    }
    state.counters["saves/s"] = benchmark::Counter(static_cast<double>(kApplications),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CreateAndSave10000Applications)
    ->ArgName("audited")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// As the object model publishes: load the application, publish it on a server, save it.
void BM_LoadPublishSave10000(benchmark::State& state) {
    FarmStore& store = largeFarm();
    store.setAuditing(state.range(0) != 0);
    static int round = 0; // a fresh server for every round of either argument
    for (auto _ : state) {
        const std::string target = serverName(100 + round++); // a server no application has
        for (int i = 0; i < kApplications; ++i) {
            const std::string dn = "Applications/Folder" + std::to_string(i % kFolders) +
                                   "/Application " + std::to_string(i);
            auto loaded = store.application(dn);
            if (!loaded) {
                state.SkipWithError("load failed");
                break;
            }
            Application edit = *loaded;
            if (!publishOn(edit, target) || !store.saveApplication(edit, &*loaded)) {
                state.SkipWithError("publish failed");
                break;
            }
        }
    }
    state.counters["pairs/s"] = benchmark::Counter(static_cast<double>(kApplications),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadPublishSave10000)
    ->ArgName("audited")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The store's own publish, one transaction each.
void BM_Publish10000(benchmark::State& state) {
    FarmStore& store = largeFarm();
    int round = 0;
    for (auto _ : state) {
        const std::string target = serverName(300 + round++);
        for (int i = 0; i < kApplications; ++i) {
            const std::string dn = "Applications/Folder" + std::to_string(i % kFolders) +
                                   "/Application " + std::to_string(i);
            if (!store.publish(dn, target)) {
                state.SkipWithError("publish failed");
                break;
            }
        }
    }
    state.counters["publishes/s"] = benchmark::Counter(
        static_cast<double>(kApplications), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Publish10000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(scratchDirectory(), ec);
    return 0;
}

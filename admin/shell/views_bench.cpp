// Filling the main window's application view from a farm of 10,000 applications (100,000 with
// SKY_BENCH_FARM=large): a fresh farm object, the enumeration through the automation layer, the
// entries, and the sorted list box.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "core/admin_state.h"
#include "core/views.h"
#include "shell/frm_main.h"
#include "shell/list_box.h"
#include "shell/qt_test_app.h"
#include "shell/test_farm.h"
#include "sky/bench_support.h"
#include "sky/messagebox.h"
#include "sky/temp_machine.h"

namespace brask {
namespace {

const std::size_t kApplications = static_cast<std::size_t>(sky::bench::farmSize().applications);

// A machine with the module registered and the farm's applications in 100 folders.
struct LargeFarm {
    LargeFarm() {
        testing::qtTestApp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (!testing::objectModelBuilt()) {
            std::fprintf(stderr,
                         "the object model module (qvcomsrv.dll) is missing from the build\n");
            std::exit(1);
        }
        testing::registerObjectModel();
        testing::TestFarm farm;
        for (std::size_t i = 0; i < kApplications; ++i) {
            farm.applications.push_back("Applications/Folder " + std::to_string(i % 100) +
                                        "/Application " + std::to_string(i));
        }
        testing::installFarm(farm);
    }
    ~LargeFarm() { CoUninitialize(); }

    sky::testing::TempMachine machine;
    sky::RecordingPresenter recorder;
    sky::ScopedMessageBoxPresenter installed{recorder};
};

void BM_ApplicationViewItems(benchmark::State& run) {
    LargeFarm farm;
    AdminState state;
    for (auto _ : run) {
        auto items = viewItems(state, kApplicationView);
        if (items.size() != kApplications) {
            run.SkipWithError("wrong number of applications");
        }
        benchmark::DoNotOptimize(items);
    }
}
BENCHMARK(BM_ApplicationViewItems)->Unit(benchmark::kMillisecond);

void BM_ShowApplicationView(benchmark::State& run) {
    LargeFarm farm;
    AdminState state;
    frmMain main(state);
    for (auto _ : run) {
        main.showView(kApplicationView);
        if (static_cast<std::size_t>(main.findChild<ListBox*>("lstApps")->count()) !=
            kApplications) {
            run.SkipWithError("wrong number of entries");
        }
    }
}
BENCHMARK(BM_ShowApplicationView)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace brask

BENCHMARK_MAIN();

// Publishing 1,000 applications on 10 servers (10,000 pairs) through the Publish command's own
// run and step, beside the same calls made directly on the object model: a fresh farm object,
// the application (Initialize, LoadData), a binding, AddServer, SaveData for every pair. Their
// ratio is printed at the end.
#include <ostream>

#include <benchmark/benchmark.h>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "publishing/runs.h"
#include "shell/test_farm.h"
#include "sky/bench_support.h"
#include "sky/bstr.h"
#include "sky/dispatch.h"
#include "sky/messagebox.h"
#include "sky/temp_machine.h"

namespace brask {
namespace {

constexpr int kApplications = 1000;
constexpr int kServers = 10;

// A machine with the module registered and a farm of 1,000 applications and 10 servers, none
// published anywhere.
struct PublishingFarm {
    PublishingFarm() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (!testing::objectModelBuilt()) {
            return;
        }
        testing::registerObjectModel();
        farm.zones = {{"Main", "SRV0"}};
        for (int i = 0; i < kServers; ++i) {
            farm.servers.push_back("SRV" + std::to_string(i));
            servers.push_back(sky::widen(farm.servers.back()));
        }
        for (int i = 0; i < kApplications; ++i) {
            farm.applications.push_back("Applications/Folder " + std::to_string(i % 10) +
                                        "/Application " + std::to_string(i));
            applications.push_back(sky::widen(farm.applications.back()));
        }
    }
    ~PublishingFarm() { CoUninitialize(); }

    // False, with the reason, when the build has no object model to benchmark.
    bool ready(benchmark::State& run) const {
        if (!testing::objectModelBuilt()) {
            run.SkipWithError("the object model module (qvcomsrv.dll) is not built");
            return false;
        }
        return true;
    }
    // The farm as it was, before each timed run.
    void reload() { testing::installFarm(farm); }

    void count(benchmark::State& run) const {
        run.counters["pairs/s"] = benchmark::Counter(static_cast<double>(kApplications) * kServers *
                                                         static_cast<double>(run.iterations()),
                                                     benchmark::Counter::kIsRate);
    }

    sky::testing::TempMachine machine;
    sky::RecordingPresenter recorder;
    sky::ScopedMessageBoxPresenter installed{recorder};
    testing::TestFarm farm;
    std::vector<std::u16string> servers;
    std::vector<std::u16string> applications;
};

class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

void BM_PublishCommand(benchmark::State& run) {
    PublishingFarm farm;
    if (!farm.ready(run)) {
        return;
    }
    NullBuffer nothing;
    std::ostream silent(&nothing);
    ConsoleFeedback feedback(silent, false);
    AdminState state;
    for (auto _ : run) {
        run.PauseTiming();
        farm.reload();
        run.ResumeTiming();
        const RunOutcome outcome =
            runPairs(state, feedback, farm.servers, farm.applications, PublishApplication);
        if (!outcome.ranToEnd || !outcome.lost.empty()) {
            run.SkipWithError("the run failed");
        }
    }
    farm.count(run);
}
BENCHMARK(BM_PublishCommand)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_DirectObjectModelCalls(benchmark::State& run) {
    PublishingFarm farm;
    if (!farm.ready(run)) {
        return;
    }
    for (auto _ : run) {
        run.PauseTiming();
        farm.reload();
        run.ResumeTiming();
        for (const std::u16string& server : farm.servers) {
            for (const std::u16string& dn : farm.applications) {
                auto farmObject = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
                sky::check(farmObject->Initialize(SkyloomWinFarmObject));
                auto app = sky::createObject<ISkyloomApplication5>(kApplicationProgId);
                sky::check(app->Initialize(SkyloomWinAppObject, sky::Bstr(dn).get()));
                sky::check(app->LoadData(-1));
                auto binding = sky::createObject<ISkyloomAppSrvBinding2>(kBindingProgId);
                sky::check(binding->Initialize(SkyloomWinSrvObject, sky::Bstr(server).get(),
                                               sky::Bstr(u"").get()));
                sky::check(app->AddServer(binding.as<ISkyloomAppSrvBinding>().get()));
                sky::check(app->SaveData());
            }
        }
    }
    farm.count(run);
}
BENCHMARK(BM_DirectObjectModelCalls)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

} // namespace
} // namespace brask

int main(int argc, char** argv) {
    return sky::bench::runWithRatios(argc, argv,
                                     {{"BM_PublishCommand", "BM_DirectObjectModelCalls"}});
}

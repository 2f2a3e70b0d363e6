// Loading the full SkyloomCOM type library.
#include <benchmark/benchmark.h>

#include "SkyloomCOM.h"
#include "sky/text.h"

namespace {

void BM_LoadTypeLib_SkyloomCOM(benchmark::State& state) {
    std::u16string path = sky::widen(SKYLOOMCOM_TLB_PATH);
    for (auto _ : state) {
        ITypeLib* lib = nullptr;
        if (FAILED(LoadTypeLib(path.c_str(), &lib))) {
            state.SkipWithError("LoadTypeLib failed");
            break;
        }
        benchmark::DoNotOptimize(lib->GetTypeInfoCount());
        lib->Release();
    }
}
BENCHMARK(BM_LoadTypeLib_SkyloomCOM)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

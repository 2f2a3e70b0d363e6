// The automation calls that a farm-wide run repeats for every application and server: strings,
// conversions, calls by name and collection enumeration.
#include <benchmark/benchmark.h>

#include <vector>

#include "sky/automation.h"
#include "testdata/sample_object.h"

namespace {

void BM_BstrAllocateAndFree(benchmark::State& state) {
    for (auto _ : state) {
        BSTR b = SysAllocString(u"Applications/Office/Word");
        benchmark::DoNotOptimize(b);
        SysFreeString(b);
    }
}
BENCHMARK(BM_BstrAllocateAndFree);

void BM_TextToI4(benchmark::State& state) {
    sky::Variant text(u" 1,234,567 ");
    VARIANT out;
    VariantInit(&out);
    for (auto _ : state) {
        benchmark::DoNotOptimize(VariantChangeType(&out, text.get(), 0, VT_I4));
    }
}
BENCHMARK(BM_TextToI4);

void BM_RealToText(benchmark::State& state) {
    sky::Variant number(12345.678);
    for (auto _ : state) {
        VARIANT out;
        VariantInit(&out);
        benchmark::DoNotOptimize(VariantChangeType(&out, number.get(), 0, VT_BSTR));
        VariantClear(&out);
    }
}
BENCHMARK(BM_RealToText);

void BM_GetPropertyByName(benchmark::State& state) {
    auto sample = sky::makeObject<sky::testclass::SampleObject>().as<IDispatch>();
    for (auto _ : state)
        benchmark::DoNotOptimize(sky::getProperty(sample.get(), u"Name"));
}
BENCHMARK(BM_GetPropertyByName);

// Walking a collection of 10,000 objects through _NewEnum, asking each for its interface.
void BM_EnumerateTenThousandObjects(benchmark::State& state) {
    std::vector<sky::Variant> items;
    auto sample = sky::makeObject<sky::testclass::SampleObject>().as<IDispatch>();
    for (int i = 0; i < 10000; ++i)
        items.emplace_back(sample);
    auto collection = sky::makeObject<sky::testclass::SampleCollection>(std::move(items));
    for (auto _ : state) {
        int count = 0;
        for (const auto& object : sky::enumerateAs<ISampleObject>(collection.get())) {
            benchmark::DoNotOptimize(object.get());
            ++count;
        }
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_EnumerateTenThousandObjects)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

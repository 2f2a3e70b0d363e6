// One call by name through IDispatch (GetIDsOfNames + Invoke) on an object implementing a
// generated interface.
#include <benchmark/benchmark.h>

#include "farmlet_object.h"

namespace {

void BM_InvokeByName_PropertyGet(benchmark::State& state) {
    auto* object = new idlc::testing::FarmletObject;
    IDispatch* disp = static_cast<IFarmlet3*>(object);
    std::u16string name = u"farmname";
    LPOLESTR names[] = {name.data()};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    for (auto _ : state) {
        DISPID id;
        disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        VARIANT result;
        VariantInit(&result);
        disp->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        VariantClear(&result);
    }
    object->Release();
}
BENCHMARK(BM_InvokeByName_PropertyGet);

void BM_InvokeByName_MethodWithConversions(benchmark::State& state) {
    auto* object = new idlc::testing::FarmletObject;
    IDispatch* disp = static_cast<IFarmlet3*>(object);
    std::u16string name = u"Add";
    LPOLESTR names[] = {name.data()};
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocString(u"3.5");
    args[1].vt = VT_I2;
    args[1].iVal = 2;
    DISPPARAMS dp{args, nullptr, 2, 0};
    for (auto _ : state) {
        DISPID id;
        disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        VARIANT result;
        VariantInit(&result);
        disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result.dblVal);
    }
    VariantClear(&args[0]);
    object->Release();
}
BENCHMARK(BM_InvokeByName_MethodWithConversions);

} // namespace

BENCHMARK_MAIN();

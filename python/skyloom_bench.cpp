// One property get of each of 10,000 applications (100,000 with SKY_BENCH_FARM=large), late-bound
// across the boundary, from Python through skyloom and from C++ through IDispatch, in one run:
// a machine installed by scripts/install-machine with a demo farm of that size, whose QVCom
// service serves both arms. The C++ arm is what a careful late-bound client does (the member's
// identifier asked once, then one Invoke per application); the Python arm runs in this process's
// own interpreter (pybind11's embedding), so that both meet the same service. The application
// objects are fetched, and each read once, before the runs; each run reads DistinguishedName of
// all of them, for three seconds at least. The ratio of the two is printed at the end.
#include <pybind11/embed.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "SkyloomCOM.h"
#include "sky/automation.h"
#include "sky/bench_support.h"

namespace py = pybind11;

namespace {

const sky::bench::FarmSize kSize = sky::bench::farmSize();

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "skyloom_bench: %s failed\n", command.c_str());
        std::exit(1);
    }
}

// The installed machine with the large demo farm, for the whole run; its service is stopped and
// the machine removed at the end.
class InstalledFarm {
public:
    InstalledFarm() {
        char pattern[] = "/tmp/skyloom-bench-XXXXXX";
        if (!mkdtemp(pattern))
            std::exit(1);
        root_ = pattern;
        setenv("SKYLOOM_MACHINE", root_.c_str(), 1);
        const std::string bin = SKY_BUILD_BIN;
        run(quoted(std::string(SKY_SOURCE_DIR) + "/scripts/install-machine") + " --bin " +
            quoted(bin) + " >/dev/null");
        run(quoted(bin + "/qvfarm") + " demo --applications " + std::to_string(kSize.applications) +
            " --servers " + std::to_string(kSize.servers) + " >/dev/null");
    }
    ~InstalledFarm() {
        std::system(
            (quoted(std::string(SKY_BUILD_BIN) + "/sc") + " stop QVCom >/dev/null").c_str());
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

private:
    std::filesystem::path root_;
};

InstalledFarm& installed() {
    static InstalledFarm* farm = new InstalledFarm;
    return *farm;
}

void readAll(const std::vector<sky::ComPtr<IDispatch>>& apps, DISPID name) {
    for (const auto& app : apps) {
        sky::Variant value = sky::invoke(app.get(), name, DISPATCH_PROPERTYGET, {});
        benchmark::DoNotOptimize(value.get());
    }
}

void BM_ApplicationNames_Cpp(benchmark::State& state) {
    installed();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    auto farm = sky::createObject<ISkyloomFarm6>(u"SkyloomCOM.SkyloomFarm");
    sky::check(farm->Initialize(SkyloomWinFarmObject));
    const sky::ComPtr<IDispatch> applications =
        sky::getProperty(farm.get(), u"Applications").toDispatch();
    std::vector<sky::ComPtr<IDispatch>> apps;
    for (const sky::Variant& item : sky::enumerate(applications.get()))
        apps.push_back(item.toDispatch());
    const DISPID name = sky::dispatchId(apps.front().get(), u"DistinguishedName");
    readAll(apps, name); // each object's first call, which the service answers from the store
    for (auto _ : state)
        readAll(apps, name);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(apps.size()));
}
BENCHMARK(BM_ApplicationNames_Cpp)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_ApplicationNames_Python(benchmark::State& state) {
    installed();
    py::module_::import("sys").attr("path").attr("insert")(0, SKY_PYTHON_DIR);
    py::dict names;
    names["__builtins__"] = py::module_::import("builtins");
    py::exec(R"(
import skyloom
farm = skyloom.farm()
apps = list(farm.Applications)

def read_all():
    for app in apps:
        app.DistinguishedName
)",
             names);
    py::object readAll = names["read_all"];
    const auto count = py::len(names["apps"]);
    readAll(); // each object's first call, which the service answers from the store
    for (auto _ : state)
        readAll();
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(count));
    names.clear();
}
BENCHMARK(BM_ApplicationNames_Python)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

int main(int argc, char** argv) {
    py::scoped_interpreter interpreter;
    const int result = sky::bench::runWithRatios(
        argc, argv, {{"BM_ApplicationNames_Python", "BM_ApplicationNames_Cpp"}});
    delete &installed();
    return result;
}

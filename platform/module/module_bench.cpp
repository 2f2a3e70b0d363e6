// Speed of string and resource lookups and of loading modules, on the test modules and on a
// generated module with every string identifier in use (4096 string-table blocks).
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <benchmark/benchmark.h>

#include "sky/elf_file.h"
#include "sky/resources.h"
#include "sky/text.h"
#include "windows.h"

namespace fs = std::filesystem;
using sky::resources::Resource;

namespace {

fs::path testModules() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "testmodules";
}

std::u16string hostPath(const fs::path& p) {
    return sky::widen(p.string());
}

// A data-file handle that lives for the whole run.
HMODULE stringModule() {
    static const HMODULE module = LoadLibraryExW(
        hostPath(testModules() / "skytest_strings.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

// A module with all 65536 strings, written once to a temporary directory.
HMODULE fullModule() {
    static const HMODULE module = [] {
        std::vector<Resource> blocks;
        for (unsigned block = 0; block < 4096; ++block) {
            std::vector<BYTE> data;
            for (unsigned i = 0; i < 16; ++i) {
                const std::u16string text = sky::widen("string " + std::to_string(block * 16 + i));
                const auto length = static_cast<std::uint16_t>(text.size());
                const std::size_t at = data.size();
                data.resize(at + 2 + 2 * text.size());
                std::memcpy(data.data() + at, &length, 2);
                std::memcpy(data.data() + at + 2, text.data(), 2 * text.size());
            }
            blocks.push_back({6, static_cast<WORD>(block + 1), 0x0409, std::move(data)});
        }
        const std::vector<BYTE> file = sky::elf::dataOnlyModule(
            sky::resources::kSectionName, sky::resources::serialize(std::move(blocks)));
        const fs::path path = fs::temp_directory_path() / "skyloom-bench-strings.dll";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
        return LoadLibraryExW(hostPath(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }();
    return module;
}

void BM_LoadStringCopy(benchmark::State& state) {
    WCHAR buffer[256];
    for (auto _ : state)
        benchmark::DoNotOptimize(LoadStringW(stringModule(), 100, buffer, 256));
}
BENCHMARK(BM_LoadStringCopy);

void BM_LoadStringPointer(benchmark::State& state) {
    const WCHAR* text = nullptr;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            LoadStringW(stringModule(), 100, reinterpret_cast<LPWSTR>(&text), 0));
}
BENCHMARK(BM_LoadStringPointer);

void BM_LoadStringAmong65536(benchmark::State& state) {
    WCHAR buffer[64];
    UINT id = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(LoadStringW(fullModule(), id, buffer, 64));
        id = (id + 7919) & 0xFFFF;
    }
}
BENCHMARK(BM_LoadStringAmong65536);

void BM_FindResourceExW(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(
            FindResourceExW(stringModule(), RT_STRING, MAKEINTRESOURCEW(7), 0x0407));
}
BENCHMARK(BM_FindResourceExW);

void BM_LoadAndFreeDataFile(benchmark::State& state) {
    const std::u16string path = hostPath(testModules() / "skytest_strings.dll");
    for (auto _ : state) {
        const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        FreeLibrary(module);
    }
}
BENCHMARK(BM_LoadAndFreeDataFile);

void BM_LoadAndFreeCodeModule(benchmark::State& state) {
    const std::u16string path = hostPath(testModules() / "skytest_code.dll");
    for (auto _ : state) {
        const HMODULE module = LoadLibraryW(path.c_str());
        FreeLibrary(module);
    }
}
BENCHMARK(BM_LoadAndFreeCodeModule);

} // namespace

int main(int argc, char** argv) {
    // Work on a machine of our own, never the user's.
    std::string machine = (fs::temp_directory_path() / "skyloom-bench-XXXXXX").string();
    if (mkdtemp(machine.data()))
        setenv("SKYLOOM_MACHINE", machine.c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(machine, ec);
    fs::remove(fs::temp_directory_path() / "skyloom-bench-strings.dll", ec);
    return 0;
}

// What a host costs the registry: keys opened, a value set or read, keys closed, over and over.
//
//   build/bin/platform_registry_bench
//
// Runs on a temporary machine of its own.
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"

namespace {

std::u16string keyPath(int i) {
    return sky::widen("Software\\Bench\\Key" + std::to_string(i % 50));
}

std::u16string valueName(int i) {
    return sky::widen("Value" + std::to_string(i % 200));
}

// One pair as a host writes and reads: open (creating) the key, set the value, close; open the
// key for reading, query the value, close.
void SetAndQueryWithOpenAndClose(benchmark::State& state) {
    int i = 0;
    const std::u16string text = u"C:\\WINDOWS\\System32\\qvcom.exe";
    for (auto _ : state) {
        const std::u16string path = keyPath(i);
        const std::u16string name = valueName(i);
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS ||
            RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))) != ERROR_SUCCESS)
            state.SkipWithError("write failed");
        RegCloseKey(key);

        WCHAR buffer[64];
        DWORD size = sizeof buffer;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS ||
            RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                             &size) != ERROR_SUCCESS)
            state.SkipWithError("read failed");
        RegCloseKey(key);
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SetAndQueryWithOpenAndClose)->Iterations(10000)->Unit(benchmark::kMicrosecond);

// The read side alone, as activation resolves a class: open through HKEY_CLASSES_ROOT, query,
// close.
void OpenQueryCloseThroughClassesRoot(benchmark::State& state) {
    HKEY key = nullptr;
    const std::u16string clsid = u"{ED62F4E2-63C2-11D4-94D8-00C04FB0F326}";
    RegCreateKeyExW(HKEY_CLASSES_ROOT, u"SkyloomCOM.SkyloomFarm\\CLSID", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.c_str()),
                   static_cast<DWORD>((clsid.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    for (auto _ : state) {
        WCHAR buffer[64];
        DWORD size = sizeof buffer;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, u"SkyloomCOM.SkyloomFarm\\CLSID", 0, KEY_READ, &key) !=
                ERROR_SUCCESS ||
            RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                             &size) != ERROR_SUCCESS)
            state.SkipWithError("read failed");
        RegCloseKey(key);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(OpenQueryCloseThroughClassesRoot)->Unit(benchmark::kMicrosecond);

// The read side of a user's setting, as GetUserDefaultLCID reads it: open below
// HKEY_CURRENT_USER (the account's own hive), query, close.
void OpenQueryCloseThroughCurrentUser(benchmark::State& state) {
    HKEY key = nullptr;
    const std::u16string locale = u"00000409";
    RegCreateKeyExW(HKEY_CURRENT_USER, u"Control Panel\\International", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, u"Locale", 0, REG_SZ, reinterpret_cast<const BYTE*>(locale.c_str()),
                   static_cast<DWORD>((locale.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    for (auto _ : state) {
        WCHAR buffer[64];
        DWORD size = sizeof buffer;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Control Panel\\International", 0, KEY_READ, &key) !=
                ERROR_SUCCESS ||
            RegQueryValueExW(key, u"Locale", nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                             &size) != ERROR_SUCCESS)
            state.SkipWithError("read failed");
        RegCloseKey(key);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(OpenQueryCloseThroughCurrentUser)->Unit(benchmark::kMicrosecond);

// The content mark that callers which keep what they read take before every use of it, with
// nothing written in between (the process's own account's hive open too).
void ContentMark(benchmark::State& state) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Bench\\Marked", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    RegCloseKey(key);
    RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Bench\\Marked", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    RegCloseKey(key);
    const auto first = sky::registry::contentMark();
    for (auto _ : state) {
        if (sky::registry::contentMark() != first)
            state.SkipWithError("the mark moved with nothing written");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ContentMark)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    std::string machine =
        (std::filesystem::temp_directory_path() / "skyloom-bench-XXXXXX").string();
    if (!mkdtemp(machine.data()))
        return 1;
    setenv("SKYLOOM_MACHINE", machine.c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(machine, ec);
    return 0;
}

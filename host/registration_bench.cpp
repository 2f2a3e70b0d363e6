// /RegServer, then /UnRegServer, each as a run of the installed program on a fresh machine, in
// milliseconds (the process start included, as a user or an installer sees it).
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "sky/machine.h"
#include "sky/process.h"
#include "sky/services.h"
#include "win/process.h"
#include "win/registry.h"
#include "win/synch.h"

namespace fs = std::filesystem;

namespace {

fs::path binDirectory() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

// A fresh machine with the installer's key and qvcom laid in.
fs::path freshMachine() {
    std::string pattern = (fs::temp_directory_path() / "skyloom-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return {};
    setenv("SKYLOOM_MACHINE", pattern.c_str(), 1);
    const fs::path system32 = sky::machine::driveC() / "WINDOWS" / "System32";
    fs::create_directories(system32 / "resource" / "en-US");
    fs::copy_file(binDirectory() / "qvcom", system32 / "qvcom.exe");
    fs::copy_file(binDirectory() / "resource" / "en" / "qvcomUI.dll",
                  system32 / "resource" / "en-US" / "qvcomUI.dll");
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                    u"SOFTWARE\\Vantor\\Install\\{C05CE041-63DB-4467-B777-9FCB30013CA2}", 0,
                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const char16_t folder[] = u"C:\\WINDOWS\\";
    RegSetValueExW(key, u"WindowsFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                   sizeof folder);
    RegCloseKey(key);
    return pattern;
}

DWORD runQvcom(const std::u16string& arguments) {
    sky::ProcessLaunch launch;
    launch.applicationName = u"C:\\WINDOWS\\System32\\qvcom.exe";
    launch.commandLine = u"C:\\WINDOWS\\System32\\qvcom.exe " + arguments;
    PROCESS_INFORMATION info{};
    if (!sky::launchProcess(launch, info))
        return ~0u;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

void timeRegistration(benchmark::State& state, bool unregister) {
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path machine = freshMachine();
        if (unregister && runQvcom(u"/RegServer") != 0)
            state.SkipWithError("registration failed");
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        const DWORD code = runQvcom(unregister ? u"/UnRegServer" : u"/RegServer");
        const auto elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        state.PauseTiming();
        if (code != 0)
            state.SkipWithError("qvcom failed");
        sky::services::shutdownServices();
        std::error_code ec;
        fs::remove_all(machine, ec);
        state.ResumeTiming();
    }
}

void BM_RegServer(benchmark::State& state) {
    timeRegistration(state, false);
}
void BM_UnRegServer(benchmark::State& state) {
    timeRegistration(state, true);
}

} // namespace

BENCHMARK(BM_RegServer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_UnRegServer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_MAIN();

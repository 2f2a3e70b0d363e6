// The service manager with real processes: the manager program the first call starts, the probe
// service program it runs, and the registry as the service database.
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service_key.h"
#include "sky/accounts.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/services.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/registry.h"
#include "win/service.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::u16string probeCommand(const std::string& options = {}) {
    const fs::path probe = sky::testing::buildBin() / "testprograms" / "skytest_service";
    return u"\"" + sky::machine::toWindowsPath(probe) + u"\"" +
           (options.empty() ? u"" : u" " + sky::widen(options));
}

fs::path recordPath() {
    return sky::machine::root() / "probe.log";
}

std::vector<std::string> recordLines() {
    std::vector<std::string> lines;
    std::ifstream in(recordPath());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Every test stops what it started, and closes the handles it opened.
// Whether a process runs; an ended manager may linger as a zombie until the machine's init
// reaps it, and counts as ended.
bool isRunning(pid_t process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string pid, name, state;
    return stat >> pid >> name >> state && state != "Z";
}

// Whether a process has ended by the time given.
bool endsWithin(pid_t process, std::chrono::milliseconds time) {
    const auto deadline = std::chrono::steady_clock::now() + time;
    while (isRunning(process) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    return !isRunning(process);
}

class Services : public ::testing::Test {
protected:
    void SetUp() override {
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr) << GetLastError();
    }
    void TearDown() override {
        for (SC_HANDLE h : opened_)
            CloseServiceHandle(h);
        CloseServiceHandle(manager_);
        EXPECT_EQ(sky::services::shutdownServices(), static_cast<DWORD>(ERROR_SUCCESS));
    }

    SC_HANDLE create(const std::u16string& name, const std::u16string& command,
                     const WCHAR* dependencies = nullptr) {
        SC_HANDLE h =
            CreateServiceW(manager_, name.c_str(), u"Probe service", SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                           command.c_str(), nullptr, nullptr, dependencies, nullptr, nullptr);
        if (h)
            opened_.push_back(h);
        return h;
    }
    SC_HANDLE open(const std::u16string& name, DWORD access = SERVICE_ALL_ACCESS) {
        SC_HANDLE h = OpenServiceW(manager_, name.c_str(), access);
        if (h)
            opened_.push_back(h);
        return h;
    }
    SC_HANDLE createProbe(const std::string& options = {}) {
        return create(u"ProbeService",
                      probeCommand("--record \"" + recordPath().string() + "\" " + options));
    }

    static SERVICE_STATUS_PROCESS statusOf(SC_HANDLE service) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        EXPECT_TRUE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                         reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
            << GetLastError();
        return status;
    }
    static bool waitFor(SC_HANDLE service, DWORD state) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (statusOf(service).dwCurrentState == state)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    SC_HANDLE manager_ = nullptr;
    std::vector<SC_HANDLE> opened_;
};

// A value's data and type, or the registry's error.
LSTATUS readValue(const std::u16string& key, const WCHAR* name, std::vector<BYTE>& data,
                  DWORD& type) {
    HKEY h = nullptr;
    LSTATUS result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h);
    if (result != ERROR_SUCCESS)
        return result;
    data.assign(1024, 0);
    DWORD size = static_cast<DWORD>(data.size());
    result = RegQueryValueExW(h, name, nullptr, &type, data.data(), &size);
    data.resize(size);
    RegCloseKey(h);
    return result;
}

std::u16string textValue(const std::u16string& key, const WCHAR* name, DWORD expectedType) {
    std::vector<BYTE> data;
    DWORD type = 0;
    EXPECT_EQ(readValue(key, name, data, type), ERROR_SUCCESS) << sky::narrow(name);
    EXPECT_EQ(type, expectedType) << sky::narrow(name);
    return std::u16string(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
}

DWORD numberValue(const std::u16string& key, const WCHAR* name) {
    std::vector<BYTE> data;
    DWORD type = 0;
    EXPECT_EQ(readValue(key, name, data, type), ERROR_SUCCESS) << sky::narrow(name);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    DWORD value = 0;
    if (data.size() == 4)
        std::memcpy(&value, data.data(), 4);
    return value;
}

} // namespace

TEST(ServiceDispatcher, ProcessNotStartedByTheManagerCannotConnect) {
    WCHAR name[] = u"Nothing";
    const SERVICE_TABLE_ENTRYW table[] = {
        {name, [](DWORD, LPWSTR*) { ADD_FAILURE() << "service main ran"; }}, {nullptr, nullptr}};
    SetLastError(0);
    EXPECT_FALSE(StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
    EXPECT_EQ(RegisterServiceCtrlHandlerW(u"Nothing", [](DWORD) {}), nullptr);
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0};
    EXPECT_FALSE(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5C0), &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Services, CreateWritesTheServiceKeyAsWindowsDoes) {
    SC_HANDLE service = create(u"QVCom", u"C:\\WINDOWS\\System32\\qvcom.exe", u"RPCSS\0WMI\0");
    ASSERT_NE(service, nullptr) << GetLastError();
    const std::u16string key = u"System\\CurrentControlSet\\Services\\QVCom";
    EXPECT_EQ(numberValue(key, u"Type"), SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(numberValue(key, u"Start"), SERVICE_DEMAND_START);
    EXPECT_EQ(numberValue(key, u"ErrorControl"), SERVICE_ERROR_NORMAL);
    EXPECT_EQ(textValue(key, u"ImagePath", REG_EXPAND_SZ),
              std::u16string(u"C:\\WINDOWS\\System32\\qvcom.exe\0", 30));
    EXPECT_EQ(textValue(key, u"DisplayName", REG_SZ), std::u16string(u"Probe service\0", 14));
    EXPECT_EQ(textValue(key, u"ObjectName", REG_SZ), std::u16string(u"LocalSystem\0", 12));
    EXPECT_EQ(textValue(key, u"DependOnService", REG_MULTI_SZ),
              std::u16string(u"RPCSS\0WMI\0\0", 11));

    // A second creation finds it, under any case.
    EXPECT_EQ(create(u"qvcom", u"C:\\x.exe"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(create(u"RPCSS", u"C:\\x.exe"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));

    // The configuration comes back with Windows' buffer rule.
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceConfigW(service, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, sizeof(QUERY_SERVICE_CONFIGW));
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    EXPECT_FALSE(QueryServiceConfigW(service, config, needed - 1, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(QueryServiceConfigW(service, config, needed, &needed)) << GetLastError();
    EXPECT_EQ(config->dwServiceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(std::u16string(config->lpBinaryPathName), u"C:\\WINDOWS\\System32\\qvcom.exe");
    EXPECT_EQ(std::u16string(config->lpServiceStartName), u"LocalSystem");
    EXPECT_EQ(std::u16string(config->lpDependencies, 11), std::u16string(u"RPCSS\0WMI\0\0", 11));

    // The description: set, then removed by an empty one; a NULL one changes nothing.
    WCHAR text[] = u"Serves the farm";
    SERVICE_DESCRIPTIONW description{text};
    ASSERT_TRUE(ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description));
    EXPECT_EQ(textValue(key, u"Description", REG_SZ), std::u16string(u"Serves the farm\0", 16));
    description.lpDescription = nullptr;
    ASSERT_TRUE(ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description));
    EXPECT_EQ(textValue(key, u"Description", REG_SZ), std::u16string(u"Serves the farm\0", 16));
    WCHAR empty[] = u"";
    description.lpDescription = empty;
    ASSERT_TRUE(ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description));
    std::vector<BYTE> data;
    DWORD type = 0;
    EXPECT_EQ(readValue(key, u"Description", data, type), ERROR_FILE_NOT_FOUND);

    // Deleting a service that does not run removes its key.
    ASSERT_TRUE(DeleteService(service)) << GetLastError();
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &gone),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenServiceW(manager_, u"QVCom", SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(Services, HandlesCarryTheirRights) {
    ASSERT_NE(createProbe(), nullptr);
    SC_HANDLE reader = open(u"probeservice", GENERIC_READ);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(StartServiceW(reader, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteService(reader));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(statusOf(reader).dwCurrentState, SERVICE_STOPPED);

    SC_HANDLE connectOnly = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(connectOnly, nullptr);
    EXPECT_EQ(CreateServiceW(connectOnly, u"Other", nullptr, SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             u"C:\\x.exe", nullptr, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseServiceHandle(connectOnly));
    EXPECT_FALSE(CloseServiceHandle(connectOnly));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_EQ(OpenSCManagerW(nullptr, u"ServicesFailed", SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DATABASE_DOES_NOT_EXIST));
}

TEST_F(Services, StartRunStopWithTheStatusTheServiceReports) {
    SC_HANDLE service = createProbe("--exit-code 0");
    ASSERT_NE(service, nullptr) << GetLastError();
    const WCHAR* args[] = {u"alpha", u"beta"};
    ASSERT_TRUE(StartServiceW(service, 2, args)) << GetLastError();
    ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));
    const SERVICE_STATUS_PROCESS running = statusOf(service);
    EXPECT_EQ(running.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    EXPECT_NE(running.dwProcessId, 0u);
    EXPECT_EQ(kill(static_cast<pid_t>(running.dwProcessId), 0), 0);

    // Starting it again while it runs.
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    ASSERT_TRUE(ControlService(service, 200, &status)) << GetLastError();
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_SHUTDOWN, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(status.dwCurrentState == SERVICE_STOP_PENDING ||
                status.dwCurrentState == SERVICE_STOPPED);
    ASSERT_TRUE(waitFor(service, SERVICE_STOPPED));
    const SERVICE_STATUS_PROCESS stopped = statusOf(service);
    EXPECT_EQ(stopped.dwWin32ExitCode, 0u);
    EXPECT_EQ(stopped.dwProcessId, 0u);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

    EXPECT_EQ(recordLines(), (std::vector<std::string>{"main ProbeService alpha beta", "control 4",
                                                       "control 200", "control 1", "stopped"}));
}

TEST_F(Services, ExitCodesAreTheServicesOwnOrProcessAbortedWhenKilled) {
    SC_HANDLE service = createProbe("--exit-code 1066 --specific 42");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(waitFor(service, SERVICE_STOPPED));
    EXPECT_EQ(statusOf(service).dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(statusOf(service).dwServiceSpecificExitCode, 42u);

    // Started again (a new process), then killed outright.
    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));
    const pid_t pid = static_cast<pid_t>(statusOf(service).dwProcessId);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(waitFor(service, SERVICE_STOPPED));
    EXPECT_EQ(statusOf(service).dwWin32ExitCode, static_cast<DWORD>(ERROR_PROCESS_ABORTED));
    EXPECT_EQ(statusOf(service).dwServiceSpecificExitCode, 0u);
}

TEST_F(Services, SimultaneousStartsStartOneProcess) {
    ASSERT_NE(createProbe(), nullptr);
    SC_HANDLE service = open(u"ProbeService");
    // Four starts at once, on a service never started and again on one that has stopped.
    for (int round = 1; round <= 2; ++round) {
        std::vector<DWORD> results(4);
        std::vector<std::thread> starters;
        for (DWORD& result : results) {
            starters.emplace_back([&result] {
                SC_HANDLE m = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
                SC_HANDLE s = OpenServiceW(m, u"ProbeService", SERVICE_START);
                result = StartServiceW(s, 0, nullptr) ? 0 : GetLastError();
                CloseServiceHandle(s);
                CloseServiceHandle(m);
            });
        }
        for (std::thread& t : starters)
            t.join();
        EXPECT_EQ(std::count(results.begin(), results.end(), 0u), 1) << "round " << round;
        EXPECT_EQ(std::count(results.begin(), results.end(),
                             static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING)),
                  3);
        ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));
        const auto lines = recordLines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("main ProbeService")), round);
        SERVICE_STATUS status{};
        ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
        ASSERT_TRUE(waitFor(service, SERVICE_STOPPED));
    }
}

TEST_F(Services, DeletingARunningServiceMarksItUntilItStops) {
    SC_HANDLE service = createProbe();
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));
    ASSERT_TRUE(DeleteService(service)) << GetLastError();
    const std::u16string key = u"System\\CurrentControlSet\\Services\\ProbeService";
    EXPECT_EQ(numberValue(key, u"DeleteFlag"), 1u);
    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(createProbe(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    HKEY h = nullptr;
    while (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS &&
           std::chrono::steady_clock::now() < deadline) {
        RegCloseKey(h);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(Services, BuiltInServicesAlwaysRunAndMeetDependencies) {
    for (const char16_t* name : {u"RPCSS", u"wmi"}) {
        SC_HANDLE builtIn = open(name);
        ASSERT_NE(builtIn, nullptr) << sky::narrow(name);
        EXPECT_EQ(statusOf(builtIn).dwCurrentState, SERVICE_RUNNING);
        SERVICE_STATUS status{};
        EXPECT_FALSE(ControlService(builtIn, SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
        EXPECT_FALSE(DeleteService(builtIn));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    SC_HANDLE needsMissing = create(u"NeedsMissing", probeCommand(), u"RPCSS\0Missing\0");
    ASSERT_NE(needsMissing, nullptr);
    EXPECT_FALSE(StartServiceW(needsMissing, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DEPENDENCY_DELETED));
    SC_HANDLE needsBuiltIns = create(u"NeedsBuiltIns", probeCommand(), u"RPCSS\0WMI\0");
    ASSERT_NE(needsBuiltIns, nullptr);
    ASSERT_TRUE(StartServiceW(needsBuiltIns, 0, nullptr)) << GetLastError();
    EXPECT_TRUE(waitFor(needsBuiltIns, SERVICE_RUNNING));
}

TEST_F(Services, ProgramsThatCannotServeFailTheStart) {
    SC_HANDLE missing = create(u"Missing", u"C:\\nothere.exe");
    ASSERT_NE(missing, nullptr);
    EXPECT_FALSE(StartServiceW(missing, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(statusOf(missing).dwCurrentState, SERVICE_STOPPED);

    SC_HANDLE silent = create(u"Silent", probeCommand("--no-dispatcher"));
    ASSERT_NE(silent, nullptr);
    EXPECT_FALSE(StartServiceW(silent, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
    EXPECT_TRUE(waitFor(silent, SERVICE_STOPPED));
    EXPECT_EQ(statusOf(silent).dwWin32ExitCode, static_cast<DWORD>(ERROR_PROCESS_ABORTED));
}

TEST_F(Services, ShutdownStopsEveryService) {
    SC_HANDLE service = createProbe("--slow-stop 100");
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));
    ASSERT_EQ(sky::services::shutdownServices(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(statusOf(service).dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(statusOf(service).dwWin32ExitCode, 0u);
    const auto lines = recordLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("control 5")), lines.end());
}

TEST_F(Services, IdleManagerEndsAndTheNextCallStartsAnother) {
    SC_HANDLE rpcss = open(u"RPCSS", SERVICE_QUERY_STATUS);
    const pid_t first = static_cast<pid_t>(statusOf(rpcss).dwProcessId);
    ASSERT_GT(first, 0);
    CloseServiceHandle(rpcss);
    opened_.clear();
    CloseServiceHandle(manager_);
    EXPECT_TRUE(endsWithin(first, 15s)) << "the idle manager is still there";
    manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager_, nullptr) << GetLastError();
    rpcss = open(u"RPCSS", SERVICE_QUERY_STATUS);
    EXPECT_EQ(statusOf(rpcss).dwCurrentState, SERVICE_RUNNING);
}

// A machine folder removed and made again at once (a fresh demo machine over the old one) is
// another machine: the old one's manager shuts its services down and ends, though the path is
// there again, and the new machine's first call starts a manager of its own.
TEST_F(Services, MachineRemovedAndMadeAgainEndsItsManager) {
    SC_HANDLE service = createProbe();
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(waitFor(service, SERVICE_RUNNING));
    SC_HANDLE rpcss = open(u"RPCSS", SERVICE_QUERY_STATUS);
    const pid_t first = static_cast<pid_t>(statusOf(rpcss).dwProcessId);
    ASSERT_GT(first, 0);
    for (SC_HANDLE h : opened_)
        CloseServiceHandle(h);
    opened_.clear();
    CloseServiceHandle(manager_);

    const std::filesystem::path machine = sky::machine::root();
    std::filesystem::remove_all(machine);
    std::filesystem::create_directories(machine);
    EXPECT_TRUE(endsWithin(first, 15s)) << "the removed machine's manager is still there";

    manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager_, nullptr) << GetLastError();
    rpcss = open(u"RPCSS", SERVICE_QUERY_STATUS);
    EXPECT_NE(static_cast<pid_t>(statusOf(rpcss).dwProcessId), first);
}

TEST(MachineUsers, TheOwnerAndTheMembersOfTheMachinesGroup) {
    using sky::services::Peer;
    const uid_t owner = sky::machine::owner();
    const gid_t group = sky::machine::group();
    ASSERT_NE(owner, static_cast<uid_t>(-1));
    EXPECT_TRUE(sky::services::mayUseMachine(owner));
    EXPECT_TRUE(sky::services::mayUseMachine(Peer{1, owner, 54321, {}}));
    // A process of the machine's group, as its own group or one of the others.
    EXPECT_TRUE(sky::services::mayUseMachine(Peer{1, 54321, group, {}}));
    EXPECT_TRUE(sky::services::mayUseMachine(Peer{1, 54321, 54321, {7, group}}));
    EXPECT_FALSE(sky::services::mayUseMachine(Peer{1, 54321, 54321, {7, 8}}));
    EXPECT_FALSE(sky::services::mayUseMachine(54321)); // no such account

    // The list of names the registry once kept admits nobody any more: the group does.
    const uid_t nobody = 65534;
    ASSERT_NE(owner, nobody);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantor\\Skyloom", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string users(u"Somebody\0NOBODY\0\0", 17);
    ASSERT_EQ(RegSetValueExW(key, u"MachineUsers", 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(users.data()),
                             static_cast<DWORD>(users.size() * 2)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_FALSE(sky::services::mayUseMachine(nobody));
}

TEST(MachineFiles, StrangersReadNothingAndUsersWriteNothingOfTheOwners) {
    // A machine as its owner leaves it: a hive, a farm store, the runtime folder.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Kept", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    const fs::path machine = sky::machine::root();
    std::ofstream(machine / "farms" / "Demo.db") << "farm";
    sky::machine::runtimeFolder("com");
    auto mode = [](const fs::path& path) {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    };
    EXPECT_EQ(mode(machine), 02750u);
    EXPECT_EQ(mode(machine / "registry.db"), 0640u);
    EXPECT_EQ(mode(machine / "farms"), 0700u);
    EXPECT_EQ(mode(machine / "run"), 02750u);
    EXPECT_EQ(mode(machine / "run" / "com"), 02750u);

    // Across the boundary, as other accounts: a user of the machine (of its group) reads the hive
    // but writes nothing of the owner's; a stranger reads nothing at all.
    ASSERT_EQ(geteuid(), 0u) << "the test runs commands as other accounts and needs root";
    const uid_t user = sky::testing::unusedAccount(44000);
    const uid_t stranger = sky::testing::unusedAccount(user + 1);
    ASSERT_TRUE(sky::testing::giveMachineGroup(static_cast<gid_t>(user)));
    auto as = [&](uid_t account, const std::string& command) {
        return sky::testing::runCommand(sky::testing::runAs(account, static_cast<gid_t>(account)) +
                                        "sh -c '" + command + "' 2>&1")
            .exitCode;
    };
    const std::string m = machine.string();
    EXPECT_EQ(as(user, "head -c 16 " + m + "/registry.db >/dev/null"), 0);
    EXPECT_NE(as(user, "echo x >>" + m + "/registry.db"), 0);
    EXPECT_NE(as(user, "cat " + m + "/farms/Demo.db"), 0);
    EXPECT_NE(as(user, "ls " + m + "/farms"), 0);
    EXPECT_NE(as(user, "touch " + m + "/run/com/x " + m + "/run/x " + m + "/x"), 0);
    for (const char* entry : {"", "/registry.db", "/farms/Demo.db", "/run/com", "/drive_c"})
        EXPECT_NE(as(stranger, "ls " + m + entry), 0) << entry;
    EXPECT_NE(as(stranger, "cat " + m + "/registry.db"), 0);
    sky::testing::giveMachineGroup(0);
}

TEST_F(Services, AServiceOfAnotherAccountIsNotStartedAsTheOwner) {
    SC_HANDLE service = CreateServiceW(manager_, u"ElsewhereService", nullptr, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, probeCommand().c_str(), nullptr,
                                       nullptr, nullptr, u".\\someone-else", nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    opened_.push_back(service);
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_LOGON_FAILED));
    EXPECT_EQ(statusOf(service).dwCurrentState, SERVICE_STOPPED);
}

// skyscm kept running by its owner, as a terminal or a systemd unit runs it.
TEST(ManagerInTheForeground, ServesUntilTerminatedThenStopsItsServicesAndEnds) {
    const fs::path machine = sky::machine::root();
    const std::string program = sky::services::managerProgram().string();
    const fs::path errors = machine.parent_path() / (machine.filename().string() + "-skyscm");
    const pid_t manager = fork();
    if (manager == 0) {
        const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        execl(program.c_str(), program.c_str(), "--foreground", machine.c_str(), nullptr);
        _exit(127);
    }
    const fs::path socketFile = sky::services::managerSocket(machine);
    for (int i = 0; i < 500 && !fs::exists(socketFile); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(fs::exists(socketFile));

    // A second manager for the machine says so and ends.
    const auto second =
        sky::testing::runCommand("'" + program + "' --foreground '" + machine.string() + "' 2>&1");
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.out.find("another manager serves the machine"), std::string::npos)
        << second.out;

    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr) << GetLastError();
    SC_HANDLE service =
        CreateServiceW(scm, u"ProbeService", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                       probeCommand("--record \"" + recordPath().string() + "\"").c_str(), nullptr,
                       nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    // Idle for longer than a manager started on demand would stay.
    std::this_thread::sleep_for(6s);
    ASSERT_TRUE(isRunning(manager));

    ASSERT_EQ(kill(manager, SIGTERM), 0);
    int status = -1;
    ASSERT_EQ(waitpid(manager, &status, 0), manager);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto lines = recordLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("control 5")), lines.end());
    EXPECT_FALSE(fs::exists(socketFile));
    std::ifstream in(errors);
    const std::string report((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(report.find("skyscm: serving the machine " + machine.string()), std::string::npos)
        << report;
    fs::remove(errors);
}

TEST(ManagerInTheForeground, RunsOnlyAsTheMachinesOwner) {
    ASSERT_EQ(geteuid(), 0u) << "skyscm runs as another account here: the test needs root";
    const uid_t user = sky::testing::unusedAccount(45000);
    ASSERT_TRUE(sky::testing::giveMachineGroup(static_cast<gid_t>(user)));
    const auto run =
        sky::testing::runCommand(sky::testing::runAs(user, static_cast<gid_t>(user)) + "'" +
                                 sky::services::managerProgram().string() + "' --foreground '" +
                                 sky::machine::root().string() + "' 2>&1");
    sky::testing::giveMachineGroup(0);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("belongs to root; only its owner runs its service manager"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(fs::exists(sky::services::managerSocket(sky::machine::root())));
}

TEST(ManagerSocket, AMachineDeeperThanASocketAddressHoldsIsServed) {
    const fs::path deep = sky::machine::root() / std::string(60, 'd') / std::string(60, 'e');
    fs::create_directories(deep);
    const std::string previous = std::getenv("SKYLOOM_MACHINE");
    setenv("SKYLOOM_MACHINE", deep.c_str(), 1);
    EXPECT_GT(sky::services::managerSocket(deep).string().size(), 108u);
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_NE(scm, nullptr) << GetLastError();
    EXPECT_TRUE(fs::exists(sky::services::managerSocket(deep)));
    if (scm)
        CloseServiceHandle(scm);
    EXPECT_EQ(sky::services::shutdownServices(), static_cast<DWORD>(ERROR_SUCCESS));
    setenv("SKYLOOM_MACHINE", previous.c_str(), 1);
}

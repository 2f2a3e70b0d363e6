// qvcom as the QVCom service, started by the machine's service manager, with stand-ins for the
// object model module where a test needs one that fails, and with the real one.
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sky/services.h"
#include "test_support.h"
#include "win/lasterror.h"
#include "win/service.h"

using namespace qvcom_test;
using namespace std::chrono_literals;

namespace {

class QVComService : public ::testing::Test {
protected:
    void SetUp() override {
        writeInstallKey();
        installQvcom();
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
        const WCHAR dependencies[] = u"RPCSS\0WMI\0";
        service_ = CreateServiceW(
            manager_, u"QVCom", u"Skyloom Object Model Service", SERVICE_ALL_ACCESS,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
            u"C:\\WINDOWS\\System32\\qvcom.exe", nullptr, nullptr, dependencies, nullptr, nullptr);
        ASSERT_NE(service_, nullptr) << GetLastError();
    }
    void TearDown() override {
        CloseServiceHandle(service_);
        CloseServiceHandle(manager_);
        EXPECT_EQ(sky::services::shutdownServices(), static_cast<DWORD>(ERROR_SUCCESS));
    }

    SERVICE_STATUS status() {
        SERVICE_STATUS s{};
        EXPECT_TRUE(QueryServiceStatus(service_, &s));
        return s;
    }
    bool waitFor(DWORD state) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (status().dwCurrentState == state)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    static std::vector<std::string> moduleLog() {
        std::vector<std::string> lines;
        std::ifstream in(sky::machine::root() / "qvcomsrv.log");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    static fs::path standIn(const char* variant) {
        return sky::testing::buildBin() / "testmodules" /
               (std::string("skytest_qvcomsrv_") + variant + ".dll");
    }

    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

} // namespace

TEST_F(QVComService, RunsUntilStoppedThenUninitializesWithOne) {
    installObjectModel(standIn("ok"));
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(waitFor(SERVICE_RUNNING));
    SERVICE_STATUS s = status();
    EXPECT_EQ(s.dwServiceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(s.dwControlsAccepted, 5u);
    EXPECT_EQ(s.dwCheckPoint, 0u);
    EXPECT_EQ(s.dwWaitHint, 0u);
    // The module got the version record (size 276, the machine's major version) and the
    // instance handle.
    EXPECT_EQ(moduleLog(), std::vector<std::string>{"init 5 276 instance"});

    // Interrogation and a code of the service's own only report.
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_INTERROGATE, &s));
    EXPECT_EQ(s.dwCurrentState, SERVICE_RUNNING);
    ASSERT_TRUE(ControlService(service_, 200, &s));
    EXPECT_EQ(s.dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(moduleLog().size(), 1u);

    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &s));
    EXPECT_TRUE(s.dwCurrentState == SERVICE_STOP_PENDING || s.dwCurrentState == SERVICE_STOPPED);
    ASSERT_TRUE(waitFor(SERVICE_STOPPED));
    EXPECT_EQ(status().dwWin32ExitCode, 0u);
    EXPECT_EQ(status().dwServiceSpecificExitCode, 0u);
    EXPECT_EQ(moduleLog(), (std::vector<std::string>{"init 5 276 instance", "uninit 1"}));
}

TEST_F(QVComService, ShutdownStopsLikeStop) {
    installObjectModel(standIn("ok"));
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr));
    ASSERT_TRUE(waitFor(SERVICE_RUNNING));
    ASSERT_EQ(sky::services::shutdownServices(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(status().dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status().dwWin32ExitCode, 0u);
    EXPECT_EQ(moduleLog(), (std::vector<std::string>{"init 5 276 instance", "uninit 1"}));
}

TEST_F(QVComService, FailingInitializeStopsWithItsResult) {
    installObjectModel(standIn("fail"));
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr));
    ASSERT_TRUE(waitFor(SERVICE_STOPPED));
    EXPECT_EQ(status().dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status().dwServiceSpecificExitCode, static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(moduleLog(), (std::vector<std::string>{"init 5 276 instance", "uninit 1"}));
}

TEST_F(QVComService, ModuleThatCannotBeUsedStopsBeforeInitialize) {
    // Without QVComUninitialize.
    installObjectModel(standIn("noexit"));
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr));
    ASSERT_TRUE(waitFor(SERVICE_STOPPED));
    EXPECT_EQ(status().dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status().dwServiceSpecificExitCode, static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(moduleLog().empty());

    // No module at all.
    fs::remove(system32() / "qvcomsrv.dll");
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr));
    ASSERT_TRUE(waitFor(SERVICE_STOPPED));
    EXPECT_EQ(status().dwServiceSpecificExitCode, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    // No install key.
    installObjectModel(standIn("ok"));
    removeInstallKey();
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr));
    ASSERT_TRUE(waitFor(SERVICE_STOPPED));
    EXPECT_EQ(status().dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status().dwServiceSpecificExitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(moduleLog().empty());
}

TEST_F(QVComService, RunsTheRealObjectModelModule) {
    installObjectModel(sky::testing::buildBin() / "qvcomsrv.dll");
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(waitFor(SERVICE_RUNNING));
    SERVICE_STATUS s{};
    ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &s));
    ASSERT_TRUE(waitFor(SERVICE_STOPPED));
    EXPECT_EQ(status().dwWin32ExitCode, 0u);
}

TEST_F(QVComService, AServiceThatCannotMakeItsSocketStopsWithACodeNotAnAbort) {
    // The folder of the object servers' sockets is not a folder: the real module cannot publish.
    installObjectModel(sky::testing::buildBin() / "qvcomsrv.dll");
    std::ofstream(sky::machine::runtimeFolder() / "com") << "not a folder";
    ASSERT_TRUE(StartServiceW(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(waitFor(SERVICE_STOPPED));
    // Its own report of why, not the manager's "terminated unexpectedly" (1067).
    EXPECT_EQ(status().dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status().dwServiceSpecificExitCode,
              static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)));
}

// sc as a person runs it: separate processes, each seeing the services the others started.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sky/machine.h"
#include "sky/process.h"
#include "sky/services.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/process.h"
#include "win/synch.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

extern char** environ;

namespace {

struct ScRun {
    int status = -1; // the low 8 bits a shell sees
    std::string output;
};

// Runs sc with its output on a pipe read to its end: a manager or service that kept the pipe
// would make this hang.
ScRun sc(const std::vector<std::string>& args) {
    const std::string program = (sky::testing::buildBin() / "sc").string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2];
    EXPECT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    ScRun run;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        run.output.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The full 32-bit exit code, as a parent on the platform reads it.
DWORD exitCodeOf(const std::u16string& commandLine) {
    sky::ProcessLaunch launch;
    launch.applicationName = sky::machine::toWindowsPath(sky::testing::buildBin() / "sc");
    launch.commandLine = commandLine;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(sky::launchProcess(launch, info));
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

std::string probePath() {
    return sky::narrow(
        sky::machine::toWindowsPath(sky::testing::buildBin() / "testprograms" / "skytest_service"));
}

std::string field(const std::string& output, const std::string& name) {
    const std::size_t at = output.find(name);
    if (at == std::string::npos)
        return {};
    const std::size_t colon = output.find(": ", at);
    return output.substr(colon + 2, output.find('\n', colon) - colon - 2);
}

bool waitForState(const std::string& state) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (field(sc({"query", "ProbeService"}).output, "STATE") == state)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

class Sc : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(sky::services::shutdownServices(), static_cast<DWORD>(ERROR_SUCCESS));
    }
};

} // namespace

TEST_F(Sc, CreateThenQueryTheConfiguration) {
    const ScRun created =
        sc({"create", "QVCom", "binPath=", "C:\\WINDOWS\\System32\\qvcom.exe", "start=", "auto",
            "error=", "ignore", "depend=", "RPCSS/WMI", "DisplayName=", "Skyloom object model"});
    EXPECT_EQ(created.status, 0);
    EXPECT_EQ(created.output, "[SC] CreateService SUCCESS\n");
    const ScRun qc = sc({"qc", "qvcom"});
    EXPECT_EQ(qc.status, 0);
    EXPECT_EQ(qc.output, "[SC] QueryServiceConfig SUCCESS\n"
                         "\n"
                         "SERVICE_NAME: qvcom\n"
                         "        TYPE               : 10  WIN32_OWN_PROCESS\n"
                         "        START_TYPE         : 2   AUTO_START\n"
                         "        ERROR_CONTROL      : 0   IGNORE\n"
                         "        BINARY_PATH_NAME   : C:\\WINDOWS\\System32\\qvcom.exe\n"
                         "        LOAD_ORDER_GROUP   : \n"
                         "        TAG                : 0\n"
                         "        DISPLAY_NAME       : Skyloom object model\n"
                         "        DEPENDENCIES       : RPCSS\n"
                         "                           : WMI\n"
                         "        SERVICE_START_NAME : LocalSystem\n");
    const ScRun again = sc({"create", "QVCom", "binPath=", "C:\\x.exe"});
    EXPECT_EQ(again.status, ERROR_SERVICE_EXISTS & 0xFF);
    EXPECT_EQ(again.output, "[SC] CreateService FAILED 1073:\n\n"
                            "The specified service already exists.\n\n");
    EXPECT_EQ(sc({"delete", "QVCom"}).output, "[SC] DeleteService SUCCESS\n");
    EXPECT_EQ(exitCodeOf(u"sc query QVCom"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(sc({"query", "QVCom"}).output,
              "[SC] OpenService FAILED 1060:\n\n"
              "The specified service does not exist as an installed service.\n\n");
}

TEST_F(Sc, StartQueryStopAcrossProcesses) {
    ASSERT_EQ(sc({"create", "ProbeService", "binPath=", "\"" + probePath() + "\" --slow-stop 300"})
                  .status,
              0);
    const ScRun stopped = sc({"query", "ProbeService"});
    EXPECT_EQ(stopped.output, "\n"
                              "SERVICE_NAME: ProbeService\n"
                              "        TYPE               : 10  WIN32_OWN_PROCESS\n"
                              "        STATE              : 1  STOPPED\n"
                              "                                (NOT_STOPPABLE, NOT_PAUSABLE, "
                              "IGNORES_SHUTDOWN)\n"
                              "        WIN32_EXIT_CODE    : 0  (0x0)\n"
                              "        SERVICE_EXIT_CODE  : 0  (0x0)\n"
                              "        CHECKPOINT         : 0x0\n"
                              "        WAIT_HINT          : 0x0\n"
                              "\n");
    const ScRun started = sc({"start", "ProbeService"});
    EXPECT_EQ(started.status, 0) << started.output;
    EXPECT_NE(field(started.output, "PID"), "0");
    ASSERT_TRUE(waitForState("4  RUNNING"));
    const ScRun running = sc({"queryex", "ProbeService"});
    EXPECT_NE(running.output.find("(STOPPABLE, NOT_PAUSABLE, ACCEPTS_SHUTDOWN)"),
              std::string::npos);
    const pid_t pid = std::stoi(field(running.output, "PID"));
    EXPECT_EQ(kill(pid, 0), 0);

    const ScRun stopping = sc({"stop", "ProbeService"});
    EXPECT_EQ(stopping.status, 0);
    EXPECT_EQ(field(stopping.output, "STATE").substr(0, 1), "3"); // STOP_PENDING
    ASSERT_TRUE(waitForState("1  STOPPED"));
    EXPECT_EQ(field(sc({"query", "ProbeService"}).output, "WIN32_EXIT_CODE"), "0  (0x0)");
    const ScRun notRunning = sc({"stop", "ProbeService"});
    EXPECT_EQ(notRunning.status, ERROR_SERVICE_NOT_ACTIVE & 0xFF);
    EXPECT_EQ(notRunning.output,
              "[SC] ControlService FAILED 1062:\n\nThe service has not been started.\n\n");
}

TEST_F(Sc, TwoStartsAtOnceStartOneProcessAndAKilledServiceIsSeenStopped) {
    ASSERT_EQ(sc({"create", "ProbeService", "binPath=", "\"" + probePath() + "\""}).status, 0);
    ScRun first, second;
    std::thread a([&first] { first = sc({"start", "ProbeService"}); });
    std::thread b([&second] { second = sc({"start", "ProbeService"}); });
    a.join();
    b.join();
    const std::vector<int> statuses{first.status, second.status};
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0), 1);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), ERROR_SERVICE_ALREADY_RUNNING & 0xFF),
              1);
    ASSERT_TRUE(waitForState("4  RUNNING"));
    const pid_t pid = std::stoi(field(sc({"queryex", "ProbeService"}).output, "PID"));
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(waitForState("1  STOPPED"));
    EXPECT_EQ(field(sc({"query", "ProbeService"}).output, "WIN32_EXIT_CODE"), "1067  (0x42b)");
}

TEST_F(Sc, MalformedCommandLinesShowTheUsage) {
    const ScRun help = sc({"/?"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("USAGE:"), std::string::npos);
    EXPECT_EQ(exitCodeOf(u"sc frobnicate QVCom"), static_cast<DWORD>(ERROR_INVALID_COMMAND_LINE));
    EXPECT_EQ(exitCodeOf(u"sc create QVCom type= own"),
              static_cast<DWORD>(ERROR_INVALID_COMMAND_LINE));
    EXPECT_EQ(exitCodeOf(u"sc create QVCom binPath= C:\\x.exe start= sometimes"),
              static_cast<DWORD>(ERROR_INVALID_COMMAND_LINE));
}

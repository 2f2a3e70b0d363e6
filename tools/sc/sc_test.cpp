// sc as a person runs it: separate processes, each seeing the services the others started.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sky/accounts.h"
#include "sky/machine.h"
#include "sky/process.h"
#include "sky/program_run.h"
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

// The machine's manager as other local accounts meet it: a user of the machine (a member of its
// group) who is not its owner, and a stranger. Switching accounts takes root.
class ScAsAnotherAccount : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(geteuid(), 0u) << "sc runs as other accounts here: the test needs root";
        machineUser_ = sky::testing::unusedAccount(43000);
        stranger_ = sky::testing::unusedAccount(machineUser_ + 1);
        ASSERT_TRUE(sky::testing::giveMachineGroup(static_cast<gid_t>(machineUser_)));
    }
    void TearDown() override {
        sky::testing::giveMachineTo(0);
        sky::services::shutdownServices();
    }

    // sc run as `user` with the one group `group`: its output, its standard error and the low
    // 8 bits of its exit code.
    sky::testing::ProgramRun scAs(uid_t user, gid_t group, const std::string& args) {
        return sky::testing::runCommand(sky::testing::runAs(user, group) + "'" +
                                            (sky::testing::buildBin() / "sc").string() + "' " +
                                            args,
                                        sky::machine::root().parent_path() /
                                            (sky::machine::root().filename().string() + "-errors"));
    }
    static bool managerListens() {
        return fs::exists(sky::services::managerSocket(sky::machine::root()));
    }

    uid_t machineUser_ = 0;
    uid_t stranger_ = 0;
};

TEST_F(ScAsAnotherAccount, AUserWhoIsNotTheOwnerUsesARunningManagerButNeverStartsOne) {
    ASSERT_FALSE(managerListens());
    const gid_t group = static_cast<gid_t>(machineUser_);
    const auto before = std::chrono::steady_clock::now();
    const auto refused = scAs(machineUser_, group, "query RPCSS");
    // At once, not after waiting for a manager that nobody may start.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(refused.exitCode, RPC_S_SERVER_UNAVAILABLE & 0xFF);
    EXPECT_EQ(refused.out, "[SC] OpenSCManager FAILED 1722:\n\nThe RPC server is unavailable.\n\n");
    EXPECT_NE(refused.errors.find("only the machine's owner (root) starts it"), std::string::npos)
        << refused.errors;
    EXPECT_NE(refused.errors.find("skyscm --foreground " + sky::machine::root().string()),
              std::string::npos)
        << refused.errors;
    EXPECT_FALSE(managerListens()) << "a manager was started for a user who is not the owner";

    // The owner's call starts it; the user then uses it.
    EXPECT_EQ(sc({"query", "RPCSS"}).status, 0);
    ASSERT_TRUE(managerListens());
    const auto admitted = scAs(machineUser_, group, "query RPCSS");
    EXPECT_EQ(admitted.exitCode, 0) << admitted.out << admitted.errors;
    EXPECT_NE(admitted.out.find("RUNNING"), std::string::npos) << admitted.out;

    // A stranger reaches nothing of the machine, running manager or not.
    const auto stranger = scAs(stranger_, static_cast<gid_t>(stranger_), "query RPCSS");
    EXPECT_EQ(stranger.exitCode, ERROR_ACCESS_DENIED);
    EXPECT_NE(stranger.errors.find("is not a user of the machine"), std::string::npos)
        << stranger.errors;
}

// The name the manager listened on before it was a file: an abstract socket name anybody could
// bind while the manager was idle.
std::string formerAbstractName(const fs::path& machine) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : fs::weakly_canonical(machine).string()) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char name[64];
    std::snprintf(name, sizeof name, "skyloom/services/%016llx",
                  static_cast<unsigned long long>(hash));
    return name;
}

// A process of another account that binds every name the manager could be reached at (the socket
// file, the former abstract name) and accepts and drops whatever connects, until killed. It
// reports how many names it took.
struct Squatter {
    Squatter(uid_t user, gid_t group, const fs::path& socketFile, const std::string& abstract) {
        int report[2];
        EXPECT_EQ(pipe2(report, O_CLOEXEC), 0);
        pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(user) != 0)
                _exit(2);
            std::vector<int> bound;
            for (const bool file : {true, false}) {
                const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                socklen_t length = sizeof address;
                if (file) {
                    std::strncpy(address.sun_path, socketFile.c_str(), sizeof address.sun_path - 1);
                } else {
                    std::memcpy(address.sun_path + 1, abstract.data(), abstract.size());
                    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 +
                                                    abstract.size());
                }
                if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                    listen(fd, 64) == 0)
                    bound.push_back(fd);
            }
            const char count = static_cast<char>('0' + bound.size());
            if (write(report[1], &count, 1) != 1)
                _exit(3);
            for (;;) {
                for (const int fd : bound) {
                    const int accepted = accept(fd, nullptr, nullptr);
                    if (accepted >= 0)
                        close(accepted);
                }
                usleep(1000);
            }
        }
        close(report[1]);
        char count = 0;
        EXPECT_EQ(read(report[0], &count, 1), 1);
        close(report[0]);
        names = count - '0';
    }
    ~Squatter() {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid_t pid = -1;
    int names = -1;
};

TEST_F(ScAsAnotherAccount, NobodyButTheOwnerCanTakeTheManagersNameAndTheOwnerIsServedMeanwhile) {
    const fs::path socketFile = sky::services::managerSocket(sky::machine::root());
    sky::machine::runtimeFolder();
    const std::string abstract = formerAbstractName(sky::machine::root());
    // A user of the machine may enter its runtime folder but not make anything in it.
    {
        Squatter user(machineUser_, static_cast<gid_t>(machineUser_), socketFile, abstract);
        EXPECT_EQ(user.names, 1) << "a user of the machine bound the manager's socket file";
    }
    // A stranger may not even enter the machine; it takes the former abstract name, as before.
    Squatter stranger(stranger_, static_cast<gid_t>(stranger_), socketFile, abstract);
    EXPECT_EQ(stranger.names, 1);

    // The owner's commands go on working while the stranger squats.
    const auto before = std::chrono::steady_clock::now();
    const ScRun query = sc({"query", "RPCSS"});
    EXPECT_EQ(query.status, 0) << query.output;
    EXPECT_NE(query.output.find("RUNNING"), std::string::npos) << query.output;
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
}

TEST_F(ScAsAnotherAccount, AClientSaysNothingToAManagerThatIsNotTheMachinesOwner) {
    // The machine belongs to the user; its manager's name is held by a process of another account
    // (root may write anywhere), which records what it is told.
    const fs::path run = sky::machine::runtimeFolder();
    ASSERT_TRUE(sky::testing::giveMachineTo(machineUser_));
    const int impostor = sky::services::listenAt(run, "skyscm.sock");
    ASSERT_GE(impostor, 0) << std::strerror(errno);
    std::atomic<int> connections{0};
    std::atomic<std::size_t> received{0};
    std::atomic<bool> stop{false};
    std::thread listening([&] {
        while (!stop) {
            pollfd entry{impostor, POLLIN, 0};
            if (poll(&entry, 1, 50) != 1)
                continue;
            const int fd = accept4(impostor, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++connections;
            pollfd data{fd, POLLIN, 0};
            char buffer[256];
            ssize_t n = 0;
            while (poll(&data, 1, 500) == 1 && (n = read(fd, buffer, sizeof buffer)) > 0)
                received += static_cast<std::size_t>(n);
            close(fd);
        }
    });
    const auto owner = scAs(machineUser_, static_cast<gid_t>(machineUser_), "query RPCSS");
    stop = true;
    listening.join();
    close(impostor);
    EXPECT_EQ(owner.exitCode, ERROR_WRONG_TARGET_NAME & 0xFF);
    EXPECT_EQ(owner.out, "[SC] OpenSCManager FAILED 1396:\n\nLogon Failure: The target account "
                         "name is incorrect.\n\n");
    EXPECT_NE(owner.errors.find("is held by the account root, not by the machine's owner"),
              std::string::npos)
        << owner.errors;
    EXPECT_EQ(received.load(), 0u);
    EXPECT_EQ(connections.load(), 1) << "the client came back";
}

// The installed system, as a user meets it: scripts/install-machine lays the programs into fresh
// machines and registers the object model with qvcom /RegServer; BraskAdmin's commands then run
// as separate processes, their objects served by the QVCom service that the first of them starts.
//
// Two machines live for the whole run (installing is the slow part): "service", as installed, and
// "in-process", installed the same way with the module registered in-process on top (qvfarm
// register), so that every command can be compared across the boundary and in process. Each
// test makes sure of the state it needs itself (a running service, say), so that any one of them
// can run alone. Every program runs under `timeout`: a hang fails the test instead of the run.
// The window cases open BraskAdmin's main window in this process, on the service's machine.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <QAction>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/admin_state.h"
#include "core/messages.h"
#include "shell/file_dialog.h"
#include "shell/frm_main.h"
#include "shell/list_box.h"
#include "shell/message_box.h"
#include "shell/qt_test_app.h"
#include "shell/screenshots.h"
#include "sky/accounts.h"
#include "sky/messagebox.h"
#include "sky/program_run.h"
#include "sky/scoped_state.h"
#include "sky/temp_machine.h"
#include "sky/text.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using sky::testing::ProgramRun;

constexpr const char* farmClass = "{ED62F4E2-63C2-11D4-94D8-00C04FB0F326}";

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file under a folder, by relative path, with its bytes.
std::map<std::string, std::string> filesUnder(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = readFile(entry.path());
    return files;
}

template <class Condition> bool waitFor(Condition condition, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct Machine {
    fs::path root;
    fs::path programFolder() const { return root / "drive_c/Program Files/Vantor/BraskAdmin"; }
    fs::path system32() const { return root / "drive_c/WINDOWS/System32"; }
    std::string environment() const { return "SKYLOOM_MACHINE=" + quoted(root.string()) + " "; }

    // A program of the build run on this machine, from `folder`, standard error collected.
    ProgramRun run(const std::string& arguments, const fs::path& folder,
                   const std::string& prefix = {}) const {
        return sky::testing::runCommand("cd " + quoted(folder.string()) + " && " + environment() +
                                            prefix + "timeout 120 " + arguments,
                                        root.parent_path() / "errors.txt");
    }
    ProgramRun admin(const std::string& arguments, const fs::path& folder,
                     const std::string& prefix = {}) const {
        return run(quoted((programFolder() / "BraskAdmin.exe").string()) + " " + arguments, folder,
                   prefix);
    }
    ProgramRun tool(const std::string& name, const std::string& arguments) const {
        return run(quoted((sky::testing::buildBin() / name).string()) + " " + arguments, root);
    }
    std::string dump() const { return tool("qvfarm", "dump").out; }

    // Makes `group` the machine's group, for everything the machine holds: an account run with it
    // is a user of the machine.
    void giveGroup(gid_t group) const {
        EXPECT_EQ(lchown(root.c_str(), static_cast<uid_t>(-1), group), 0);
        for (const auto& entry : fs::recursive_directory_iterator(root))
            EXPECT_EQ(lchown(entry.path().c_str(), static_cast<uid_t>(-1), group), 0)
                << entry.path();
    }

    // "4  RUNNING", "1  STOPPED", ... as `sc query QVCom` shows the service's state.
    std::string serviceState() const {
        const std::string out = tool("sc", "query QVCom").out;
        const auto at = out.find("STATE");
        if (at == std::string::npos)
            return out;
        const auto colon = out.find(':', at);
        const auto end = out.find('\n', colon);
        std::string state = out.substr(colon + 2, end - colon - 2);
        while (!state.empty() && state.back() == ' ')
            state.pop_back();
        return state;
    }
    pid_t servicePid() const {
        const std::string out = tool("sc", "queryex QVCom").out;
        const auto at = out.find("PID");
        if (at == std::string::npos)
            return 0;
        return static_cast<pid_t>(std::stol(out.substr(out.find(':', at) + 1)));
    }
    void stopService() const {
        tool("sc", "stop QVCom");
        EXPECT_TRUE(waitFor([&] { return serviceState() == "1  STOPPED"; })) << serviceState();
    }
};

// Descriptors and shared-memory mailboxes a process holds.
struct Holdings {
    int descriptors = 0;
    int mailboxes = 0;
    bool operator==(const Holdings&) const = default;
};
Holdings holdings(pid_t pid) {
    Holdings h;
    const fs::path proc = "/proc/" + std::to_string(pid);
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(proc / "fd"))
        ++h.descriptors;
    std::ifstream maps(proc / "maps");
    for (std::string line; std::getline(maps, line);)
        h.mailboxes += line.find("memfd:") != std::string::npos;
    return h;
}

// BraskAdmin exporting into a named pipe whose reader does not read: the export stops inside its
// loop over the applications, holding the farm's objects, until the pipe is drained.
class StalledExport {
public:
    StalledExport(const Machine& machine, const fs::path& folder) {
        pipe_ = folder / "stalled.ini";
        fs::remove(pipe_);
        EXPECT_EQ(mkfifo(pipe_.c_str(), 0600), 0);
        reader_ = open(pipe_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(reader_, 0);
        EXPECT_GE(fcntl(reader_, F_SETPIPE_SZ, 4096), 0);
        const std::string command = "cd " + quoted(folder.string()) + " && exec env " +
                                    machine.environment() +
                                    quoted((machine.programFolder() / "BraskAdmin.exe").string()) +
                                    " export stalled.ini >stalled.out 2>stalled.err";
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        EXPECT_EQ(
            posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        // The pipe holds 4096 bytes; the export's text is ten times that.
        EXPECT_TRUE(waitFor([&] {
            int queued = 0;
            return ioctl(reader_, FIONREAD, &queued) == 0 && queued >= 4096;
        })) << "the export did not fill the pipe";
    }
    ~StalledExport() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            finish();
        }
        if (reader_ >= 0)
            close(reader_);
    }
    void killHard() {
        kill(pid_, SIGKILL);
        finish();
    }
    // Reads the pipe to its end and waits for the export; its exit code (-1: killed).
    int drainAndWait() {
        fcntl(reader_, F_SETFL, 0);
        char buffer[4096];
        while (read(reader_, buffer, sizeof buffer) > 0) {
        }
        return finish();
    }

private:
    int finish() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::path pipe_;
    int reader_ = -1;
    pid_t pid_ = -1;
};

class InstalledSystemTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/skyloom-installed-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base_ = pattern;
        // The second account of the administrator test reaches the machine through this folder.
        fs::permissions(base_, fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
        service_.root = base_ / "service";
        inProcess_.root = base_ / "in-process";
        for (const Machine* m : {&service_, &inProcess_}) {
            const ProgramRun install = sky::testing::runCommand(
                quoted(std::string(SKY_SOURCE_DIR) + "/scripts/install-machine") + " --machine " +
                    quoted(m->root.string()) + " --bin " +
                    quoted(sky::testing::buildBin().string()),
                base_ / "errors.txt");
            ASSERT_EQ(install.exitCode, 0) << install.out << install.errors;
            ASSERT_NE(install.out.find("registered by qvcom /RegServer"), std::string::npos)
                << install.out;
            ASSERT_EQ(m->tool("qvfarm", "demo").exitCode, 0);
        }
        ASSERT_EQ(
            inProcess_.tool("qvfarm", "register 'C:\\WINDOWS\\System32\\qvcomsrv.dll'").exitCode,
            0);
    }
    static void TearDownTestSuite() {
        for (const Machine* m : {&service_, &inProcess_})
            if (m->serviceState() != "1  STOPPED")
                m->stopService();
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }
    void SetUp() override {
        work_ = base_ / "work";
        fs::remove_all(work_);
        fs::create_directories(work_);
    }
    // The demo farm as `qvfarm demo` makes it, whatever the tests before changed in it, on a
    // machine whose service is stopped (it starts again with the next command).
    static void startFromTheDemoFarm(const Machine& machine) {
        if (machine.serviceState() != "1  STOPPED")
            machine.stopService();
        const ProgramRun demo = machine.tool("qvfarm", "demo");
        ASSERT_EQ(demo.exitCode, 0) << demo.out << demo.errors;
    }
    // The service running, its process id.
    pid_t runningService() {
        EXPECT_EQ(service_.admin("view farm", work_).exitCode, 0);
        EXPECT_EQ(service_.serviceState(), "4  RUNNING");
        return service_.servicePid();
    }

    static fs::path base_;
    static Machine service_, inProcess_;
    fs::path work_;
};
fs::path InstalledSystemTest::base_;
Machine InstalledSystemTest::service_;
Machine InstalledSystemTest::inProcess_;

TEST_F(InstalledSystemTest, TheFirstCommandStartsTheServiceWhichServesTheFarm) {
    // Registration leaves no in-process server: the classes name the service.
    EXPECT_NE(service_
                  .tool("reg", std::string("query 'HKLM\\Software\\Classes\\CLSID\\") + farmClass +
                                   "\\InprocServer32'")
                  .exitCode,
              0);
    if (service_.serviceState() != "1  STOPPED")
        service_.stopService();

    const ProgramRun view = service_.admin("view farm", work_);
    EXPECT_EQ(view.exitCode, 0) << view.errors;
    EXPECT_EQ(view.out.rfind("Farm name\t: Demo Farm\n", 0), 0u) << view.out;
    EXPECT_EQ(view.out, inProcess_.admin("view farm", work_).out);

    EXPECT_EQ(service_.serviceState(), "4  RUNNING");
    const pid_t pid = service_.servicePid();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(fs::equivalent(fs::read_symlink("/proc/" + std::to_string(pid) + "/exe"),
                               service_.system32() / "qvcom.exe"));
    // The in-process machine served its view without the service.
    EXPECT_EQ(inProcess_.serviceState(), "1  STOPPED");
}

TEST_F(InstalledSystemTest, EveryCommandGivesTheSameResultAcrossTheBoundaryAsInProcess) {
    const std::vector<std::string> steps = {
        "view apps",
        "view servers",
        "export farm.ini",
        "offline HQ-SRV02 snapshot.txt",
        "publish 'Office\\Word' 'Finance\\Ledger' --server BR-SRV02 --server HQ-SRV05",
        "unpublish 'Office\\Excel' --server HQ-SRV01",
        "offline BR-SRV03 branch.txt",
        "online --dry-run --json BR-SRV03 branch.txt",
        "clone HQ-SRV04 --to BR-SRV03",
        "options 'Office\\Word' 'Finance\\Payroll' --colors 'True color (24 bit)' --size "
        "Custom... --width 1000 --height 700 --encryption 'RC5 (128-bit)' --audio 'Audio off'",
        "online HQ-SRV02 snapshot.txt",
        "export changed.ini",
        "import --dry-run farm.ini",
        "import farm.ini",
        "export imported.ini",
    };
    struct Outcome {
        int exitCode;
        std::string out, errors, dump;
        std::map<std::string, std::string> files;
    };
    // Both machines start from the same farm (the tests before may have changed either) and run
    // the same steps in the same folder, one after the other, so that the paths the files hold
    // are the same.
    for (const Machine* machine : {&service_, &inProcess_}) {
        startFromTheDemoFarm(*machine);
        if (HasFatalFailure())
            return;
    }
    ASSERT_EQ(service_.dump(), inProcess_.dump());
    auto runAll = [&](const Machine& machine) {
        fs::remove_all(work_);
        fs::create_directories(work_);
        std::vector<Outcome> outcomes;
        for (const std::string& step : steps) {
            const ProgramRun run = machine.admin(step, work_);
            outcomes.push_back(
                {run.exitCode, run.out, run.errors, machine.dump(), filesUnder(work_)});
        }
        return outcomes;
    };
    const std::vector<Outcome> across = runAll(service_);
    EXPECT_EQ(service_.serviceState(), "4  RUNNING");
    const std::vector<Outcome> inProcess = runAll(inProcess_);
    EXPECT_EQ(inProcess_.serviceState(), "1  STOPPED");

    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("braskadmin " + steps[i]);
        EXPECT_EQ(across[i].exitCode, 0) << across[i].errors;
        EXPECT_EQ(across[i].exitCode, inProcess[i].exitCode);
        EXPECT_EQ(across[i].out, inProcess[i].out);
        EXPECT_EQ(across[i].errors, inProcess[i].errors);
        EXPECT_TRUE(across[i].dump == inProcess[i].dump) << "the farm dumps differ";
        EXPECT_EQ(across[i].files.size(), inProcess[i].files.size());
        for (const auto& [name, bytes] : across[i].files) {
            const auto other = inProcess[i].files.find(name);
            ASSERT_NE(other, inProcess[i].files.end()) << name;
            EXPECT_TRUE(bytes == other->second) << name << " differs";
        }
    }
    // The steps did change the farm, and the files are there.
    EXPECT_NE(across.front().dump, across.back().dump);
    EXPECT_GT(across.back().files.count("farm.ini") + across.back().files.count("snapshot.txt"),
              1u);
    EXPECT_NE(across.back().files.at("farm.ini"), across.back().files.at("changed.ini"));
}

TEST_F(InstalledSystemTest, ATenMegabyteDescriptionImportsAcrossTheBoundaryAsInProcess) {
    // A definition file with a new application whose description is 10 MB: its request and the
    // replies that read it back are larger than a mailbox. Both machines start from the demo
    // farm, whatever the tests before changed in it.
    ASSERT_NO_FATAL_FAILURE(startFromTheDemoFarm(service_));
    ASSERT_NO_FATAL_FAILURE(startFromTheDemoFarm(inProcess_));
    ASSERT_EQ(service_.admin("export farm.ini", work_).exitCode, 0);
    std::string file = readFile(work_ / "farm.ini");
    const std::string name = "AppName=DraftCAD\r\nDistinguishedName=Applications/Engineering/CAD/"
                             "DraftCAD";
    const std::string description = "Description=Two-dimensional drafting";
    ASSERT_NE(file.find(name), std::string::npos);
    ASSERT_NE(file.find(description), std::string::npos);
    std::string large;
    while (large.size() < 10'000'000)
        large += "Drafting in two dimensions, line " + std::to_string(large.size()) + ". ";
    file.replace(file.find(name), name.size(),
                 "AppName=DraftLarge\r\nDistinguishedName=Applications/Engineering/CAD/DraftLarge");
    file.replace(file.find(description), description.size(), "Description=" + large);
    std::ofstream(work_ / "large.ini", std::ios::binary) << file;

    struct Outcome {
        ProgramRun preview, import, exported;
        std::string dump;
    };
    auto importOn = [&](const Machine& machine) {
        return Outcome{machine.admin("import --dry-run large.ini", work_),
                       machine.admin("import large.ini", work_),
                       machine.admin("export after.ini", work_), machine.dump()};
    };
    const Outcome across = importOn(service_);
    const Outcome inProcess = importOn(inProcess_);
    EXPECT_EQ(across.preview.exitCode, 0) << across.preview.out << across.preview.errors;
    EXPECT_NE(across.preview.out.find("1 added"), std::string::npos) << across.preview.out;
    EXPECT_EQ(across.import.exitCode, 0) << across.import.out << across.import.errors;
    EXPECT_EQ(across.exported.exitCode, 0) << across.exported.errors;
    EXPECT_EQ(across.preview.out, inProcess.preview.out);
    EXPECT_EQ(across.import.out, inProcess.import.out);
    EXPECT_EQ(across.import.errors, inProcess.import.errors);
    EXPECT_TRUE(across.dump == inProcess.dump) << "the farm dumps differ";
    EXPECT_NE(across.dump.find(large), std::string::npos) << "the description was not kept whole";
    EXPECT_EQ(service_.serviceState(), "4  RUNNING");
}

TEST_F(InstalledSystemTest, TheAdministratorCheckAnswersForTheCallingUserNotTheService) {
    const pid_t pid = runningService();
    // The service runs as this test's account (root), an administrator of the demo farm.
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("Uid:", 0) != 0) {
    }
    EXPECT_EQ(line.substr(0, 6), "Uid:\t0") << line;
    ASSERT_EQ(geteuid(), 0u) << "a client runs as a second account: the test needs root";

    // A second local account, an unused uid, made a user of the machine: the machine's group is
    // made its own.
    const uid_t other = sky::testing::unusedAccount(41000);
    ProgramRun refused, admitted;
    {
        // The machine's group is root's again afterwards, whatever the outcome: the other tests
        // use the machine.
        const sky::testing::ScopedUndo giveBack([&] { service_.giveGroup(0); });
        service_.giveGroup(static_cast<gid_t>(other));
        ASSERT_EQ(chown(work_.c_str(), other, other), 0);
        const std::string as = "HOME=" + quoted(work_.string()) + " " +
                               sky::testing::runAs(other, static_cast<gid_t>(other));
        refused = service_.admin("view farm", work_, as);
        admitted = service_.admin("view farm", work_);
    }

    EXPECT_EQ(refused.exitCode, 2) << refused.out << refused.errors;
    EXPECT_NE(refused.errors.find("You must be a Vantor administrator."), std::string::npos)
        << refused.errors;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(admitted.exitCode, 0) << admitted.errors;
    // One service answered both.
    EXPECT_EQ(service_.servicePid(), pid);
}

TEST_F(InstalledSystemTest, TwoClientsAtOnceBothKeepTheirChanges) {
    ASSERT_NO_FATAL_FAILURE(startFromTheDemoFarm(service_));
    // The servers each application is published on, by distinguished name.
    const auto published = [&] {
        const auto farm = nlohmann::json::parse(service_.dump());
        std::map<std::string, std::set<std::string>> servers;
        for (const auto& app : farm.at("applications"))
            for (const auto& server : app.at("servers"))
                servers[app.at("distinguishedName").get<std::string>()].insert(server);
        return servers;
    };
    auto servers = published();
    ASSERT_EQ(servers["Applications/Office/Visio"].count("BR-SRV03"), 0u);
    ASSERT_EQ(servers["Applications/Finance/Payroll"].count("HQ-SRV04"), 0u);
    runningService();
    const std::string admin = quoted((service_.programFolder() / "BraskAdmin.exe").string());
    const std::string prefix =
        "cd " + quoted(work_.string()) + " && " + service_.environment() + "timeout 120 " + admin;
    const auto runs = sky::testing::runCommandsTogether(
        {prefix + " publish 'Office\\Visio' --server BR-SRV03 2>&1",
         prefix + " publish 'Finance\\Payroll' --server HQ-SRV04 2>&1"});
    for (const ProgramRun& run : runs)
        EXPECT_EQ(run.exitCode, 0) << run.out;

    servers = published();
    EXPECT_EQ(servers["Applications/Office/Visio"].count("BR-SRV03"), 1u);
    EXPECT_EQ(servers["Applications/Finance/Payroll"].count("HQ-SRV04"), 1u);
}

// What the service holds between commands: the connection of a command is released a moment
// after the command ends, so the count is taken once three looks 50 ms apart agree. (A
// connection of this process, left by a window test before, may be among them.)
Holdings settledHoldings(pid_t pid) {
    Holdings settled = holdings(pid);
    EXPECT_TRUE(waitFor([&] {
        const Holdings first = holdings(pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const Holdings second = holdings(pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        settled = holdings(pid);
        return first == second && second == settled;
    })) << "the service's descriptors and mailboxes keep changing with no command running";
    return settled;
}

TEST_F(InstalledSystemTest, AKilledClientLeavesTheServiceHealthyAndItsConnectionReleased) {
    const pid_t pid = runningService();
    // The first export of a service process opens what the process keeps for good (the inotify
    // queue of its folder index, which finds Windows paths without regard to case): one export
    // run to its end first, so that only what the killed client leaves is counted.
    const ProgramRun warm = service_.admin("export warm.ini", work_);
    ASSERT_EQ(warm.exitCode, 0) << warm.errors;
    const Holdings idle = settledHoldings(pid);
    {
        StalledExport client(service_, work_);
        // The client is connected: a socket and its mailbox more.
        EXPECT_EQ(holdings(pid).mailboxes, idle.mailboxes + 1);
        client.killHard();
    }
    EXPECT_TRUE(waitFor([&] { return holdings(pid) == idle; }))
        << "the service still holds " << holdings(pid).descriptors << " descriptors, "
        << holdings(pid).mailboxes << " mailboxes (idle: " << idle.descriptors << ", "
        << idle.mailboxes << ")";
    EXPECT_EQ(service_.admin("view farm", work_).exitCode, 0);
    EXPECT_EQ(service_.servicePid(), pid);
}

TEST_F(InstalledSystemTest, StoppingTheServiceMidRunGivesTheReportAndTheNextCommandStartsItAgain) {
    const pid_t pid = runningService();
    StalledExport client(service_, work_);
    service_.stopService();
    EXPECT_EQ(client.drainAndWait(), 1);
    const std::string errors = readFile(work_ / "stalled.err");
    EXPECT_NE(errors.find("Unexpected error."), std::string::npos) << errors;
    // RPC_S_SERVER_UNAVAILABLE for the call in flight, RPC_E_DISCONNECTED for later ones.
    EXPECT_TRUE(errors.find("Error :-2147023174") != std::string::npos ||
                errors.find("Error :-2147417848") != std::string::npos)
        << errors;

    const ProgramRun next = service_.admin("view farm", work_);
    EXPECT_EQ(next.exitCode, 0) << next.errors;
    EXPECT_EQ(service_.serviceState(), "4  RUNNING");
    EXPECT_NE(service_.servicePid(), pid);
}

// The service's socket, as the published class object names it.
fs::path serviceSocket(const Machine& machine) {
    return fs::canonical(machine.root / "run/com" / farmClass);
}

int connectTo(const fs::path& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socketPath.string();
    EXPECT_LT(path.size(), sizeof address.sun_path) << path;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    return fd;
}

TEST_F(InstalledSystemTest, AClientSendingGarbageDoesNotBringTheServiceDown) {
    const pid_t pid = runningService();
    const fs::path socketPath = serviceSocket(service_);
    // Bytes that are no greeting, a greeting cut short, a greeting of another magic and
    // version, and a greeting followed by more than a greeting.
    const std::vector<std::string> garbage = {
        std::string(64, '\xff'),
        std::string("SKY"),
        std::string("\x00\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 16),
        std::string("SKYR\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 16) +
            std::string(4096, 'x'),
    };
    for (const std::string& bytes : garbage) {
        const int fd = connectTo(socketPath);
        EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
        char answer[64];
        recv(fd, answer, sizeof answer, 0); // whatever the service says, or its closing
        close(fd);
    }
    const ProgramRun after = service_.admin("view farm", work_);
    EXPECT_EQ(after.exitCode, 0) << after.errors;
    EXPECT_EQ(service_.servicePid(), pid);
    EXPECT_EQ(service_.serviceState(), "4  RUNNING");
}

// A process of another account holding greeted connections to the service, idle, until it goes.
class IdleConnections {
public:
    IdleConnections(const fs::path& socketPath, uid_t user, int count) {
        int ready[2];
        EXPECT_EQ(pipe2(ready, O_CLOEXEC), 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = socketPath.string();
        EXPECT_LT(path.size(), sizeof address.sun_path) << path;
        std::memcpy(address.sun_path, path.c_str(),
                    std::min(path.size(), sizeof address.sun_path - 1));
        // The greeting of wire version 2.2: "SKYR", major, minor, status, capacity.
        const unsigned char hello[16] = {'S', 'K', 'Y', 'R', 2, 0, 2, 0};
        pid_ = fork();
        if (pid_ == 0) {
            // Only system calls from here on: the test process may have threads.
            const gid_t group = static_cast<gid_t>(user);
            if (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0 ||
                setresuid(user, user, user) != 0)
                _exit(3);
            int made = 0;
            for (int i = 0; i < count; ++i) {
                const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                if (fd >= 0 &&
                    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    send(fd, hello, sizeof hello, MSG_NOSIGNAL) == sizeof hello)
                    ++made;
            }
            const char said = made == count ? 'y' : 'n';
            if (write(ready[1], &said, 1) != 1)
                _exit(4);
            for (;;)
                pause();
        }
        close(ready[1]);
        char said = 0;
        EXPECT_EQ(read(ready[0], &said, 1), 1);
        EXPECT_EQ(said, 'y') << "the other account could not connect " << count << " times";
        close(ready[0]);
    }
    ~IdleConnections() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

// One machine user holding 200 idle connections locks no one else out: the service serves 32
// of one user and refuses the rest at once, and another user's command answers within 2 seconds.
// (One user's 127 idle connections used to take every place the service had.)
TEST_F(InstalledSystemTest, TwoHundredIdleConnectionsOfOneUserLeaveAnotherUsersViewAnswering) {
    const pid_t pid = runningService();
    ASSERT_EQ(geteuid(), 0u) << "the connections are another account's: the test needs root";
    const uid_t other = sky::testing::unusedAccount(43000);
    const sky::testing::ScopedUndo giveBack([&] { service_.giveGroup(0); });
    service_.giveGroup(static_cast<gid_t>(other));
    const IdleConnections idle(serviceSocket(service_), other, 200);
    // Every greeting answered (admitted or refused) before the command runs.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // Each run answers; the quickest of three within 2 seconds (one run may meet a busy machine).
    auto quickest = std::chrono::steady_clock::duration::max();
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const ProgramRun view = service_.admin("view servers", work_);
        quickest = std::min(quickest, std::chrono::steady_clock::now() - start);
        EXPECT_EQ(view.exitCode, 0) << view.out << view.errors;
        EXPECT_NE(view.out.find("BR-SRV04"), std::string::npos) << view.out;
    }
    EXPECT_LT(quickest, std::chrono::seconds(2))
        << std::chrono::duration_cast<std::chrono::milliseconds>(quickest).count() << " ms";
    EXPECT_EQ(service_.servicePid(), pid);
}

// BraskAdmin's main window in this process, on a machine of the test: its real widgets on Qt's
// offscreen platform, its objects created through the machine's registration (so served by the
// QVCom service where that is how the machine is installed). Only the person answering the
// message boxes is a stand-in, which records each box.
class WindowOnMachine {
public:
    // The window runs in `folder`, where commands put what they write beside their file (the
    // export's icons folder).
    WindowOnMachine(const Machine& machine, const fs::path& folder)
        : installed_(recorder_), previousFolder_(fs::current_path()) {
        fs::current_path(folder);
        brask::testing::qtTestApp();
        const char* previous = std::getenv("SKYLOOM_MACHINE");
        previous_ = previous ? previous : "";
        setenv("SKYLOOM_MACHINE", machine.root.c_str(), 1);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    }
    ~WindowOnMachine() {
        main_.reset();
        state_ = brask::AdminState();
        CoUninitialize();
        setenv("SKYLOOM_MACHINE", previous_.c_str(), 1);
        fs::current_path(previousFolder_);
    }

    brask::frmMain& open() {
        main_ = std::make_unique<brask::frmMain>(state_);
        main_->load();
        return *main_;
    }
    void choose(const char* item) { main_->findChild<QAction*>(item)->trigger(); }
    QStringList entries(const char* list) const {
        QStringList texts;
        const auto* box = main_->findChild<brask::ListBox*>(list);
        for (int row = 0; row < box->count(); ++row)
            texts << box->item(row)->text();
        return texts;
    }
    std::vector<sky::RecordingPresenter::Box> boxes() const { return recorder_.boxes(); }
    brask::frmMain* main() const { return main_.get(); }

private:
    sky::RecordingPresenter recorder_;
    sky::ScopedMessageBoxPresenter installed_;
    brask::AdminState state_;
    std::unique_ptr<brask::frmMain> main_;
    std::string previous_;
    fs::path previousFolder_;
};

// Answers every file dialog with one file and counts the dialogs.
class AnsweringFileDialog final : public brask::FileDialogPresenter {
public:
    explicit AnsweringFileDialog(const fs::path& file) : file_(sky::widen(file.string())) {}
    std::optional<std::u16string> show(const brask::FileDialogRequest&) override {
        ++shown;
        return file_;
    }
    int shown = 0;

private:
    std::u16string file_;
};

// The report as a user sees it: the box over the middle of the window that owns it.
QImage reportOverWindow(QWidget* window, const sky::RecordingPresenter::Box& report) {
    QImage picture = brask::renderWindow(window);
    const auto box = brask::buildMessageBox(window, report.text, report.caption, report.type);
    box->adjustSize();
    const QImage boxPicture = brask::renderWindow(box.get());
    QPainter painter(&picture);
    painter.drawImage((picture.width() - boxPicture.width()) / 2,
                      (picture.height() - boxPicture.height()) / 2, boxPicture);
    return picture;
}

// The report of the first call that finds its service gone (RPC_S_SERVER_UNAVAILABLE; the calls
// after it on the same objects give RPC_E_DISCONNECTED).
constexpr std::int32_t serverUnavailable = -2147023174;
std::u16string serviceGoneReport(std::int32_t number) {
    return brask::unexpectedErrorText(number, u"The RPC server is unavailable.");
}

TEST_F(InstalledSystemTest,
       TheWindowWhoseServiceStopsUnderACommandShowsTheReportAndRefreshStartsIt) {
    if (service_.serviceState() != "1  STOPPED")
        service_.stopService();
    WindowOnMachine window(service_, work_);
    window.open();
    EXPECT_EQ(service_.serviceState(), "4  RUNNING") << "the window's first farm started it";
    const QStringList farm = window.entries("lstFarm");
    ASSERT_FALSE(farm.isEmpty());
    EXPECT_EQ(farm.front(), "Farm name\t: Demo Farm");
    EXPECT_TRUE(window.boxes().empty());
    const pid_t first = service_.servicePid();

    // Export Farm into a pipe that holds 4096 bytes: the export stops inside its loop, holding the
    // farm's objects, while `sc stop QVCom` stops the service; then the pipe is drained.
    const fs::path pipe = work_ / "window.ini";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_GE(fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    std::thread stopper([&] {
        EXPECT_TRUE(waitFor([&] {
            int queued = 0;
            return ioctl(reader, FIONREAD, &queued) == 0 && queued >= 4096;
        })) << "the export did not fill the pipe";
        service_.stopService();
        fcntl(reader, F_SETFL, 0);
        char buffer[4096];
        while (read(reader, buffer, sizeof buffer) > 0) {
        }
    });
    AnsweringFileDialog dialog(pipe);
    {
        brask::ScopedFileDialogPresenter answering(dialog);
        window.choose("mnuToolsExport");
    }
    stopper.join();
    close(reader);
    const auto boxes = window.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[0].text, serviceGoneReport(serverUnavailable)) << sky::narrow(boxes[0].text);

    // Refresh fills the view through a fresh farm object, whose activation starts the service.
    window.choose("mnuViewRefresh");
    EXPECT_EQ(window.boxes().size(), 1u);
    EXPECT_EQ(window.entries("lstFarm"), farm);
    EXPECT_EQ(service_.serviceState(), "4  RUNNING");
    EXPECT_NE(service_.servicePid(), first);
}

TEST_F(InstalledSystemTest, AfterScStopACommandOnTheCurrentFarmShowsTheReportAndRefreshStartsIt) {
    if (service_.serviceState() != "1  STOPPED")
        service_.stopService();
    WindowOnMachine window(service_, work_);
    window.open();
    const QStringList farm = window.entries("lstFarm");
    ASSERT_FALSE(farm.isEmpty());
    const pid_t first = service_.servicePid();
    ASSERT_GT(first, 0);

    // `sc stop QVCom` while the window shows the farm. Export Farm proposes a file named after the
    // current farm, the object the last fill left: its service is gone, so the report comes
    // before any dialog.
    service_.stopService();
    const fs::path file = work_ / "after-stop.ini";
    AnsweringFileDialog dialog(file);
    brask::ScopedFileDialogPresenter answering(dialog);
    window.choose("mnuToolsExport");
    auto boxes = window.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].text, serviceGoneReport(serverUnavailable)) << sky::narrow(boxes[0].text);
    EXPECT_EQ(dialog.shown, 0);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(service_.serviceState(), "1  STOPPED");

    // The report as the user sees it.
    const char* folder = std::getenv("SKY_TEST_PICTURES");
    const fs::path picture =
        fs::path(folder ? folder : work_.string()) / "frmMain-service-stopped.png";
    ASSERT_TRUE(reportOverWindow(window.main(), boxes[0])
                    .save(QString::fromStdString(picture.string()), "PNG"));
    const QImage written(QString::fromStdString(picture.string()));
    EXPECT_GT(written.width(), 400);

    // Refresh fills the view through a fresh farm object: the service starts again, the farm
    // shows, and the next command works on it.
    window.choose("mnuViewRefresh");
    EXPECT_EQ(window.entries("lstFarm"), farm);
    EXPECT_EQ(service_.serviceState(), "4  RUNNING");
    EXPECT_NE(service_.servicePid(), first);
    window.choose("mnuToolsExport");
    EXPECT_EQ(window.boxes().size(), 1u) << sky::narrow(window.boxes().back().text);
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_EQ(readFile(file).rfind("[Farm]", 0), 0u);

    // A stop followed by Refresh alone: the fresh farm starts the service; nothing to report.
    const pid_t second = service_.servicePid();
    service_.stopService();
    window.choose("mnuViewRefresh");
    EXPECT_EQ(window.entries("lstFarm"), farm);
    EXPECT_EQ(window.boxes().size(), 1u);
    EXPECT_EQ(service_.serviceState(), "4  RUNNING");
    EXPECT_NE(service_.servicePid(), second);
}

} // namespace

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sky/commandline.h"
#include "sky/machine.h"
#include "sky/process.h"
#include "sky/scoped_state.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/process.h"
#include "win/synch.h"
#include "win/winuser.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

constexpr char16_t installedProbe[] = u"C:\\Program Files\\Probe Tool\\probe.exe";

// What the probe program wrote about itself.
struct Report {
    std::string commandLine;
    std::vector<std::string> arguments; // CommandLineToArgvW of the command line
    std::vector<std::string> received;  // the process's own argv, after the program's name
    std::string directory;
    std::string machine;
    std::string value;
    bool sawInternalVariables = false;
};

fs::path reportFile() {
    return sky::machine::root() / "probe-report.txt";
}

Report readReport() {
    Report report;
    std::ifstream in(reportFile(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "cmdline")
            report.commandLine = value;
        else if (key == "arg")
            report.arguments.push_back(value);
        else if (key == "argv")
            report.received.push_back(value);
        else if (key == "cwd")
            report.directory = value;
        else if (key == "machine")
            report.machine = value;
        else if (key == "value")
            report.value = value;
        else if (key == "internal")
            report.sawInternalVariables = true;
    }
    return report;
}

std::vector<std::string> narrowed(const std::vector<std::u16string>& arguments) {
    std::vector<std::string> out;
    for (const auto& argument : arguments)
        out.push_back(sky::narrow(argument));
    return out;
}

class Processes : public ::testing::Test {
protected:
    // The variables the tests set for the probe (PATH too) go again when a test ends.
    const sky::testing::ScopedEnvironment environment_;

    void SetUp() override {
        ASSERT_TRUE(fs::exists(probe())) << "build skytest_commandline_probe first";
        for (const char16_t* name : {u"SKY_PROBE_EXIT", u"SKY_PROBE_SLEEP_MS", u"SKY_PROBE_VALUE"})
            SetEnvironmentVariableW(name, nullptr);
        ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_PROBE_OUTPUT",
                                            sky::widen(reportFile().string()).c_str()));
    }
    void TearDown() override { fs::current_path(savedDirectory_); }

    static fs::path probe() {
        return sky::testing::buildBin() / "testprograms" / "skytest_commandline_probe";
    }

    // Puts the probe on the machine under a Windows name (with blanks in its path).
    static void install(std::u16string_view windowsPath = installedProbe) {
        const fs::path target = *sky::machine::toHostPath(windowsPath);
        fs::create_directories(target.parent_path());
        fs::copy_file(probe(), target, fs::copy_options::overwrite_existing);
        fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
    }

    // Starts a command line and waits for the child; returns its exit code.
    static DWORD run(const WCHAR* application, std::u16string commandLine,
                     const WCHAR* directory = nullptr, void* environment = nullptr,
                     DWORD flags = 0) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        const BOOL started =
            CreateProcessW(application, commandLine.empty() ? nullptr : commandLine.data(), nullptr,
                           nullptr, FALSE, flags, environment, directory, &startup, &info);
        EXPECT_TRUE(started) << "error " << GetLastError();
        if (!started)
            return 0xFFFFFFFFu;
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(info.hThread, 0), WAIT_OBJECT_0) << "the thread ended too";
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        EXPECT_TRUE(CloseHandle(info.hThread));
        EXPECT_TRUE(CloseHandle(info.hProcess));
        return code;
    }

    static DWORD failure(const WCHAR* application, std::u16string commandLine, DWORD flags = 0) {
        PROCESS_INFORMATION info{};
        SetLastError(0);
        const BOOL started =
            CreateProcessW(application, commandLine.empty() ? nullptr : commandLine.data(), nullptr,
                           nullptr, FALSE, flags, nullptr, nullptr, nullptr, &info);
        EXPECT_FALSE(started);
        if (started) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
        return GetLastError();
    }

private:
    fs::path savedDirectory_ = fs::current_path();
};

} // namespace

TEST_F(Processes, ChildGetsItsCommandLineExactly) {
    install();
    const std::u16string line = u"\"C:\\Program Files\\Probe Tool\\probe.exe\"  plain \"two words\""
                                u"\ttab\\\\ \"quote\\\"inside\" \"\" \"gr\u00fc\u00df\" trailing\\";
    const DWORD code = run(nullptr, line);
    const Report report = readReport();
    EXPECT_EQ(report.commandLine, sky::narrow(line)) << "blanks and quoting kept as written";
    const std::vector<std::string> expected = {"C:\\Program Files\\Probe Tool\\probe.exe",
                                               "plain",
                                               "two words",
                                               "tab\\\\",
                                               "quote\"inside",
                                               "",
                                               "gr\xc3\xbc\xc3\x9f",
                                               "trailing\\"};
    EXPECT_EQ(report.arguments, expected);
    EXPECT_EQ(code, expected.size()) << "the probe exits with its argument count";
    EXPECT_FALSE(report.sawInternalVariables) << "the hand-over variables are not visible";
}

TEST_F(Processes, ProgramFoundAsWindowsFindsIt) {
    install();
    // Unquoted with blanks: tried at each blank, so the child's arguments split there.
    std::u16string line = std::u16string(installedProbe) + u" /uSERVER";
    run(nullptr, line);
    Report report = readReport();
    EXPECT_EQ(report.commandLine, sky::narrow(line));
    EXPECT_EQ(report.arguments, (std::vector<std::string>{"C:\\Program", "Files\\Probe",
                                                          "Tool\\probe.exe", "/uSERVER"}));

    // A bare name is searched (here in the current directory), ".exe" added when it has none.
    ASSERT_TRUE(SetCurrentDirectoryW(u"c:\\program files\\probe tool"));
    run(nullptr, u"PROBE one");
    report = readReport();
    EXPECT_EQ(report.arguments, (std::vector<std::string>{"PROBE", "one"}));
    EXPECT_EQ(report.directory, "C:\\Program Files\\Probe Tool");

    // Through PATH: a host list with Windows entries appended, one of them quoted.
    install(u"C:\\Tool Box\\boxed.exe");
    const std::string hostPath = std::getenv("PATH");
    ASSERT_TRUE(SetEnvironmentVariableW(
        u"Path", sky::widen(hostPath + ";C:\\Nowhere;\"C:\\Tool Box\"").c_str()));
    ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\"));
    run(nullptr, u"boxed two");
    setenv("PATH", hostPath.c_str(), 1);
    EXPECT_EQ(readReport().arguments, (std::vector<std::string>{"boxed", "two"}));
    ASSERT_TRUE(SetCurrentDirectoryW(u"c:\\program files\\probe tool"));

    // The application name is taken relative to the current directory and, without a command
    // line, is the command line.
    run(u"probe.exe", u"");
    EXPECT_EQ(readReport().commandLine, "probe.exe");
    run(u".\\probe.exe", u"custom line \"x y\"");
    report = readReport();
    EXPECT_EQ(report.commandLine, "custom line \"x y\"");
    EXPECT_EQ(report.arguments, (std::vector<std::string>{"custom", "line", "x y"}));
}

TEST_F(Processes, EnvironmentAndDirectoryOfTheChild) {
    install();
    fs::create_directories(sky::machine::driveC() / "WINDOWS");
    ASSERT_TRUE(SetEnvironmentVariableW(u"sky_probe_value", u"Gr\u00fc\u00dfe aus C:\\"));
    run(installedProbe, u"probe", u"C:\\windows");
    Report report = readReport();
    EXPECT_EQ(report.value, "Gr\xc3\xbc\xc3\x9f"
                            "e aus C:\\");
    EXPECT_EQ(report.directory, "C:\\WINDOWS");
    EXPECT_EQ(report.machine, sky::machine::root().string()) << "the child works on this machine";

    // An explicit environment replaces the inherited one, but the machine stays.
    const std::u16string block = u"SKY_PROBE_OUTPUT=" + sky::widen(reportFile().string()) +
                                 std::u16string(1, u'\0') + u"SKY_PROBE_VALUE=from block" +
                                 std::u16string(2, u'\0');
    run(installedProbe, u"probe", nullptr, const_cast<char16_t*>(block.data()),
        CREATE_UNICODE_ENVIRONMENT);
    report = readReport();
    EXPECT_EQ(report.value, "from block");
    EXPECT_EQ(report.machine, sky::machine::root().string());

    SetLastError(0);
    PROCESS_INFORMATION info{};
    std::u16string line = u"probe";
    EXPECT_FALSE(CreateProcessW(installedProbe, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                u"C:\\No Such Directory", nullptr, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(Processes, FullExitCodesComeBack) {
    install();
    for (const char16_t* code : {u"1150", u"1063", u"2147942405", u"0"}) {
        ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_PROBE_EXIT", code));
        EXPECT_EQ(run(installedProbe, u"probe"), std::stoul(sky::narrow(code)));
    }
}

TEST_F(Processes, RunningChildCanBeWaitedForAndTerminated) {
    install();
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_PROBE_SLEEP_MS", u"60000"));
    std::u16string line = u"probe";
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(installedProbe, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, nullptr, &info));
    EXPECT_NE(info.dwProcessId, 0u);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    const HANDLE both[] = {info.hProcess, info.hThread};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    ASSERT_TRUE(TerminateProcess(info.hProcess, 42));
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 30000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 42u);
    SetLastError(0);
    EXPECT_FALSE(TerminateProcess(info.hProcess, 1)) << "it has ended already";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(GetExitCodeProcess(info.hThread, &code)) << "a thread is not a process";
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Processes, MissingFilesAndFilesThatAreNoPrograms) {
    const fs::path windows = sky::machine::driveC() / "WINDOWS";
    fs::create_directories(windows);
    EXPECT_EQ(failure(nullptr, u"C:\\Nowhere\\qvreg.exe /u"),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(failure(nullptr, u"C:\\WINDOWS\\qvreg.exe /u"),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(failure(nullptr, u"\"C:\\WINDOWS\\no such.exe\""),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(failure(nullptr, u"sky-no-such-program-anywhere x"),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(failure(u"C:\\WINDOWS\\qvreg.exe", u""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(failure(u"C:\\Nowhere\\qvreg.exe", u""), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(failure(u"C:\\WINDOWS", u""), static_cast<DWORD>(ERROR_ACCESS_DENIED))
        << "a directory is not a program file";

    // A text file and a module are files, but no programs.
    std::ofstream(windows / "notes.exe") << "not a program";
    fs::permissions(windows / "notes.exe", fs::perms::owner_all);
    EXPECT_EQ(failure(nullptr, u"C:\\WINDOWS\\notes.exe"),
              static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    fs::copy_file(sky::testing::buildBin() / "libskyplatform.so", windows / "module.exe");
    EXPECT_EQ(failure(u"C:\\WINDOWS\\module.exe", u"module"),
              static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));

    install();
    EXPECT_EQ(failure(installedProbe, std::u16string(32767, u'x')),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(failure(installedProbe, u"probe", CREATE_SUSPENDED),
              static_cast<DWORD>(ERROR_NOT_SUPPORTED));

    EXPECT_EQ(WinExec("C:\\WINDOWS\\qvreg.exe /u", SW_SHOWMINIMIZED),
              static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(WinExec("C:\\WINDOWS\\notes.exe", SW_SHOWMINIMIZED),
              static_cast<UINT>(ERROR_BAD_FORMAT));
    SetLastError(0);
    EXPECT_EQ(sky::startProgram(u"C:\\WINDOWS\\qvreg.exe /uSERVER"), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Processes, ShellStartOfAScriptInTheCurrentDirectory) {
    // How a shell's program start runs a stand-in qvreg.exe from a current directory with a blank.
    const fs::path folder = sky::machine::driveC() / "Brask Admin";
    fs::create_directories(folder);
    const fs::path marks = sky::machine::root() / "qvreg-runs.txt";
    // One echo per run: a single short append, so concurrent runs do not mix their lines.
    std::ofstream(folder / "qvreg.exe")
        << "#!/bin/sh\nline=$(printf '%s|' \"$@\")\necho \"$line\" >> '" << marks.string() << "'\n";
    fs::permissions(folder / "qvreg.exe", fs::perms::owner_all);
    ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\Brask Admin"));
    WCHAR current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);

    const std::u16string line = std::u16string(current) + u"\\qvreg.exe /uSERVER1";
    EXPECT_NE(sky::startProgram(line), 0u);
    EXPECT_GT(WinExec(sky::narrow(std::u16string(current) + u"\\qvreg.exe SERVER1 ").c_str(),
                      SW_SHOWMINIMIZED),
              31u);
    // Nothing waits for the runs; look for both marks.
    std::string written;
    for (int i = 0; i < 500 && std::count(written.begin(), written.end(), '\n') < 2; ++i) {
        Sleep(20);
        std::ifstream in(marks);
        written.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The unquoted path splits at its blank, as on Windows: the script sees "Admin\qvreg.exe".
    EXPECT_NE(written.find("Admin\\qvreg.exe|/uSERVER1|\n"), std::string::npos) << written;
    EXPECT_NE(written.find("Admin\\qvreg.exe|SERVER1|\n"), std::string::npos) << written;
}

TEST_F(Processes, ChildStartedOtherwiseGetsItsArgumentsQuoted) {
    // A program started without the platform (by a host shell, say) quotes its real arguments;
    // a command line left in the environment that does not match them is ignored.
    std::vector<std::string> arguments = {"probe", "a b", "", "x\"y", "back\\", "\\\\\"q", "plain"};
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    environment.push_back("SKY_COMMAND_LINE=stale line");
    std::vector<char*> argv;
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, probe().c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(arguments.size()));

    const Report report = readReport();
    EXPECT_NE(report.commandLine, "stale line");
    ASSERT_EQ(report.arguments.size(), arguments.size());
    for (std::size_t i = 1; i < arguments.size(); ++i)
        EXPECT_EQ(report.arguments[i], arguments[i]);
    EXPECT_EQ(report.arguments[0], "probe");
    EXPECT_EQ(narrowed(sky::splitCommandLine(sky::widen(report.commandLine))), report.arguments);
}

TEST_F(Processes, ChildSplitsADoubledQuoteAsACProgramDoes) {
    // A program's argv comes from its C runtime, which goes on quoting after a doubled quote;
    // CommandLineToArgvW ends the quoting there. The child keeps the exact line it was given.
    install();
    const std::u16string line =
        u"\"C:\\Program Files\\Probe Tool\\probe.exe\" \"two\"\"quotes next\" last";
    run(nullptr, line);
    const Report report = readReport();
    EXPECT_EQ(report.commandLine, sky::narrow(line));
    EXPECT_EQ(report.received, (std::vector<std::string>{"two\"quotes next", "last"}));
    EXPECT_EQ(report.arguments,
              (std::vector<std::string>{"C:\\Program Files\\Probe Tool\\probe.exe", "two\"quotes",
                                        "next last"}));
}

TEST_F(Processes, LaunchAddsVariablesAndDescriptors) {
    // What the service manager needs: variables for the child only and a channel to it.
    int channel[2];
    ASSERT_EQ(pipe2(channel, O_CLOEXEC), 0);
    const fs::path script = sky::machine::driveC() / "tell.exe";
    std::ofstream(script) << "#!/bin/sh\necho \"$SKY_TEST_OVERRIDE\" >&" << channel[1] << "\n";
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_OVERRIDE", u"parent"));

    sky::ProcessLaunch launch;
    launch.applicationName = u"C:\\tell.exe";
    launch.environmentOverrides = {u"Sky_Test_Override=for the child"};
    launch.inheritedDescriptors = {channel[1]};
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(sky::launchProcess(launch, info)) << GetLastError();
    close(channel[1]);
    std::string heard;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        heard.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    EXPECT_EQ(heard, "for the child\n");
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    WCHAR value[16];
    GetEnvironmentVariableW(u"SKY_TEST_OVERRIDE", value, 16);
    EXPECT_EQ(std::u16string(value), u"parent") << "the parent's own value is unchanged";
}

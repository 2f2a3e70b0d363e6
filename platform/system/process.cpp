// Starting programs: CreateProcessW and the platform's launchProcess, process and thread objects,
// exit codes, and the child's side of the exit-code hand-over.
//
// A process object is signalled when the child ends. A reaper thread per child waits for it, so
// that no child is left a zombie even when its handles are closed at once (a shell's program start
// keeps none). Linux passes only 8 bits of an exit code; a child that uses the platform writes its
// full 32-bit code on a pipe its parent gave it, and the reaper prefers that.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "child_channel.h"
#include "environment_block.h"
#include "program_lookup.h"
#include "sky/commandline.h"
#include "sky/handles.h"
#include "sky/machine.h"
#include "sky/process.h"
#include "sky/syserror.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"

namespace fs = std::filesystem;

namespace sky {

namespace {

// Longest command line Windows accepts, terminator included.
constexpr std::size_t maximumCommandLine = 32767;

class ThreadObject final : public Waitable {};

class ProcessObject final : public Waitable {
public:
    explicit ProcessObject(pid_t pid) : pid_(pid) {}

    DWORD exitCode() const { return exitCode_.load(); }

    // Kills the child unless it has already ended (its id may then belong to another process).
    bool terminate(UINT code) {
        std::lock_guard lock(mutex_);
        if (ended_)
            return false;
        terminateCode_ = code;
        kill(pid_, SIGKILL);
        return true;
    }

    // Runs on the reaper thread until the child has ended and been reaped.
    void reap(const std::shared_ptr<ThreadObject>& thread, int exitFd) {
        siginfo_t info{};
        while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 &&
               errno == EINTR) {
        }
        std::optional<UINT> terminated;
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
            terminated = terminateCode_;
        }
        int status = 0;
        pid_t reaped;
        while ((reaped = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        DWORD code = reaped == pid_ ? exitCodeOf(status) : 0;
        child::ExitRecord record;
        while (read(exitFd, &record, sizeof record) == static_cast<ssize_t>(sizeof record)) {
            const bool sameLowBits =
                reaped != pid_ ||
                (WIFEXITED(status) &&
                 static_cast<unsigned>(WEXITSTATUS(status)) == (record.exitCode & 0xFFu));
            if (record.processId == pid_ && sameLowBits)
                code = record.exitCode;
        }
        close(exitFd);
        if (terminated)
            code = *terminated;
        exitCode_.store(code);
        // The main thread ends before its process, as on Windows.
        thread->signal();
        signal();
    }

private:
    // The exit code of a child that did not report one: its status, or for a signal the code a
    // Windows process ends with for the like (abort() gives 3).
    static DWORD exitCodeOf(int status) {
        if (WIFEXITED(status))
            return static_cast<DWORD>(WEXITSTATUS(status));
        switch (WIFSIGNALED(status) ? WTERMSIG(status) : 0) {
        case SIGABRT:
            return 3;
        case SIGSEGV:
        case SIGBUS:
            return 0xC0000005u; // access violation
        case SIGILL:
            return 0xC000001Du; // illegal instruction
        case SIGFPE:
            return 0xC0000094u; // integer division by zero
        case SIGINT:
            return 0xC000013Au; // control-C exit
        default:
            return 1;
        }
    }

    const pid_t pid_;
    std::atomic<DWORD> exitCode_{STILL_ACTIVE};
    std::mutex mutex_;
    bool ended_ = false;
    std::optional<UINT> terminateCode_;
};

// The child's side: the descriptor its parent gave it for the exit code, taken when the library
// loads. It is closed on exec, so that programs this one starts do not write on it.
int exitCodeDescriptor = -1;

void reportExitCode(int status, void*) {
    const child::ExitRecord record{static_cast<int>(getpid()), static_cast<unsigned>(status)};
    [[maybe_unused]] const ssize_t written = write(exitCodeDescriptor, &record, sizeof record);
}

bool takeExitCodeDescriptor() {
    const char* value = std::getenv(child::exitCodeVariable);
    if (!value)
        return false;
    const int fd = std::atoi(value);
    unsetenv(child::exitCodeVariable);
    if (fd <= 2 || fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
        return false;
    exitCodeDescriptor = fd;
    return on_exit(reportExitCode, nullptr) == 0;
}

[[maybe_unused]] const bool exitCodeReported = takeExitCodeDescriptor();

std::string nameOf(const std::u16string& entry) {
    return narrow(std::u16string_view(entry).substr(0, entry.find(u'=')));
}

std::vector<std::string> childEnvironment(const ProcessLaunch& launch,
                                          const std::u16string& commandLine, int exitFd) {
    std::vector<std::string> entries;
    if (launch.environment) {
        for (const std::u16string& entry : *launch.environment)
            entries.push_back(narrow(entry));
        // The child works on this machine, whatever environment it is given.
        if (const char* machine = std::getenv("SKYLOOM_MACHINE");
            machine && !findEntry(entries, "SKYLOOM_MACHINE"))
            setEntry(entries, "SKYLOOM_MACHINE", machine);
    } else {
        entries = environmentEntries();
    }
    for (const std::u16string& entry : launch.environmentOverrides) {
        const std::size_t equals = entry.find(u'=');
        setEntry(entries, nameOf(entry),
                 equals == std::u16string::npos ? std::string() : narrow(entry.substr(equals + 1)));
    }
    setEntry(entries, child::commandLineVariable, narrow(commandLine));
    setEntry(entries, child::exitCodeVariable, std::to_string(exitFd));
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Sets the thread's last error and returns FALSE.
BOOL falseWithLastError(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL launchProcess(const ProcessLaunch& launch, PROCESS_INFORMATION& info) {
    const std::u16string commandLine =
        launch.commandLine ? *launch.commandLine : launch.applicationName;
    if (commandLine.empty() && launch.applicationName.empty())
        return falseWithLastError(ERROR_INVALID_PARAMETER);
    if (commandLine.size() >= maximumCommandLine)
        return falseWithLastError(ERROR_FILENAME_EXCED_RANGE);

    const FoundProgram program = launch.applicationName.empty()
                                     ? findCommandProgram(commandLine)
                                     : findApplication(launch.applicationName);
    if (program.error != ERROR_SUCCESS)
        return falseWithLastError(program.error);
    if (const DWORD error = checkExecutable(program.hostPath); error != ERROR_SUCCESS)
        return falseWithLastError(error);

    std::optional<fs::path> directory;
    if (!launch.currentDirectory.empty()) {
        directory = machine::toHostPath(launch.currentDirectory);
        std::error_code ec;
        if (!directory || !fs::is_directory(*directory, ec))
            return falseWithLastError(ERROR_DIRECTORY);
    }

    std::vector<std::string> arguments;
    // The child's argv, as its C runtime would make it from the command line.
    for (const std::u16string& argument : splitCommandLine(commandLine, DoubledQuote::KeepsQuoting))
        arguments.push_back(narrow(argument));
    if (arguments.empty())
        arguments.push_back(narrow(launch.applicationName));

    int exitPipe[2];
    if (pipe2(exitPipe, O_CLOEXEC) != 0)
        return falseWithLastError(win32ErrorFromErrno(errno));
    fcntl(exitPipe[0], F_SETFL, O_NONBLOCK);
    std::vector<std::string> environment = childEnvironment(launch, commandLine, exitPipe[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (directory)
        posix_spawn_file_actions_addchdir_np(&actions, directory->c_str());
    // Duplicating a descriptor onto itself keeps it open in the child (clears close-on-exec).
    posix_spawn_file_actions_adddup2(&actions, exitPipe[1], exitPipe[1]);
    for (int fd : launch.inheritedDescriptors)
        posix_spawn_file_actions_adddup2(&actions, fd, fd);

    // A new program starts with no blocked signals and the usual dispositions, whatever this
    // process has set for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGHUP, SIGTERM})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv = pointersTo(arguments);
    std::vector<char*> envp = pointersTo(environment);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.hostPath.c_str(), &actions, &attributes,
                                  argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(exitPipe[1]);
    if (error != 0) {
        close(exitPipe[0]);
        return falseWithLastError(win32ErrorFromErrno(error));
    }

    auto process = std::make_shared<ProcessObject>(pid);
    auto thread = std::make_shared<ThreadObject>();
    try {
        std::thread([process, thread, fd = exitPipe[0]] { process->reap(thread, fd); }).detach();
    } catch (const std::system_error&) {
        // Without a reaper nobody would learn the child's end: stop it now rather than lose it.
        process->terminate(ERROR_NO_SYSTEM_RESOURCES);
        process->reap(thread, exitPipe[0]);
        return falseWithLastError(ERROR_NO_SYSTEM_RESOURCES);
    }
    info.hProcess = handles::insert(process);
    info.hThread = handles::insert(thread);
    info.dwProcessId = static_cast<DWORD>(pid);
    info.dwThreadId = static_cast<DWORD>(pid);
    return TRUE;
}

DWORD startProgram(std::u16string_view commandLine) {
    return startProgram(std::u16string_view(), commandLine);
}

DWORD startProgram(std::u16string_view applicationPath, std::u16string_view commandLine) {
    ProcessLaunch launch;
    launch.applicationName = applicationPath;
    launch.commandLine = std::u16string(commandLine);
    PROCESS_INFORMATION info{};
    if (!launchProcess(launch, info))
        return 0;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return info.dwProcessId;
}

} // namespace sky

namespace {

// The entries of an environment block: NUL-terminated strings ended by an empty one.
template <class Char> std::vector<std::u16string> blockEntries(const Char* block) {
    std::vector<std::u16string> entries;
    while (*block) {
        std::size_t n = 0;
        while (block[n])
            ++n;
        if constexpr (sizeof(Char) == 1)
            entries.push_back(sky::widen(std::string_view(block, n)));
        else
            entries.emplace_back(block, n);
        block += n + 1;
    }
    return entries;
}

} // namespace

extern "C" BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                                      LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                      DWORD dwCreationFlags, LPVOID lpEnvironment,
                                      LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW,
                                      LPPROCESS_INFORMATION lpProcessInformation) {
    if (!lpProcessInformation || (!lpApplicationName && !lpCommandLine))
        return sky::falseWithLastError(ERROR_INVALID_PARAMETER);
    if (dwCreationFlags & (CREATE_SUSPENDED | DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS))
        return sky::falseWithLastError(ERROR_NOT_SUPPORTED);
    sky::ProcessLaunch launch;
    if (lpApplicationName)
        launch.applicationName = lpApplicationName;
    if (lpCommandLine)
        launch.commandLine = std::u16string(lpCommandLine);
    if (lpEnvironment) {
        launch.environment = (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT)
                                 ? blockEntries(static_cast<const WCHAR*>(lpEnvironment))
                                 : blockEntries(static_cast<const char*>(lpEnvironment));
    }
    if (lpCurrentDirectory)
        launch.currentDirectory = lpCurrentDirectory;
    return sky::launchProcess(launch, *lpProcessInformation);
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    const auto process = sky::handles::find<sky::ProcessObject>(hProcess);
    if (!process || !lpExitCode)
        return sky::falseWithLastError(process ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    *lpExitCode = process->exitCode();
    return TRUE;
}

extern "C" BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    const auto process = sky::handles::find<sky::ProcessObject>(hProcess);
    if (!process)
        return sky::falseWithLastError(ERROR_INVALID_HANDLE);
    if (!process->terminate(uExitCode))
        return sky::falseWithLastError(ERROR_ACCESS_DENIED);
    return TRUE;
}

extern "C" void WINAPI ExitProcess(UINT uExitCode) {
    std::exit(static_cast<int>(uExitCode));
}

extern "C" DWORD WINAPI GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}

extern "C" UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT) {
    if (!lpCmdLine)
        return 0;
    if (sky::startProgram(sky::widen(lpCmdLine)) != 0)
        return 33;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
        return ERROR_FILE_NOT_FOUND;
    case ERROR_PATH_NOT_FOUND:
        return ERROR_PATH_NOT_FOUND;
    case ERROR_BAD_EXE_FORMAT:
        return ERROR_BAD_FORMAT;
    default:
        return 0;
    }
}

// Running a program of the build from a test, the way a user runs it from a shell.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace sky::testing {

struct ProgramRun {
    int exitCode = -1; // -1 when the program did not end by itself
    std::string out;
    std::string errors; // empty when standard error went elsewhere
};

// Runs `command` through the shell and collects its standard output. With `errorsFile`, standard
// error goes there and is read back (and the file removed); otherwise the command says where it
// goes.
inline ProgramRun runCommand(const std::string& command,
                             const std::filesystem::path& errorsFile = {}) {
    ProgramRun run;
    const std::string line =
        errorsFile.empty() ? command : command + " 2>'" + errorsFile.string() + "'";
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) {
        return run;
    }
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        run.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!errorsFile.empty()) {
        std::ifstream errors(errorsFile, std::ios::binary);
        run.errors.assign(std::istreambuf_iterator<char>(errors), std::istreambuf_iterator<char>());
        errors.close();
        std::error_code ignored;
        std::filesystem::remove(errorsFile, ignored);
    }
    return run;
}

// Starts every command at once, then collects each one's output and exit code in turn.
inline std::vector<ProgramRun> runCommandsTogether(const std::vector<std::string>& commands) {
    std::vector<FILE*> pipes;
    for (const std::string& command : commands)
        pipes.push_back(popen(command.c_str(), "r"));
    std::vector<ProgramRun> runs(commands.size());
    for (std::size_t i = 0; i < pipes.size(); ++i) {
        if (!pipes[i])
            continue;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipes[i])) > 0;)
            runs[i].out.append(buffer, n);
        const int status = pclose(pipes[i]);
        runs[i].exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return runs;
}

// A server program started for the life of this object: `argv` (the program's path and its
// arguments) runs with a pipe on its standard input, and a server that stops at the end of its
// input (as qvcomsrv_local_server does) stops when the object goes, which closes the pipe and
// waits for the program to end (10 s, then it is killed), so that what the server keeps in the
// machine's folder is closed before anyone removes the folder. The pipe's end is not inherited by
// programs started later, which would keep the server's input open.
class StartedServer {
public:
    explicit StartedServer(std::vector<std::string> argv) {
        int input[2], output[2];
        if (pipe2(input, O_CLOEXEC) != 0)
            return;
        if (pipe2(output, O_CLOEXEC) != 0) {
            close(input[0]);
            close(input[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);
        close(output[1]);
        if (pid_ > 0)
            input_ = input[1];
        else
            close(input[1]);
        char c = 0;
        while (pid_ > 0 && read(output[0], &c, 1) == 1 && c != '\n')
            firstLine_ += c;
        close(output[0]);
    }
    ~StartedServer() {
        if (input_ >= 0)
            close(input_);
        if (pid_ <= 0)
            return;
        int status = 0;
        for (int waited = 0; waited < 1000; ++waited) {
            if (waitpid(pid_, &status, WNOHANG) != 0)
                return;
            usleep(10'000);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    StartedServer(const StartedServer&) = delete;
    StartedServer& operator=(const StartedServer&) = delete;

    // The first line the program wrote ("" if it wrote none or did not start).
    const std::string& firstLine() const { return firstLine_; }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    std::string firstLine_;
};

} // namespace sky::testing

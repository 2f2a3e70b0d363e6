// Running a program of the build from a test, the way a user runs it from a shell.
#pragma once

#include <fcntl.h>
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

// Starts `argv` (a program's path and its arguments) with a pipe on its standard input that this
// process keeps open until it ends, so that a server that stops at the end of its input stops
// with this process; gives the first line the program writes ("" if it writes none).
inline std::string startWhileThisProcessRuns(std::vector<std::string> argv) {
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return {};
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    if (!started)
        close(input[1]);
    std::string line;
    char c = 0;
    while (started && read(output[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(output[0]);
    return line;
}

} // namespace sky::testing

// A small program for the process tests. It writes, to the file that SKY_PROBE_OUTPUT names, one
// line each (UTF-8):
//   cmdline=<GetCommandLineW()>
//   argc=<count from CommandLineToArgvW>
//   arg=<each argument>
//   argv=<each argument after the program's name, as the process received it>
//   cwd=<GetCurrentDirectoryW()>
//   machine=<SKYLOOM_MACHINE>
//   value=<SKY_PROBE_VALUE, if set>
//   internal=1 (only if a variable of the parent's hand-over is still in the environment)
// It then sleeps SKY_PROBE_SLEEP_MS milliseconds, if set, and exits with SKY_PROBE_EXIT (a 32-bit
// number) or else with the argument count.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <windows.h>

#include "sky/text.h"

namespace {

std::u16string variable(const WCHAR* name) {
    WCHAR buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    return n > 0 && n < 32768 ? std::u16string(buffer, n) : std::u16string();
}

} // namespace

int main(int argc, char** argv) {
    const std::string output = sky::narrow(variable(u"SKY_PROBE_OUTPUT"));
    if (output.empty()) {
        std::fprintf(stderr, "skytest_commandline_probe: SKY_PROBE_OUTPUT names no file\n");
        return 2;
    }
    std::ofstream out(output, std::ios::binary);
    const WCHAR* line = GetCommandLineW();
    out << "cmdline=" << sky::narrow(line) << "\n";
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(line, &count);
    out << "argc=" << count << "\n";
    for (int i = 0; i < count; ++i)
        out << "arg=" << sky::narrow(arguments[i]) << "\n";
    LocalFree(arguments);
    for (int i = 1; i < argc; ++i)
        out << "argv=" << argv[i] << "\n";
    WCHAR directory[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, directory);
    out << "cwd=" << sky::narrow(directory) << "\n";
    out << "machine=" << sky::narrow(variable(u"SKYLOOM_MACHINE")) << "\n";
    if (const std::u16string value = variable(u"SKY_PROBE_VALUE"); !value.empty())
        out << "value=" << sky::narrow(value) << "\n";
    if (std::getenv("SKY_COMMAND_LINE") || std::getenv("SKY_EXIT_FD"))
        out << "internal=1\n";
    out.close();

    if (const std::u16string sleep = variable(u"SKY_PROBE_SLEEP_MS"); !sleep.empty())
        Sleep(static_cast<DWORD>(std::stoul(sky::narrow(sleep))));
    if (const std::u16string code = variable(u"SKY_PROBE_EXIT"); !code.empty())
        ExitProcess(static_cast<UINT>(std::stoul(sky::narrow(code))));
    return count;
}

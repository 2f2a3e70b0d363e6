// qvreg.exe: makes this machine's object model reach the farm of a named server.
#include <iostream>
#include <string>
#include <vector>

#include <windows.h>

#include "registration.h"

int main() {
    // The command line as the starting program wrote it: the request is its last argument.
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) {
        std::cerr << "qvreg: the command line cannot be read (error " << GetLastError() << ").\n";
        return sky::qvreg::kExitFailure;
    }
    std::vector<std::u16string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.emplace_back(argv[i]);
    LocalFree(argv);
    return sky::qvreg::run(sky::qvreg::parseArguments(arguments), std::cout, std::cerr);
}

// Fuzz target: CommandLineToArgvW on any command line (UTF-16 from the input's bytes).
#include <cstdint>
#include <cstring>
#include <string>

#include "win/environment.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string line(size / 2, u'\0');
    std::memcpy(line.data(), data, line.size() * 2);
    line = line.substr(0, line.find(u'\0'));
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    if (argv) {
        std::size_t total = 0;
        for (int i = 0; i < count; ++i)
            total += std::u16string(argv[i]).size(); // every argument is terminated
        if (argv[count] != nullptr)
            __builtin_trap();
        // An empty line gives one argument, the program file; any other gives no more text
        // than the line holds.
        if (line.empty() ? count != 1 || total == 0 : total > line.size() + 1)
            __builtin_trap();
        LocalFree(argv);
    }
    return 0;
}

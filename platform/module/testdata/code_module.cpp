// A module with code. Loading it runs its constructor, which leaves a mark in the machine
// directory; loading it as a data file must not.
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

[[gnu::constructor]] void leaveMark() {
    if (const char* machine = std::getenv("SKYLOOM_MACHINE"))
        std::ofstream(std::string(machine) + "/skytest_code.loaded") << "constructor ran\n";
}

} // namespace

extern "C" [[gnu::visibility("default")]] int SkyTestAdd(int a, int b) {
    return a + b;
}

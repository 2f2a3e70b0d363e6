#include "sky/temp_machine.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace sky::testing {

TempMachine::TempMachine() {
    std::string pattern = (std::filesystem::temp_directory_path() / "skyloom-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary machine directory");
    path_ = pattern;
    if (const char* old = std::getenv("SKYLOOM_MACHINE")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    setenv("SKYLOOM_MACHINE", path_.c_str(), 1);
}

TempMachine::~TempMachine() {
    if (hadPrevious_)
        setenv("SKYLOOM_MACHINE", previous_.c_str(), 1);
    else
        unsetenv("SKYLOOM_MACHINE");
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path buildBin() {
    const char* bin = std::getenv("SKY_BUILD_BIN");
    return bin ? std::filesystem::path(bin) : std::filesystem::current_path();
}

} // namespace sky::testing

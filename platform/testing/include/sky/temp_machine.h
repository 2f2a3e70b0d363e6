// A fresh machine directory for a test, removed again at the end.
#pragma once

#include <filesystem>

namespace sky::testing {

class TempMachine {
public:
    // Creates an empty directory under the system's temporary directory and points
    // SKYLOOM_MACHINE at it; the previous value comes back when the object goes.
    TempMachine();
    ~TempMachine();
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// The build's bin directory (programs and modules), from SKY_BUILD_BIN.
std::filesystem::path buildBin();

} // namespace sky::testing

// Helpers for the module tests: the test modules built beside the tests, and copies of them on
// the test's machine under Windows paths.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "windows.h"

namespace sky::testing {

// A module from build/bin/testmodules.
inline std::filesystem::path builtModule(const std::string& name) {
    return buildBin() / "testmodules" / name;
}

// Copies a built module to `windowsPath` on the machine (directories created) and returns the
// Windows path.
inline std::u16string install(const std::string& name, const std::u16string& windowsPath) {
    const std::filesystem::path target = *machine::toHostPath(windowsPath);
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(builtModule(name), target,
                               std::filesystem::copy_options::overwrite_existing);
    return windowsPath;
}

inline void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The mark that skytest_code.dll's constructor leaves in the machine directory.
inline bool codeModuleConstructorRan() {
    return std::filesystem::exists(machine::root() / "skytest_code.loaded");
}

} // namespace sky::testing

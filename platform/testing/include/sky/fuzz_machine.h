// For fuzz targets whose code reads the machine (the registry's locale, drive C): a temporary
// machine directory of their own, made on first use and removed when the process ends.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace sky::testing {

inline void useFuzzMachine() {
    static const std::filesystem::path machine = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "skyloom-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        setenv("SKYLOOM_MACHINE", pattern.c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(std::getenv("SKYLOOM_MACHINE"), ec);
        });
        return std::filesystem::path(pattern);
    }();
    (void)machine;
}

// Writes a fuzz input into a file of the fuzz machine, for code that reads files; the same file
// (named `name`, per process) is overwritten by each input.
inline std::filesystem::path writeFuzzInput(const std::uint8_t* data, std::size_t size,
                                            const std::string& name) {
    useFuzzMachine();
    const std::filesystem::path file = std::filesystem::path(std::getenv("SKYLOOM_MACHINE")) /
                                       (std::to_string(getpid()) + "-" + name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return file;
}

} // namespace sky::testing

// Reading a whole input with a ceiling, so that an endless or huge input (/dev/zero, a runaway
// pipe) is refused instead of growing memory without bound.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>

namespace sky {

// Registry scripts and farm dumps: a dump of 10,000 applications with their icons is about
// 70 MB, far inside.
inline constexpr std::size_t kMaxDataFileBytes = std::size_t{1} << 30;
// Source files people write: resource scripts, IDL.
inline constexpr std::size_t kMaxSourceFileBytes = std::size_t{64} << 20;

// Everything `in` holds, or nullopt when it holds more than `limit` bytes (the caller says so).
inline std::optional<std::string> readAtMost(std::istream& in, std::size_t limit) {
    std::string bytes;
    char chunk[65536];
    while (in) {
        in.read(chunk, sizeof chunk);
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got > limit - bytes.size())
            return std::nullopt;
        bytes.append(chunk, got);
    }
    return bytes;
}

// "1 GiB", "64 MiB": a limit in words for messages.
inline std::string sizeInWords(std::size_t bytes) {
    if (bytes % (std::size_t{1} << 30) == 0)
        return std::to_string(bytes >> 30) + " GiB";
    if (bytes % (std::size_t{1} << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace sky

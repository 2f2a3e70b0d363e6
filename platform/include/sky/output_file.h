// Writing the file a program was told to write its output to (`qvfarm dump -o FILE`, idlc's
// outputs, rc's modules).
//
// A regular file, or a path where nothing is yet, is replaced whole: the bytes go into a new file
// beside it, which then takes its place, so that a failure leaves the old file (or none) and never
// half of one. A symbolic link to a regular file stays a link: the file it leads to is replaced.
//
// Anything else the path names (a device such as /dev/null, a FIFO, a terminal, a symbolic link to
// one of these) is written into as it stands and never replaced: a device replaced by a regular
// file breaks every later program that writes to it, and a FIFO's reader would wait for ever.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>

#include "sky/export.h"

namespace sky {

// Writes `bytes` to `path` as above. A new file gets `newFileMode` less the process's umask; a
// replaced file keeps its own mode. Returns the system's error (empty on success); a directory
// gives EISDIR.
SKY_API std::error_code writeOutputFile(const std::filesystem::path& path, std::string_view bytes,
                                        mode_t newFileMode = 0666);

// The bytes of an output made as they are written: the producer hands them, piece by piece, to
// the function it is given, which returns false once writing failed; the producer then stops. It
// returns false when it cannot go on for a reason of its own (ECANCELED then, and a regular file
// is left as it was).
using OutputWriter = std::function<bool(std::string_view piece)>;
using OutputProducer = std::function<bool(const OutputWriter& write)>;

// Writes what `produce` makes to `path` as above, without holding it whole.
SKY_API std::error_code writeOutputFile(const std::filesystem::path& path,
                                        const OutputProducer& produce, mode_t newFileMode = 0666);

} // namespace sky

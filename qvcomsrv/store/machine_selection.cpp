// The record lives in <machine>/farms/served-store, two lines "Type=..." and "Path=...", until
// the machine's registry carries it.
#include "machine_selection.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include <unistd.h>

#include "machine_farms.h"

namespace fs = std::filesystem;

namespace sky::farm::selection {

namespace {

fs::path recordPath() {
    return farmsDirectory() / "served-store";
}

} // namespace

Result<std::optional<StoreLocation>> read() {
    std::error_code ec;
    const fs::path path = recordPath();
    if (!fs::exists(path, ec))
        return std::optional<StoreLocation>();
    std::ifstream in(path);
    if (!in)
        return Status::ioError("The record of the machine's farm store, " + path.string() +
                               ", cannot be read.");
    StoreLocation location;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Type=", 0) == 0)
            location.type = line.substr(5);
        else if (line.rfind("Path=", 0) == 0)
            location.path = line.substr(5);
    }
    if (location.type.empty() || location.path.empty())
        return Status::corrupt("The record of the machine's farm store, " + path.string() +
                               ", is damaged.");
    return std::optional<StoreLocation>(location);
}

Status write(const StoreLocation& location) {
    const fs::path path = recordPath();
    const fs::path temporary = path.string() + ".new-" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "Type=" << location.type << "\nPath=" << location.path << "\n";
        out.flush();
        if (!out)
            return Status::ioError("The record of the machine's farm store, " + path.string() +
                                   ", cannot be written.");
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return Status::ioError("The record of the machine's farm store, " + path.string() +
                               ", cannot be written: " + ec.message() + ".");
    }
    return Status::ok();
}

} // namespace sky::farm::selection

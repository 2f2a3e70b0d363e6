#include "qvcomsrv/store/machine_farms.h"

#include <algorithm>
#include <system_error>

#include "qvcomsrv/store/machine_selection.h"
#include "qvcomsrv/store/names.h"
#include "sky/machine.h"

namespace fs = std::filesystem;

namespace sky::farm {

namespace {

constexpr std::string_view kStoreExtension = ".db";

bool sameStore(const StoreLocation& a, const StoreLocation& b) {
    std::error_code ec;
    return sameName(a.type, b.type) && (a.path == b.path || fs::equivalent(a.path, b.path, ec));
}

} // namespace

fs::path farmsDirectory() {
    const fs::path dir = sky::machine::root() / "farms";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir;
}

Status checkFarmName(std::string_view name) {
    if (name.empty())
        return Status::invalidArgument("The farm name must not be empty.");
    if (name == "." || name == "..")
        return Status::invalidArgument("\"" + std::string(name) + "\" cannot name a farm.");
    for (char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return Status::invalidArgument("The farm name \"" + std::string(name) +
                                           "\" must not contain \"/\", \"\\\" or control "
                                           "characters.");
    }
    return Status::ok();
}

StoreLocation farmStoreOnMachine(std::string_view name) {
    return {std::string(kSqliteStoreType),
            (farmsDirectory() / (std::string(name) + std::string(kStoreExtension))).string()};
}

Result<StoreLocation> machineFarmStore() {
    auto record = selection::read();
    if (!record)
        return record.status();
    if (!record->has_value())
        return Status::notFound("This machine serves no farm yet; create one with \"qvfarm "
                                "create NAME\".");
    return **record;
}

Status setMachineFarmStore(const StoreLocation& location) {
    return selection::write(location);
}

Result<std::unique_ptr<FarmStore>> openMachineFarmStore() {
    auto location = machineFarmStore();
    if (!location)
        return location.status();
    return openFarmStore(*location);
}

std::vector<KnownFarmStore> knownFarmStores() {
    std::vector<KnownFarmStore> known;
    std::error_code ec;
    for (fs::directory_iterator it(farmsDirectory(), ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (path.extension() == kStoreExtension && it->is_regular_file(ec))
            known.push_back({path.stem().string(), {std::string(kSqliteStoreType), path.string()}});
    }
    std::sort(known.begin(), known.end(), [](const KnownFarmStore& a, const KnownFarmStore& b) {
        return nameKey(a.name) < nameKey(b.name);
    });
    auto served = machineFarmStore();
    if (served) {
        auto it = std::find_if(known.begin(), known.end(), [&](const KnownFarmStore& k) {
            return sameStore(k.location, *served);
        });
        if (it != known.end())
            it->served = true;
        else
            known.push_back({served->path, *served, true});
    }
    return known;
}

Result<KnownFarmStore> farmStoreListingServer(std::string_view server) {
    for (const KnownFarmStore& known : knownFarmStores()) {
        auto store = openFarmStore(known.location);
        if (!store)
            continue;
        auto found = (*store)->server(server);
        if (found)
            return known;
    }
    return Status::notFound("No farm store of this machine lists the server " +
                            std::string(server) + ".");
}

} // namespace sky::farm

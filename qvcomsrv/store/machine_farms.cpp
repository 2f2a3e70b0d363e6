#include "qvcomsrv/store/machine_farms.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <system_error>

#include "qvcomsrv/store/machine_selection.h"
#include "qvcomsrv/store/names.h"
#include "sky/machine.h"
#include "sky/text.h"

namespace fs = std::filesystem;

namespace sky::farm {

namespace {

constexpr std::string_view kStoreExtension = ".db";
constexpr std::string_view kRememberedExtension = ".postgres";

bool sameStore(const StoreLocation& a, const StoreLocation& b) {
    std::error_code ec;
    if (!sameName(a.type, b.type))
        return false;
    if (canonicalStoreType(a.type) == kPostgresStoreType)
        return a.path == b.path;
    return a.path == b.path || fs::equivalent(a.path, b.path, ec);
}

// The connection string in a file of remembered store, without the line break after it.
std::string rememberedConnection(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// The refusal of a name that more than one store answers to: the stores, one a line, and how to
// name the one meant.
Status ambiguous(const std::string& what, const std::vector<StoreLocation>& stores) {
    std::string message = what;
    for (const StoreLocation& store : stores)
        message += "\n  " + store.path + " (" + canonicalStoreType(store.type) + ")";
    return Status::invalidArgument(
        message + "\nName the one you mean by its store: qvfarm select FILE for a store file, "
                  "qvfarm select --postgres CONNINFO (or a postgresql:// URI) for a PostgreSQL "
                  "store.");
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
    if (name.find_first_of("/\\") != std::string_view::npos || hasControlCharacter(name))
        return Status::invalidArgument("The farm name \"" + std::string(name) +
                                       "\" must not contain \"/\", \"\\\" or control "
                                       "characters.");
    return Status::ok();
}

StoreLocation farmStoreOnMachine(std::string_view name) {
    return {std::string(kSqliteStoreType),
            (farmsDirectory() / (std::string(name) + std::string(kStoreExtension))).string()};
}

Status rememberFarmStore(std::string_view farmName, const StoreLocation& location) {
    if (canonicalStoreType(location.type) != kPostgresStoreType)
        return Status::ok(); // a store file is known by the file itself
    if (Status s = checkFarmName(farmName); !s)
        return s;
    const fs::path file =
        farmsDirectory() / (std::string(farmName) + std::string(kRememberedExtension));
    const fs::path temporary = file.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << location.path << "\n";
        out.flush();
        if (!out)
            return Status::ioError("This machine cannot remember the farm store in " +
                                   file.string() + ".");
    }
    std::error_code ec;
    fs::rename(temporary, file, ec);
    if (ec)
        return Status::ioError("This machine cannot remember the farm store in " + file.string() +
                               ": " + ec.message() + ".");
    return Status::ok();
}

Result<StoreLocation> farmStoreNamed(std::string_view name) {
    if (Status s = checkFarmName(name); !s)
        return s;
    const StoreLocation file = farmStoreOnMachine(name);
    // The farms directory's stores by name, as names are matched everywhere: ignoring case. A
    // name that more than one store answers to (a store file and a remembered PostgreSQL store
    // of one farm name, say) is refused rather than one of them taken silently.
    std::vector<StoreLocation> found;
    std::error_code ec;
    for (fs::directory_iterator it(farmsDirectory(), ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (!sameName(path.stem().string(), name) || !it->is_regular_file(ec))
            continue;
        if (path.extension() == kStoreExtension)
            found.push_back({std::string(kSqliteStoreType), path.string()});
        else if (path.extension() == kRememberedExtension)
            found.push_back({std::string(kPostgresStoreType), rememberedConnection(path)});
    }
    std::sort(found.begin(), found.end(), [](const StoreLocation& a, const StoreLocation& b) {
        return std::pair(a.type, a.path) < std::pair(b.type, b.path);
    });
    if (found.size() > 1)
        return ambiguous("The name \"" + std::string(name) + "\" names " +
                             std::to_string(found.size()) + " farm stores of this machine:",
                         found);
    if (found.size() == 1)
        return found.front();
    return Status::notFound("There is no farm store " + file.path + ".");
}

Result<StoreLocation> machineFarmStore() {
    auto record = selection::read();
    if (!record)
        return record.status();
    if (!record->has_value())
        return Status::notFound("This machine serves no farm yet; create one with \"qvfarm "
                                "create NAME\".");
    StoreLocation location = **record;
    // A store file recorded relative to the machine lies in the machine directory.
    if (sameName(location.type, kSqliteStoreType) && fs::path(location.path).is_relative())
        location.path = (sky::machine::root() / location.path).string();
    return location;
}

Status setMachineFarmStore(const StoreLocation& location) {
    StoreLocation record = location;
    if (sameName(location.type, kSqliteStoreType)) {
        // A store inside the machine directory is recorded relative to it, so that a copy of
        // the directory serves its own copy of the store, not the original's. Anything else is
        // recorded in full, and must be text the registry can hold.
        std::error_code ec;
        const fs::path root = fs::weakly_canonical(sky::machine::root(), ec);
        const fs::path file = fs::weakly_canonical(fs::absolute(location.path, ec), ec);
        const fs::path inside = file.lexically_relative(root);
        if (!ec && !inside.empty() && *inside.begin() != "..")
            record.path = inside.generic_string();
        else
            record.path = fs::absolute(location.path, ec).lexically_normal().string();
        if (sky::narrow(sky::widen(record.path)) != record.path)
            return Status::invalidArgument("The farm store " + location.path +
                                           " cannot be recorded: its path is not valid UTF-8.");
    }
    return selection::write(record);
}

Status clearMachineFarmStore() {
    return selection::clear();
}

Result<std::unique_ptr<FarmStore>> openMachineFarmStore() {
    auto location = machineFarmStore();
    if (!location)
        return location.status();
    return openFarmStore(*location);
}

std::vector<KnownFarmStore> knownFarmStores(Status* servedProblem) {
    std::vector<KnownFarmStore> known;
    std::error_code ec;
    for (fs::directory_iterator it(farmsDirectory(), ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        if (path.extension() == kStoreExtension && it->is_regular_file(ec))
            known.push_back({path.stem().string(), {std::string(kSqliteStoreType), path.string()}});
        else if (path.extension() == kRememberedExtension && it->is_regular_file(ec))
            known.push_back({path.stem().string(),
                             {std::string(kPostgresStoreType), rememberedConnection(path)}});
    }
    std::sort(known.begin(), known.end(), [](const KnownFarmStore& a, const KnownFarmStore& b) {
        return std::pair(nameKey(a.name), a.location.type) <
               std::pair(nameKey(b.name), b.location.type);
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
    } else if (servedProblem && served.status().code() != Status::Code::NotFound) {
        *servedProblem = served.status();
    }
    return known;
}

Result<KnownFarmStore> farmStoreListingServer(std::string_view server) {
    std::vector<KnownFarmStore> listing;
    for (const KnownFarmStore& known : knownFarmStores()) {
        auto store = openFarmStore(known.location);
        if (!store)
            continue;
        auto found = (*store)->server(server);
        if (!found)
            continue;
        if (std::none_of(listing.begin(), listing.end(), [&](const KnownFarmStore& k) {
                return sameStore(k.location, known.location);
            }))
            listing.push_back(known);
    }
    if (listing.size() > 1) {
        std::vector<StoreLocation> stores;
        for (const KnownFarmStore& k : listing)
            stores.push_back(k.location);
        return ambiguous(std::to_string(listing.size()) +
                             " farm stores of this machine list the "
                             "server " +
                             std::string(server) + ":",
                         stores);
    }
    if (listing.size() == 1)
        return listing.front();
    return Status::notFound("No farm store of this machine lists the server " +
                            std::string(server) + ".");
}

} // namespace sky::farm

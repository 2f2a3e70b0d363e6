#include "commands.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "demo_farm.h"
#include "farm_json.h"
#include "qvcomsrv/store/machine_farms.h"
#include "sky/bounded_read.h"
#include "sky/machine.h"
#include "sky/output_file.h"

namespace fs = std::filesystem;

namespace sky::qvfarm {

using farm::FarmImage;
using farm::FarmStore;
using farm::Result;
using farm::Status;
using farm::StoreLocation;

namespace {

int failed(Streams io, const std::string& message) {
    io.err << "qvfarm: " << message << "\n";
    return 1;
}

int failed(Streams io, const Status& status) {
    return failed(io, status.message());
}

// Runs `command` on the store given, or on the machine's.
template <typename Command> int withStore(const StoreOption& store, Streams io, Command command) {
    const std::unique_ptr<FarmStore> opened = openStoreOption(store, io);
    return opened ? command(*opened) : 1;
}

std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// `more`: applications written beside the image's.
std::string summary(const FarmImage& image, std::size_t more = 0) {
    return plural(image.zones.size(), "zone", "zones") + ", " +
           plural(image.servers.size(), "server", "servers") + ", " +
           plural(image.applications.size() + more, "application", "applications");
}

StoreLocation postgresStore(const std::string& conninfo) {
    return {std::string(farm::kPostgresStoreType), conninfo};
}

// Makes the machine serve the store `location` of the farm `farmName`, and remember it.
Status serve(const std::string& farmName, const StoreLocation& location) {
    if (Status s = farm::rememberFarmStore(farmName, location); !s)
        return s;
    return farm::setMachineFarmStore(location);
}

// Puts `image` into the store at `location`, creating the store or, when `mayReplace`, replacing
// the farm in it. A new store is built whole before it counts as made, so it appears complete or
// not at all; when another program creates it meanwhile, its farm is replaced by this one. Sets
// `existed` to whether the store was there already.
Status putFarm(const FarmImage& image, const StoreLocation& location, bool mayReplace,
               bool& existed, const farm::ApplicationBatches& more = {}) {
    auto created = farm::createFarmStore(location, image, more);
    existed = !created && created.status().code() == Status::Code::AlreadyExists;
    if (!existed)
        return created ? Status::ok() : created.status();
    if (!mayReplace)
        return Status::alreadyExists("The farm store " + location.path +
                                     " holds a farm already; give --replace to replace it.");
    auto store = farm::openFarmStore(location);
    if (!store)
        return store.status();
    return (*store)->replace(image, more);
}

// The progress of a long command on `io.err` when `io.progress` is set: "\r37%", written when
// the whole percentage changes, and wiped ("\r    \r") when the work ends, before anything else
// is written.
class ProgressLine {
public:
    explicit ProgressLine(Streams io) : io_(io) {}
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { done(); }

    void show(std::size_t done, std::size_t total) {
        const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
        if (!io_.progress || percent == shown_)
            return;
        shown_ = percent;
        io_.err << '\r' << percent << '%' << std::flush;
    }
    void done() {
        if (shown_ >= 0)
            io_.err << "\r    \r" << std::flush;
        shown_ = -1;
    }

private:
    Streams io_;
    int shown_ = -1;
};

// Makes `image` the farm of its store (on this machine, or in the PostgreSQL database
// `postgres` names), creating the store or replacing the farm in it, and makes the machine
// serve it. `more` gives `moreCount` applications after the image's; the progress counts them as
// their batches are written (from 0 again if the write runs again after a conflict).
int installFarm(const FarmImage& image, const PostgresOption& postgres, Streams io,
                const farm::ApplicationBatches& more = {}, std::size_t moreCount = 0) {
    if (Status s = farm::checkFarmName(image.farm.name); !s)
        return failed(io, s);
    const StoreLocation location =
        postgres ? postgresStore(*postgres) : farm::farmStoreOnMachine(image.farm.name);
    bool existed = false;
    ProgressLine progress(io);
    farm::ApplicationBatches counted;
    if (more) {
        counted = [&](std::size_t first, std::vector<farm::Application>& batch) {
            progress.show(first, moreCount);
            return more(first, batch);
        };
    }
    const Status put = putFarm(image, location, true, existed, counted);
    progress.done();
    if (!put)
        return failed(io, put);
    if (Status s = serve(image.farm.name, location); !s)
        return failed(io, s);
    io.out << (existed ? "Replaced" : "Created") << " the farm " << image.farm.name << " ("
           << summary(image, moreCount) << ") in " << location.path
           << "; this machine serves it.\n";
    return 0;
}

// The bytes of another stream, at most `limit` of them: past it the stream ends, and
// `exceeded` says why.
class BoundedInput : public std::streambuf {
public:
    BoundedInput(std::istream& source, std::size_t limit) : source_(source), limit_(limit) {}

    bool exceeded() const { return exceeded_; }

    // Reads what is left, up to the limit, so that an input past it is said to be so whatever
    // stopped its reading.
    void drain() {
        while (!exceeded_ && underflow() != traits_type::eof())
            setg(buffer_, buffer_ + sizeof buffer_, buffer_ + sizeof buffer_);
    }

protected:
    int_type underflow() override {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        if (exceeded_ || !source_)
            return traits_type::eof();
        source_.read(buffer_, sizeof buffer_);
        const auto got = static_cast<std::size_t>(source_.gcount());
        if (got > limit_ - read_) {
            exceeded_ = true;
            return traits_type::eof();
        }
        read_ += got;
        if (got == 0)
            return traits_type::eof();
        setg(buffer_, buffer_, buffer_ + got);
        return traits_type::to_int_type(*gptr());
    }

private:
    std::istream& source_;
    std::size_t limit_;
    std::size_t read_ = 0;
    bool exceeded_ = false;
    char buffer_[65536];
};

// The farm of the dump `file` ("-": standard input), read as it is parsed: the text is never held
// whole. The checks of a whole read come first: a dump past the ceiling, then one that could not
// be read, then what the text says.
Result<FarmImage> readFarmDump(const std::string& file) {
    std::ifstream opened;
    if (file != "-") {
        opened.open(file, std::ios::binary);
        if (!opened)
            return Status::notFound("cannot read " + file + ".");
    }
    std::istream& in = file == "-" ? std::cin : opened;
    BoundedInput bounded(in, kMaxDataFileBytes);
    std::istream text(&bounded);
    auto image = farmFromJson(text);
    if (!image)
        bounded.drain();
    if (bounded.exceeded())
        return Status::invalidArgument((file == "-" ? "standard input" : file) +
                                       " is larger than " + sizeInWords(kMaxDataFileBytes) +
                                       "; no farm dump is that large.");
    if (in.bad())
        return Status::ioError("cannot read " + file + ".");
    if (!image)
        return Status::invalidArgument((file == "-" ? "standard input" : file) + ": " +
                                       image.status().message());
    return image;
}

} // namespace

std::unique_ptr<farm::FarmStore> openStoreOption(const StoreOption& store, Streams io) {
    auto opened = store ? farm::openFarmStore(farm::storeLocationFromText(*store))
                        : farm::openMachineFarmStore();
    if (!opened) {
        failed(io, opened.status());
        return nullptr;
    }
    return std::move(*opened);
}

std::string currentUser() {
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name && *pw->pw_name)
        return pw->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return "Administrator";
}

farm::Status mayManageFarm(FarmStore& store, const std::string& what) {
    struct stat machine {};
    if (::stat(sky::machine::root().c_str(), &machine) == 0 && machine.st_uid == ::geteuid())
        return Status::ok();
    const std::string user = farm::processActor().user;
    auto administrator = store.isAdministrator(user);
    if (!administrator)
        return administrator.status();
    if (*administrator)
        return Status::ok();
    return Status::accessDenied("only an administrator of the farm or the machine's owner may " +
                                what + "; " + user + " is neither.");
}

int createFarm(const std::string& name, bool reportsSessionReliability,
               const PostgresOption& postgres, const std::string& firstAdministrator, Streams io) {
    if (Status s = farm::checkFarmName(name); !s)
        return failed(io, s);
    const StoreLocation location =
        postgres ? postgresStore(*postgres) : farm::farmStoreOnMachine(name);
    farm::FarmInfo info{name};
    info.reportsSessionReliability = reportsSessionReliability;
    auto store = farm::createFarmStore(location, info);
    if (!store)
        return failed(io, store.status());
    const std::string administrator =
        firstAdministrator.empty() ? currentUser() : firstAdministrator;
    if (Status s = (*store)->addAdministrator(administrator); !s)
        return failed(io, s);
    if (Status s = serve(name, location); !s)
        return failed(io, s);
    io.out << "Created the farm " << name << " in " << location.path << ", with " << administrator
           << " as its administrator; this machine serves it.\n";
    return 0;
}

int loadFarm(const std::string& file, const PostgresOption& postgres, Streams io) {
    auto image = readFarmDump(file);
    if (!image)
        return failed(io, image.status());
    return installFarm(*image, postgres, io);
}

int dumpFarm(const StoreOption& store, const std::optional<std::string>& output, Streams io) {
    return withStore(store, io, [&](FarmStore& farmStore) {
        auto image = farmStore.image();
        if (!image)
            return failed(io, image.status());
        // The text goes out as it is made; a damaged farm is found before any of it.
        Status dumped;
        const auto produce = [&](const sky::OutputWriter& write) {
            dumped = writeFarmJson(*image, write);
            return dumped.code() != Status::Code::Corrupt;
        };
        bool written = true;
        std::error_code error;
        if (output) {
            error = sky::writeOutputFile(*output, produce);
            written = !error;
        } else {
            written = produce([&](std::string_view piece) {
                          return static_cast<bool>(io.out.write(
                              piece.data(), static_cast<std::streamsize>(piece.size())));
                      }) &&
                      dumped && io.out.flush();
        }
        if (dumped.code() == Status::Code::Corrupt)
            return failed(io,
                          "The farm store " + farmStore.location() +
                              " is damaged or was written by another program: " + dumped.message());
        if (!written && output)
            return failed(io, "cannot write " + *output + ": " + error.message() + ".");
        if (!written)
            return failed(io, "cannot write the dump.");
        return 0;
    });
}

int addAdministrator(const StoreOption& store, const std::string& account, Streams io) {
    return withStore(store, io, [&](FarmStore& farmStore) {
        if (Status s = mayManageFarm(farmStore, "add administrators"); !s)
            return failed(io, s);
        if (Status s = farmStore.addAdministrator(account); !s)
            return failed(io, s);
        io.out << account << " is now an administrator of the farm.\n";
        return 0;
    });
}

int removeAdministrator(const StoreOption& store, const std::string& account, Streams io) {
    return withStore(store, io, [&](FarmStore& farmStore) {
        if (Status s = mayManageFarm(farmStore, "remove administrators"); !s)
            return failed(io, s);
        if (Status s = farmStore.removeAdministrator(account); !s)
            return failed(io, s);
        io.out << account << " is no longer an administrator of the farm.\n";
        return 0;
    });
}

int listAdministrators(const StoreOption& store, Streams io) {
    return withStore(store, io, [&](FarmStore& farmStore) {
        auto names = farmStore.administrators();
        if (!names)
            return failed(io, names.status());
        for (const std::string& name : *names)
            io.out << name << "\n";
        return 0;
    });
}

int listFarms(Streams io) {
    Status servedProblem;
    const auto known = farm::knownFarmStores(&servedProblem);
    if (known.empty() && servedProblem) {
        io.out << "This machine holds no farm store; create one with \"qvfarm create NAME\".\n";
        return 0;
    }
    for (const farm::KnownFarmStore& k : known) {
        io.out << (k.served ? "* " : "  ") << k.name << "\t";
        auto store = farm::openFarmStore(k.location);
        auto farmInfo = store ? (*store)->farm() : Result<farm::FarmInfo>(store.status());
        if (!farmInfo) {
            io.out << "(" << farmInfo.status().message() << ")";
        } else {
            auto servers = (*store)->servers();
            auto apps = (*store)->applications(farm::IconLoading::Skip);
            io.out << "farm " << farmInfo->name;
            if (servers && apps)
                io.out << ", " << plural(servers->size(), "server", "servers") << ", "
                       << plural(apps->size(), "application", "applications");
        }
        io.out << "\t" << k.location.path << "\n";
    }
    // Without the record no store carries its "*": say why rather than list as if none were.
    if (!servedProblem)
        return failed(io, servedProblem);
    return 0;
}

int selectFarm(const std::string& nameOrFile, const PostgresOption& postgres, Streams io) {
    StoreLocation location;
    const StoreLocation given = farm::storeLocationFromText(nameOrFile);
    const bool isFile =
        nameOrFile.find('/') != std::string::npos || fs::path(nameOrFile).extension() == ".db";
    if (postgres) {
        location = postgresStore(*postgres);
    } else if (given.type == farm::kPostgresStoreType) {
        location = given;
    } else if (isFile) {
        location = {std::string(farm::kSqliteStoreType), fs::absolute(nameOrFile).string()};
    } else {
        auto named = farm::farmStoreNamed(nameOrFile);
        if (!named)
            return failed(io, named.status());
        location = *named;
    }
    auto store = farm::openFarmStore(location);
    if (!store)
        return failed(io, store.status());
    auto info = (*store)->farm();
    if (!info)
        return failed(io, info.status());
    if (Status s = serve(info->name, location); !s)
        return failed(io, s);
    io.out << "This machine serves the farm " << info->name << " (" << location.path << ").\n";
    return 0;
}

int buildDemoFarm(const std::string& name, const std::optional<DemoSize>& size,
                  const PostgresOption& postgres, const std::string& administrator, Streams io) {
    const std::string admin = administrator.empty() ? currentUser() : administrator;
    if (!size)
        return installFarm(demoFarm(name, admin), postgres, io);
    const LargeDemoFarm demo = largeDemoFarm(name, admin, size->applications, size->servers);
    return installFarm(demo.image, postgres, io, demo.applications, size->applications);
}

int copyFarm(const std::string& source, const std::string& target, bool replace, Streams io) {
    const StoreLocation from = farm::storeLocationFromText(source);
    const StoreLocation to = farm::storeLocationFromText(target);
    auto opened = farm::openFarmStore(from);
    if (!opened)
        return failed(io, opened.status());
    auto image = (*opened)->image();
    opened->reset();
    if (!image)
        return failed(io, image.status());
    bool existed = false;
    if (Status s = putFarm(*image, to, replace, existed); !s)
        return failed(io, s);
    io.out << "Copied the farm " << image->farm.name << " (" << summary(*image) << ") from "
           << from.path << " to " << to.path << ".\n";
    return 0;
}

} // namespace sky::qvfarm

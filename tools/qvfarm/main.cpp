// qvfarm: creates, fills, inspects and selects the farm stores of this machine.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

#include <CLI/CLI.hpp>

#include "audit_commands.h"
#include "commands.h"
#include "module_registration.h"
#include "sky/machine.h"
#include "sky/services.h"

using namespace sky::qvfarm;

namespace {

// Root acts for the machine's owner: on a machine of another account (the system machine, owned by
// skyloom) it takes the owner's identity, groups and home before it touches anything, so that what
// it writes stays the owner's and the owner's service reads it. False when the identity could not
// be taken, with the reason said.
bool actForOwner(std::ostream& err) {
    const uid_t owner = sky::machine::owner();
    if (geteuid() != 0 || owner == 0 || owner == static_cast<uid_t>(-1))
        return true;
    const passwd* account = getpwuid(owner);
    if (!account || !account->pw_name) {
        err << "qvfarm: the owner of the machine " << sky::machine::root().string() << " (uid "
            << owner << ") has no account to act as\n";
        return false;
    }
    const std::string name = account->pw_name;
    const std::string home = account->pw_dir ? account->pw_dir : "/";
    if (initgroups(name.c_str(), account->pw_gid) != 0 || setgid(account->pw_gid) != 0 ||
        setuid(owner) != 0) {
        err << "qvfarm: cannot act as the machine's owner " << name << ": " << std::strerror(errno)
            << "\n";
        return false;
    }
    setenv("HOME", home.c_str(), 1);
    setenv("USER", name.c_str(), 1);
    setenv("LOGNAME", name.c_str(), 1);
    return true;
}

bool helpAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 ||
            std::strcmp(argv[i], "--help-all") == 0)
            return true;
    }
    return false;
}

// A count from 1 to `most`, refused with a message that says so when it is anything else.
CLI::Validator countUpTo(std::int64_t most) {
    return CLI::Validator(
        [most](std::string& text) -> std::string {
            std::int64_t n = 0;
            const char* end = text.data() + text.size();
            const auto [stop, ec] = std::from_chars(text.data(), end, n);
            if (ec != std::errc() || stop != end || n < 1 || n > most)
                return "a whole number from 1 to " + std::to_string(most) + " is needed, not \"" +
                       text + "\"";
            return {};
        },
        "", "count");
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Creates, fills, inspects and selects the farm stores of this machine (the "
        "machine named by SKYLOOM_MACHINE, else the system machine or your own; root acts as "
        "the machine's owner).",
        "qvfarm"};
    app.require_subcommand(1);
    Streams io{std::cout, std::cerr, isatty(fileno(stderr)) != 0};
    // The machine's farm stores, and the connections to other stores it remembers, are read and
    // written by the machine's owner alone (the account the QVCom service runs as): anybody else
    // reaches the farm through the service, as BraskAdmin does.
    if (argc > 1 && !helpAsked(argc, argv) && !actForOwner(io.err))
        return 5;
    if (argc > 1 && !helpAsked(argc, argv) && geteuid() != sky::machine::owner()) {
        const std::string owner = sky::services::accountName(sky::machine::owner());
        io.err << "qvfarm: the farm stores of the machine " << sky::machine::root().string()
               << " are read and written only by its owner (" << owner << "); run qvfarm as "
               << owner << ", or reach the farm through BraskAdmin (the QVCom service).\n";
        return 5;
    }
    int result = 0;

    std::string name;
    bool noSessionReliability = false;
    PostgresOption postgres;
    const char* postgresHelp =
        "Put the farm in the PostgreSQL database of this connection string (\"host=db1 "
        "dbname=farm\" or \"postgresql://db1/farm\"; no password: use ~/.pgpass) instead of a "
        "store file on this machine";
    auto* create = app.add_subcommand("create", "Create a farm store for a new farm NAME, with "
                                                "default settings and you as its administrator, "
                                                "and make it the machine's farm");
    create->add_option("NAME", name, "The farm's name; its store is <machine>/farms/NAME.db")
        ->required();
    create->add_flag("--no-session-reliability", noSessionReliability,
                     "Create a farm of an earlier release, which does not report session "
                     "reliability settings");
    create->add_option("--postgres", postgres, postgresHelp);
    std::string firstAdministrator;
    const char* adminHelp = "The farm's first administrator (an account name); by default the "
                            "user running qvfarm";
    create->add_option("--admin", firstAdministrator, adminHelp);
    create->callback([&] {
        result = createFarm(name, !noSessionReliability, postgres, firstAdministrator, io);
    });

    std::string file;
    auto* load = app.add_subcommand("load", "Create or replace the farm of a JSON dump (as "
                                            "\"qvfarm dump\" writes it) and make it the "
                                            "machine's farm");
    load->add_option("FILE", file, "The dump; - reads standard input")->required();
    load->add_option("--postgres", postgres, postgresHelp);
    load->callback([&] { result = loadFarm(file, postgres, io); });

    StoreOption store;
    std::optional<std::string> output;
    auto* dump = app.add_subcommand("dump", "Print the whole farm as JSON, icons in base64");
    const char* storeHelp = "A farm store to work on instead of the machine's: a store file, or a "
                            "PostgreSQL store's postgresql:// URI";
    dump->add_option("--store", store, storeHelp);
    dump->add_option("-o,--output", output, "Write the dump to this file instead");
    dump->callback([&] { result = dumpFarm(store, output, io); });

    std::string account;
    auto* admin = app.add_subcommand("admin", "Add, remove or list the farm's administrators");
    admin->require_subcommand(1);
    admin->add_option("--store", store, storeHelp);
    admin->fallthrough();
    auto* add = admin->add_subcommand("add", "Make USER an administrator of the farm");
    add->add_option("USER", account, "The account name")->required();
    add->callback([&] { result = addAdministrator(store, account, io); });
    auto* remove = admin->add_subcommand("remove", "Take USER off the farm's administrators");
    remove->add_option("USER", account, "The account name")->required();
    remove->callback([&] { result = removeAdministrator(store, account, io); });
    auto* list = admin->add_subcommand("list", "List the farm's administrators");
    list->callback([&] { result = listAdministrators(store, io); });

    auto* farms = app.add_subcommand("list", "List the farm stores this machine knows; * marks "
                                             "the one it serves");
    farms->callback([&] { result = listFarms(io); });

    std::string target;
    auto* select = app.add_subcommand("select", "Make the machine serve another farm store");
    auto* farmName = select->add_option(
        "FARM", target,
        "A farm's name (of those \"qvfarm list\" shows), a farm store file (a path, or a name "
        "ending in .db), or a PostgreSQL store's postgresql:// URI");
    auto* selectPostgres = select->add_option(
        "--postgres", postgres,
        "Serve the farm in the PostgreSQL database of this connection string, which other "
        "servers of the farm serve too");
    farmName->excludes(selectPostgres);
    select->callback([&] {
        if (target.empty() && !postgres)
            throw CLI::RequiredError("FARM or --postgres");
        result = selectFarm(target, postgres, io);
    });

    std::string demoName = "Demo Farm";
    std::optional<std::int64_t> demoApplications, demoServers;
    auto* demo = app.add_subcommand("demo", "Create or replace a demonstration farm (two zones, "
                                            "nine servers, about forty applications) with you "
                                            "as an administrator, and make it the machine's farm");
    demo->add_option("--name", demoName, "The demonstration farm's name")->capture_default_str();
    demo->add_option("--postgres", postgres, postgresHelp);
    demo->add_option("--admin", firstAdministrator, adminHelp);
    demo->add_option("--applications", demoApplications,
                     "Make a farm of N applications (1 to 1,000,000; 10,000 when only --servers "
                     "is given) shaped like the demo instead: the demo's folders with sets of "
                     "folders below them, users, groups and an icon per application. BraskAdmin "
                     "exports a farm of at most 32,767 applications")
        ->option_text("N")
        ->check(countUpTo(1'000'000));
    demo->add_option("--servers", demoServers,
                     "Give that farm M servers (1 to 10,000; 500 when only --applications is "
                     "given), five in eight in the zone Headquarters, the rest in Branch; each "
                     "application runs on three of them")
        ->option_text("M")
        ->check(countUpTo(10'000));
    demo->callback([&] {
        std::optional<DemoSize> size;
        if (demoApplications || demoServers)
            size = DemoSize{static_cast<std::size_t>(demoApplications.value_or(10'000)),
                            static_cast<std::size_t>(demoServers.value_or(500))};
        result = buildDemoFarm(demoName, size, postgres, firstAdministrator, io);
    });

    std::string source;
    bool replace = false;
    auto* copy = app.add_subcommand("copy", "Copy a whole farm from one store to another, of "
                                            "either kind");
    copy->add_option("SOURCE", source, "The store to copy: a store file, or a postgresql:// URI")
        ->required();
    copy->add_option("TARGET", target,
                     "The store to copy into: a new store file, or a postgresql:// URI of a "
                     "database that holds no farm yet")
        ->required();
    copy->add_flag("--replace", replace, "Replace the farm the target holds already");
    copy->callback([&] { result = copyFarm(source, target, replace, io); });

    AuditOptions auditOptions;
    std::optional<std::string> pruneBefore;
    auto* audit = app.add_subcommand(
        "audit", "List the farm's audit trail, newest first: every change made to the farm, "
                 "when, by whom, from which machine; or remove old entries");
    audit->add_option("--store", store, storeHelp);
    audit
        ->add_option("--since", auditOptions.since,
                     "Only entries made at or after TIME (ISO 8601: 2026-12-08, "
                     "2026-12-08T17:30, local time unless it ends in Z or +HH:MM)")
        ->option_text("TIME");
    audit->add_option("--user", auditOptions.user, "Only changes made by USER")
        ->option_text("USER");
    audit
        ->add_option("--app", auditOptions.application,
                     "Only changes of the application (or folder) DN, as "
                     "Applications/Office/Word")
        ->option_text("DN");
    audit->add_flag("--json", auditOptions.json, "Print the entries as JSON");
    audit
        ->add_option("--prune-before", pruneBefore,
                     "Remove the entries made before TIME instead (administrators of the farm "
                     "only)")
        ->option_text("TIME")
        ->excludes("--since", "--user", "--app", "--json");
    audit->callback([&] {
        result = pruneBefore ? pruneAuditTrail(store, *pruneBefore, io)
                             : listAuditTrail(store, auditOptions, io);
    });

    std::optional<std::string> module;
    const char* moduleHelp = "The module: a Windows path (C:\\WINDOWS\\System32\\qvcomsrv.dll) "
                             "or a host path; the qvcomsrv.dll beside qvfarm when left out";
    auto* registration = app.add_subcommand(
        "register", "Register the object model module in-process on this machine, so that "
                    "programs create the SkyloomCOM classes from it (for development)");
    registration->add_option("MODULE", module, moduleHelp);
    registration->callback([&] { result = registerModule(module, io); });
    auto* unregistration = app.add_subcommand(
        "unregister", "Remove the in-process registration of the object model module; what the "
                      "QVCom service registered stays");
    unregistration->add_option("MODULE", module, moduleHelp);
    unregistration->callback([&] { result = unregisterModule(module, io); });

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    return result;
}

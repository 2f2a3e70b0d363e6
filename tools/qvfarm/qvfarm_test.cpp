// qvfarm as a user runs it: the real program, in a process of its own, on the test's machine.
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "commands.h"
#include "qvcomsrv/store/machine_farms.h"
#include "qvcomsrv/store/testing/postgres_test_database.h"
#include "sky/accounts.h"
#include "sky/automation.h"
#include "sky/fifo_reader.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/temp_machine.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs qvfarm with `args`, as this process's account or, with `as` (sky::testing::runAs), another.
Outcome runQvfarm(const std::vector<std::string>& args, const std::string& as = {}) {
    const fs::path dir = sky::machine::root();
    std::string command = as + quoted((sky::testing::buildBin() / "qvfarm").string());
    for (const std::string& arg : args)
        command += " " + quoted(arg);
    command += " >" + quoted((dir / "out.txt").string()) + " 2>" +
               quoted((dir / "err.txt").string()) + " </dev/null";
    const int status = std::system(command.c_str());
    Outcome run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(dir / "out.txt");
    run.err = readFile(dir / "err.txt");
    return run;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The farm "qvfarm demo --applications 4000 --servers 20" makes, as its store holds it: the
// demo's shape at that size.
void expectLargeDemo(sky::farm::FarmStore& store) {
    using sky::farm::IconLoading;
    auto servers = store.servers();
    ASSERT_TRUE(servers) << servers.status().toString();
    ASSERT_EQ(servers->size(), 20u);
    EXPECT_EQ(servers->front().name, "BR-SRV0001");
    EXPECT_EQ(servers->back().name, "HQ-SRV0013"); // five in eight at headquarters
    EXPECT_EQ(store.zones()->size(), 2u);
    // The demo's twelve folders, and two sets below the ten that hold applications.
    auto folders = store.folders();
    ASSERT_TRUE(folders);
    EXPECT_EQ(folders->size(), 12u + 2 * 10);
    EXPECT_TRUE(std::count(folders->begin(), folders->end(), "Applications/Office/Set 002"));
    EXPECT_TRUE(std::count(folders->begin(), folders->end(), "Applications/Set 001"));

    auto apps = store.applications(IconLoading::Load);
    ASSERT_TRUE(apps) << apps.status().toString();
    ASSERT_EQ(apps->size(), 4000u);
    std::size_t bindings = 0, icons = 0, granted = 0;
    for (const sky::farm::Application& app : *apps) {
        bindings += app.servers.size();
        icons += app.icon && !app.icon->empty();
        granted += !app.users.empty() && !app.groups.empty();
    }
    EXPECT_EQ(bindings, 3u * 4000);
    EXPECT_EQ(icons, 4000u);
    EXPECT_EQ(granted, 4000u);
    // The servers share the applications evenly.
    EXPECT_EQ(store.applicationsOnServer("HQ-SRV0001", IconLoading::Skip)->size(), 600u);
    EXPECT_EQ(store.applicationsOnServer("BR-SRV0007", IconLoading::Skip)->size(), 600u);

    auto word = store.application("Applications/Office/Set 001/Word 1");
    ASSERT_TRUE(word) << word.status().toString();
    EXPECT_EQ(word->groups, (std::vector<sky::farm::Account>{{4, 1, "CORP", "Domain Users"}}));
    EXPECT_EQ(word->users, (std::vector<sky::farm::Account>{{2, 1, "CORP", "user1"}}));
    EXPECT_EQ(word->servers, (std::vector<std::string>{"HQ-SRV0001", "HQ-SRV0007", "HQ-SRV0013"}));
    EXPECT_EQ(word->settings.text(sky::farm::AppSetting::DefaultInitProg),
              "\"C:\\Program Files\\Office\\winword.exe\"");
    EXPECT_TRUE(store.application("Applications/Set 002/Help Desk 3939"));
}

} // namespace

TEST(Qvfarm, ADumpLoadedOnAnotherMachineDumpsTheSame) {
    ASSERT_EQ(runQvfarm({"demo"}).code, 0);
    // On the first machine, which lasts as long as the test.
    const fs::path first = sky::machine::root() / "first.json";
    Outcome dumped = runQvfarm({"dump", "--output", first.string()});
    ASSERT_EQ(dumped.code, 0) << dumped.err;
    EXPECT_EQ(dumped.out, "");
    const std::string original = readFile(first);
    EXPECT_EQ(runQvfarm({"dump"}).out, original); // the same on standard output

    sky::testing::TempMachine other;
    Outcome loaded = runQvfarm({"load", first.string()});
    ASSERT_EQ(loaded.code, 0) << loaded.err;
    EXPECT_TRUE(contains(loaded.out, "Created the farm Demo Farm (2 zones, 9 servers, 43 "
                                     "applications) in "))
        << loaded.out;
    EXPECT_EQ(runQvfarm({"dump"}).out, original);

    // Loading again replaces the farm in its store.
    std::ofstream(sky::machine::root() / "again.json") << original;
    Outcome again = runQvfarm({"load", (sky::machine::root() / "again.json").string()});
    EXPECT_TRUE(contains(again.out, "Replaced the farm Demo Farm")) << again.out;
    EXPECT_EQ(runQvfarm({"dump"}).out, original);

    // From standard input, read as it comes.
    sky::testing::TempMachine third;
    const std::string fromInput = quoted((sky::testing::buildBin() / "qvfarm").string()) +
                                  " load - <" + quoted(first.string()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(fromInput.c_str()), 0);
    EXPECT_EQ(runQvfarm({"dump"}).out, original);
}

// `-o` naming something other than a regular file writes into it as it stands: a FIFO stays a
// FIFO and its reader gets the dump; a device stays the device (one of the test's own, made in
// the machine directory: the system's /dev/null is never put at risk). A regular file is still
// replaced whole.
TEST(Qvfarm, ADumpIntoAFifoOrADeviceLeavesItAsItWas) {
    ASSERT_EQ(runQvfarm({"demo"}).code, 0);
    const std::string original = runQvfarm({"dump"}).out;
    const fs::path folder = sky::machine::root() / "outputs";
    fs::create_directories(folder);

    const fs::path fifo = folder / "pipe";
    sky::testing::FifoReader reader(fifo);
    const Outcome piped = runQvfarm({"dump", "-o", fifo.string()});
    EXPECT_EQ(piped.code, 0) << piped.err;
    EXPECT_EQ(reader.finish(), original);
    EXPECT_EQ(fs::symlink_status(fifo).type(), fs::file_type::fifo);

    const fs::path file = folder / "dump.json";
    std::ofstream(file) << "an older dump, longer than nothing at all";
    ASSERT_EQ(runQvfarm({"dump", "-o", file.string()}).code, 0);
    EXPECT_EQ(readFile(file), original);

    const fs::path device = folder / "null";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0)
        << "the test makes a device node of its own: it needs root";
    const Outcome discarded = runQvfarm({"dump", "-o", device.string()});
    EXPECT_EQ(discarded.code, 0) << discarded.err;
    struct stat st {};
    ASSERT_EQ(lstat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, makedev(1, 3));
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"dump.json", "null", "pipe"}));
}

TEST(Qvfarm, ANewFarmIsServedWithItsCreatorAsAdministrator) {
    Outcome created = runQvfarm({"create", "Alpha"});
    ASSERT_EQ(created.code, 0) << created.err;
    const std::string path = sky::farm::farmStoreOnMachine("Alpha").path;
    EXPECT_EQ(created.out, "Created the farm Alpha in " + path + ", with " +
                               sky::qvfarm::currentUser() +
                               " as its administrator; this machine serves it.\n");
    EXPECT_EQ(*sky::farm::machineFarmStore(), sky::farm::farmStoreOnMachine("Alpha"));

    ASSERT_EQ(runQvfarm({"admin", "add", "CORP\\bob"}).code, 0);
    auto store = sky::farm::openMachineFarmStore();
    ASSERT_TRUE(store);
    EXPECT_TRUE(*(*store)->isAdministrator("corp\\BOB")); // another process sees it
    EXPECT_TRUE(*(*store)->isAdministrator(sky::qvfarm::currentUser()));

    Outcome twice = runQvfarm({"admin", "add", "corp\\bob"});
    EXPECT_EQ(twice.code, 1);
    EXPECT_EQ(twice.err, "qvfarm: corp\\bob is already an administrator of the farm.\n");
    ASSERT_EQ(runQvfarm({"admin", "remove", "CORP\\BOB"}).code, 0);
    Outcome missing = runQvfarm({"admin", "remove", "CORP\\bob"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "qvfarm: CORP\\bob is not an administrator of the farm.\n");
    EXPECT_EQ(runQvfarm({"admin", "list"}).out, sky::qvfarm::currentUser() + "\n");

    Outcome exists = runQvfarm({"create", "alpha2"});
    ASSERT_EQ(exists.code, 0);
    Outcome duplicate = runQvfarm({"create", "Alpha"});
    EXPECT_EQ(duplicate.code, 1);
    EXPECT_EQ(duplicate.err, "qvfarm: The farm store " + path + " already exists.\n");
    EXPECT_EQ(runQvfarm({"create", "a/b"}).code, 1);
}

TEST(Qvfarm, TheMachinesFarmsAreListedAndSelected) {
    Outcome none = runQvfarm({"list"});
    EXPECT_EQ(none.out, "This machine holds no farm store; create one with \"qvfarm create "
                        "NAME\".\n");
    ASSERT_EQ(runQvfarm({"create", "Alpha"}).code, 0);
    ASSERT_EQ(runQvfarm({"demo", "--name", "Showroom"}).code, 0);
    Outcome list = runQvfarm({"list"});
    EXPECT_EQ(list.out, "  Alpha\tfarm Alpha, 0 servers, 0 applications\t" +
                            sky::farm::farmStoreOnMachine("Alpha").path +
                            "\n* Showroom\tfarm Showroom, 9 "
                            "servers, 43 applications\t" +
                            sky::farm::farmStoreOnMachine("Showroom").path + "\n");
    Outcome selected = runQvfarm({"select", "Alpha"});
    ASSERT_EQ(selected.code, 0) << selected.err;
    EXPECT_EQ(*sky::farm::machineFarmStore(), sky::farm::farmStoreOnMachine("Alpha"));
    Outcome unknown = runQvfarm({"select", "Nowhere"});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_EQ(unknown.err, "qvfarm: There is no farm store " +
                               sky::farm::farmStoreOnMachine("Nowhere").path + ".\n");
    EXPECT_EQ(*sky::farm::machineFarmStore(), sky::farm::farmStoreOnMachine("Alpha"));
    // A store file given by its path.
    ASSERT_EQ(runQvfarm({"select", sky::farm::farmStoreOnMachine("Showroom").path}).code, 0);
    EXPECT_EQ(runQvfarm({"dump", "--store", sky::farm::farmStoreOnMachine("Alpha").path}).code, 0);
}

TEST(Qvfarm, BadInputIsRefusedClearlyAndChangesNothing) {
    ASSERT_EQ(runQvfarm({"create", "Alpha"}).code, 0);
    const fs::path bad = sky::machine::root() / "bad.json";
    std::ofstream(bad) << "{\n  \"farm\": {\"name\": \"Beta\"\n  \"zones\": []\n}\n";
    Outcome malformed = runQvfarm({"load", bad.string()});
    EXPECT_EQ(malformed.code, 1);
    EXPECT_TRUE(contains(malformed.err, "bad.json: parse error at line 3, column 9:"))
        << malformed.err;

    // A farm the store refuses leaves no store behind and the machine's farm as it was.
    std::ofstream(bad, std::ios::trunc)
        << R"({"farm": {"name": "Beta"}, "applications": [{"distinguishedName":
              "Applications/Word", "servers": ["NOWHERE"]}]})";
    Outcome refused = runQvfarm({"load", bad.string()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "qvfarm: Applications/Word cannot be stored: There is no server "
                           "named NOWHERE in the farm.\n");
    EXPECT_FALSE(fs::exists(sky::farm::farmStoreOnMachine("Beta").path));
    EXPECT_EQ(*sky::farm::machineFarmStore(), sky::farm::farmStoreOnMachine("Alpha"));

    EXPECT_EQ(runQvfarm({"load", "/no/such/file.json"}).err,
              "qvfarm: cannot read /no/such/file.json.\n");
    // An endless input is refused at the ceiling of a dump, though its first byte is wrong.
    EXPECT_EQ(runQvfarm({"load", "/dev/zero"}).err,
              "qvfarm: /dev/zero is larger than 1 GiB; no farm dump is that large.\n");
    EXPECT_EQ(runQvfarm({"dump", "--store", "/no/such/store.db"}).code, 1);
    EXPECT_EQ(runQvfarm({}).code, 2);
    EXPECT_EQ(runQvfarm({"create"}).code, 2);
    EXPECT_EQ(runQvfarm({"admin", "add"}).code, 2);
    EXPECT_EQ(runQvfarm({"unknown"}).code, 2);
}

TEST(Qvfarm, ADemoFarmIsMadeToAnySizeInTheDemosShape) {
    Outcome made = runQvfarm({"demo", "--applications", "4000", "--servers", "20"});
    ASSERT_EQ(made.code, 0) << made.err;
    const auto location = sky::farm::farmStoreOnMachine("Demo Farm");
    EXPECT_EQ(made.out, "Created the farm Demo Farm (2 zones, 20 servers, 4000 applications) in " +
                            location.path + "; this machine serves it.\n");
    auto store = sky::farm::openMachineFarmStore();
    ASSERT_TRUE(store) << store.status().toString();
    expectLargeDemo(**store);

    // One option alone takes the other's default; a size out of range or not a number is
    // refused and leaves the farm as it was.
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--applications", "0"},
                                                {"--applications", "-5"},
                                                {"--applications", "many"},
                                                {"--applications", "1000001"},
                                                {"--servers", "0"},
                                                {"--servers", "10001"},
                                                {"--servers", "2.5"}}) {
        std::vector<std::string> args{"demo"};
        args.insert(args.end(), bad.begin(), bad.end());
        Outcome refused = runQvfarm(args);
        EXPECT_EQ(refused.code, 2) << bad[0] << " " << bad[1];
        EXPECT_TRUE(contains(refused.err, bad[0])) << refused.err;
    }
    expectLargeDemo(**sky::farm::openMachineFarmStore());
    Outcome small = runQvfarm({"demo", "--applications", "5"});
    ASSERT_EQ(small.code, 0) << small.err;
    EXPECT_TRUE(contains(small.out, "Replaced the farm Demo Farm (2 zones, 500 servers, 5 "
                                    "applications)"))
        << small.out;
}

TEST(Qvfarm, EveryCommandHasHelp) {
    for (const char* command : {"create", "load", "dump", "admin", "list", "select", "demo", "copy",
                                "register", "unregister", "audit"}) {
        Outcome help = runQvfarm({command, "--help"});
        EXPECT_EQ(help.code, 0) << command;
        EXPECT_TRUE(contains(help.out, std::string("Usage: qvfarm ") + command)) << help.out;
    }
    Outcome help = runQvfarm({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(contains(help.out, "demo"));
    EXPECT_EQ(runQvfarm({"admin", "add", "--help"}).code, 0);
}

TEST(Qvfarm, TheAuditTrailIsListedFilteredAndPrunedByAnAdministratorOnly) {
    ASSERT_EQ(runQvfarm({"create", "Audited"}).code, 0);
    const std::string self = sky::qvfarm::currentUser();
    // The creator was made its administrator.
    EXPECT_TRUE(contains(runQvfarm({"audit"}).out, "AddAdministrator  " + self + "\n"));
    ASSERT_EQ(runQvfarm({"admin", "add", "carol"}).code, 0);
    ASSERT_EQ(runQvfarm({"admin", "add", "dave"}).code, 0);

    const Outcome text = runQvfarm({"audit"});
    ASSERT_EQ(text.code, 0) << text.err;
    const std::size_t carol = text.out.find("AddAdministrator  carol\n");
    const std::size_t dave = text.out.find("AddAdministrator  dave\n");
    ASSERT_NE(carol, std::string::npos) << text.out;
    EXPECT_LT(dave, carol) << "newest first: " << text.out;
    EXPECT_TRUE(contains(text.out, "  " + self + "@")) << text.out;

    const Outcome json = runQvfarm({"audit", "--json", "--user", self, "--since", "2000-01-01"});
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_TRUE(contains(json.out, "\"operation\": \"AddAdministrator\"")) << json.out;
    EXPECT_EQ(runQvfarm({"audit", "--user", "nobody"}).out, "");
    EXPECT_EQ(runQvfarm({"audit", "--since", "2999-01-01T00:00Z"}).out, "");
    const Outcome badTime = runQvfarm({"audit", "--since", "last week"});
    EXPECT_EQ(badTime.code, 1);
    EXPECT_TRUE(contains(badTime.err, "ISO 8601")) << badTime.err;

    // Only an administrator or the machine's owner prunes, or changes who administers the farm.
    // The creator is an administrator until taken off, and owns the machine until it is given to
    // another account.
    ASSERT_EQ(runQvfarm({"admin", "remove", self}).code, 0);
    const fs::path machine = sky::machine::root();
    uid_t other = 40000;
    while (getpwuid(other))
        ++other;
    ASSERT_EQ(lchown(machine.c_str(), other, other), 0);
    // Another account owning the machine, a third may neither prune nor change who administers:
    // qvfarm refuses every command to whoever does not own the machine's stores. Root acts for
    // the owner, which it cannot do for an owner without an account: it is refused too.
    const uid_t third = sky::testing::unusedAccount(other + 1);
    const std::string notOwner = "qvfarm: the farm stores of the machine " + machine.string() +
                                 " are read and written only by its owner";
    const std::string noAccount = "qvfarm: the owner of the machine " + machine.string() +
                                  " (uid " + std::to_string(other) + ") has no account to act as";
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"audit", "--prune-before", "2999-01-01"},
          std::vector<std::string>{"admin", "add", self},
          std::vector<std::string>{"admin", "remove", "carol"}}) {
        const Outcome refused =
            runQvfarm(command, sky::testing::runAs(third, static_cast<gid_t>(other)));
        EXPECT_EQ(refused.code, 5) << command[0];
        EXPECT_TRUE(contains(refused.err, notOwner)) << refused.err;
        const Outcome asRoot = runQvfarm(command);
        EXPECT_EQ(asRoot.code, 5) << command[0];
        EXPECT_TRUE(contains(asRoot.err, noAccount)) << asRoot.err;
    }
    // The owner again: the list and the trail are as they were.
    ASSERT_EQ(lchown(machine.c_str(), geteuid(), getegid()), 0);
    EXPECT_EQ(runQvfarm({"admin", "list"}).out, "carol\ndave\n");
    EXPECT_TRUE(contains(runQvfarm({"audit"}).out, "carol"));
    // The owner, though not an administrator, names one.
    ASSERT_EQ(runQvfarm({"admin", "add", self}).code, 0);
    const Outcome pruned = runQvfarm({"audit", "--prune-before", "2999-01-01"});
    EXPECT_EQ(pruned.code, 0) << pruned.err;
    EXPECT_TRUE(contains(pruned.out, "Removed 5 entries")) << pruned.out;
    EXPECT_EQ(runQvfarm({"audit"}).out, "");
    EXPECT_NE(runQvfarm({"audit", "--prune-before", "2999-01-01", "--json"}).code, 0);
}

// The owner names a new farm's first administrator; without --admin it is the owner.
TEST(Qvfarm, CreateAndDemoNameTheFirstAdministratorTheOwnerGives) {
    const Outcome created = runQvfarm({"create", "Named", "--admin", "CORP\\alice"});
    ASSERT_EQ(created.code, 0) << created.err;
    EXPECT_TRUE(contains(created.out, ", with CORP\\alice as its administrator;")) << created.out;
    EXPECT_EQ(runQvfarm({"admin", "list"}).out, "CORP\\alice\n");
    ASSERT_EQ(runQvfarm({"demo", "--admin", "bob"}).code, 0);
    EXPECT_EQ(runQvfarm({"admin", "list"}).out, "Administrator\nbob\n");
}

TEST(Qvfarm, RegistersTheObjectModelForProgramsOnTheMachine) {
    ASSERT_EQ(runQvfarm({"demo"}).code, 0);
    const fs::path module = sky::testing::buildBin() / "qvcomsrv.dll";
    const Outcome registered = runQvfarm({"register", module.string()});
    ASSERT_EQ(registered.code, 0) << registered.err;
    EXPECT_TRUE(contains(registered.out, sky::narrow(sky::machine::toWindowsPath(module))))
        << registered.out;

    // This process now creates the farm by its programmatic identifier, from the module.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        auto farm = sky::createObject<IDispatch>(u"SkyloomCOM.SkyloomFarm");
        sky::callMethod(farm.get(), u"Initialize", std::int32_t{1});
        EXPECT_EQ(sky::getProperty(farm.get(), u"FarmName").toString(), u"Demo Farm");
    }

    ASSERT_EQ(runQvfarm({"unregister", module.string()}).code, 0);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"SkyloomCOM.SkyloomFarm", &clsid), CO_E_CLASSSTRING);
    CoUninitialize();

    const Outcome missing = runQvfarm({"register", "C:\\WINDOWS\\System32\\qvcomsrv.dll"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(contains(missing.err, "there is no module C:\\WINDOWS\\System32\\qvcomsrv.dll"))
        << missing.err;
}

TEST(QvfarmPostgres, AFarmCopiedBetweenKindsOfStoreDumpsTheSame) {
    sky::farm::testing::PostgresTestDatabase database;
    ASSERT_EQ(runQvfarm({"demo"}).code, 0);
    const std::string original = runQvfarm({"dump"}).out;
    const std::string file = sky::farm::farmStoreOnMachine("Demo Farm").path;

    Outcome there = runQvfarm({"copy", file, database.uri()});
    ASSERT_EQ(there.code, 0) << there.err;
    EXPECT_EQ(there.out, "Copied the farm Demo Farm (2 zones, 9 servers, 43 applications) from " +
                             file + " to " + database.uri() + ".\n");
    const Outcome dumped = runQvfarm({"dump", "--store", database.uri()});
    ASSERT_EQ(dumped.code, 0) << dumped.err;
    EXPECT_EQ(dumped.out, original);

    // A farm is not copied over another unless asked to.
    Outcome again = runQvfarm({"copy", file, database.uri()});
    EXPECT_EQ(again.code, 1);
    EXPECT_EQ(again.err, "qvfarm: The farm store " + database.uri() +
                             " holds a farm already; give --replace to replace it.\n");
    EXPECT_EQ(runQvfarm({"copy", "--replace", file, database.uri()}).code, 0);

    const std::string back = (sky::machine::root() / "back.db").string();
    Outcome home = runQvfarm({"copy", database.uri(), back});
    ASSERT_EQ(home.code, 0) << home.err;
    EXPECT_EQ(runQvfarm({"dump", "--store", back}).out, original);
    EXPECT_EQ(runQvfarm({"admin", "--store", database.uri(), "list"}).out,
              runQvfarm({"admin", "--store", back, "list"}).out);

    Outcome missing = runQvfarm({"copy", "/no/such/store.db", back + "2"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "qvfarm: There is no farm store /no/such/store.db.\n");
    EXPECT_FALSE(fs::exists(back + "2"));
}

TEST(QvfarmPostgres, AFarmPutOnPostgresIsServedAndKnown) {
    sky::farm::testing::PostgresTestDatabase shared;
    const std::string conninfo = shared.conninfo();
    Outcome created = runQvfarm({"create", "Alpha", "--postgres", conninfo});
    ASSERT_EQ(created.code, 0) << created.err;
    EXPECT_EQ(created.out, "Created the farm Alpha in " + conninfo + ", with " +
                               sky::qvfarm::currentUser() +
                               " as its administrator; this machine serves it.\n");
    const sky::farm::StoreLocation location{"PostgreSQL", conninfo};
    EXPECT_EQ(*sky::farm::machineFarmStore(), location);
    ASSERT_EQ(runQvfarm({"admin", "add", "CORP\\bob"}).code, 0);
    EXPECT_EQ(runQvfarm({"create", "Alpha", "--postgres", conninfo}).err,
              "qvfarm: The farm store " + conninfo + " already exists.\n");

    // The machine serves a farm file next; it still knows the PostgreSQL farm by its name.
    ASSERT_EQ(runQvfarm({"create", "Beta"}).code, 0);
    Outcome list = runQvfarm({"list"});
    EXPECT_EQ(list.out, "  Alpha\tfarm Alpha, 0 servers, 0 applications\t" + conninfo +
                            "\n* Beta\tfarm Beta, 0 servers, 0 applications\t" +
                            sky::farm::farmStoreOnMachine("Beta").path + "\n");
    Outcome byName = runQvfarm({"select", "alpha"});
    ASSERT_EQ(byName.code, 0) << byName.err;
    EXPECT_EQ(byName.out, "This machine serves the farm Alpha (" + conninfo + ").\n");
    EXPECT_EQ(*sky::farm::machineFarmStore(), location);

    // A second machine serves the same farm and sees what the first changed.
    {
        sky::testing::TempMachine second;
        Outcome selected = runQvfarm({"select", "--postgres", conninfo});
        ASSERT_EQ(selected.code, 0) << selected.err;
        const std::string administrators = runQvfarm({"admin", "list"}).out;
        EXPECT_TRUE(contains(administrators, "CORP\\bob\n")) << administrators;
        EXPECT_EQ(runQvfarm({"select", "Alpha", "--postgres", conninfo}).code, 2);
        EXPECT_EQ(runQvfarm({"select"}).code, 2);
    }

    // demo and load put their farm into a database as well.
    sky::farm::testing::PostgresTestDatabase other;
    Outcome demo = runQvfarm({"demo", "--postgres", other.conninfo()});
    ASSERT_EQ(demo.code, 0) << demo.err;
    EXPECT_EQ(demo.out, "Created the farm Demo Farm (2 zones, 9 servers, 43 applications) in " +
                            other.conninfo() + "; this machine serves it.\n");
    const fs::path dump = sky::machine::root() / "demo.json";
    ASSERT_EQ(runQvfarm({"dump", "-o", dump.string()}).code, 0);
    Outcome loaded = runQvfarm({"load", dump.string(), "--postgres", conninfo});
    ASSERT_EQ(loaded.code, 0) << loaded.err;
    EXPECT_TRUE(contains(loaded.out, "Replaced the farm Demo Farm (2 zones")) << loaded.out;
    EXPECT_EQ(runQvfarm({"dump", "--store", shared.uri()}).out, readFile(dump));

    // So does a demo made to measure.
    sky::farm::testing::PostgresTestDatabase large;
    Outcome made = runQvfarm(
        {"demo", "--applications", "4000", "--servers", "20", "--postgres", large.conninfo()});
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_TRUE(contains(made.out, "(2 zones, 20 servers, 4000 applications)")) << made.out;
    auto largeStore =
        sky::farm::openFarmStore({std::string(sky::farm::kPostgresStoreType), large.conninfo()});
    ASSERT_TRUE(largeStore) << largeStore.status().toString();
    expectLargeDemo(**largeStore);

    // A farm the database refuses leaves no store behind.
    sky::farm::testing::PostgresTestDatabase third;
    const fs::path bad = sky::machine::root() / "bad.json";
    std::ofstream(bad) << R"({"farm": {"name": "Gamma"}, "applications": [{"distinguishedName":
              "Applications/Word", "servers": ["NOWHERE"]}]})";
    Outcome refused = runQvfarm({"load", bad.string(), "--postgres", third.conninfo()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "qvfarm: Applications/Word cannot be stored: There is no server "
                           "named NOWHERE in the farm.\n");
    EXPECT_EQ(sky::farm::openFarmStore({"PostgreSQL", third.conninfo()}).status().code(),
              sky::farm::Status::Code::NotFound);

    // A server that cannot be reached is named, with the reason.
    Outcome unreachable =
        runQvfarm({"select", "--postgres", "host=/tmp/no-such-farm-cluster dbname=farm"});
    EXPECT_EQ(unreachable.code, 1);
    EXPECT_TRUE(contains(unreachable.err, "qvfarm: The farm store host=/tmp/no-such-farm-cluster "
                                          "dbname=farm cannot be reached: connection to server "
                                          "on socket \"/tmp/no-such-farm-cluster/"))
        << unreachable.err;
}

namespace {

// A farm of `count` applications as a dump, for loads that take a while.
std::string largeDump(const std::string& name, int count) {
    std::string json = R"({"farm": {"name": ")" + name + R"("}, "applications": [)";
    for (int i = 0; i < count; ++i)
        json += std::string(i ? "," : "") + R"({"distinguishedName": "Applications/App)" +
                std::to_string(i) + R"(", "description": "application number )" +
                std::to_string(i) + R"("})";
    return json + "]}";
}

std::string commandLine(const std::vector<std::string>& args, const fs::path& out) {
    std::string command = quoted((sky::testing::buildBin() / "qvfarm").string());
    for (const std::string& arg : args)
        command += " " + quoted(arg);
    return command + " >" + quoted(out.string()) + " 2>&1 </dev/null";
}

} // namespace

// A SQLite and a PostgreSQL farm of one name: the name alone is refused, with both stores listed
// and how to name one; each is selected by its store, and nothing changes on the refusal.
TEST(QvfarmPostgres, ANameOfTwoStoresIsRefusedWithBoth) {
    ASSERT_EQ(runQvfarm({"demo"}).code, 0);
    const std::string file = sky::farm::farmStoreOnMachine("Demo Farm").path;
    sky::farm::testing::PostgresTestDatabase database;
    ASSERT_EQ(runQvfarm({"demo", "--postgres", database.conninfo()}).code, 0);
    const sky::farm::StoreLocation onPostgres{"PostgreSQL", database.conninfo()};
    ASSERT_EQ(*sky::farm::machineFarmStore(), onPostgres);

    for (const char* name : {"Demo Farm", "demo farm"}) {
        Outcome refused = runQvfarm({"select", name});
        EXPECT_EQ(refused.code, 1);
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.err, "qvfarm: The name \"" + std::string(name) +
                                   "\" names 2 farm stores of this machine:\n  " +
                                   database.conninfo() + " (PostgreSQL)\n  " + file +
                                   " (SQLite)\nName the one you mean by its store: qvfarm "
                                   "select FILE for a store file, qvfarm select --postgres "
                                   "CONNINFO (or a postgresql:// URI) for a PostgreSQL store.\n");
        EXPECT_EQ(*sky::farm::machineFarmStore(), onPostgres);
    }
    ASSERT_EQ(runQvfarm({"select", file}).code, 0);
    EXPECT_EQ(*sky::farm::machineFarmStore(), sky::farm::farmStoreOnMachine("Demo Farm"));
    ASSERT_EQ(runQvfarm({"select", "--postgres", database.conninfo()}).code, 0);
    EXPECT_EQ(*sky::farm::machineFarmStore(), onPostgres);
}

TEST(Qvfarm, NumbersNoDoubleCanHoldAreRefusedOnLoad) {
    const fs::path file = sky::machine::root() / "huge.json";
    std::ofstream(file) << R"({"version": 1e999, "farm": {"name": "Huge"}})";
    Outcome loaded = runQvfarm({"load", file.string()});
    EXPECT_EQ(loaded.code, 1);
    EXPECT_EQ(loaded.err, "qvfarm: " + file.string() + ": number overflow parsing '1e999'\n");
    EXPECT_FALSE(fs::exists(sky::farm::farmStoreOnMachine("Huge").path));
}

TEST(Qvfarm, AStoreHoldingTextThatIsNotUtf8IsReportedAsDamaged) {
    ASSERT_EQ(runQvfarm({"demo"}).code, 0);
    const std::string store = sky::farm::farmStoreOnMachine("Demo Farm").path;
    const std::string sql = "UPDATE application SET description = CAST(X'636166E9' AS TEXT) "
                            "WHERE id = (SELECT min(id) FROM application)";
    ASSERT_EQ(std::system(("sqlite3 " + quoted(store) + " " + quoted(sql)).c_str()), 0);
    Outcome dumped = runQvfarm({"dump"});
    EXPECT_EQ(dumped.code, 1);
    EXPECT_EQ(dumped.out, "");
    EXPECT_TRUE(contains(dumped.err, "qvfarm: The farm store " + store +
                                         " is damaged or was written by another program: it "
                                         "holds text that is not valid UTF-8 (/applications/"))
        << dumped.err;
}

TEST(Qvfarm, ADamagedRegistryIsNotHiddenFromTheList) {
    ASSERT_EQ(runQvfarm({"create", "Alpha"}).code, 0);
    {
        std::ofstream hive(sky::machine::root() / "registry.db",
                           std::ios::binary | std::ios::trunc);
        hive << std::string(8192, 'x');
    }
    Outcome list = runQvfarm({"list"});
    EXPECT_EQ(list.code, 1);
    EXPECT_TRUE(contains(list.out, "  Alpha\tfarm Alpha")) << list.out;
    EXPECT_TRUE(contains(list.err, "qvfarm: The machine's registry cannot read")) << list.err;
    EXPECT_TRUE(contains(list.err, "is damaged")) << list.err;
}

namespace {

// Starts `qvfarm load dump`, waits until `ready()` holds, and kills the load with SIGKILL. True
// when the kill landed while the load still ran; false when the load ended by itself first.
template <class Ready> bool killLoadWhen(const fs::path& dump, const Ready& ready) {
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const std::string command = commandLine({"load", dump.string()}, "/dev/null");
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    for (int i = 0; i < 600000 && !ready(); ++i) {
        if (waitpid(child, &status, WNOHANG) == child)
            return false;
        usleep(100);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// The store's files (its database, journal, and the temporary one it is built under), removed.
void removeStoreFiles(const std::string& store) {
    const fs::path path(store);
    for (const auto& entry : fs::directory_iterator(path.parent_path()))
        if (entry.path().filename().string().starts_with(path.filename().string()))
            fs::remove(entry.path());
}

} // namespace

// The store is built under a temporary name and appears with the whole farm in it: a load killed
// at any moment leaves no farm or all of it. It is killed while it builds the store, and again
// the moment the store has its name; each kill must land while the load still runs (a load that
// ends before its kill is tried again, up to 20 times, then the test says it could not).
TEST(Qvfarm, ALoadKilledPartWayLeavesNoEmptyFarm) {
    const fs::path dump = sky::machine::root() / "large.json";
    std::ofstream(dump) << largeDump("Large", 3000);
    const std::string store = sky::farm::farmStoreOnMachine("Large").path;
    const auto applicationsInStore = [&]() -> std::size_t {
        auto opened = sky::farm::openFarmStore({"sqlite", store});
        EXPECT_TRUE(opened) << opened.status().toString();
        if (!opened)
            return 0;
        auto apps = (*opened)->applications(sky::farm::IconLoading::Skip);
        EXPECT_TRUE(apps) << apps.status().toString();
        return apps ? apps->size() : 0;
    };
    const std::string temporaryPrefix = fs::path(store).filename().string() + ".new-";
    const auto building = [&] {
        for (const auto& entry : fs::directory_iterator(fs::path(store).parent_path()))
            if (entry.path().filename().string().starts_with(temporaryPrefix))
                return true;
        return false;
    };

    // While the store is being built: the kill leaves no store under its name.
    bool killedWhileBuilding = false;
    for (int attempt = 0; attempt < 20 && !killedWhileBuilding; ++attempt) {
        fs::create_directories(fs::path(store).parent_path());
        removeStoreFiles(store);
        const bool landed = killLoadWhen(dump, building);
        killedWhileBuilding = landed && !fs::exists(store);
        if (fs::exists(store)) {
            EXPECT_EQ(applicationsInStore(), 3000u) << "a store appeared before its farm was in it";
        }
    }
    ASSERT_TRUE(killedWhileBuilding)
        << "could not kill the load while it built its store: it ended first 20 times";

    // The moment the store has its name: the farm is all there.
    bool killedWhenNamed = false;
    for (int attempt = 0; attempt < 20 && !killedWhenNamed; ++attempt) {
        removeStoreFiles(store);
        killedWhenNamed = killLoadWhen(dump, [&] { return fs::exists(store); });
        ASSERT_TRUE(fs::exists(store)) << "the load did not get as far as naming its store";
        EXPECT_EQ(applicationsInStore(), 3000u) << "a store appeared before its farm was in it";
    }
    EXPECT_TRUE(killedWhenNamed)
        << "could not kill the load once its store had its name: it ended first 20 times";
}

TEST(Qvfarm, ParallelLoadsOfOneNewFarmAllSucceed) {
    const fs::path dump = sky::machine::root() / "parallel.json";
    std::ofstream(dump) << largeDump("Parallel", 200);
    std::vector<pid_t> children;
    for (int i = 0; i < 4; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const fs::path out = sky::machine::root() / ("load" + std::to_string(i) + ".txt");
            const std::string command = commandLine({"load", dump.string()}, out);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(child);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        int status = 0;
        waitpid(children[i], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << readFile(sky::machine::root() / ("load" + std::to_string(i) + ".txt"));
    }
    Outcome dumped = runQvfarm({"dump"});
    ASSERT_EQ(dumped.code, 0) << dumped.err;
    EXPECT_TRUE(contains(dumped.out, "Applications/App199")) << dumped.out.substr(0, 200);
}

TEST(Qvfarm, OnlyTheMachinesOwnerOpensItsFarmStores) {
    ASSERT_EQ(runQvfarm({"demo"}).code, 0);
    const std::string before = runQvfarm({"dump"}).out;
    // A user of the machine (a member of its group) who is not its owner, and a stranger.
    ASSERT_EQ(geteuid(), 0u) << "qvfarm runs as other accounts here: the test needs root";
    const uid_t user = sky::testing::unusedAccount(46000);
    const uid_t stranger = sky::testing::unusedAccount(user + 1);
    ASSERT_TRUE(sky::testing::giveMachineGroup(static_cast<gid_t>(user)));
    const std::string qvfarm = quoted((sky::testing::buildBin() / "qvfarm").string());
    for (const uid_t account : {user, stranger}) {
        for (const char* command : {" dump", " admin add intruder", " list"}) {
            const auto run =
                sky::testing::runCommand(sky::testing::runAs(account, static_cast<gid_t>(account)) +
                                         qvfarm + command + " 2>&1");
            EXPECT_EQ(run.exitCode, 5) << command << ": " << run.out;
            EXPECT_EQ(run.out, "qvfarm: the farm stores of the machine " +
                                   sky::machine::root().string() +
                                   " are read and written only by its owner (root); run qvfarm "
                                   "as root, or reach the farm through BraskAdmin (the QVCom "
                                   "service).\n");
        }
    }
    sky::testing::giveMachineGroup(0);
    EXPECT_EQ(runQvfarm({"dump"}).out, before);
}

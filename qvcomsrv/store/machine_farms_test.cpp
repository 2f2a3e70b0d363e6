#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "qvcomsrv/store/store_test_support.h"
#include "sky/machine.h"
#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"

using namespace sky::farm;
using namespace sky::farm::testing;
namespace fs = std::filesystem;

TEST(MachineFarms, StoresLiveInTheMachineDirectory) {
    const StoreLocation location = farmStoreOnMachine("Demo Farm");
    EXPECT_EQ(location.type, "SQLite");
    EXPECT_EQ(location.path, (sky::machine::root() / "farms" / "Demo Farm.db").string());
    EXPECT_TRUE(checkFarmName("Demo Farm"));
    for (const char* bad :
         {"", ".", "..", "a/b", "a\\b", "tab\there", "c1\xC2\x85", "rtl\xE2\x80\xAE"})
        EXPECT_EQ(checkFarmName(bad).code(), Status::Code::InvalidArgument) << bad;
}

TEST(MachineFarms, TheServedStoreIsRecordedForEveryProgram) {
    auto none = machineFarmStore();
    EXPECT_EQ(none.status().code(), Status::Code::NotFound);
    EXPECT_EQ(none.status().message(),
              "This machine serves no farm yet; create one with \"qvfarm create NAME\".");
    EXPECT_EQ(openMachineFarmStore().status().code(), Status::Code::NotFound);

    createSmallFarm();
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Test Farm")));
    EXPECT_EQ(*machineFarmStore(), farmStoreOnMachine("Test Farm"));
    auto store = openMachineFarmStore();
    ASSERT_TRUE(store) << store.status().toString();
    EXPECT_EQ((*store)->farm()->name, "Test Farm");

    ASSERT_TRUE(setMachineFarmStore({"punched cards", "/dev/null"}));
    EXPECT_EQ(openMachineFarmStore().status().code(), Status::Code::NotSupported);
}

TEST(MachineFarms, KnownStoresAreTheMachinesAndTheServedOne) {
    createSmallFarm(farmStoreOnMachine("beta").path);
    createSmallFarm(farmStoreOnMachine("Alpha").path);
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("beta")));
    auto known = knownFarmStores();
    ASSERT_EQ(known.size(), 2u);
    EXPECT_EQ(known[0].name, "Alpha");
    EXPECT_FALSE(known[0].served);
    EXPECT_EQ(known[1].name, "beta");
    EXPECT_TRUE(known[1].served);

    // A served store kept elsewhere is known too.
    const std::string elsewhere = (sky::machine::root() / "elsewhere.db").string();
    createSmallFarm(elsewhere);
    ASSERT_TRUE(setMachineFarmStore({"SQLite", elsewhere}));
    known = knownFarmStores();
    ASSERT_EQ(known.size(), 3u);
    EXPECT_EQ(known[2].location.path, elsewhere);
    EXPECT_TRUE(known[2].served);
}

TEST(MachineFarms, TheStoreListingAServerIsFound) {
    auto alpha = createSmallFarm(farmStoreOnMachine("Alpha").path);
    auto other = createSmallFarm(farmStoreOnMachine("Other").path);
    FarmImage image = smallFarm();
    image.servers.push_back({"OMEGA", "West", 6, 0});
    ASSERT_TRUE(other->replace(image));
    std::ofstream(farmStoreOnMachine("Broken").path) << "not a store";

    auto found = farmStoreListingServer("omega");
    ASSERT_TRUE(found) << found.status().toString();
    EXPECT_EQ(found->name, "Other");
    auto none = farmStoreListingServer("NOWHERE");
    EXPECT_EQ(none.status().message(), "No farm store of this machine lists the server NOWHERE.");

    // A server that two farms list is neither's: both are named, the served one once.
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Other")));
    auto both = farmStoreListingServer("alpha");
    EXPECT_EQ(both.status().code(), Status::Code::InvalidArgument);
    EXPECT_TRUE(both.status().message().starts_with(
        "2 farm stores of this machine list the server alpha:\n  " +
        farmStoreOnMachine("Alpha").path + " (SQLite)\n  " + farmStoreOnMachine("Other").path +
        " (SQLite)\nName the one you mean by its store: "))
        << both.status().message();
}

TEST(MachineFarms, TheServedStoreIsRecordedInTheMachinesRegistry) {
    const std::u16string key = u"Software\\Vantor\\Skyloom\\FarmStore";
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Test Farm")));
    EXPECT_EQ(sky::registry::readString(HKEY_LOCAL_MACHINE, key, u"Type"), u"SQLite");
    // A store in the machine directory is recorded relative to it.
    EXPECT_EQ(sky::registry::readString(HKEY_LOCAL_MACHINE, key, u"Path"), u"farms/Test Farm.db");

    // A record written by someone else is read as it stands; one without a path is refused.
    sky::registry::Key record;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, record.put()),
              ERROR_SUCCESS);
    const std::u16string other = u"/srv/farms/Other.db";
    RegSetValueExW(record.get(), u"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   static_cast<DWORD>((other.size() + 1) * 2));
    EXPECT_EQ(machineFarmStore()->path, "/srv/farms/Other.db");
    RegDeleteValueW(record.get(), u"Path");
    auto incomplete = machineFarmStore();
    EXPECT_EQ(incomplete.status().code(), Status::Code::Corrupt);
    EXPECT_EQ(incomplete.status().message(),
              "The machine's record of its farm store, HKLM\\Software\\Vantor\\Skyloom\\FarmStore, "
              "needs the text values Type and Path.");

    // A user who may not change the record is told so, and the record stays.
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Test Farm")));
    ASSERT_EQ(sky::registry::denyWrite(HKEY_LOCAL_MACHINE, key, sky::registry::currentUser()),
              ERROR_SUCCESS);
    Status denied = setMachineFarmStore(farmStoreOnMachine("Other"));
    EXPECT_EQ(denied.code(), Status::Code::IOError);
    EXPECT_EQ(denied.message(), "The machine's registry cannot write "
                                "HKLM\\Software\\Vantor\\Skyloom\\FarmStore (access is denied).");
    EXPECT_EQ(*machineFarmStore(), farmStoreOnMachine("Test Farm"));
}

TEST(MachineFarms, ARecordOfEitherKindIsReadWhateverTheCaseOfItsType) {
    const std::u16string key = u"Software\\Vantor\\Skyloom\\FarmStore";
    const StoreLocation shared{"PostgreSQL", "host=db1 dbname=farm"};
    ASSERT_TRUE(setMachineFarmStore(shared));
    EXPECT_EQ(sky::registry::readString(HKEY_LOCAL_MACHINE, key, u"Type"), u"PostgreSQL");
    EXPECT_EQ(sky::registry::readString(HKEY_LOCAL_MACHINE, key, u"ConnectionString"),
              u"host=db1 dbname=farm");
    EXPECT_FALSE(sky::registry::readString(HKEY_LOCAL_MACHINE, key, u"Path").has_value());
    EXPECT_EQ(*machineFarmStore(), shared);

    // Back to a store file: the record says one thing again.
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Test Farm")));
    EXPECT_FALSE(
        sky::registry::readString(HKEY_LOCAL_MACHINE, key, u"ConnectionString").has_value());

    // Records written by earlier releases, or by hand, in any case.
    sky::registry::Key record;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, record.put()),
              ERROR_SUCCESS);
    const auto setText = [&](const char16_t* name, const std::u16string& value) {
        RegSetValueExW(record.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2));
    };
    setText(u"Type", u"sqlite");
    EXPECT_EQ(*machineFarmStore(), farmStoreOnMachine("Test Farm"));
    setText(u"Type", u"POSTGRESQL");
    auto noConnection = machineFarmStore();
    EXPECT_EQ(noConnection.status().message(),
              "The machine's record of its farm store, HKLM\\Software\\Vantor\\Skyloom\\FarmStore, "
              "needs the text values Type and ConnectionString.");
    setText(u"ConnectionString", u"postgresql://db2/farm");
    EXPECT_EQ(*machineFarmStore(), (StoreLocation{"PostgreSQL", "postgresql://db2/farm"}));
}

TEST(MachineFarms, APostgresStoreTheMachineServedStaysKnownByItsFarmsName) {
    createSmallFarm(farmStoreOnMachine("Alpha").path);
    const StoreLocation shared{"PostgreSQL", "host=db1 dbname=farm"};
    ASSERT_TRUE(rememberFarmStore("Shared Farm", shared));
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Alpha")));
    auto known = knownFarmStores();
    ASSERT_EQ(known.size(), 2u);
    EXPECT_EQ(known[0].name, "Alpha");
    EXPECT_TRUE(known[0].served);
    EXPECT_EQ(known[1].name, "Shared Farm");
    EXPECT_EQ(known[1].location, shared);
    EXPECT_FALSE(known[1].served);
    EXPECT_EQ(*farmStoreNamed("shared farm"), shared);
    EXPECT_EQ(*farmStoreNamed("Alpha"), farmStoreOnMachine("Alpha"));
    EXPECT_EQ(farmStoreNamed("Nowhere").status().message(),
              "There is no farm store " + farmStoreOnMachine("Nowhere").path + ".");
    // A name that a store file and a remembered store both answer to names neither.
    ASSERT_TRUE(rememberFarmStore("alpha", StoreLocation{"PostgreSQL", "host=db3 dbname=alpha"}));
    auto two = farmStoreNamed("ALPHA");
    EXPECT_EQ(two.status().code(), Status::Code::InvalidArgument);
    EXPECT_TRUE(two.status().message().starts_with(
        "The name \"ALPHA\" names 2 farm stores of this machine:\n  host=db3 dbname=alpha "
        "(PostgreSQL)\n  " +
        farmStoreOnMachine("Alpha").path + " (SQLite)\n"))
        << two.status().message();
    std::filesystem::remove(farmsDirectory() / "alpha.postgres");

    // Served, it is listed once; remembered again elsewhere, the newer place counts.
    ASSERT_TRUE(setMachineFarmStore(shared));
    EXPECT_EQ(knownFarmStores().size(), 2u);
    EXPECT_TRUE(knownFarmStores()[1].served);
    const StoreLocation moved{"PostgreSQL", "host=db2 dbname=farm"};
    ASSERT_TRUE(rememberFarmStore("Shared Farm", moved));
    EXPECT_EQ(*farmStoreNamed("Shared Farm"), moved);
    // A store file is known by its file; nothing is remembered for it.
    ASSERT_TRUE(rememberFarmStore("Alpha", farmStoreOnMachine("Alpha")));
    EXPECT_FALSE(std::filesystem::exists(farmsDirectory() / "Alpha.postgres"));
}

namespace {

// Points SKYLOOM_MACHINE at `machine` and, for a relative name, the current directory at `from`;
// both come back when the object goes.
class MachineNamed {
public:
    MachineNamed(const std::string& machine, const fs::path& from = fs::current_path())
        : before_(std::getenv("SKYLOOM_MACHINE")), cwd_(fs::current_path()) {
        fs::current_path(from);
        setenv("SKYLOOM_MACHINE", machine.c_str(), 1);
    }
    ~MachineNamed() {
        setenv("SKYLOOM_MACHINE", before_.c_str(), 1);
        fs::current_path(cwd_);
    }

private:
    std::string before_;
    fs::path cwd_;
};

} // namespace

TEST(MachineFarms, ACopiedMachineServesItsOwnCopyOfTheStore) {
    createSmallFarm();
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Test Farm")));
    const fs::path original = sky::machine::root();
    const fs::path copy = original.string() + "-copy";
    fs::copy(original, copy, fs::copy_options::recursive);
    {
        MachineNamed copied(copy.string());
        auto served = machineFarmStore();
        ASSERT_TRUE(served) << served.status().toString();
        EXPECT_EQ(served->path, (copy / "farms" / "Test Farm.db").string());
        // Changing the copy's farm leaves the original's alone.
        auto store = openMachineFarmStore();
        ASSERT_TRUE(store);
        ASSERT_TRUE((*store)->addAdministrator("copy-only"));
    }
    fs::remove_all(copy);
    auto store = openMachineFarmStore();
    ASSERT_TRUE(store);
    EXPECT_FALSE(*(*store)->isAdministrator("copy-only"));
}

TEST(MachineFarms, ARelativeMachineNameServesTheSameStoreFromAnyDirectory) {
    const fs::path machine = sky::machine::root();
    const fs::path parent = machine.parent_path();
    fs::create_directories(machine / "sub");
    {
        MachineNamed relative(machine.filename().string(), parent);
        createSmallFarm(farmStoreOnMachine("Test Farm").path);
        ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Test Farm")));
    }
    {
        // The same machine, named from inside itself.
        MachineNamed relative("..", machine / "sub");
        auto served = machineFarmStore();
        ASSERT_TRUE(served) << served.status().toString();
        EXPECT_EQ(fs::path(served->path), machine / "farms" / "Test Farm.db");
        EXPECT_TRUE(openMachineFarmStore());
    }
}

TEST(MachineFarms, AMachinePathThatIsNotUtf8StillFindsItsStore) {
    const fs::path machine = sky::machine::root() / "caf\xE9";
    MachineNamed odd(machine.string());
    createSmallFarm(farmStoreOnMachine("Test Farm").path);
    ASSERT_TRUE(setMachineFarmStore(farmStoreOnMachine("Test Farm")));
    auto served = machineFarmStore();
    ASSERT_TRUE(served) << served.status().toString();
    EXPECT_EQ(*served, farmStoreOnMachine("Test Farm"));
    auto store = openMachineFarmStore();
    ASSERT_TRUE(store) << store.status().toString();
    EXPECT_EQ((*store)->farm()->name, "Test Farm");

    // A store elsewhere whose path the registry cannot hold is refused, and the record stays.
    const std::string outside = (sky::machine::root().parent_path() / "farm\xFF.db").string();
    createSmallFarm(outside);
    Status refused = setMachineFarmStore({"sqlite", outside});
    EXPECT_EQ(refused.code(), Status::Code::InvalidArgument);
    EXPECT_EQ(refused.message(),
              "The farm store " + outside + " cannot be recorded: its path is not valid UTF-8.");
    EXPECT_EQ(*machineFarmStore(), farmStoreOnMachine("Test Farm"));
    fs::remove(outside);
}

// The machine's hive and the accounts' own: who may read and write which, an old machine's one
// hive split on its owner's first open, and writers of two hives at once. Other accounts are run
// in forked children (unused ids, or the system's "nobody"); the tests need root.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "sky/accounts.h"
#include "sky/machine.h"
#include "sky/registry.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"

namespace fs = std::filesystem;
using sky::registry::Key;

namespace {

constexpr uid_t kNobody = 65534;

// Runs `body` in a child as the account `uid` (group `gid` alone, $USER `user`); the child's exit
// code: `body`'s result, 100 when the account could not be taken, -1 when it did not exit.
template <class Body> int asAccount(uid_t uid, gid_t gid, const std::string& user, Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("USER", user.c_str(), 1);
        if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
            setresuid(uid, uid, uid) != 0)
            _exit(100);
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

LONG setString(HKEY key, const char16_t* name, std::u16string_view text) {
    const std::u16string data(text);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
}

std::optional<std::u16string> readText(HKEY root, const char16_t* path, const char16_t* name) {
    return sky::registry::readString(root, path, name);
}

LONG createKey(HKEY root, const char16_t* path, REGSAM rights, Key& key) {
    return RegCreateKeyExW(root, path, 0, nullptr, 0, rights, nullptr, key.put(), nullptr);
}

// Runs SQL straight on a hive file, as an older version of the platform left it.
bool runSql(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    bool done = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!done)
        ADD_FAILURE() << sqlite3_errmsg(db);
    sqlite3_close(db);
    return done;
}

long long countSql(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    long long count = -1;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        count = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return count;
}

// SQL that puts a key below HKEY_USERS as the one hive of an older machine kept it: `names`
// from the account's name down, each below the one before.
std::string oldUserKey(const std::vector<std::string>& names) {
    std::string sql;
    std::string parent = "HKEY_USERS";
    for (const std::string& name : names) {
        const std::string folded = sky::narrow(sky::upper(sky::widen(name)));
        const std::string path = parent + "\\" + folded;
        sql += "INSERT INTO keys(parent, name, folded, path, written) SELECT id, '" + name +
               "', '" + folded + "', '" + path + "', 1 FROM keys WHERE path = '" + parent + "';\n";
        parent = path;
    }
    return sql;
}

// The path of `rest` below an account's key under HKEY_USERS, as an older machine's hive named it
// (the account's name folded to capitals).
std::string oldKeyPath(const std::string& account, const std::string& rest) {
    return "HKEY_USERS\\" + sky::narrow(sky::upper(sky::widen(account))) + "\\" + rest;
}

std::string oldValue(const std::string& keyPath, const std::string& name, DWORD type,
                     const std::string& hexData) {
    return "INSERT INTO vals(key, name, folded, type, data) SELECT id, '" + name + "', '" +
           sky::narrow(sky::upper(sky::widen(name))) + "', " + std::to_string(type) + ", X'" +
           hexData + "' FROM keys WHERE path = '" + keyPath + "';\n";
}

struct FileFacts {
    bool exists = false;
    uid_t owner = 0;
    mode_t mode = 0;
};

FileFacts factsOf(const fs::path& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0)
        return {};
    return {true, info.st_uid, static_cast<mode_t>(info.st_mode & 07777)};
}

// Makes the machine's hive in a child process run as root, so that this process opens it
// afresh after whatever the test then does to the file; 0 when it was made.
int makeMachineHiveInAChild() {
    return asAccount(0, 0, "root", [] {
        Key key;
        return createKey(HKEY_LOCAL_MACHINE, u"Software\\Before", KEY_ALL_ACCESS, key);
    });
}

TEST(AccountHives, AMachineUserReadsTheMachinesHiveAndWritesOnlyItsOwn) {
    ASSERT_EQ(geteuid(), 0u) << "the test runs other accounts: it needs root";
    sky::testing::TempMachine machine;
    {
        Key shared;
        ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"Software\\Shared", KEY_ALL_ACCESS, shared),
                  ERROR_SUCCESS);
        ASSERT_EQ(setString(shared.get(), u"v", u"one"), ERROR_SUCCESS);
        Key mine;
        ASSERT_EQ(createKey(HKEY_CURRENT_USER, u"Software\\Mine", KEY_ALL_ACCESS, mine),
                  ERROR_SUCCESS);
        ASSERT_EQ(setString(mine.get(), u"n", u"the owner's"), ERROR_SUCCESS);
    }
    const uid_t user = sky::testing::unusedAccount(43000);
    const gid_t group = static_cast<gid_t>(user);
    ASSERT_TRUE(sky::testing::giveMachineGroup(group));
    const std::string userName = "visitor" + std::to_string(user);
    const fs::path ownerHive = machine.path() / "profiles" / "root" / "ntuser.db";

    // Each check returns its own number when it fails.
    const int failed = asAccount(user, group, userName, [&]() -> int {
        Key key;
        // The machine's hive: read, never written, as by a user who is no administrator.
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Shared", 0, KEY_READ, key.put()) !=
                ERROR_SUCCESS ||
            readText(HKEY_LOCAL_MACHINE, u"Software\\Shared", u"v") != u"one")
            return 1;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Shared", 0, KEY_SET_VALUE, key.put()) !=
            ERROR_ACCESS_DENIED)
            return 2;
        if (createKey(HKEY_LOCAL_MACHINE, u"Software\\New", KEY_WRITE, key) !=
                ERROR_ACCESS_DENIED ||
            createKey(HKEY_LOCAL_MACHINE, u"Software\\New", KEY_READ, key) != ERROR_ACCESS_DENIED)
            return 3;
        if (createKey(HKEY_LOCAL_MACHINE, u"Software\\Shared", KEY_READ, key) != ERROR_SUCCESS)
            return 4; // an existing key opens for reading
        if (createKey(HKEY_LOCAL_MACHINE, u"Software\\Shared", KEY_ALL_ACCESS, key) !=
            ERROR_ACCESS_DENIED)
            return 5;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Shared", 0, MAXIMUM_ALLOWED, key.put()) !=
                ERROR_SUCCESS ||
            setString(key.get(), u"v", u"two") != ERROR_ACCESS_DENIED)
            return 6;
        if (setString(HKEY_LOCAL_MACHINE, u"v", u"two") != ERROR_ACCESS_DENIED ||
            RegDeleteValueW(HKEY_LOCAL_MACHINE, u"v") != ERROR_ACCESS_DENIED)
            return 7;
        if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Shared") != ERROR_ACCESS_DENIED ||
            SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Shared") != ERROR_ACCESS_DENIED ||
            SHDeleteKeyW(HKEY_CLASSES_ROOT, u"CLSID") != ERROR_ACCESS_DENIED)
            return 8;
        if (sky::registry::denyWrite(HKEY_LOCAL_MACHINE, u"Software", u"someone") !=
            ERROR_ACCESS_DENIED)
            return 9;
        // The file itself is not the user's to write.
        const int fd = open(sky::registry::hivePath().c_str(), O_WRONLY);
        if (fd >= 0 || errno != EACCES)
            return 10;
        // Its own HKCU: made on first use, written and read.
        if (createKey(HKEY_CURRENT_USER, u"Software\\Mine", KEY_ALL_ACCESS, key) != ERROR_SUCCESS ||
            setString(key.get(), u"n", u"the visitor's") != ERROR_SUCCESS ||
            readText(HKEY_CURRENT_USER, u"Software\\Mine", u"n") != u"the visitor's")
            return 11;
        // Another account's HKCU: neither read nor written, through the registry or the file.
        if (RegOpenKeyExW(HKEY_USERS, u"root\\Software\\Mine", 0, KEY_READ, key.put()) !=
                ERROR_ACCESS_DENIED ||
            createKey(HKEY_USERS, u"root\\Software\\Planted", KEY_WRITE, key) !=
                ERROR_ACCESS_DENIED)
            return 12;
        if (open(ownerHive.c_str(), O_RDONLY) >= 0 || errno != EACCES)
            return 13;
        // Nor one made for an account that has none.
        if (createKey(HKEY_USERS, u"nobody-yet\\Software", KEY_WRITE, key) != ERROR_ACCESS_DENIED ||
            RegOpenKeyExW(HKEY_USERS, u"nobody-yet", 0, KEY_READ, key.put()) !=
                ERROR_FILE_NOT_FOUND)
            return 14;
        return 0;
    });
    EXPECT_EQ(failed, 0);

    // The user's HKCU is a hive of its own, the user's alone; the machine's hive holds none of
    // it, and the owner's is untouched.
    const fs::path userFolder = machine.path() / "profiles" / userName;
    const FileFacts folder = factsOf(userFolder);
    const FileFacts hive = factsOf(userFolder / "ntuser.db");
    EXPECT_TRUE(folder.exists && folder.owner == user && folder.mode == 0700);
    EXPECT_TRUE(hive.exists && hive.owner == user && hive.mode == 0600);
    EXPECT_EQ(countSql(sky::registry::hivePath(),
                       "SELECT count(*) FROM keys WHERE path LIKE 'HKEY_USERS\\%'"),
              0);
    EXPECT_EQ(readText(HKEY_CURRENT_USER, u"Software\\Mine", u"n"), u"the owner's");
    // Not even the superuser opens it through the registry (it would work in a folder of the
    // user's, where the user could plant links for SQLite's log and index).
    const std::u16string userPath = sky::widen(userName) + u"\\Software\\Mine";
    Key foreign;
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, userPath.c_str(), 0, KEY_READ, foreign.put()),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(asAccount(user, group, userName,
                        [] {
                            return readText(HKEY_CURRENT_USER, u"Software\\Mine", u"n") ==
                                           u"the visitor's"
                                       ? 0
                                       : 1;
                        }),
              0);
    EXPECT_EQ(readText(HKEY_LOCAL_MACHINE, u"Software\\Shared", u"v"), u"one");
}

TEST(AccountHives, AnOldMachinesOneHiveIsSplitOnTheOwnersFirstOpenKeepingEveryValue) {
    ASSERT_EQ(geteuid(), 0u) << "the test runs other accounts: it needs root";
    const passwd* nobody = getpwuid(kNobody);
    ASSERT_NE(nobody, nullptr) << "the system's account nobody (65534) is needed";
    const std::string nobodyName = nobody->pw_name;
    const std::string ghost = "skyghost" + std::to_string(getpid());
    ASSERT_EQ(getpwnam(ghost.c_str()), nullptr);
    sky::testing::TempMachine machine;
    // The hive is made by a child, so that this process opens it first after the change below.
    ASSERT_EQ(makeMachineHiveInAChild(), 0);
    // The accounts' keys as the one hive of an older machine held them.
    const std::string rootOld = "HKEY_USERS\\ROOT\\SOFTWARE\\OLD";
    const std::string nobodyKey = oldKeyPath(nobodyName, "SOFTWARE\\X");
    const std::string ghostKey = oldKeyPath(ghost, "SOFTWARE\\Y");
    std::string sql = oldUserKey({"root", "Software", "Old"}) +
                      oldUserKey({nobodyName, "Software", "X"}) +
                      oldUserKey({ghost, "Software", "Y"});
    sql += oldValue(rootOld, "text", REG_SZ, "6B0065007000740000000000");
    sql += oldValue(rootOld, "second", REG_SZ, "3200");
    sql += oldValue(nobodyKey, "n", REG_DWORD, "07000000");
    sql += oldValue(ghostKey, "odd", REG_BINARY, "ABCDEF");
    sql += "INSERT INTO denials(path, user, name) VALUES('" + nobodyKey +
           "', 'SOMEONE', 'someone');\n";
    sql += "UPDATE keys SET written = 123456789 WHERE path = '" + rootOld + "';\n";
    ASSERT_TRUE(runSql(sky::registry::hivePath(), sql));

    // The owner's first open moves every account's keys into the account's own hive.
    EXPECT_EQ(readText(HKEY_CURRENT_USER, u"Software\\Old", u"text"), u"kept");
    EXPECT_EQ(countSql(sky::registry::hivePath(),
                       "SELECT count(*) FROM keys WHERE path LIKE 'HKEY_USERS\\%'"),
              0);
    EXPECT_EQ(countSql(sky::registry::hivePath(), "SELECT count(*) FROM denials"), 0);
    {
        Key old;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Old", 0, KEY_READ, old.put()),
                  ERROR_SUCCESS);
        DWORD values = 0;
        FILETIME written{};
        ASSERT_EQ(RegQueryInfoKeyW(old.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, &written),
                  ERROR_SUCCESS);
        EXPECT_EQ(values, 2u);
        EXPECT_EQ(written.dwLowDateTime, 123456789u); // the last-write time kept
        // Bytes as they were: the text's own terminator and the one after it.
        BYTE data[32] = {};
        DWORD size = sizeof data;
        ASSERT_EQ(RegQueryValueExW(old.get(), u"text", nullptr, nullptr, data, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(size, 12u);
    }
    Key before;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Before", 0, KEY_READ, before.put()),
              ERROR_SUCCESS);

    // Each hive belongs to its account; a name no account has stays the owner's.
    const fs::path profiles = machine.path() / "profiles";
    EXPECT_EQ(factsOf(profiles).mode, 01770u);
    const FileFacts rootHive = factsOf(profiles / "root" / "ntuser.db");
    const FileFacts nobodyHive = factsOf(profiles / nobodyName / "ntuser.db");
    const FileFacts ghostHive = factsOf(profiles / ghost / "ntuser.db");
    EXPECT_TRUE(rootHive.exists && rootHive.owner == 0 && rootHive.mode == 0600);
    EXPECT_TRUE(nobodyHive.exists && nobodyHive.owner == kNobody && nobodyHive.mode == 0600);
    EXPECT_EQ(factsOf(profiles / nobodyName).owner, kNobody);
    EXPECT_TRUE(ghostHive.exists && ghostHive.owner == 0 && ghostHive.mode == 0600);

    // The name no account has is the owner's to read, bytes as they were.
    const std::u16string ghostPath = sky::widen(ghost) + u"\\Software\\Y";
    {
        Key key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, ghostPath.c_str(), 0, KEY_READ, key.put()),
                  ERROR_SUCCESS);
        BYTE data[8] = {};
        DWORD size = sizeof data;
        DWORD type = 0;
        ASSERT_EQ(RegQueryValueExW(key.get(), u"odd", nullptr, &type, data, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(std::vector<BYTE>(data, data + size), (std::vector<BYTE>{0xAB, 0xCD, 0xEF}));
    }
    // The account reads its own as its HKCU, its write denials with it.
    ASSERT_TRUE(sky::testing::giveMachineGroup(static_cast<gid_t>(kNobody)));
    EXPECT_EQ(asAccount(kNobody, static_cast<gid_t>(kNobody), nobodyName,
                        [] {
                            Key key;
                            DWORD n = 0;
                            DWORD size = sizeof n;
                            if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\X", 0, KEY_READ,
                                              key.put()) != ERROR_SUCCESS ||
                                RegQueryValueExW(key.get(), u"n", nullptr, nullptr,
                                                 reinterpret_cast<BYTE*>(&n),
                                                 &size) != ERROR_SUCCESS)
                                return 1;
                            std::vector<std::u16string> denied;
                            if (sky::registry::deniedUsers(HKEY_CURRENT_USER, u"Software\\X",
                                                           denied) != ERROR_SUCCESS ||
                                denied != std::vector<std::u16string>{u"someone"})
                                return 3;
                            return n == 7 ? 0 : 2;
                        }),
              0);
}

TEST(AccountHives, AnOwnerWhoIsNotTheSuperuserLeavesAnotherAccountsKeysForItToTake) {
    ASSERT_EQ(geteuid(), 0u) << "the test runs other accounts: it needs root";
    const passwd* nobody = getpwuid(kNobody);
    ASSERT_NE(nobody, nullptr) << "the system's account nobody (65534) is needed";
    const std::string nobodyName = nobody->pw_name;
    sky::testing::TempMachine machine;
    ASSERT_EQ(makeMachineHiveInAChild(), 0);
    const uid_t owner = sky::testing::unusedAccount(43300);
    const std::string ownerName = "keeper" + std::to_string(owner);
    const std::string nobodyKey = oldKeyPath(nobodyName, "SOFTWARE\\X");
    const std::string ownerKey = oldKeyPath(ownerName, "SOFTWARE\\OLD");
    ASSERT_TRUE(
        runSql(sky::registry::hivePath(), oldUserKey({nobodyName, "Software", "X"}) +
                                              oldUserKey({ownerName, "Software", "Old"}) +
                                              oldValue(nobodyKey, "n", REG_DWORD, "07000000") +
                                              oldValue(ownerKey, "o", REG_DWORD, "09000000")));
    ASSERT_TRUE(sky::testing::giveMachineTo(owner));
    const gid_t group = static_cast<gid_t>(kNobody);
    ASSERT_TRUE(sky::testing::giveMachineGroup(group));
    const auto readsNumber = [](const char16_t* path, const char16_t* name, DWORD expected) {
        return [=] {
            Key key;
            DWORD n = 0;
            DWORD size = sizeof n;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
                RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&n),
                                 &size) != ERROR_SUCCESS)
                return 1;
            return n == expected ? 0 : 2;
        };
    };
    const auto keysLeft = [&](const std::string& account) {
        return countSql(sky::registry::hivePath(),
                        "SELECT count(*) FROM keys WHERE path LIKE 'HKEY_USERS\\" +
                            sky::narrow(sky::upper(sky::widen(account))) + "%'");
    };

    // The owner moves its own keys; it cannot give a hive to another account, whose keys stay.
    EXPECT_EQ(asAccount(owner, group, ownerName, readsNumber(u"Software\\Old", u"o", 9)), 0);
    EXPECT_EQ(keysLeft(ownerName), 0);
    EXPECT_GT(keysLeft(nobodyName), 0);
    EXPECT_EQ(factsOf(machine.path() / "profiles" / ownerName / "ntuser.db").owner, owner);
    // The account takes them into its own hive on its first use...
    EXPECT_EQ(asAccount(kNobody, group, nobodyName, readsNumber(u"Software\\X", u"n", 7)), 0);
    const FileFacts nobodyHive = factsOf(machine.path() / "profiles" / nobodyName / "ntuser.db");
    EXPECT_TRUE(nobodyHive.exists && nobodyHive.owner == kNobody && nobodyHive.mode == 0600);
    // ... and the owner's next open removes them from the machine's hive.
    EXPECT_EQ(asAccount(owner, group, ownerName,
                        [] {
                            Key key;
                            return RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Before", 0,
                                                 KEY_READ, key.put());
                        }),
              0);
    EXPECT_EQ(keysLeft(nobodyName), 0);
    EXPECT_EQ(asAccount(kNobody, group, nobodyName, readsNumber(u"Software\\X", u"n", 7)), 0);
}

TEST(AccountHives, AUserOfAnOldMachineReadsItAndIsToldWhyItsHKCUWaitsForTheOwner) {
    ASSERT_EQ(geteuid(), 0u) << "the test runs other accounts: it needs root";
    const passwd* nobody = getpwuid(kNobody);
    ASSERT_NE(nobody, nullptr) << "the system's account nobody (65534) is needed";
    const std::string nobodyName = nobody->pw_name;
    sky::testing::TempMachine machine;
    ASSERT_EQ(makeMachineHiveInAChild(), 0);
    // A machine as an older version left it: no profiles folder, the user's keys in its hive.
    fs::remove_all(machine.path() / "profiles");
    const std::string nobodyKey = oldKeyPath(nobodyName, "SOFTWARE\\X");
    ASSERT_TRUE(
        runSql(sky::registry::hivePath(), oldUserKey({nobodyName, "Software", "X"}) +
                                              oldValue(nobodyKey, "n", REG_DWORD, "07000000")));
    const gid_t group = static_cast<gid_t>(kNobody);
    ASSERT_TRUE(sky::testing::giveMachineGroup(group));
    const auto readsOwnNumber = [] {
        Key key;
        DWORD n = 0;
        DWORD size = sizeof n;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\X", 0, KEY_READ, key.put()) !=
                ERROR_SUCCESS ||
            RegQueryValueExW(key.get(), u"n", nullptr, nullptr, reinterpret_cast<BYTE*>(&n),
                             &size) != ERROR_SUCCESS)
            return 1;
        return n == 7 ? 0 : 2;
    };
    EXPECT_EQ(asAccount(kNobody, group, nobodyName,
                        [] {
                            if (readText(HKEY_LOCAL_MACHINE,
                                         u"Software\\Microsoft\\Windows NT\\CurrentVersion",
                                         u"CurrentVersion") != u"5.2")
                                return 1;
                            Key key;
                            if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\X", 0, KEY_READ,
                                              key.put()) != ERROR_ACCESS_DENIED)
                                return 2;
                            return sky::registry::lastHiveProblem().find(
                                       "has no profiles folder") != std::string::npos
                                       ? 0
                                       : 3;
                        }),
              0);
    // The owner's first open makes the folder and moves the keys; the user has them then.
    Key before;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Before", 0, KEY_READ, before.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(asAccount(kNobody, group, nobodyName, readsOwnNumber), 0);
}

TEST(AccountHives, AProfileFolderThatIsNotTheAccountsOwnIsRefused) {
    ASSERT_EQ(geteuid(), 0u) << "the test runs other accounts: it needs root";
    sky::testing::TempMachine machine;
    Key key;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, u"Software\\Made", KEY_ALL_ACCESS, key), ERROR_SUCCESS);
    const uid_t squatter = sky::testing::unusedAccount(43100);
    const uid_t user = sky::testing::unusedAccount(squatter + 1);
    const gid_t group = static_cast<gid_t>(squatter);
    ASSERT_TRUE(sky::testing::giveMachineGroup(group));
    const std::string userName = "visitor" + std::to_string(user);
    // A user of the machine makes the folder another account's HKCU would take, before it came.
    EXPECT_EQ(asAccount(squatter, group, "squatter",
                        [&] {
                            const fs::path folder = machine.path() / "profiles" / userName;
                            return mkdir(folder.c_str(), 0777) == 0 ? 0 : 1;
                        }),
              0);
    // The account's calls are refused there rather than writing where the squatter reads.
    EXPECT_EQ(asAccount(user, group, userName,
                        [] {
                            Key mine;
                            return createKey(HKEY_CURRENT_USER, u"Software\\Mine", KEY_ALL_ACCESS,
                                             mine) == ERROR_ACCESS_DENIED
                                       ? 0
                                       : 1;
                        }),
              0);
    EXPECT_FALSE(fs::exists(machine.path() / "profiles" / userName / "ntuser.db"));
}

// Writes `count` values into `path` below `root`, opening and closing the key around each.
int writeValues(HKEY root, const char16_t* path, int count) {
    for (int i = 0; i < count; ++i) {
        Key key;
        if (createKey(root, path, KEY_SET_VALUE, key) != ERROR_SUCCESS)
            return 2;
        const std::u16string name = sky::widen("value" + std::to_string(i));
        if (setString(key.get(), name.c_str(), u"x") != ERROR_SUCCESS)
            return 3;
    }
    return 0;
}

DWORD valueCount(HKEY root, const char16_t* path) {
    Key key;
    DWORD values = 0;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return values;
}

TEST(AccountHives, WritersOfTheMachinesHiveAndOfAnAccountsAtOnceLoseNothing) {
    ASSERT_EQ(geteuid(), 0u) << "the test runs other accounts: it needs root";
    sky::testing::TempMachine machine;
    ASSERT_EQ(writeValues(HKEY_LOCAL_MACHINE, u"Software\\Crowd", 1), 0);
    const uid_t user = sky::testing::unusedAccount(43200);
    const gid_t group = static_cast<gid_t>(user);
    ASSERT_TRUE(sky::testing::giveMachineGroup(group));
    const std::string userName = "visitor" + std::to_string(user);
    constexpr int kCount = 400;
    // Three processes at once: the owner into the machine's hive and into its own, a user into
    // its own.
    std::vector<pid_t> writers;
    const auto start = [&](auto body) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(body());
        writers.push_back(pid);
    };
    start([] { return writeValues(HKEY_LOCAL_MACHINE, u"Software\\Crowd", kCount); });
    start([] { return writeValues(HKEY_CURRENT_USER, u"Software\\Crowd", kCount); });
    start([&] {
        return asAccount(user, group, userName,
                         [] { return writeValues(HKEY_CURRENT_USER, u"Software\\Crowd", kCount); });
    });
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(valueCount(HKEY_LOCAL_MACHINE, u"Software\\Crowd"), static_cast<DWORD>(kCount));
    EXPECT_EQ(valueCount(HKEY_CURRENT_USER, u"Software\\Crowd"), static_cast<DWORD>(kCount));
    EXPECT_EQ(asAccount(user, group, userName,
                        [] {
                            return valueCount(HKEY_CURRENT_USER, u"Software\\Crowd") ==
                                           static_cast<DWORD>(kCount)
                                       ? 0
                                       : 1;
                        }),
              0);
}

} // namespace

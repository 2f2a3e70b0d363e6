// reg as the machine's users run it: each writes its own HKCU and nothing of the machine's hive
// or another account's. The users are unused account ids run with setpriv; the test needs root.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "sky/accounts.h"
#include "sky/machine.h"
#include "sky/program_run.h"
#include "sky/registry.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"

namespace fs = std::filesystem;
using sky::testing::ProgramRun;

namespace {

constexpr const char* kDenied = "ERROR: Access is denied.\n";
constexpr const char* kSuccess = "The operation completed successfully.\n";

// `text` as one word of a shell command line.
std::string quoted(const std::string& text) {
    std::string word = "'";
    for (const char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// A user of the machine: an unused account id with a group of its own that is the machine's.
struct MachineUser {
    uid_t uid;
    std::string name;

    // Runs `command` (a shell command line, reg as $REG) as this user; standard error kept.
    ProgramRun run(const std::string& command) const {
        const std::string line = sky::testing::runAs(uid, sky::machine::group()) +
                                 "env USER=" + name +
                                 " REG=" + quoted((sky::testing::buildBin() / "reg").string()) +
                                 " sh -c " + quoted(command);
        return sky::testing::runCommand(
            line, sky::machine::root().parent_path() /
                      (sky::machine::root().filename().string() + "-" + name + ".err"));
    }
};

TEST(RegAccounts, AUsersAddUnderHKLMIsRefusedWhileUnderHKCUItLandsInItsOwnHive) {
    ASSERT_EQ(geteuid(), 0u) << "the test runs other accounts: it needs root";
    {
        sky::registry::Key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Shared", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    const uid_t first = sky::testing::unusedAccount(44000);
    const MachineUser user{first, "visitor" + std::to_string(first)};
    const uid_t second = sky::testing::unusedAccount(first + 1);
    const MachineUser other{second, "visitor" + std::to_string(second)};
    ASSERT_TRUE(sky::testing::giveMachineGroup(static_cast<gid_t>(first)));
    const fs::path machine = sky::machine::root();

    for (const char* write :
         {"$REG add 'HKLM\\Software\\Shared' /v w /d x /f",
          "$REG add 'HKLM\\Software\\Shared\\New' /f", "$REG add 'HKCR\\CLSID\\{0}' /ve /d x /f",
          "$REG delete 'HKLM\\Software\\Shared' /f", "$REG deny 'HKLM\\Software' /u someone"}) {
        const ProgramRun refused = user.run(write);
        EXPECT_EQ(refused.exitCode, 1) << write;
        EXPECT_EQ(refused.errors, kDenied) << write;
    }
    const ProgramRun read = user.run("$REG query 'HKLM\\Software\\Microsoft\\Windows NT\\"
                                     "CurrentVersion' /v CurrentVersion");
    EXPECT_EQ(read.exitCode, 0) << read.errors;
    EXPECT_NE(read.out.find("CurrentVersion    REG_SZ    5.2"), std::string::npos) << read.out;
    // The machine's hive cannot be opened for writing by the user (open(2) fails).
    const ProgramRun opened = user.run("exec 3>>" + quoted((machine / "registry.db").string()));
    EXPECT_NE(opened.exitCode, 0);

    const ProgramRun added = user.run("$REG add 'HKCU\\Software\\Mine' /v n /d hello /f");
    EXPECT_EQ(added.exitCode, 0) << added.errors;
    EXPECT_EQ(added.out, kSuccess);
    const ProgramRun back = user.run("$REG query 'HKCU\\Software\\Mine' /v n");
    EXPECT_EQ(back.exitCode, 0) << back.errors;
    EXPECT_EQ(back.out, "\nHKEY_CURRENT_USER\\Software\\Mine\n    n    REG_SZ    hello\n\n");
    // In the user's own hive, the user's alone; the machine's hive holds none of it.
    const fs::path ownHive = machine / "profiles" / user.name / "ntuser.db";
    struct stat info {};
    ASSERT_EQ(stat(ownHive.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, user.uid);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    const std::u16string path = sky::widen(user.name) + u"\\Software\\Mine";
    EXPECT_EQ(sky::registry::readString(HKEY_USERS, path.c_str(), u"n"), u"hello");
    const ProgramRun inMachine =
        sky::testing::runCommand("sqlite3 " + quoted((machine / "registry.db").string()) +
                                 " \"SELECT count(*) FROM keys WHERE path LIKE 'HKEY_USERS\\%'\"");
    EXPECT_EQ(inMachine.out, "0\n");

    // Another user of the machine reads none of it, through reg or the file.
    const ProgramRun foreign = other.run("$REG query 'HKU\\" + user.name + "\\Software\\Mine'");
    EXPECT_EQ(foreign.exitCode, 1);
    EXPECT_EQ(foreign.errors, kDenied);
    const ProgramRun planted = other.run("$REG add 'HKU\\" + user.name +
                                         "\\Software\\Mine' /v n "
                                         "/d planted /f");
    EXPECT_EQ(planted.exitCode, 1);
    EXPECT_EQ(planted.errors, kDenied);
    const ProgramRun copied = other.run("cat " + quoted(ownHive.string()) + " >/dev/null");
    EXPECT_NE(copied.exitCode, 0);
    EXPECT_EQ(sky::registry::readString(HKEY_USERS, path.c_str(), u"n"), u"hello");
}

} // namespace

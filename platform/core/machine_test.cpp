#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "sky/accounts.h"
#include "sky/bounded_read.h"
#include "sky/machine.h"
#include "sky/scoped_state.h"
#include "sky/text.h"
#include "win/lasterror.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace fs = std::filesystem;
using sky::machine::toHostPath;
using sky::machine::toWindowsPath;

TEST(Machine, DriveCLivesInTheMachineDirectory) {
    const fs::path root = sky::machine::root();
    EXPECT_EQ(root, fs::path(std::getenv("SKYLOOM_MACHINE")));
    EXPECT_TRUE(fs::is_directory(root / "drive_c"));
    EXPECT_EQ(*toHostPath(u"C:\\WINDOWS\\System32\\qvcom.exe"),
              root / "drive_c" / "WINDOWS" / "System32" / "qvcom.exe");
    EXPECT_EQ(*toHostPath(u"c:/x"), root / "drive_c" / "x");
}

TEST(Machine, OtherDrivesAndUnixPaths) {
    EXPECT_EQ(*toHostPath(u"Z:\\etc\\hosts"), fs::path("/etc/hosts"));
    EXPECT_EQ(*toHostPath(u"/var/tmp/a b"), fs::path("/var/tmp/a b"));
    EXPECT_FALSE(toHostPath(u"D:\\data").has_value());
    EXPECT_FALSE(toHostPath(u"\\\\server\\share").has_value());
}

// The form alone decides, as a service checking a caller's path needs: the machine's folder is
// neither made nor looked at, and the files named are not looked for.
TEST(Machine, WhetherAPathIsOnADriveIsToldByItsFormAlone) {
    using sky::machine::isOnAMachineDrive;
    const fs::path nowhere = fs::path(std::getenv("SKYLOOM_MACHINE")) / "not-made";
    sky::testing::ScopedEnvironmentVariable machine("SKYLOOM_MACHINE", nowhere.c_str());
    for (const char16_t* onADrive :
         {u"C:\\x\\y.ico", u"c:/x", u"Z:\\etc\\hosts", u"z:", u"/var/tmp/a b", u"//x/y",
          u"\\rooted\\on\\C", u"relative\\x.ico", u"..\\up", u"x", u"C"}) {
        EXPECT_TRUE(isOnAMachineDrive(onADrive)) << sky::narrow(onADrive);
        EXPECT_EQ(isOnAMachineDrive(onADrive), toHostPath(onADrive).has_value());
    }
    for (const char16_t* elsewhere :
         {u"D:\\data", u"q:x", u"\\\\server\\share", u"\\/server/share"}) {
        EXPECT_FALSE(isOnAMachineDrive(elsewhere)) << sky::narrow(elsewhere);
        EXPECT_FALSE(toHostPath(elsewhere).has_value()) << sky::narrow(elsewhere);
    }
    std::error_code ec;
    fs::remove_all(nowhere, ec); // toHostPath made it: the form's answer alone did not
    EXPECT_TRUE(isOnAMachineDrive(u"C:\\x"));
    EXPECT_FALSE(fs::exists(nowhere));
}

TEST(Machine, ExistingComponentsMatchIgnoringCase) {
    const fs::path dir = sky::machine::driveC() / "WINDOWS" / "System32";
    fs::create_directories(dir);
    std::ofstream(dir / "qvcomsrv.dll") << "x";
    EXPECT_EQ(*toHostPath(u"C:\\windows\\system32\\QVCOMSRV.DLL"), dir / "qvcomsrv.dll");
    // A missing tail is kept as written.
    EXPECT_EQ(*toHostPath(u"C:\\windows\\system32\\New\\File.txt"), dir / "New" / "File.txt");
}

// A folder large enough to be indexed: whatever changes it, by whatever process, the next lookup
// sees, as a fresh read of the folder would.
TEST(Machine, LargeFoldersAreMatchedIgnoringCaseAsTheyAreNow) {
    const fs::path big = sky::machine::driveC() / "Big";
    const auto makeFolder = [](const fs::path& folder, const std::string& prefix) {
        fs::create_directories(folder);
        for (int i = 0; i < 200; ++i)
            std::ofstream(folder / (prefix + std::to_string(i) + ".ico")) << "x";
    };
    const auto host = [](std::u16string_view name) {
        return *toHostPath(u"C:\\BIG\\" + std::u16string(name));
    };
    makeFolder(big, "file");
    EXPECT_EQ(host(u"FILE7.ICO"), big / "file7.ico");
    EXPECT_EQ(host(u"FILE7.ICO"), big / "file7.ico"); // from the index now

    std::ofstream(big / "\xc3\x9c"
                        "bung.ico")
        << "x"; // "Übung.ico", made outside the platform
    EXPECT_EQ(host(u"\u00fcBUNG.ICO"), big / "\xc3\x9c"
                                             "bung.ico");
    fs::remove(big / "file7.ico");
    EXPECT_EQ(host(u"FILE7.ICO"), big / "FILE7.ICO"); // a missing name is kept as written
    fs::rename(big / "file8.ico", big / "Other.ico");
    EXPECT_EQ(host(u"FILE8.ICO"), big / "FILE8.ICO");
    EXPECT_EQ(host(u"other.ico"), big / "Other.ico");
    fs::create_directories(sky::machine::driveC() / "Elsewhere");
    std::ofstream(sky::machine::driveC() / "Elsewhere" / "Moved.ico") << "x";
    fs::rename(sky::machine::driveC() / "Elsewhere" / "Moved.ico", big / "Moved.ico");
    EXPECT_EQ(host(u"MOVED.ICO"), big / "Moved.ico");

    // Another process changes the folder.
    pid_t child = fork();
    if (child == 0) {
        std::ofstream(big / "FromChild.ico") << "x";
        fs::remove(big / "file9.ico");
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(host(u"fromchild.ICO"), big / "FromChild.ico");
    EXPECT_EQ(host(u"FILE9.ICO"), big / "FILE9.ICO");

    // A forked child keeps seeing changes its parent makes after the fork.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    child = fork();
    if (child == 0) {
        char go = 0;
        const bool read = ::read(ready[0], &go, 1) == 1;
        const bool seen = read && host(u"AFTERFORK.ICO") == big / "AfterFork.ico" &&
                          host(u"FILE10.ICO") == big / "FILE10.ICO";
        _exit(seen ? 0 : 1);
    }
    std::ofstream(big / "AfterFork.ico") << "x";
    fs::remove(big / "file10.ico");
    ASSERT_EQ(::write(ready[1], "g", 1), 1);
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(ready[0]);
    close(ready[1]);

    // The folder replaced by another of the same name.
    fs::rename(big, sky::machine::driveC() / "Big.old");
    makeFolder(big, "new");
    EXPECT_EQ(host(u"NEW5.ICO"), big / "new5.ico");
    EXPECT_EQ(host(u"FILE5.ICO"), big / "FILE5.ICO");
}

// More large folders than are indexed at once: the ones put out of the index are read again.
TEST(Machine, ManyLargeFoldersStayCurrent) {
    const fs::path root = sky::machine::driveC() / "Many";
    for (int f = 0; f < 40; ++f) {
        const fs::path folder = root / ("F" + std::to_string(f));
        fs::create_directories(folder);
        for (int i = 0; i < 70; ++i)
            std::ofstream(folder / ("n" + std::to_string(i))) << "x";
    }
    const auto folderName = [](int f) { return u"C:\\MANY\\f" + sky::widen(std::to_string(f)); };
    const auto folderPath = [&](int f) { return root / ("F" + std::to_string(f)); };
    for (int f = 0; f < 40; ++f) {
        EXPECT_EQ(*toHostPath(folderName(f) + u"\\N3"), folderPath(f) / "n3");
        fs::remove(folderPath(f) / "n3");
        std::ofstream(folderPath(f) / "Zz") << "x";
    }
    for (int f = 0; f < 40; ++f) {
        EXPECT_EQ(*toHostPath(folderName(f) + u"\\N3"), folderPath(f) / "N3");
        EXPECT_EQ(*toHostPath(folderName(f) + u"\\zZ"), folderPath(f) / "Zz");
    }
}

TEST(Machine, DotDotAtADrivesRootStaysThere) {
    const fs::path c = sky::machine::driveC();
    EXPECT_EQ(*toHostPath(u"C:\\..\\registry.db"), c / "registry.db");
    EXPECT_EQ(*toHostPath(u"C:\\..\\farms\\Demo Farm.db"), c / "farms" / "Demo Farm.db");
    EXPECT_EQ(*toHostPath(u"C:\\..\\..\\x.reg"), c / "x.reg");
    EXPECT_EQ(*toHostPath(u"c:/../../../x.reg"), c / "x.reg");
    EXPECT_EQ(*toHostPath(u"C:..\\x.reg"), c / "x.reg");
    EXPECT_EQ(*toHostPath(u"\\..\\..\\x.reg"), c / "x.reg");
    EXPECT_EQ(*toHostPath(u"C:\\a\\b\\..\\..\\..\\x"), c / "x");
    EXPECT_EQ(*toHostPath(u"C:\\a\\..\\b"), c / "b");
    EXPECT_EQ(*toHostPath(u"Z:\\..\\..\\etc\\hosts"), fs::path("/etc/hosts"));

    // Relative to a current directory on drive C, ".." stops at C:\ too; elsewhere at Z:\.
    fs::create_directories(c / "work" / "deep");
    const sky::testing::ScopedCurrentFolder deep(c / "work" / "deep");
    EXPECT_EQ(*toHostPath(u"..\\..\\..\\..\\registry.db"), c / "registry.db");
    EXPECT_EQ(*toHostPath(u"..\\x"), c / "work" / "x");
    fs::current_path(sky::machine::root());
    std::u16string climb;
    for (const auto& part : sky::machine::root().relative_path()) {
        (void)part;
        climb += u"..\\";
    }
    EXPECT_EQ(*toHostPath(climb + u"..\\..\\etc"), fs::path("/etc"));
}

// A path whose every component exists as written is that path, even where a component also
// exists in another case; ".." stays lexical even through a link to another folder, whose
// parent holds an entry of the same name.
TEST(Machine, PathsAsWrittenAndDotDotThroughALink) {
    const fs::path c = sky::machine::driveC();
    fs::create_directories(c / "Data");
    fs::create_directories(c / "data");
    std::ofstream(c / "Data" / "file.txt") << "upper";
    std::ofstream(c / "data" / "file.txt") << "lower";
    EXPECT_EQ(*toHostPath(u"C:\\data\\file.txt"), c / "data" / "file.txt");
    EXPECT_EQ(*toHostPath(u"C:\\Data\\file.txt"), c / "Data" / "file.txt");
    EXPECT_EQ(*toHostPath(u"c:/Data//file.txt"), c / "Data" / "file.txt");

    const fs::path elsewhere = sky::machine::root() / "elsewhere";
    fs::create_directories(elsewhere / "inner");
    std::ofstream(elsewhere / "x") << "outside";
    std::ofstream(c / "x") << "on C";
    fs::create_directory_symlink(elsewhere / "inner", c / "link");
    EXPECT_EQ(*toHostPath(u"C:\\link\\..\\x"), c / "x");
    EXPECT_EQ(*toHostPath(u"C:\\link\\.\\..\\x"), c / "x");
}

TEST(Machine, ARelativeMachineNameIsMadeAbsolute) {
    const fs::path machine = sky::machine::root();
    const sky::testing::ScopedCurrentFolder parent(machine.parent_path());
    const sky::testing::ScopedEnvironmentVariable named("SKYLOOM_MACHINE",
                                                        machine.filename().c_str());
    EXPECT_EQ(sky::machine::root(), machine);
    EXPECT_TRUE(sky::machine::root().is_absolute());
    EXPECT_EQ(*toHostPath(u"C:\\x"), machine / "drive_c" / "x");
}

// Without SKYLOOM_MACHINE a program takes the system machine when it may use it (root, the
// folder's owner, a process carrying the folder's group), else its user's own machine; a missing
// system machine is never made.
TEST(Machine, TheSystemMachineIsTheDefaultOfItsUsersAlone) {
    ASSERT_EQ(geteuid(), 0u) << "the test runs as other accounts and needs root";
    // In a folder that other accounts may pass through, as /var/lib/skyloom is.
    char made[] = "/tmp/skyloom-system-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    const fs::path scratch = made;
    const sky::testing::ScopedUndo removeScratch([&] { fs::remove_all(scratch); });
    const fs::path system = scratch / "machine";
    fs::create_directories(system);
    const fs::path own = scratch / "home" / "skyloom" / "machine";
    const sky::testing::ScopedEnvironmentVariable xdg("XDG_DATA_HOME", (scratch / "home").c_str());
    const uid_t user = sky::testing::unusedAccount(47000);
    const gid_t machineGroup = static_cast<gid_t>(sky::testing::unusedAccount(user + 1));
    ASSERT_EQ(chown(system.c_str(), 0, machineGroup), 0);
    ASSERT_EQ(chmod(system.c_str(), 02750), 0);
    ASSERT_EQ(chmod(scratch.c_str(), 0755), 0);

    EXPECT_EQ(sky::machine::defaultRoot(system), system);
    EXPECT_EQ(sky::machine::defaultRoot(scratch / "missing"), own);
    EXPECT_FALSE(fs::exists(scratch / "missing"));

    // 1: the system machine, 2: the user's own, 3: neither; run as `uid` with `groups`.
    const auto choiceAs = [&](uid_t uid, gid_t primary, std::vector<gid_t> groups) {
        const pid_t child = fork();
        if (child == 0) {
            if (setgroups(groups.size(), groups.data()) != 0 || setgid(primary) != 0 ||
                setuid(uid) != 0)
                _exit(9);
            const fs::path chosen = sky::machine::defaultRoot(system);
            _exit(chosen == system ? 1 : chosen == own ? 2 : 3);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(choiceAs(user, static_cast<gid_t>(user), {}), 2) << "a stranger";
    EXPECT_EQ(choiceAs(user, static_cast<gid_t>(user), {machineGroup}), 1) << "a member";
    EXPECT_EQ(choiceAs(user, machineGroup, {}), 1) << "the group as primary group";
    ASSERT_EQ(chown(system.c_str(), user, machineGroup), 0);
    EXPECT_EQ(choiceAs(user, static_cast<gid_t>(user), {}), 1) << "its owner";
}

TEST(Machine, WindowsFormOfHostPaths) {
    EXPECT_EQ(toWindowsPath(sky::machine::driveC() / "Program Files" / "x.exe"),
              u"C:\\Program Files\\x.exe");
    EXPECT_EQ(toWindowsPath(sky::machine::driveC()), u"C:\\");
    EXPECT_EQ(toWindowsPath("/usr/bin/env"), u"Z:\\usr\\bin\\env");
}

TEST(BoundedRead, AnEndlessInputStopsAtTheCeiling) {
    std::ifstream zero("/dev/zero", std::ios::binary);
    EXPECT_EQ(sky::readAtMost(zero, 1 << 20), std::nullopt);
    std::istringstream exact(std::string(1 << 20, 'x'));
    EXPECT_EQ(sky::readAtMost(exact, 1 << 20)->size(), std::size_t{1} << 20);
    std::istringstream over(std::string((1 << 20) + 1, 'x'));
    EXPECT_EQ(sky::readAtMost(over, 1 << 20), std::nullopt);
    EXPECT_EQ(sky::sizeInWords(sky::kMaxDataFileBytes), "1 GiB");
    EXPECT_EQ(sky::sizeInWords(sky::kMaxSourceFileBytes), "64 MiB");
}

TEST(Text, Utf16RoundTripAndCaseFolding) {
    const std::string text = "Gr\xc3\xbc\xc3\x9f"
                             "e \xf0\x9f\x98\x80";
    EXPECT_EQ(sky::narrow(sky::widen(text)), text);
    EXPECT_EQ(sky::widen("\xff"), std::u16string(1, u'\xFFFD'));
    EXPECT_TRUE(sky::equalNoCase(u"Software\\Classes", u"SOFTWARE\\classes"));
    EXPECT_TRUE(sky::equalNoCase(u"\u00e9t\u00e9", u"\u00c9T\u00c9"));
    EXPECT_LT(sky::compareNoCase(u"abc", u"ABD"), 0);
    EXPECT_GT(sky::compareNoCase(u"abcd", u"ABC"), 0);
}

TEST(LastError, IsPerThread) {
    SetLastError(5);
    std::thread([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(87);
    }).join();
    EXPECT_EQ(GetLastError(), 5u);
}

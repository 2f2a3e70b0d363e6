#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "sky/bounded_read.h"
#include "sky/machine.h"
#include "sky/text.h"
#include "win/lasterror.h"

#include <thread>

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

TEST(Machine, ExistingComponentsMatchIgnoringCase) {
    const fs::path dir = sky::machine::driveC() / "WINDOWS" / "System32";
    fs::create_directories(dir);
    std::ofstream(dir / "qvcomsrv.dll") << "x";
    EXPECT_EQ(*toHostPath(u"C:\\windows\\system32\\QVCOMSRV.DLL"), dir / "qvcomsrv.dll");
    // A missing tail is kept as written.
    EXPECT_EQ(*toHostPath(u"C:\\windows\\system32\\New\\File.txt"), dir / "New" / "File.txt");
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
    const fs::path before = fs::current_path();
    fs::create_directories(c / "work" / "deep");
    fs::current_path(c / "work" / "deep");
    EXPECT_EQ(*toHostPath(u"..\\..\\..\\..\\registry.db"), c / "registry.db");
    EXPECT_EQ(*toHostPath(u"..\\x"), c / "work" / "x");
    fs::current_path(sky::machine::root());
    std::u16string climb;
    for (const auto& part : sky::machine::root().relative_path()) {
        (void)part;
        climb += u"..\\";
    }
    EXPECT_EQ(*toHostPath(climb + u"..\\..\\etc"), fs::path("/etc"));
    fs::current_path(before);
}

TEST(Machine, ARelativeMachineNameIsMadeAbsolute) {
    const fs::path machine = sky::machine::root();
    const fs::path before = fs::current_path();
    const std::string named = std::getenv("SKYLOOM_MACHINE");
    fs::current_path(machine.parent_path());
    setenv("SKYLOOM_MACHINE", machine.filename().c_str(), 1);
    EXPECT_EQ(sky::machine::root(), machine);
    EXPECT_TRUE(sky::machine::root().is_absolute());
    EXPECT_EQ(*toHostPath(u"C:\\x"), machine / "drive_c" / "x");
    setenv("SKYLOOM_MACHINE", named.c_str(), 1);
    fs::current_path(before);
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

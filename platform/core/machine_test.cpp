#include <fstream>

#include <gtest/gtest.h>

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

TEST(Machine, WindowsFormOfHostPaths) {
    EXPECT_EQ(toWindowsPath(sky::machine::driveC() / "Program Files" / "x.exe"),
              u"C:\\Program Files\\x.exe");
    EXPECT_EQ(toWindowsPath(sky::machine::driveC()), u"C:\\");
    EXPECT_EQ(toWindowsPath("/usr/bin/env"), u"Z:\\usr\\bin\\env");
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

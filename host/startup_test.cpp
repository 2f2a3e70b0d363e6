// qvcom's start-up as a real process on a machine laid out by the installer: switches, the help
// box, the version check, the message module's three places, and the exit codes.
#include <gtest/gtest.h>

#include "sky/services.h"
#include "test_support.h"

using namespace qvcom_test;

namespace {

const char helpBox[] = "Skyloom Object Model Service\nqvcom [/RegServer | /UnRegServer]";

using Startup = InstalledMachine;

std::string versionBox(const char* message) {
    return std::string("Skyloom Object Model Service\n") + message + "\n";
}

} // namespace

TEST_F(Startup, ActionSwitchesTakeSlashOrDashInAnyCase) {
    // The last action switch counts: registration leaves the application identifier,
    // unregistration removes it.
    const auto registered = [] {
        HKEY key = nullptr;
        const bool found = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                         u"Software\\Classes\\APPID\\{ED62F4E0-63C2-11D4-94D8-"
                                         u"00C04FB0F326}",
                                         0, KEY_READ, &key) == ERROR_SUCCESS;
        if (found)
            RegCloseKey(key);
        return found;
    };
    for (const char16_t* line :
         {u"/regserver", u"-REGSERVER", u"/RegServer", u"/unregserver /RegServer"}) {
        const Outcome run = runQvcom(line);
        EXPECT_EQ(run.exitCode, 0u) << sky::narrow(line);
        EXPECT_EQ(run.boxes, "") << sky::narrow(line);
        EXPECT_TRUE(registered()) << sky::narrow(line);
        ASSERT_EQ(runQvcom(u"-UnRegServer").exitCode, 0u);
        EXPECT_FALSE(registered());
    }
    EXPECT_EQ(runQvcom(u"/RegServer /UNREGSERVER").exitCode, 0u);
    EXPECT_FALSE(registered());
    // Without a prefix character, with two, or unknown: ignored, so the dispatcher is reached and
    // a process the service manager did not start cannot connect.
    for (const char16_t* line :
         {u"", u"RegServer", u"--RegServer", u"/Embedding", u"/Service", u"-Embedding -Silent"}) {
        const Outcome run = runQvcom(line);
        EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT))
            << sky::narrow(line);
        EXPECT_EQ(run.boxes, "") << sky::narrow(line);
    }
}

TEST_F(Startup, HelpShowsItsBoxAndEndsAtOnce) {
    for (const char16_t* line : {u"/?", u"-?", u"/?x", u"/Help /Silent", u"-help",
                                 u"/RegServer /Help", u"/Help /RegServer", u"RegServer /?"}) {
        const Outcome run = runQvcom(line);
        EXPECT_EQ(run.exitCode, 0u) << sky::narrow(line);
        EXPECT_EQ(run.boxes.rfind(helpBox, 0), 0u) << sky::narrow(line) << ": " << run.boxes;
    }
}

TEST_F(Startup, VersionCheckOnOldSystems) {
    const std::u16string sp6 = u"Service Pack 6", sp6a = u"Service Pack 6a",
                         sp5 = u"Service Pack 5", none;
    setProfile(u"4.0", u"1381", &sp6);
    EXPECT_EQ(runQvcom(u"").exitCode, static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
    setProfile(u"4.0", u"1381", &sp6a);
    EXPECT_EQ(runQvcom(u"").exitCode, static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));

    setProfile(u"4.0", u"1381", &sp5);
    Outcome run = runQvcom(u"/RegServer");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    EXPECT_EQ(run.boxes,
              versionBox("This program needs Service Pack 6 or later on Windows NT 4.0."));
    setProfile(u"4.0", u"1381", &none);
    run = runQvcom(u"");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    EXPECT_EQ(run.boxes,
              versionBox("This program needs Service Pack 6 or later on Windows NT 4.0."));

    // Silent shows nothing, whatever the reason.
    run = runQvcom(u"/Silent /RegServer");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    EXPECT_EQ(run.boxes, "");

    setProfile(u"4.0", u"1314", &sp6);
    run = runQvcom(u"/UnRegServer");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    EXPECT_EQ(run.boxes, versionBox("This program needs build 1381 of Windows NT 4.0."));

    setProfile(u"3.51", u"1057", &sp5);
    run = runQvcom(u"");
    EXPECT_EQ(run.exitCode, static_cast<DWORD>(ERROR_OLD_WIN_VERSION));
    EXPECT_EQ(run.boxes, versionBox("This program needs Windows NT 4.0 or later."));

    setProfile(u"6.1", u"7601", &none);
    EXPECT_EQ(runQvcom(u"").exitCode, static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
}

TEST(StartupMessageModule, LanguageAndCountryThenLanguageThenTheMachineDefault) {
    writeInstallKey();
    // Only the language's folder: the second attempt finds it.
    installQvcom({"en"});
    EXPECT_EQ(runQvcom(u"/?").boxes.rfind(helpBox, 0), 0u);

    // Only a third language's folder: found through the machine's default language.
    fs::remove_all(system32() / "resource");
    installQvcom({"de"});
    Outcome run = runQvcom(u"/?");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.boxes, "");
    setText(HKEY_LOCAL_MACHINE, u"Software\\Vantor\\MUI", u"QV_DefaultLanguage", u"de");
    EXPECT_EQ(runQvcom(u"/?").exitCode, 0u);

    // Seven characters fit the 16-byte buffer; eight do not, and "en" is used instead.
    fs::remove_all(system32() / "resource");
    installQvcom({"deutsch"});
    setText(HKEY_LOCAL_MACHINE, u"Software\\Vantor\\MUI", u"QV_DefaultLanguage", u"deutsch");
    EXPECT_EQ(runQvcom(u"/?").exitCode, 0u);
    fs::remove_all(system32() / "resource");
    installQvcom({"deutsch1"});
    setText(HKEY_LOCAL_MACHINE, u"Software\\Vantor\\MUI", u"QV_DefaultLanguage", u"deutsch1");
    EXPECT_EQ(runQvcom(u"/?").exitCode, 2u);
    installQvcom({"en"});
    EXPECT_EQ(runQvcom(u"/?").exitCode, 0u);
}

TEST(StartupMessageModule, NoneInAnyPlaceEndsWithTwoBeforeTheCommandLine) {
    writeInstallKey();
    installQvcom({});
    const std::u16string sp5 = u"Service Pack 5";
    for (const char16_t* line : {u"/Help", u"/RegServer", u""}) {
        const Outcome run = runQvcom(line);
        EXPECT_EQ(run.exitCode, 2u) << sky::narrow(line);
        EXPECT_EQ(run.boxes, "") << sky::narrow(line);
    }
    // Even the version check does not run.
    setProfile(u"4.0", u"1381", &sp5);
    EXPECT_EQ(runQvcom(u"").exitCode, 2u);
}

TEST(StartupMessageModule, TheMachineLocaleChoosesTheFolder) {
    writeInstallKey();
    installQvcom({"fr-CA"});
    EXPECT_EQ(runQvcom(u"/?").exitCode, 2u);
    setText(HKEY_LOCAL_MACHINE, u"System\\CurrentControlSet\\Control\\Nls\\Language", u"Default",
            u"0c0c");
    EXPECT_EQ(runQvcom(u"/?").exitCode, 0u);
}

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "sky/machine.h"
#include "sky/scoped_state.h"
#include "sky/text.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/lasterror.h"

namespace fs = std::filesystem;

namespace {

std::u16string variable(const WCHAR* name) {
    WCHAR buffer[40000];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 40000);
    return std::u16string(buffer, n < 40000 ? n : 0);
}

DWORD lastError() {
    return GetLastError();
}

// Every test here may change the process's current directory; it comes back afterwards.
class CurrentDirectory : public ::testing::Test {
protected:
    void TearDown() override { fs::current_path(saved_); }

private:
    fs::path saved_ = fs::current_path();
};

} // namespace

TEST(EnvironmentVariables, BufferRules) {
    const sky::testing::ScopedEnvironment environment; // the variables set here go again
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_VALUE", u"abcde"));
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetEnvironmentVariableW(u"SKY_TEST_VALUE", buffer, 6), 5u)
        << "length without terminator";
    EXPECT_EQ(std::u16string(buffer), u"abcde");

    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetEnvironmentVariableW(u"SKY_TEST_VALUE", buffer, 5), 6u)
        << "size needed with terminator";
    EXPECT_EQ(buffer[0], u'#') << "a buffer too small is left alone";
    EXPECT_EQ(GetEnvironmentVariableW(u"SKY_TEST_VALUE", nullptr, 0), 6u);

    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableW(u"SKY_TEST_ABSENT", buffer, 8), 0u);
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));

    // An empty value exists: 0 with ERROR_SUCCESS, and it needs one unit (the terminator).
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_EMPTY", u""));
    SetLastError(5);
    EXPECT_EQ(GetEnvironmentVariableW(u"SKY_TEST_EMPTY", buffer, 8), 0u);
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GetEnvironmentVariableW(u"SKY_TEST_EMPTY", nullptr, 0), 1u);
}

TEST(EnvironmentVariables, ValuesUpTo32767Units) {
    const sky::testing::ScopedEnvironment environment; // the variables set here go again
    const std::u16string longest(32767, u'x');
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_LONG", longest.c_str()));
    EXPECT_EQ(variable(u"SKY_TEST_LONG"), longest);
    EXPECT_EQ(GetEnvironmentVariableW(u"SKY_TEST_LONG", nullptr, 0), 32768u);

    const std::u16string tooLong(32768, u'y');
    SetLastError(0);
    EXPECT_FALSE(SetEnvironmentVariableW(u"SKY_TEST_LONG", tooLong.c_str()));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(variable(u"SKY_TEST_LONG"), longest) << "a refused value changes nothing";
}

TEST(EnvironmentVariables, NamesOfEveryScriptIgnoreCase) {
    const sky::testing::ScopedEnvironment environment; // the variables set here go again
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_\u03a9MEGA_\u041f\u0423\u0422\u042c", u"greek"));
    EXPECT_EQ(variable(u"sky_\u03c9mega_\u043f\u0443\u0442\u044c"), u"greek");
    ASSERT_TRUE(SetEnvironmentVariableW(u"sky_\u03c9mega_\u043f\u0443\u0442\u044c", u"set again"));
    EXPECT_STREQ(std::getenv("SKY_\u03a9MEGA_\u041f\u0423\u0422\u042c"), "set again")
        << "the variable keeps its first spelling";
    EXPECT_EQ(variable(u"SKY_\u03a9M\u00c9GA_\u041f\u0423\u0422\u042c"), u"")
        << "an accent makes another name";
    SetEnvironmentVariableW(u"SKY_\u03a9MEGA_\u041f\u0423\u0422\u042c", nullptr);
}

TEST(EnvironmentVariables, NamesIgnoreCaseAndReachTheHostEnvironment) {
    const sky::testing::ScopedEnvironment environment; // the variables set here go again
    ASSERT_TRUE(SetEnvironmentVariableW(u"Sky_Test_Mixed", u"one"));
    EXPECT_EQ(variable(u"SKY_TEST_MIXED"), u"one");
    EXPECT_STREQ(std::getenv("Sky_Test_Mixed"), "one");

    // Setting another spelling changes the same variable, which keeps its host name: a Windows
    // program that sets "Path" changes the PATH host programs read.
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_MIXED", u"two"));
    EXPECT_STREQ(std::getenv("Sky_Test_Mixed"), "two");
    EXPECT_EQ(std::getenv("SKY_TEST_MIXED"), nullptr);
    const std::string path = std::getenv("PATH");
    ASSERT_TRUE(
        SetEnvironmentVariableW(u"Path", sky::widen(path + ";C:\\WINDOWS\\System32").c_str()));
    EXPECT_EQ(std::string(std::getenv("PATH")), path + ";C:\\WINDOWS\\System32");
    EXPECT_EQ(std::getenv("Path"), nullptr);
    setenv("PATH", path.c_str(), 1);

    // Two host spellings: the exact one wins on reading; setting leaves only one.
    setenv("SKY_TEST_TWICE", "upper", 1);
    setenv("sky_test_twice", "lower", 1);
    EXPECT_EQ(variable(u"sky_test_twice"), u"lower");
    EXPECT_EQ(variable(u"SKY_TEST_TWICE"), u"upper");
    ASSERT_TRUE(SetEnvironmentVariableW(u"Sky_Test_Twice", u"one"));
    EXPECT_EQ(variable(u"sky_test_twice"), u"one");
    EXPECT_EQ(variable(u"SKY_TEST_TWICE"), u"one");
    EXPECT_EQ(static_cast<int>(std::getenv("SKY_TEST_TWICE") != nullptr) +
                  static_cast<int>(std::getenv("sky_test_twice") != nullptr),
              1);

    // Removing takes every spelling.
    setenv("sky_test_mixed", "again", 1);
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_MIXED", nullptr));
    EXPECT_EQ(std::getenv("Sky_Test_Mixed"), nullptr);
    EXPECT_EQ(std::getenv("sky_test_mixed"), nullptr);
    EXPECT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_NEVER_SET", nullptr));
}

TEST(EnvironmentVariables, BadNamesAndUnicodeValues) {
    const sky::testing::ScopedEnvironment environment; // the variables set here go again
    SetLastError(0);
    EXPECT_FALSE(SetEnvironmentVariableW(u"", u"x"));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetEnvironmentVariableW(u"A=B", u"x"));
    EXPECT_FALSE(SetEnvironmentVariableW(nullptr, u"x"));

    const std::u16string value = u"Gr\u00fc\u00dfe \U0001F600 C:\\Programme";
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_\u00c4", value.c_str()));
    EXPECT_EQ(variable(u"sky_test_\u00e4"), value);
}

TEST(EnvironmentVariables, ExpandReplacesDefinedReferences) {
    const sky::testing::ScopedEnvironment environment; // the variables set here go again
    ASSERT_TRUE(SetEnvironmentVariableW(u"SKY_TEST_ROOT", u"C:\\WINDOWS"));
    WCHAR buffer[64];
    const DWORD n =
        ExpandEnvironmentStringsW(u"%sky_test_root%\\System32 %SKY_TEST_NONE% 100%", buffer, 64);
    const std::u16string expected = u"C:\\WINDOWS\\System32 %SKY_TEST_NONE% 100%";
    EXPECT_EQ(n, expected.size() + 1) << "the size with the terminator";
    EXPECT_EQ(std::u16string(buffer), expected);
    EXPECT_EQ(ExpandEnvironmentStringsW(u"%SKY_TEST_ROOT%", buffer, 5), 11u);
    // An undefined reference does not swallow the next one.
    ExpandEnvironmentStringsW(u"50%%SKY_TEST_ROOT%", buffer, 64);
    EXPECT_EQ(std::u16string(buffer), u"50%C:\\WINDOWS");
}

TEST(MachineDirectories, SystemWindowsAndTemporary) {
    const sky::testing::ScopedEnvironment environment; // the variables set here go again
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryW(buffer, MAX_PATH), 19u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\WINDOWS\\system32");
    buffer[0] = u'#';
    EXPECT_EQ(GetSystemDirectoryW(buffer, 19), 20u) << "needed size with the terminator";
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(GetWindowsDirectoryW(buffer, MAX_PATH), 10u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\WINDOWS");

    // With neither TMP nor TEMP: the machine's own directory, created on demand.
    unsetenv("TMP");
    unsetenv("TEMP");
    const DWORD n = GetTempPathW(MAX_PATH, buffer);
    EXPECT_EQ(std::u16string(buffer, n), u"C:\\WINDOWS\\Temp\\");
    EXPECT_TRUE(fs::is_directory(sky::machine::driveC() / "WINDOWS" / "Temp"));
    EXPECT_EQ(GetTempPathW(3, buffer), n + 1);

    // TMP before TEMP; a host directory appears as a Z: path, with the trailing backslash.
    setenv("TEMP", "C:\\Temp", 1);
    GetTempPathW(MAX_PATH, buffer);
    EXPECT_EQ(std::u16string(buffer), u"C:\\Temp\\");
    setenv("TMP", "/var/tmp", 1);
    GetTempPathW(MAX_PATH, buffer);
    EXPECT_EQ(std::u16string(buffer), u"Z:\\var\\tmp\\");
}

TEST_F(CurrentDirectory, InWindowsForm) {
    const fs::path windows = sky::machine::driveC() / "WINDOWS";
    fs::create_directories(windows / "System32");
    std::ofstream(windows / "file.txt") << "x";

    ASSERT_TRUE(SetCurrentDirectoryW(u"c:\\windows"));
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), 10u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\WINDOWS") << "the directory's own spelling";
    EXPECT_EQ(GetCurrentDirectoryW(10, buffer), 11u);
    ASSERT_TRUE(SetCurrentDirectoryW(u"system32"));
    GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(std::u16string(buffer), u"C:\\WINDOWS\\System32");
    ASSERT_TRUE(SetCurrentDirectoryW(u"/tmp"));
    GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(std::u16string(buffer), u"Z:\\tmp");

    SetLastError(0);
    EXPECT_FALSE(SetCurrentDirectoryW(u"C:\\WINDOWS\\Missing"));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SetCurrentDirectoryW(u"C:\\Missing\\Deeper"));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(SetCurrentDirectoryW(u"C:\\WINDOWS\\file.txt"));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_FALSE(SetCurrentDirectoryW(u"D:\\"));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    GetCurrentDirectoryW(MAX_PATH, buffer);
    EXPECT_EQ(std::u16string(buffer), u"Z:\\tmp") << "a failed change leaves the directory";
}

TEST(UserName, IsTheHostAccount) {
    const std::u16string expected = sky::widen(getpwuid(geteuid())->pw_name);
    WCHAR buffer[UNLEN + 1];
    DWORD size = UNLEN + 1;
    ASSERT_TRUE(GetUserNameW(buffer, &size));
    EXPECT_EQ(std::u16string(buffer), expected);
    EXPECT_EQ(size, expected.size() + 1) << "characters written, terminator included";

    size = 1;
    SetLastError(0);
    EXPECT_FALSE(GetUserNameW(buffer, &size));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, expected.size() + 1);
}

std::string userName() {
    WCHAR buffer[UNLEN + 1];
    DWORD size = UNLEN + 1;
    return GetUserNameW(buffer, &size) ? sky::narrow(std::u16string_view(buffer, size - 1))
                                       : std::string("(failed)");
}

// The name is kept between calls, but never past a change of the effective user: a process that
// takes on another account names that account at once, and its own again after.
TEST(UserName, FollowsTheEffectiveUser) {
    const uid_t own = geteuid();
    const std::string ownName = getpwuid(own)->pw_name;
    uid_t other = own;
    std::string otherName;
    setpwent();
    while (const passwd* entry = getpwent()) {
        if (entry->pw_uid != own) {
            other = entry->pw_uid;
            otherName = entry->pw_name;
            break;
        }
    }
    endpwent();
    ASSERT_NE(other, own) << "the password database has one account only";
    EXPECT_EQ(userName(), ownName);
    EXPECT_EQ(userName(), ownName);
    if (own != 0) {
        return; // only the superuser can take on another account
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (userName() != ownName || seteuid(other) != 0)
            _exit(2);
        if (userName() != otherName)
            _exit(3);
        if (seteuid(own) != 0 || userName() != ownName)
            _exit(4);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: own name, 3: the other account's, 4: own again";
}

// The reg program as a person runs it, on the test's machine.
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "script.h"
#include "sky/machine.h"
#include "sky/registry.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"

namespace fs = std::filesystem;
using sky::registry::Key;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct Outcome {
    int status = -1; // exit code, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Starts reg with `arguments`; standard input is `input`, or empty when nullopt.
pid_t start(const std::vector<std::string>& arguments, const fs::path& directory,
            const std::optional<std::string>& input = std::nullopt) {
    const fs::path program = sky::testing::buildBin() / "reg";
    writeFile(directory / "stdin", input.value_or(""));
    const pid_t pid = fork();
    if (pid == 0) {
        const auto redirect = [](const fs::path& file, int flags, int target) {
            const int fd = open(file.c_str(), flags, 0600);
            dup2(fd, target);
            close(fd);
        };
        redirect(directory / "stdin", O_RDONLY, 0);
        redirect(directory / "stdout", O_WRONLY | O_CREAT | O_TRUNC, 1);
        redirect(directory / "stderr", O_WRONLY | O_CREAT | O_TRUNC, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int finish(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

Outcome runReg(const std::vector<std::string>& arguments,
               const std::optional<std::string>& input = std::nullopt) {
    const fs::path directory = sky::machine::root() / "run";
    fs::create_directories(directory);
    Outcome run;
    run.status = finish(start(arguments, directory, input));
    run.out = readFile(directory / "stdout");
    run.err = readFile(directory / "stderr");
    return run;
}

constexpr const char* kSuccess = "The operation completed successfully.\n";
constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

std::optional<std::vector<BYTE>> valueData(HKEY root, const char16_t* path, const char16_t* name,
                                           DWORD* type = nullptr) {
    Key key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(size);
    RegQueryValueExW(key.get(), name, nullptr, type, data.data(), &size);
    return data;
}

std::vector<BYTE> wide(std::u16string_view text) {
    std::vector<BYTE> data((text.size() + 1) * 2);
    std::memcpy(data.data(), std::u16string(text).c_str(), data.size());
    return data;
}

bool keyExists(HKEY root, const char16_t* path) {
    Key key;
    return RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

} // namespace

TEST(Reg, AddThenQueryIgnoringCase) {
    Outcome run =
        runReg({"add", "HKLM\\Software\\Test", "/v", "Name", "/t", "REG_SZ", "/d", "Value"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kSuccess);
    run = runReg({"query", "hklm\\software\\TEST", "/v", "name"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "\nHKEY_LOCAL_MACHINE\\software\\TEST\n    Name    REG_SZ    Value\n\n");
    // The program wrote the machine's hive, which this process reads too.
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Test", u"Name"), wide(u"Value"));
}

TEST(Reg, QueryShowsValuesThenSubkeys) {
    ASSERT_EQ(runReg({"add", "HKEY_LOCAL_MACHINE\\Software\\Shown", "/ve", "/d", "first"}).status,
              0);
    ASSERT_EQ(
        runReg({"add", "HKLM\\Software\\Shown", "/v", "Count", "/t", "REG_DWORD", "/d", "600000"})
            .status,
        0);
    ASSERT_EQ(runReg({"add", "hklm\\Software\\Shown", "/v", "List", "/t", "REG_MULTI_SZ", "/d",
                      "one\\0two"})
                  .status,
              0);
    ASSERT_EQ(
        runReg({"add", "HKLM\\Software\\Shown", "/v", "Bytes", "/t", "REG_BINARY", "/d", "01ab"})
            .status,
        0);
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Shown", "/v", "Empty"}).status, 0);
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Shown\\Sub"}).status, 0);

    Outcome run = runReg({"query", "HKLM\\Software\\Shown"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "\nHKEY_LOCAL_MACHINE\\Software\\Shown\n"
                       "    (Default)    REG_SZ    first\n"
                       "    Count    REG_DWORD    0x927c0\n"
                       "    List    REG_MULTI_SZ    one\\0two\n"
                       "    Bytes    REG_BINARY    01AB\n"
                       "    Empty    REG_SZ    \n"
                       "\n"
                       "HKEY_LOCAL_MACHINE\\Software\\Shown\\Sub\n");
    run = runReg({"query", "HKLM\\Software\\Shown", "/s"});
    EXPECT_THAT(run.out, HasSubstr("\n\nHKEY_LOCAL_MACHINE\\Software\\Shown\\Sub\n"));
    run = runReg({"query", "HKLM\\Software", "/v", "count", "/s"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("    Count    REG_DWORD    0x927c0\n"));
    EXPECT_THAT(run.out, HasSubstr("End of search: 1 match(es) found.\n"));

    run = runReg({"query", "HKLM\\Software\\Shown\\Sub", "/ve"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("    (Default)    REG_SZ    (value not set)\n"));

    // A key without values: no line of its own, only the blank line and its subkeys, as Windows'
    // reg prints it.
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Bare\\Inner"}).status, 0);
    run = runReg({"query", "HKLM\\Software\\Bare"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "\nHKEY_LOCAL_MACHINE\\Software\\Bare\\Inner\n");
}

// reg's own help example works on a new machine, which records its version as Windows does.
TEST(Reg, TheHelpsExampleWorksOnANewMachine) {
    const Outcome run = runReg(
        {"query", "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion", "/v", "CurrentVersion"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "\nHKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\n"
                       "    CurrentVersion    REG_SZ    5.2\n\n");
    EXPECT_THAT(runReg({"query", "/?"}).out,
                HasSubstr("REG QUERY HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion /v "
                          "CurrentVersion"));
}

TEST(Reg, MissingKeysValuesAndBadNamesFail) {
    Outcome run = runReg({"query", "HKLM\\Software\\Nowhere"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, kNotFound);
    EXPECT_EQ(run.out, "");
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\There"}).status, 0);
    run = runReg({"query", "HKLM\\Software\\There", "/v", "absent"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, kNotFound);
    run = runReg({"delete", "HKLM\\Software\\There", "/v", "absent", "/f"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, kNotFound);

    run = runReg({"query", "HKXX\\Software"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ERROR: Invalid key name.\nType \"REG QUERY /?\" for usage.\n");
    run = runReg({"add", "\\\\server\\HKLM\\Software"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, StartsWith("ERROR: Invalid key name."));
    run = runReg({"add", "HKLM\\Software\\X", "/v", "n", "/t", "REG_DWORD", "/d", "12x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, StartsWith("ERROR: Invalid syntax."));
    EXPECT_THAT(run.err, HasSubstr("Type \"REG ADD /?\" for usage."));
    run = runReg({"add", "HKLM\\Software\\X", "/v", "n", "/t", "REG_WHATEVER"});
    EXPECT_EQ(run.status, 1);
    run = runReg({"frobnicate"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ERROR: Invalid syntax.\nType \"REG /?\" for usage.\n");
    EXPECT_EQ(runReg({}).status, 1);
}

TEST(Reg, RootsByAnyName) {
    ASSERT_EQ(runReg({"add", "HKCR\\.farm", "/ve", "/d", "SkyloomFarmFile"}).status, 0);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.farm", nullptr),
              wide(u"SkyloomFarmFile"));
    ASSERT_EQ(runReg({"add", "hkey_current_user\\Software\\Mine", "/v", "x", "/d", "y"}).status, 0);
    EXPECT_EQ(valueData(HKEY_CURRENT_USER, u"Software\\Mine", u"x"), wide(u"y"));
    const Outcome run =
        runReg({"query", "HKU\\" + sky::narrow(sky::registry::currentUser()) + "\\Software\\Mine",
                "/v", "x"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("    x    REG_SZ    y\n"));
}

TEST(Reg, AddStoresEachTypeAsWindowsDoes) {
    const char* key = "HKLM\\Software\\Types";
    ASSERT_EQ(runReg({"add", key, "/v", "hex", "/t", "reg_dword", "/d", "0x10"}).status, 0);
    ASSERT_EQ(runReg({"add", key, "/v", "big", "/t", "REG_QWORD", "/d", "4294967296"}).status, 0);
    ASSERT_EQ(
        runReg({"add", key, "/v", "list", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#b"}).status, 0);
    ASSERT_EQ(
        runReg({"add", key, "/v", "path", "/t", "REG_EXPAND_SZ", "/d", "%SystemRoot%\\x"}).status,
        0);
    DWORD type = 0;
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Types", u"hex", &type),
              (std::vector<BYTE>{0x10, 0, 0, 0}));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Types", u"big"),
              (std::vector<BYTE>{0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Types", u"list", &type),
              wide(std::u16string(u"a\0b\0", 4)));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Types", u"path", &type),
              wide(u"%SystemRoot%\\x"));
    EXPECT_EQ(type, REG_EXPAND_SZ);
}

TEST(Reg, OverwritingAndDeletingAskFirst) {
    const char* key = "HKLM\\Software\\Asked";
    ASSERT_EQ(runReg({"add", key, "/v", "v", "/d", "one"}).status, 0);
    // No answer is no.
    Outcome run = runReg({"add", key, "/v", "v", "/d", "two"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Value v exists, overwrite (Yes/No)? \n"
                       "The operation was canceled by the user.\n");
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Asked", u"v"), wide(u"one"));
    run = runReg({"add", key, "/v", "v", "/d", "two"}, "yes\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Asked", u"v"), wide(u"two"));
    EXPECT_EQ(runReg({"add", key, "/v", "v", "/d", "three", "/f"}).status, 0);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Asked", u"v"), wide(u"three"));

    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Asked\\Sub", "/v", "w", "/d", "1"}).status, 0);
    run = runReg({"delete", key});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, StartsWith("Permanently delete the registry key "
                                    "HKEY_LOCAL_MACHINE\\Software\\Asked (Yes/No)? "));
    run = runReg({"delete", key}, "n\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Asked\\Sub"));

    run = runReg({"delete", key, "/va"}, "Y\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Asked", u"v"), std::nullopt);
    EXPECT_NE(valueData(HKEY_LOCAL_MACHINE, u"Software\\Asked\\Sub", u"w"), std::nullopt);
    run = runReg({"delete", "HKLM\\Software\\Asked\\Sub", "/v", "W", "/f"});
    EXPECT_EQ(run.out, kSuccess);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Asked\\Sub", u"w"), std::nullopt);
    // Without /v, the key goes with everything below it.
    run = runReg({"delete", key, "/f"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kSuccess);
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Asked"));
}

TEST(Reg, ExportAndImportRoundTrip) {
    Key key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Trip\\Inner \u00c9t\u00e9", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    std::vector<BYTE> blob(500);
    for (std::size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<BYTE>(i * 7);
    const std::u16string lines = u"line one\r\nline \"two\" \\ \u65e5\u672c";
    const DWORD number = 0xdeadbeef;
    ASSERT_EQ(RegSetValueExW(key.get(), u"Blob", 0, REG_BINARY, blob.data(), 500), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), u"Lines", 0, REG_SZ, wide(lines).data(),
                             static_cast<DWORD>(wide(lines).size())),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), u"say \"x\"", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&number), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_EXPAND_SZ, wide(u"%TEMP%").data(), 14),
              ERROR_SUCCESS);
    key.reset();
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Trip", "/v", "top", "/d", "C:\\WINDOWS\\"}).status,
              0);

    const fs::path file = sky::machine::driveC() / "trip.reg";
    Outcome run = runReg({"export", "HKLM\\Software\\Trip", "C:\\trip.reg"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kSuccess);
    const std::string bytes = readFile(file);
    ASSERT_THAT(bytes, StartsWith(std::string("\xFF\xFEW\0i\0n\0", 8)));
    const std::u16string text = reg::decodeScript(bytes);
    EXPECT_THAT(sky::narrow(text), HasSubstr("[HKEY_LOCAL_MACHINE\\Software\\Trip]\r\n"
                                             "\"top\"=\"C:\\\\WINDOWS\\\\\"\r\n\r\n"));
    EXPECT_THAT(sky::narrow(text), HasSubstr("\"say \\\"x\\\"\"=dword:deadbeef\r\n"));
    EXPECT_THAT(sky::narrow(text), HasSubstr("@=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00"));

    // Exporting again asks before it overwrites; no answer leaves the file.
    writeFile(file, "keep");
    run = runReg({"export", "HKLM\\Software\\Trip", file.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(file), "keep");
    ASSERT_EQ(runReg({"export", "HKLM\\Software\\Trip", file.string(), "/y"}).status, 0);

    ASSERT_EQ(SHDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Trip"), ERROR_SUCCESS);
    run = runReg({"import", "C:\\trip.reg"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kSuccess);
    const char16_t* inner = u"Software\\Trip\\Inner \u00c9t\u00e9";
    DWORD type = 0;
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, inner, u"Blob"), blob);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, inner, u"Lines", &type), wide(lines));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, inner, u"SAY \"X\""),
              (std::vector<BYTE>{0xef, 0xbe, 0xad, 0xde}));
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, inner, nullptr, &type), wide(u"%TEMP%"));
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Trip", u"top"), wide(u"C:\\WINDOWS\\"));
    // The file the import read is the file an export writes now.
    ASSERT_EQ(runReg({"export", "HKLM\\Software\\Trip", file.string(), "/y"}).status, 0);
    EXPECT_EQ(readFile(file), bytes);
}

TEST(Reg, ImportsUtf8AndAnsiScriptsWithDeletions) {
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Old", "/v", "x", "/d", "1"}).status, 0);
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Kept", "/v", "gone", "/d", "1"}).status, 0);
    const fs::path utf8 = sky::machine::root() / "utf8.reg";
    writeFile(utf8, "Windows Registry Editor Version 5.00\n\n"
                    "[-HKEY_LOCAL_MACHINE\\Software\\Old]\n\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Kept]\n"
                    "\"gone\"=-\n"
                    "\"caf\xc3\xa9\"=\"cr\xc3\xa8me\"\n");
    Outcome run = runReg({"import", utf8.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Old"));
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Kept", u"gone"), std::nullopt);
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Kept", u"CAF\u00c9"), wide(u"cr\u00e8me"));

    const fs::path ansi = sky::machine::root() / "ansi.reg";
    writeFile(ansi, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Ansi]\r\n"
                    "\"na\xefve\"=\"\xe9t\xe9\"\r\n"
                    "\"path\"=hex(2):25,77,69,6e,64,69,72,25,00\r\n");
    run = runReg({"import", ansi.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Ansi", u"na\u00efve"),
              wide(u"\u00e9t\u00e9"));
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Ansi", u"path"), wide(u"%windir%"));

    const fs::path bad = sky::machine::root() / "bad.reg";
    writeFile(bad,
              "Windows Registry Editor Version 5.00\n[HKLM\\Software\\Bad]\n\"v\"=dword:xyz\n");
    run = runReg({"import", bad.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("line 3"));
    run = runReg({"import", (sky::machine::root() / "missing.reg").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot be opened"));
}

TEST(Reg, TwoImportsAtOnceLoseNothing) {
    const fs::path directory = sky::machine::root();
    for (int writer = 0; writer < 2; ++writer) {
        std::string script = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Crowd]\n";
        for (int i = 0; i < 1000; ++i)
            script += "\"w" + std::to_string(writer) + "-" + std::to_string(i) +
                      "\"=dword:" + std::to_string(i % 10) + "\n";
        writeFile(directory / ("w" + std::to_string(writer) + ".reg"), script);
        fs::create_directories(directory / ("run" + std::to_string(writer)));
    }
    const pid_t first = start({"import", (directory / "w0.reg").string()}, directory / "run0");
    const pid_t second = start({"import", (directory / "w1.reg").string()}, directory / "run1");
    EXPECT_EQ(finish(first), 0) << readFile(directory / "run0" / "stderr");
    EXPECT_EQ(finish(second), 0) << readFile(directory / "run1" / "stderr");
    Key key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Crowd", 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 2000u);
}

TEST(Reg, DenialsMakeAUserWhoMayNotWrite) {
    ASSERT_EQ(runReg({"deny", "HKLM\\Software\\Classes\\AppID"}).status, 0);
    Key key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\APPID", 0, KEY_ALL_ACCESS,
                            key.put()),
              ERROR_ACCESS_DENIED);
    Outcome run = runReg({"add", "HKCR\\AppID\\{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}", "/v",
                          "LocalService", "/d", "QVCom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ERROR: Access is denied.\n");
    EXPECT_EQ(runReg({"query", "HKCR\\AppID"}).status, 0);
    // Another user's denial does not stand in the way.
    ASSERT_EQ(runReg({"allow", "HKLM\\Software\\Classes\\AppID"}).status, 0);
    ASSERT_EQ(runReg({"deny", "HKLM\\Software\\Classes\\AppID", "/u", "somebody"}).status, 0);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\APPID", 0, KEY_ALL_ACCESS,
                            key.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(runReg({"deny", "HKLM\\Software\\Nowhere"}).status, 1);
}

TEST(Reg, DamagedHiveIsReportedClearly) {
    std::string garbage(8192, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>(i * 131 + 7);
    writeFile(sky::registry::hivePath(), garbage);
    const Outcome run = runReg({"query", "HKLM\\Software"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, StartsWith("ERROR: The registry hive " +
                                    sky::registry::hivePath().string() + " is damaged"));
}

TEST(Reg, ImportStoresHexDataExactlyAndRefusesWhatItCannotKeep) {
    const fs::path script = sky::machine::driveC() / "exact.reg";
    writeFile(script, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\"
                      "Exact]\r\n\"one\"=hex(1):61\r\n\"list\"=hex(7):61,00,62\r\n"
                      "\"none\"=hex(2):\r\n");
    Outcome run = runReg({"import", "C:\\exact.reg"});
    ASSERT_EQ(run.status, 0) << run.err;
    DWORD type = 0;
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Exact", u"one", &type),
              (std::vector<BYTE>{0x61}));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Exact", u"list", &type),
              (std::vector<BYTE>{0x61, 0x00, 0x62}));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Exact", u"none"), std::vector<BYTE>{});

    // Exported again, the data comes back as the same bytes.
    ASSERT_EQ(runReg({"export", "HKLM\\Software\\Exact", "C:\\again.reg", "/y"}).status, 0);
    const std::string again = readFile(sky::machine::driveC() / "again.reg");
    EXPECT_NE(again.find(reg::encodeScript(u"\"one\"=hex(1):61\r\n").substr(2)), std::string::npos);
    EXPECT_NE(again.find(reg::encodeScript(u"\"list\"=hex(7):61,00,62\r\n").substr(2)),
              std::string::npos);

    // A key name NUL would cut short, and a malformed hex(4), are refused with their line.
    using namespace std::string_literals;
    writeFile(script, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE"
                      "\\Software\\Cut\0Short]\r\n"s);
    run = runReg({"import", "C:\\exact.reg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ERROR: The file C:\\exact.reg is not a registry script: line 3: a key name "
                       "holds a NUL character.\n");
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, u"Software\\Cut"));
    writeFile(script, "Windows Registry Editor Version 5.00\r\n\r\n[HKLM\\Software\\Exact]\r\n"
                      "\"n\"=hex(4):61\r\n");
    run = runReg({"import", "C:\\exact.reg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "ERROR: The file C:\\exact.reg is not a registry script: line 4: hex(4) data "
              "must be four bytes.\n");
}

TEST(Reg, KeysLongerOrDeeperThanWindowsAllowsAreRefused) {
    const std::u16string longName(256, u'k');
    Key key;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (u"Software\\" + longName).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (u"Software\\" + longName.substr(1)).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    // 512 levels below the root, and not one more.
    std::u16string deep = u"Software";
    for (int level = 2; level <= 512; ++level)
        deep += u"\\d";
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, deep.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (deep + u"\\d").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (deep.substr(9) + u"\\d\\d").c_str(), 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_INVALID_PARAMETER);

    // reg import refuses them with their line; what is there can still be exported.
    const fs::path script = sky::machine::driveC() / "long.reg";
    writeFile(script,
              "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\" +
                  std::string(256, 'k') + "]\r\n");
    Outcome run = runReg({"import", "C:\\long.reg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ERROR: Line 3 of C:\\long.reg: The parameter is incorrect.\n");
    run = runReg({"export", "HKLM\\Software", "C:\\software.reg", "/y"});
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST(Reg, PathsOnDriveCStayOnIt) {
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Kept", "/v", "n", "/d", "1", "/f"}).status, 0);
    const std::string hiveBefore = readFile(sky::registry::hivePath());
    Outcome run = runReg({"export", "HKLM\\Software\\Kept", "C:\\..\\registry.db", "/y"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(sky::machine::driveC() / "registry.db"));
    EXPECT_EQ(valueData(HKEY_LOCAL_MACHINE, u"Software\\Kept", u"n"), wide(u"1"));
    run = runReg({"export", "HKLM\\Software\\Kept", "C:\\..\\..\\x.reg", "/y"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(sky::machine::driveC() / "x.reg"));
    EXPECT_FALSE(fs::exists(sky::machine::root().parent_path() / "x.reg"));
}

TEST(Reg, AReadOnlyMachineCanBeRead) {
    ASSERT_EQ(runReg({"add", "HKLM\\Software\\Seen", "/v", "n", "/d", "here", "/f"}).status, 0);
    const fs::path machine = sky::machine::root();
    const fs::path out = machine.parent_path() / (machine.filename().string() + "-query.txt");
    // The machine as someone who may not write it sees it: another user when the test runs as
    // root (who may write anything), else the same user with the directory made read-only.
    std::string command;
    if (geteuid() == 0) {
        fs::permissions(machine, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
        fs::permissions(sky::registry::hivePath(), fs::perms::owner_read | fs::perms::owner_write |
                                                       fs::perms::group_read |
                                                       fs::perms::others_read);
        command = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    } else {
        fs::permissions(machine, fs::perms::owner_read | fs::perms::owner_exec);
    }
    command += "'" + (sky::testing::buildBin() / "reg").string() +
               "' query 'HKLM\\Software\\Seen' /v n >'" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    fs::permissions(machine, fs::perms::owner_all);
    const std::string output = readFile(out);
    fs::remove(out);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << output;
    EXPECT_NE(output.find("n    REG_SZ    here"), std::string::npos) << output;
}

TEST(Reg, HelpForRegAndEachOperation) {
    Outcome run = runReg({"/?"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("REG Operation [Parameter List]"));
    for (const char* operation : {"query", "ADD", "delete", "export", "import", "deny"}) {
        run = runReg({operation, "/?"});
        EXPECT_EQ(run.status, 0) << operation;
        EXPECT_THAT(run.out, HasSubstr("REG " + sky::narrow(sky::upper(sky::widen(operation)))))
            << operation;
    }
    EXPECT_THAT(runReg({"query", "/?"}).out, HasSubstr("REG QUERY KeyName [/v ValueName | /ve]"));
    EXPECT_EQ(runReg({"add", "--help"}).status, 0);
}

// The hive file: one per machine, shared by processes and threads, and a damaged one reported.
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sky/registry.h"
#include "sky/sqlite_testing.h"
#include "sky/temp_machine.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"

namespace fs = std::filesystem;
using sky::registry::Key;

namespace {

LONG setNumber(HKEY key, const std::u16string& name, DWORD value) {
    return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

DWORD valueCount(HKEY root, const char16_t* path) {
    Key key;
    DWORD values = 0;
    EXPECT_EQ(RegOpenKeyExW(root, path, 0, KEY_READ, key.put()), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    return values;
}

std::u16string writerValueName(int writer, int index) {
    return sky::widen("writer" + std::to_string(writer) + "-" + std::to_string(index));
}

// Writes `count` values into HKLM\Software\Crowd, opening and closing the key around each as a
// host does; 0 when all went in.
int writeValues(int writer, int count) {
    for (int i = 0; i < count; ++i) {
        Key key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Crowd", 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.put(), nullptr) != ERROR_SUCCESS)
            return 2;
        if (setNumber(key.get(), writerValueName(writer, i), static_cast<DWORD>(i)) !=
            ERROR_SUCCESS)
            return 3;
    }
    return 0;
}

void writeGarbage(const fs::path& file, std::size_t size, std::streamoff at = 0) {
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    if (!out.is_open())
        out.open(file, std::ios::binary | std::ios::out);
    out.seekp(at);
    std::uint32_t state = 0x12345678u;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        out.put(static_cast<char>(state >> 24));
    }
}

TEST(Hive, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kPerProcess = 1000;
    // The parent has the hive open before it forks; each child must open its own connection.
    Key key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Crowd", 0, nullptr, 0, KEY_READ,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            char byte;
            // Both start when the parent closes the gate.
            while (read(gate[0], &byte, 1) > 0) {
            }
            _exit(writeValues(writer, kPerProcess));
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_EQ(valueCount(HKEY_LOCAL_MACHINE, u"Software\\Crowd"), 2u * kPerProcess);
    for (int writer = 0; writer < 2; ++writer) {
        for (int i = 0; i < kPerProcess; ++i) {
            DWORD value = 0;
            DWORD size = sizeof value;
            ASSERT_EQ(RegQueryValueExW(key.get(), writerValueName(writer, i).c_str(), nullptr,
                                       nullptr, reinterpret_cast<LPBYTE>(&value), &size),
                      ERROR_SUCCESS);
            ASSERT_EQ(value, static_cast<DWORD>(i));
        }
    }
}

TEST(Hive, ThreadsShareOneHive) {
    std::vector<std::thread> threads;
    std::vector<int> results(4, -1);
    for (int writer = 0; writer < 4; ++writer)
        threads.emplace_back([&results, writer] { results[writer] = writeValues(writer, 100); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(results, std::vector<int>(4, 0));
    EXPECT_EQ(valueCount(HKEY_LOCAL_MACHINE, u"Software\\Crowd"), 400u);
}

TEST(Hive, EachMachineHasItsOwnHive) {
    Key here;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Here", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, here.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setNumber(here.get(), u"n", 1), ERROR_SUCCESS);
    const fs::path firstHive = sky::registry::hivePath();
    EXPECT_TRUE(fs::exists(firstHive));
    {
        sky::testing::TempMachine other;
        EXPECT_NE(sky::registry::hivePath(), firstHive);
        Key key;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Here", 0, KEY_READ, key.put()),
                  ERROR_FILE_NOT_FOUND);
        // A handle belongs to the machine it was opened on.
        EXPECT_EQ(setNumber(here.get(), u"n", 2), ERROR_INVALID_HANDLE);
    }
    // Back on the first machine, the hive is opened again from its file.
    Key key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Here", 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    DWORD value = 0;
    DWORD size = sizeof value;
    ASSERT_EQ(RegQueryValueExW(key.get(), u"n", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
}

TEST(Hive, GarbageInsteadOfAHiveIsReportedNotCrashedOn) {
    writeGarbage(sky::registry::hivePath(), 16384);
    Key key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, key.put()),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_THAT(sky::registry::lastHiveProblem(),
                ::testing::AllOf(::testing::HasSubstr(sky::registry::hivePath().string()),
                                 ::testing::HasSubstr("damaged")));
    EXPECT_EQ(sky::registry::readString(HKEY_LOCAL_MACHINE, u"Software", u"x"), std::nullopt);

    // Without the damaged file the machine starts a new hive.
    fs::remove(sky::registry::hivePath());
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
}

TEST(Hive, DamageInsideAHiveIsReported) {
    const fs::path hive = sky::registry::hivePath();
    {
        Key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Before", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        // Leaving the machine closes its hive.
        sky::testing::TempMachine elsewhere;
        DWORD values = 0;
        RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &values, nullptr, nullptr, nullptr, nullptr);
    }
    // The header stays; the pages after it do not.
    writeGarbage(hive, 8192, 100);
    Key key;
    const LONG status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Before", 0, KEY_READ, key.put());
    EXPECT_TRUE(status == ERROR_REGISTRY_CORRUPT || status == ERROR_BADDB) << status;
    EXPECT_FALSE(sky::registry::lastHiveProblem().empty());
}

namespace {

// Closes this process's connection to the machine's hive, as leaving the machine does.
void leaveTheMachine() {
    sky::testing::TempMachine elsewhere;
    DWORD values = 0;
    RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &values, nullptr, nullptr, nullptr, nullptr);
}

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

TEST(Hive, AnEmptyHiveFileIsReportedAndLeftAlone) {
    {
        Key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vantor\\Skyloom\\FarmStore", 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(setNumber(key.get(), u"n", 1), ERROR_SUCCESS);
    }
    leaveTheMachine();
    const fs::path hive = sky::registry::hivePath();
    std::ofstream(hive, std::ios::binary | std::ios::trunc).close();

    Key key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, key.put()),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_THAT(
        sky::registry::lastHiveProblem(),
        ::testing::AllOf(::testing::HasSubstr(hive.string()), ::testing::HasSubstr("is damaged")));
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_REGISTRY_CORRUPT);
    // Not taken for a new machine: the file stays as it was found.
    EXPECT_EQ(fs::file_size(hive), 0u);
}

TEST(Hive, ADamagedHiveTakesNoWriteAtAll) {
    {
        Key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Filled", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        for (int i = 0; i < 300; ++i) {
            const std::u16string text =
                u"MARKER" + std::u16string(100, u'x') + sky::widen(std::to_string(i));
            ASSERT_EQ(RegSetValueExW(key.get(), writerValueName(0, i).c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * 2)),
                      ERROR_SUCCESS);
        }
    }
    leaveTheMachine();
    // Damage one page of value data, in the middle of the values; the keys' pages stay sound.
    const fs::path hive = sky::registry::hivePath();
    const std::string marker("M\0A\0R\0K\0E\0R\0", 12);
    const std::string before = fileBytes(hive);
    std::size_t at = before.find(marker);
    for (int skip = 0; skip < 100 && at != std::string::npos; ++skip)
        at = before.find(marker, at + 1);
    ASSERT_NE(at, std::string::npos);
    writeGarbage(hive, 8, static_cast<std::streamoff>(at / 4096 * 4096));
    const std::string damaged = fileBytes(hive);

    Key key;
    const LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Fresh", 0, nullptr, 0,
                                         KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    EXPECT_EQ(created, ERROR_REGISTRY_CORRUPT);
    if (created == ERROR_SUCCESS)
        setNumber(key.get(), u"n", 1);
    EXPECT_THAT(sky::registry::lastHiveProblem(), ::testing::HasSubstr("is damaged"));
    leaveTheMachine();
    EXPECT_TRUE(fileBytes(hive) == damaged) << "a write went into the damaged hive";
    EXPECT_FALSE(fs::exists(hive.string() + "-wal") && fs::file_size(hive.string() + "-wal") > 0)
        << "a write went into the damaged hive's log";
}

TEST(Hive, AnotherDatabaseIsNotTakenForAHive) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(sky::registry::hivePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE farm(name TEXT); INSERT INTO farm VALUES('x')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    Key key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, key.put()), ERROR_BADDB);
    EXPECT_THAT(sky::registry::lastHiveProblem(), ::testing::HasSubstr("not a registry hive"));
    // And it is left as it was, down to its journal mode.
    ASSERT_EQ(sqlite3_open(sky::registry::hivePath().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "SELECT name FROM farm", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* mode = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "delete");
    sqlite3_finalize(mode);
    sqlite3_close(db);
}

// ---- A hive whose names were folded by an older rule ----

// Leaves the machine for a moment, which closes its hive, so that the file can be changed behind
// the registry's back and is opened afresh by the next call.
void closeHive() {
    sky::testing::TempMachine elsewhere;
    DWORD values = 0;
    RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &values, nullptr, nullptr, nullptr, nullptr);
}

std::vector<std::string> subKeyNames(const char16_t* path) {
    Key key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.put()), ERROR_SUCCESS);
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.push_back(sky::narrow(std::u16string(name, length)));
    }
    return names;
}

DWORD numberOf(const char16_t* path, const char16_t* name) {
    Key key;
    DWORD value = 0, size = sizeof value, type = 0;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.put()), ERROR_SUCCESS)
        << sky::narrow(path);
    EXPECT_EQ(
        RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS)
        << sky::narrow(path) << " " << sky::narrow(name);
    return value;
}

// Software\Names as a hive of the first format held it: "Ωmega" with a child and a value, and,
// beside it, "ωMEGA" and "мир", which the old rule left unfolded, and two values "σ" and "Σ",
// which it kept apart. A denial on "мир" for a user with a Greek name.
void writeFirstFormatHive() {
    {
        Key names;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Names\\\u03a9mega\\Child", 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, names.put(), nullptr),
                  ERROR_SUCCESS);
        Key omega;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Names\\\u03a9mega", 0,
                                KEY_ALL_ACCESS, omega.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(setNumber(omega.get(), u"Size", 1), ERROR_SUCCESS);
    }
    closeHive();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(sky::registry::hivePath().c_str(), &db), SQLITE_OK);
    const std::string names = "HKEY_LOCAL_MACHINE\\SOFTWARE\\NAMES";
    const std::string parent = "(SELECT id FROM keys WHERE path = '" + names + "')";
    sky::testing::execSql(db, "INSERT INTO keys(parent, name, folded, path) VALUES(" + parent +
                                  ", '\xcf\x89MEGA', '\xcf\x89MEGA', '" + names +
                                  "\\\xcf\x89MEGA')");
    sky::testing::execSql(
        db, "INSERT INTO vals(key, name, folded, type, data) VALUES((SELECT id FROM keys WHERE "
            "name = '\xcf\x89MEGA'), 'Size', 'SIZE', 4, x'02000000')");
    sky::testing::execSql(db, "INSERT INTO keys(parent, name, folded, path) VALUES(" + parent +
                                  ", '\xd0\xbc\xd0\xb8\xd1\x80', '\xd0\xbc\xd0\xb8\xd1\x80', '" +
                                  names + "\\\xd0\xbc\xd0\xb8\xd1\x80')");
    sky::testing::execSql(db, "INSERT INTO vals(key, name, folded, type, data) VALUES(" + parent +
                                  ", '\xcf\x83', '\xcf\x83', 4, x'03000000')");
    sky::testing::execSql(db, "INSERT INTO vals(key, name, folded, type, data) VALUES(" + parent +
                                  ", '\xce\xa3', '\xce\xa3', 4, x'04000000')");
    sky::testing::execSql(db, "INSERT INTO denials(path, user, name) VALUES('" + names +
                                  "\\\xd0\xbc\xd0\xb8\xd1\x80', '\xce\xb1NNA', '\xce\xb1nna')");
    sky::testing::execSql(db, "DROP TABLE meta; PRAGMA user_version = 1");
    sqlite3_close(db);
}

TEST(Hive, AHiveOfTheFirstFormatIsFoldedAgainAndKeepsEveryName) {
    writeFirstFormatHive();
    const fs::path report = sky::registry::hivePath().string() + ".renamed.txt";
    ASSERT_FALSE(fs::exists(report));

    // Cyrillic and Greek names are found whatever their case.
    Key mir;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\NAMES\\\u041c\u0418\u0420", 0, KEY_READ,
                            mir.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(numberOf(u"Software\\Names\\\u03c9MEGA", u"Size"), 1u) << "the first Omega";
    Key child;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Names\\\u03c9mega\\CHILD", 0, KEY_READ,
                            child.put()),
              ERROR_SUCCESS)
        << "its child is still below it";

    // The second Omega and the second sigma are kept under new names, with their data.
    EXPECT_EQ(
        subKeyNames(u"Software\\Names"),
        (std::vector<std::string>{"\xce\xa9mega", "\xcf\x89MEGA (2)", "\xd0\xbc\xd0\xb8\xd1\x80"}));
    EXPECT_EQ(numberOf(u"Software\\Names\\\u03a9MEGA (2)", u"Size"), 2u);
    EXPECT_EQ(numberOf(u"Software\\Names", u"\u03a3"), 3u) << "the first sigma keeps its name";
    EXPECT_EQ(numberOf(u"Software\\Names", u"\u03c3 (2)"), 4u);

    // The denial follows its key.
    std::vector<std::u16string> denied;
    EXPECT_EQ(sky::registry::deniedUsers(HKEY_LOCAL_MACHINE, u"Software\\Names\\\u041c\u0438\u0440",
                                         denied),
              ERROR_SUCCESS);
    EXPECT_EQ(denied, std::vector<std::u16string>{u"\u03b1nna"});

    // What was renamed is written down.
    std::ifstream in(report);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_THAT(text, ::testing::HasSubstr("\"\xcf\x89MEGA (2)\""));
    EXPECT_THAT(text, ::testing::HasSubstr("\"\xce\xa3 (2)\""));
    const auto size = fs::file_size(report);

    // Once is enough: the next opening finds the hive folded by the rule in force.
    closeHive();
    EXPECT_EQ(subKeyNames(u"Software\\Names").size(), 3u);
    EXPECT_EQ(fs::file_size(report), size);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(sky::registry::hivePath().c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sky::testing::querySqlText(db, "PRAGMA user_version"), "2");
    EXPECT_EQ(sky::testing::querySqlText(db, "SELECT value FROM meta WHERE name = 'folding'"),
              sky::foldingRule());
    sqlite3_close(db);
}

TEST(Hive, AHiveFoldedWithAnotherUnicodeTableIsFoldedAgain) {
    {
        Key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\\u0436\u0443\u043a", 0, nullptr,
                                  0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    closeHive();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(sky::registry::hivePath().c_str(), &db), SQLITE_OK);
    // As a table that did not know Cyrillic would have left it.
    sky::testing::execSql(
        db, "UPDATE keys SET folded = name, path = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\' || name "
            "WHERE name = '\xd0\xb6\xd1\x83\xd0\xba'");
    sky::testing::execSql(
        db, "UPDATE meta SET value = 'simple upper case, Unicode 1.1' WHERE name = 'folding'");
    sqlite3_close(db);

    Key key;
    EXPECT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\\u0416\u0423\u041a", 0, KEY_READ, key.put()),
        ERROR_SUCCESS);
    EXPECT_FALSE(fs::exists(sky::registry::hivePath().string() + ".renamed.txt"))
        << "nothing needed a new name";
}

TEST(Hive, AHiveFoldedByEverySimpleMappingIsFoldedAgainAndItsNamesComeApart) {
    // Under the rule before, "ıx" was the key "IX" and the value "ſize" the value "SIZE"; under
    // Windows' case table they stay themselves, so "ix" and "size" are names of their own.
    {
        Key key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Case\\\u0131x\\Child", 0, nullptr,
                                  0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        Key dotless;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Case\\\u0131x", 0, KEY_ALL_ACCESS,
                                dotless.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(setNumber(dotless.get(), u"\u017fize", 7), ERROR_SUCCESS);
    }
    closeHive();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(sky::registry::hivePath().c_str(), &db), SQLITE_OK);
    const std::string old = "HKEY_LOCAL_MACHINE\\SOFTWARE\\CASE\\IX";
    sky::testing::execSql(db, "UPDATE keys SET folded = 'IX', path = '" + old +
                                  "' WHERE name = '\xc4\xb1x'");
    sky::testing::execSql(db, "UPDATE keys SET path = '" + old + "\\CHILD' WHERE name = 'Child'");
    sky::testing::execSql(db, "UPDATE vals SET folded = 'SIZE' WHERE name = '\xc5\xbfize'");
    sky::testing::execSql(
        db, "UPDATE meta SET value = 'simple upper case, Unicode 15.0' WHERE name = 'folding'");
    sqlite3_close(db);

    // Found under its own letters, with its child and value; no longer under the capital I.
    Key dotless;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Case\\\u0131X", 0, KEY_ALL_ACCESS,
                            dotless.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(numberOf(u"Software\\Case\\\u0131X", u"\u017fIZE"), 7u);
    Key child;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\CASE\\\u0131x\\child", 0, KEY_READ,
                            child.put()),
              ERROR_SUCCESS);
    Key missing;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Case\\IX", 0, KEY_READ, missing.put()),
              ERROR_FILE_NOT_FOUND);
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(dotless.get(), u"SIZE", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&value), &size),
              ERROR_FILE_NOT_FOUND);

    // "ix" and "size" are now names beside them.
    Key plain;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Case\\ix", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, plain.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setNumber(dotless.get(), u"size", 8), ERROR_SUCCESS);
    EXPECT_EQ(subKeyNames(u"Software\\Case"), (std::vector<std::string>{"ix", "\xc4\xb1x"}));
    EXPECT_EQ(numberOf(u"Software\\Case\\\u0131x", u"\u017fize"), 7u);
    EXPECT_EQ(numberOf(u"Software\\Case\\\u0131x", u"SIZE"), 8u);
    EXPECT_FALSE(fs::exists(sky::registry::hivePath().string() + ".renamed.txt"))
        << "a rule that folds less never has to rename";
}

} // namespace

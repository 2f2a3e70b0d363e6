// The hive's content mark across processes: callers keep what they read while the mark stays
// the same, so a commit by any other process, through the platform or straight into the file,
// must move it, however the write-ahead log looks afterwards.
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"

namespace {

using sky::registry::contentMark;
using sky::registry::ContentMark;
using sky::registry::Key;

// Runs `work` in a child process and waits for it; the child's exit code, -1 when it did not
// exit.
template <class Work> int inChild(Work&& work) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(work());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

LONG setText(const char16_t* path, const char16_t* name, const std::u16string& text) {
    Key key;
    if (LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE,
                                      nullptr, key.put(), nullptr))
        return status;
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

std::u16string readText(const char16_t* path, const char16_t* name) {
    return sky::registry::readString(HKEY_LOCAL_MACHINE, path, name).value_or(u"(missing)");
}

// Runs SQL on the hive with the sqlite3 program, a writer that knows nothing of the platform;
// 0 when it succeeded.
int sqliteProgram(const std::string& sql) {
    const std::string command =
        "sqlite3 -bail '" + sky::registry::hivePath().string() + "' \"" + sql + "\" >/dev/null";
    return std::system(command.c_str());
}

// Empties the write-ahead log into the file, as any process may at any time.
constexpr char kEmptyLog[] = "PRAGMA wal_checkpoint(TRUNCATE);";

ContentMark markNow() {
    const auto mark = contentMark();
    EXPECT_TRUE(mark.has_value());
    return mark.value_or(ContentMark{});
}

TEST(ContentMark, StaysWhileNothingIsWritten) {
    ASSERT_EQ(setText(u"Software\\Marked", u"Name", u"first"), ERROR_SUCCESS);
    const ContentMark before = markNow();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(readText(u"Software\\Marked", u"Name"), u"first");
        EXPECT_EQ(markNow(), before);
    }
    // A write of this process moves it too.
    ASSERT_EQ(setText(u"Software\\Marked", u"Name", u"second"), ERROR_SUCCESS);
    EXPECT_NE(markNow(), before);
}

// Each round another process writes one value of the same size: the log has the same length
// after every round, and in every other round it was emptied first.
TEST(ContentMark, MovesWithEveryCommitOfAnotherProcess) {
    ASSERT_EQ(setText(u"Software\\Marked", u"Name", u"round 00"), ERROR_SUCCESS);
    for (int round = 1; round <= 12; ++round) {
        const ContentMark before = markNow();
        ASSERT_EQ(markNow(), before);
        char16_t text[] = u"round 00";
        text[6] = static_cast<char16_t>(u'0' + round / 10);
        text[7] = static_cast<char16_t>(u'0' + round % 10);
        if (round % 2 == 0) {
            ASSERT_EQ(sqliteProgram(kEmptyLog), 0);
        }
        ASSERT_EQ(inChild([&] {
                      return setText(u"Software\\Marked", u"Name", text) == ERROR_SUCCESS ? 0 : 3;
                  }),
                  0)
            << "round " << round;
        const ContentMark after = markNow();
        EXPECT_NE(after, before) << "round " << round;
        EXPECT_EQ(readText(u"Software\\Marked", u"Name"), text);
        EXPECT_EQ(markNow(), after) << "round " << round;
    }
}

// A program that is not the platform changes a row straight in the file: the mark moves all
// the same, even when the change leaves the log exactly as long as before.
TEST(ContentMark, MovesWhenAnotherProgramWritesTheFile) {
    ASSERT_EQ(setText(u"Software\\Marked", u"Name", u"as written"), ERROR_SUCCESS);
    for (int round = 0; round < 6; ++round) {
        const ContentMark before = markNow();
        ASSERT_EQ(
            sqliteProgram(std::string(kEmptyLog) +
                          " UPDATE vals SET data = data WHERE id = (SELECT max(id) FROM vals);"),
            0);
        EXPECT_NE(markNow(), before) << "round " << round;
    }
}

} // namespace

// The files' bytes and the file operations' errors, on the test's machine.
#include "definitions/text_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "core/runtime_errors.h"
#include "definitions/definitions_test_support.h"
#include "definitions/file_system.h"
#include "sky/text.h"

namespace brask {
namespace {

using testing::errorOf;
using testing::fileBytes;
using testing::writeBytes;

// The machine's ANSI code page, as Windows keeps it in the registry.
void setAnsiCodePage(const char16_t* codePage) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::u16string value(codePage);
    ASSERT_EQ(RegSetValueExW(key, u"ACP", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(char16_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

class TextFileTest : public ::testing::Test {
protected:
    TextFileTest() {
        folder_ = sky::machine::root() / "files";
        std::filesystem::create_directories(folder_);
    }
    std::u16string windowsPath(const std::string& name) const {
        return sky::machine::toWindowsPath(folder_ / name);
    }
    std::filesystem::path folder_;
};

TEST_F(TextFileTest, LinesInTheAnsiCodePageWithCrLfAndNoByteOrderMark) {
    setAnsiCodePage(u"1252");
    {
        AnsiTextWriter file(windowsPath("farm.ini"));
        EXPECT_EQ(file.codePage(), 1252u);
        EXPECT_TRUE(file.writeLine(u"[Farm]"));
        EXPECT_TRUE(file.writeLine(u"Farmname=Caf\u00e9 \u20ac"));
        file.writeEmptyLine();
        file.close();
    }
    EXPECT_EQ(fileBytes(folder_ / "farm.ini"), "[Farm]\r\nFarmname=Caf\xe9 \x80\r\n\r\n");
}

TEST_F(TextFileTest, TextTheCodePageCannotHoldIsNeverWrittenAsQuestionMarks) {
    setAnsiCodePage(u"1252");
    {
        AnsiTextWriter file(windowsPath("greek.ini"));
        EXPECT_TRUE(file.writeLine(u"AppName=Calc"));
        EXPECT_FALSE(file.writeLine(u"AppName=\u0391\u03b8\u03b7\u03bd\u03ac"));
        EXPECT_TRUE(file.writeLine(u"Icon=x"));
    }
    EXPECT_EQ(fileBytes(folder_ / "greek.ini"), "AppName=Calc\r\nIcon=x\r\n");

    // The same name on a Greek machine is written in its code page.
    setAnsiCodePage(u"1253");
    {
        AnsiTextWriter file(windowsPath("greek.ini"));
        EXPECT_TRUE(file.writeLine(u"AppName=\u0391"));
    }
    EXPECT_EQ(fileBytes(folder_ / "greek.ini"), "AppName=\xc1\r\n");
}

TEST_F(TextFileTest, WritingReplacesTheFormerContent) {
    writeBytes(folder_ / "old.ini", "a much longer former content\r\n");
    {
        AnsiTextWriter file(windowsPath("old.ini"));
        EXPECT_TRUE(file.writeLine(u"new"));
    }
    EXPECT_EQ(fileBytes(folder_ / "old.ini"), "new\r\n");
}

TEST_F(TextFileTest, ReaderTakesCrLfOrLfAndALastLineWithoutEnd) {
    setAnsiCodePage(u"1252");
    writeBytes(folder_ / "in.ini", "[Farm]\r\nA=1\n\r\nCaf\xe9=\x80\r\nlast");
    AnsiTextReader file(windowsPath("in.ini"));
    std::vector<std::u16string> lines;
    while (!file.atEnd()) {
        lines.push_back(file.readLine());
    }
    EXPECT_EQ(lines,
              (std::vector<std::u16string>{u"[Farm]", u"A=1", u"", u"Caf\u00e9=\u20ac", u"last"}));
    EXPECT_EQ(file.readLine(), u"");
}

TEST_F(TextFileTest, AnEmptyFileIsAtItsEndAtOnce) {
    writeBytes(folder_ / "empty.ini", "");
    AnsiTextReader file(windowsPath("empty.ini"));
    EXPECT_TRUE(file.atEnd());
}

TEST_F(TextFileTest, FilesThatCannotBeOpenedGiveTheRuntimesNumbers) {
    EXPECT_EQ(errorOf([&] { AnsiTextReader(windowsPath("missing.ini")); }), kFileNotFound);
    EXPECT_EQ(errorOf([&] { AnsiTextReader(windowsPath("nofolder\\x.ini")); }), kPathNotFound);
    EXPECT_EQ(errorOf([&] { AnsiTextWriter(windowsPath("nofolder\\x.ini")); }), kPathNotFound);
    EXPECT_EQ(errorOf([&] { AnsiTextReader(sky::machine::toWindowsPath(folder_)); }),
              kPathFileAccessError);
    EXPECT_EQ(errorOf([&] { AnsiTextWriter(sky::machine::toWindowsPath(folder_)); }),
              kPathFileAccessError);
    EXPECT_EQ(errorOf([] { AnsiTextReader(u"Q:\\farm.ini"); }), kPathNotFound);
    EXPECT_EQ(runtimeError(kFileNotFound).description(), u"File not found");
    EXPECT_EQ(runtimeError(kPathNotFound).description(), u"Path not found");
}

TEST_F(TextFileTest, ReadOnlyPlacesArePermissionDenied) {
    std::filesystem::create_directories(folder_ / "locked");
    writeBytes(folder_ / "locked" / "farm.ini", "x");
    std::filesystem::permissions(folder_ / "locked" / "farm.ini",
                                 std::filesystem::perms::owner_read);
    std::filesystem::permissions(folder_ / "locked", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_exec);
    if (::geteuid() == 0) {
        // The superuser writes anywhere; the rest of the test would prove nothing.
        std::filesystem::permissions(folder_ / "locked", std::filesystem::perms::owner_all);
        return;
    }
    EXPECT_EQ(errorOf([&] { AnsiTextWriter(windowsPath("locked\\farm.ini")); }), kPermissionDenied);
    EXPECT_EQ(errorOf([&] { AnsiTextWriter(windowsPath("locked\\new.ini")); }), kPermissionDenied);
    EXPECT_EQ(errorOf([&] { createFolder(windowsPath("locked\\icons")); }), kPermissionDenied);
    std::filesystem::permissions(folder_ / "locked", std::filesystem::perms::owner_all);
}

TEST_F(TextFileTest, FileNamesWindowsCannotHave) {
    for (std::u16string_view name :
         {u"Calc", u"Setup..", u"Word 2003", u"a.b", u" lead", u"Caf\u00e9", u"trail "}) {
        EXPECT_TRUE(isFileName(name)) << sky::narrow(name);
    }
    for (std::u16string_view name : {u"", u".", u"..", u"a\\b", u"a/b", u"C:", u"a*", u"a?",
                                     u"\"a\"", u"<a>", u"a|b", u"tab\there", u"line\nbreak"}) {
        EXPECT_FALSE(isFileName(name)) << sky::narrow(name);
    }
}

TEST_F(TextFileTest, OnlyIconsAreDeletedFromTheIconsFolder) {
    const auto icons = folder_ / "icons";
    std::filesystem::create_directories(icons / "sub.ico");
    for (const char* name : {"a.ico", "B.ICO", "c.Ico", "keep.txt", "ico", "x.icon"}) {
        writeBytes(icons / name, "x");
    }
    deleteFilesWithExtension(sky::machine::toWindowsPath(icons), u".ico");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(icons)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"ico", "keep.txt", "sub.ico", "x.icon"}));
}

TEST_F(TextFileTest, CopyReplacesAndDeleteTakesReadOnlyFiles) {
    writeBytes(folder_ / "from.ico", "new");
    writeBytes(folder_ / "to.ico", "old content");
    copyFile(windowsPath("from.ico"), windowsPath("to.ico"));
    EXPECT_EQ(fileBytes(folder_ / "to.ico"), "new");
    std::filesystem::permissions(folder_ / "to.ico", std::filesystem::perms::owner_read);
    deleteFile(windowsPath("to.ico"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "to.ico"));
    EXPECT_EQ(errorOf([&] { copyFile(windowsPath("gone.ico"), windowsPath("x.ico")); }),
              kFileNotFound);
    EXPECT_EQ(errorOf([&] { copyFile(windowsPath("moved\\a.ico"), windowsPath("x.ico")); }),
              kPathNotFound);
    EXPECT_EQ(errorOf([&] { deleteFile(windowsPath("gone.ico")); }), kFileNotFound);
}

} // namespace
// One scratch file serves a whole run: each fill replaces what the one before left, a shorter copy
// included, in the same file.
TEST_F(TextFileTest, AScratchFileRefilledHoldsOnlyItsLastCopy) {
    writeBytes(folder_ / "long.ico", "a long icon of many bytes");
    writeBytes(folder_ / "short.ico", "short");
    struct stat first {
    }, second{};
    {
        ScratchFile scratch(windowsPath("scratch.ico"));
        scratch.fillFrom(windowsPath("long.ico"));
        EXPECT_EQ(fileBytes(folder_ / "scratch.ico"), "a long icon of many bytes");
        ASSERT_EQ(::stat((folder_ / "scratch.ico").c_str(), &first), 0);
        scratch.fillFrom(windowsPath("short.ico"));
        EXPECT_EQ(fileBytes(folder_ / "scratch.ico"), "short");
        scratch.fillFrom(windowsPath("long.ico"), 6);
        EXPECT_EQ(fileBytes(folder_ / "scratch.ico"), "a long");
        ASSERT_EQ(::stat((folder_ / "scratch.ico").c_str(), &second), 0);
        EXPECT_EQ(first.st_ino, second.st_ino);
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ / "scratch.ico"));
}

} // namespace brask

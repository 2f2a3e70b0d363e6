// The registry script format on its own: layout, escaping, folding, reading back, bad lines.
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "script.h"
#include "sky/text.h"
#include "win/registry.h"

using reg::ScriptEntry;
using reg::ScriptValue;

namespace {

ScriptValue text(std::u16string name, std::u16string_view value, DWORD type = REG_SZ) {
    ScriptValue out{std::move(name), type, {}};
    const std::u16string terminated = std::u16string(value) + u'\0';
    out.data.resize(terminated.size() * 2);
    std::memcpy(out.data.data(), terminated.data(), out.data.size());
    return out;
}

std::vector<std::u16string> lines(const std::u16string& text) {
    std::vector<std::u16string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(u"\r\n", start)) != std::u16string::npos;
         start = end + 2)
        out.push_back(text.substr(start, end - start));
    return out;
}

std::vector<ScriptEntry> parse(const std::u16string& text) {
    int line = 0;
    std::string error;
    auto entries = reg::parseScript(text, line, error);
    EXPECT_TRUE(entries.has_value()) << "line " << line << ": " << error;
    return entries ? *entries : std::vector<ScriptEntry>{};
}

} // namespace

TEST(Script, WritesTheRegistryEditorLayout) {
    reg::ScriptWriter script;
    script.key(u"HKEY_LOCAL_MACHINE\\Software\\Test");
    script.value(text(u"", u"default"));
    script.value(text(u"Say \"hi\"", u"C:\\Path\\"));
    ScriptValue number{u"Number", REG_DWORD, {10, 0, 0, 0}};
    script.value(number);
    script.value(ScriptValue{u"Bytes", REG_BINARY, {1, 0xab}});
    script.value(ScriptValue{u"Nothing", REG_NONE, {}});
    script.value(text(u"Two lines", u"a\r\nb"));
    script.key(u"HKEY_LOCAL_MACHINE\\Software\\Test\\Empty");
    EXPECT_EQ(lines(script.text()), (std::vector<std::u16string>{
                                        u"Windows Registry Editor Version 5.00",
                                        u"",
                                        u"[HKEY_LOCAL_MACHINE\\Software\\Test]",
                                        u"@=\"default\"",
                                        u"\"Say \\\"hi\\\"\"=\"C:\\\\Path\\\\\"",
                                        u"\"Number\"=dword:0000000a",
                                        u"\"Bytes\"=hex:01,ab",
                                        u"\"Nothing\"=hex(0):",
                                        u"\"Two lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00",
                                        u"",
                                        u"[HKEY_LOCAL_MACHINE\\Software\\Test\\Empty]",
                                        u"",
                                    }));
    const std::string bytes = reg::encodeScript(u"W");
    EXPECT_EQ(bytes, std::string("\xFF\xFE"
                                 "W\0",
                                 4));
}

TEST(Script, FoldsLongDataLikeTheRegistryEditor) {
    // %SystemDrive%\Users\Public as REG_EXPAND_SZ: the editor puts 17 bytes on the first line
    // and 25 on each line after it.
    const ScriptValue path =
        text(u"ProfileImagePath", u"%SystemDrive%\\Users\\Public", REG_EXPAND_SZ);
    reg::ScriptWriter script;
    script.key(u"HKEY_LOCAL_MACHINE\\X");
    script.value(path);
    const auto written = lines(script.text());
    ASSERT_EQ(written.size(), 7u);
    EXPECT_EQ(written[3],
              u"\"ProfileImagePath\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,44,00,72,\\");
    EXPECT_EQ(written[4],
              u"  00,69,00,76,00,65,00,25,00,5c,00,55,00,73,00,65,00,72,00,73,00,5c,00,50,00,\\");
    EXPECT_EQ(written[5], u"  75,00,62,00,6c,00,69,00,63,00,00,00");

    ScriptValue big{u"Big", REG_BINARY, std::vector<BYTE>(300)};
    for (std::size_t i = 0; i < big.data.size(); ++i)
        big.data[i] = static_cast<BYTE>(i);
    script.value(big);
    for (const auto& line : lines(script.text()))
        EXPECT_LE(line.size(), 80u) << sky::narrow(line);

    const auto entries = parse(script.text());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].value.type, REG_EXPAND_SZ);
    EXPECT_EQ(entries[1].value.data, path.data);
    EXPECT_EQ(entries[2].value.data, big.data);
}

TEST(Script, ReadsWhatItWrites) {
    reg::ScriptWriter script;
    script.key(u"HKEY_CURRENT_USER\\Software\\\u00c9t\u00e9");
    const std::vector<ScriptValue> values = {
        text(u"", u""),
        text(u"quote\"and\\slash", u"\"quoted\" \\ text \u65e5\u672c"),
        ScriptValue{u"dw", REG_DWORD, {0xff, 0xff, 0xff, 0xff}},
        ScriptValue{u"q", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        text(u"multi", std::u16string(u"a\0b\0", 4), REG_MULTI_SZ),
        ScriptValue{u"odd", 0x1234, {9}},
    };
    for (const auto& value : values)
        script.value(value);
    const auto entries = parse(script.text());
    ASSERT_EQ(entries.size(), values.size() + 1);
    EXPECT_EQ(entries[0].kind, ScriptEntry::Kind::Key);
    EXPECT_EQ(entries[0].key, u"HKEY_CURRENT_USER\\Software\\\u00c9t\u00e9");
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(entries[i + 1].value.name, values[i].name);
        EXPECT_EQ(entries[i + 1].value.type, values[i].type);
        EXPECT_EQ(entries[i + 1].value.data, values[i].data);
        EXPECT_EQ(entries[i + 1].key, entries[0].key);
    }
}

// String types given as no bytes at all, in both script versions: an empty value, kept as given.
TEST(Script, StringTypesWithoutBytesAreEmptyValues) {
    for (const char16_t* header : {u"REGEDIT4", u"Windows Registry Editor Version 5.00"}) {
        SCOPED_TRACE(sky::narrow(header));
        const auto entries =
            parse(std::u16string(header) +
                  u"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Empty]\r\n"
                  u"\"expand\"=hex(2):\r\n\"multi\"=hex(7):\r\n\"sz\"=hex(1):\r\n");
        ASSERT_EQ(entries.size(), 4u);
        for (std::size_t i = 1; i < entries.size(); ++i) {
            EXPECT_TRUE(entries[i].value.data.empty()) << sky::narrow(entries[i].value.name);
        }
        EXPECT_EQ(entries[1].value.type, static_cast<DWORD>(REG_EXPAND_SZ));
        EXPECT_EQ(entries[2].value.type, static_cast<DWORD>(REG_MULTI_SZ));
    }
}

TEST(Script, DeletionsAndComments) {
    const auto entries = parse(u"Windows Registry Editor Version 5.00\r\n"
                               u"; a comment\r\n"
                               u"[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n"
                               u"[HKEY_LOCAL_MACHINE\\Software\\Kept]\r\n"
                               u"\"Gone\"=-\r\n"
                               u"\"Spaced\" = dword:1\r\n");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].kind, ScriptEntry::Kind::DeleteKey);
    EXPECT_EQ(entries[0].key, u"HKEY_LOCAL_MACHINE\\Software\\Old");
    EXPECT_EQ(entries[2].kind, ScriptEntry::Kind::DeleteValue);
    EXPECT_EQ(entries[2].value.name, u"Gone");
    EXPECT_EQ(entries[3].value.data, (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(entries[3].line, 6);
}

TEST(Script, BadLinesAreNamed) {
    const struct {
        const char16_t* text;
        int line;
    } cases[] = {
        {u"REGEDIT5\r\n", 1},
        {u"", 1},
        {u"Windows Registry Editor Version 5.00\r\n\r\n\"a\"=\"b\"\r\n", 3},
        {u"Windows Registry Editor Version 5.00\r\n[HKLM\\X]\r\n\"a\"=dword:123456789\r\n", 3},
        {u"Windows Registry Editor Version 5.00\r\n[HKLM\\X]\r\n\"a\"=\"open\r\n", 3},
        {u"Windows Registry Editor Version 5.00\r\n[HKLM\\X]\r\n\"a\"=hex:01,zz\r\n", 3},
        {u"Windows Registry Editor Version 5.00\r\n[HKLM\\X\r\n", 2},
        {u"Windows Registry Editor Version 5.00\r\n[HKLM\\X]\r\n\"a\"=hex:01,\\\r\n  02,\\\r\n"
         u"  0g\r\n",
         3},
    };
    for (const auto& bad : cases) {
        int line = 0;
        std::string error;
        EXPECT_FALSE(reg::parseScript(bad.text, line, error)) << sky::narrow(bad.text);
        EXPECT_EQ(line, bad.line) << sky::narrow(bad.text);
        EXPECT_FALSE(error.empty());
    }
}

TEST(Script, NamesAndDataThatWouldChangeOnTheWayInAreRefused) {
    using namespace std::string_literals;
    const std::u16string header = u"Windows Registry Editor Version 5.00\r\n[HKLM\\X]\r\n";
    const struct {
        std::u16string text;
        int line;
        const char* error;
    } cases[] = {
        {u"Windows Registry Editor Version 5.00\r\n[HKLM\\X\0Y]\r\n"s, 2,
         "a key name holds a NUL character"},
        {header + u"\"a\0b\"=\"c\"\r\n"s, 3, "a value name holds a NUL character"},
        {header + u"\"" + std::u16string(16384, u'v') + u"\"=\"c\"\r\n", 3,
         "a value name is longer than 16383 characters"},
        {header + u"\"a\"=hex(4):61\r\n", 3, "hex(4) data must be four bytes"},
        {header + u"\"a\"=hex(4):01,02,03,04,05\r\n", 3, "hex(4) data must be four bytes"},
        {header + u"\"a\"=hex(b):01\r\n", 3, "hex(b) data must be eight bytes"},
    };
    for (const auto& bad : cases) {
        int line = 0;
        std::string error;
        EXPECT_FALSE(reg::parseScript(bad.text, line, error)) << sky::narrow(bad.text);
        EXPECT_EQ(line, bad.line) << error;
        EXPECT_EQ(error, bad.error);
    }
    // The longest name a value may have is taken.
    const auto longest = parse(header + u"\"" + std::u16string(16383, u'v') + u"\"=\"c\"\r\n");
    ASSERT_EQ(longest.size(), 2u);
    EXPECT_EQ(longest[1].value.name.size(), 16383u);

    // Hex data is kept byte for byte, whatever its type.
    const auto entries = parse(header + u"\"one\"=hex(1):61\r\n\"list\"=hex(7):61,00,62\r\n");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].value.data, (std::vector<BYTE>{0x61}));
    EXPECT_TRUE(entries[1].value.exact);
    EXPECT_EQ(entries[2].value.data, (std::vector<BYTE>{0x61, 0x00, 0x62}));
    EXPECT_TRUE(entries[2].value.exact);
}

TEST(Script, FilesInEveryEncoding) {
    const std::u16string text = u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"Caf\u00e9\"=\"ok\"\r\n";
    EXPECT_EQ(reg::decodeScript(reg::encodeScript(text)), text);
    EXPECT_EQ(reg::decodeScript("\xEF\xBB\xBF" + sky::narrow(text)), text);
    EXPECT_EQ(reg::decodeScript(sky::narrow(text)), text);
    // Not UTF-8: the machine's ANSI code page (1252 on a new machine).
    EXPECT_EQ(reg::decodeScript("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"Caf\xe9\"=\"ok\"\r\n"),
              text);

    // REGEDIT4 keeps string data in hex as ANSI bytes.
    const auto entries = parse(u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n"
                               u"\"e\"=hex(2):25,e9,25,00\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].value.data, (std::vector<BYTE>{0x25, 0, 0xe9, 0, 0x25, 0, 0, 0}));
}

#include "definitions/definition_file.h"

#include <gtest/gtest.h>

#include "core/runtime_errors.h"
#include "definitions/definitions_test_support.h"
#include "sky/text.h"

namespace brask::definition {
namespace {

using brask::testing::errorOf;

TEST(DefinitionFileTest, HeadersInAnyCaseButNotWithBlanks) {
    EXPECT_EQ(headerSection(u"[Farm]"), Section::Farm);
    EXPECT_EQ(headerSection(u"[farm]"), Section::Farm);
    EXPECT_EQ(headerSection(u"[ICON]"), Section::Icon);
    EXPECT_EQ(headerSection(u"[aPPLICATION]"), Section::NewApplication);
    EXPECT_EQ(headerSection(u"[Servers]"), Section::Servers);
    EXPECT_EQ(headerSection(u"[Users]"), Section::Users);
    EXPECT_EQ(headerSection(u"[Groups]"), Section::Groups);
    EXPECT_EQ(headerSection(u" [Farm]"), std::nullopt);
    EXPECT_EQ(headerSection(u"[Farm] "), std::nullopt);
    EXPECT_EQ(headerSection(u"[ Farm]"), std::nullopt);
    EXPECT_EQ(headerSection(u"[Farms]"), std::nullopt);
    EXPECT_EQ(headerSection(u"[Applications]"), std::nullopt);
    EXPECT_EQ(headerSection(u"Farm"), std::nullopt);
    EXPECT_EQ(headerSection(u""), std::nullopt);
}

TEST(DefinitionFileTest, KeyIsEverythingBeforeTheFirstEquals) {
    auto line = splitKeyLine(u"Description=a=b");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->key, u"Description");
    EXPECT_EQ(line->value, u"a=b");

    line = splitKeyLine(u" AppName =x");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->key, u" AppName ");

    line = splitKeyLine(u"StartMenuFolder=");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->value, u"");

    EXPECT_EQ(splitKeyLine(u"=Applications/Word"), std::nullopt);
    EXPECT_EQ(splitKeyLine(u"no equals sign"), std::nullopt);
    EXPECT_EQ(splitKeyLine(u""), std::nullopt);
}

TEST(DefinitionFileTest, LineBreaksInsideAValueBecomeOneBlankEach) {
    EXPECT_EQ(oneLine(u"plain"), u"plain");
    EXPECT_EQ(oneLine(u"a\r\nServer=EVIL"), u"a Server=EVIL");
    EXPECT_EQ(oneLine(u"a\rb\nc"), u"a b c");
    EXPECT_EQ(oneLine(u"\n\r\r\n[Farm]"), u"   [Farm]");
    EXPECT_EQ(oneLine(u"a\n\nb"), u"a  b");
}

TEST(DefinitionFileTest, KilobytesHaveAFractionOnlyWhenNotWhole) {
    EXPECT_EQ(kilobytes(307200), u"300");
    EXPECT_EQ(kilobytes(1000), u"0.9765625");
    EXPECT_EQ(kilobytes(0), u"0");
    EXPECT_EQ(kilobytes(1), u"0.0009765625");
    EXPECT_EQ(kilobytes(-1024), u"-1");
    EXPECT_EQ(kilobytes(-1536), u"-1.5");
    // At most 15 significant digits, never an exponent.
    EXPECT_EQ(kilobytes(2147483647), u"2097151.99902344");
    EXPECT_EQ(kilobytes(-2147483647 - 1), u"-2097152");
}

TEST(DefinitionFileTest, KilobytesReadBackToTheSameBytes) {
    EXPECT_EQ(bytesFromKilobytes(u"0.9765625"), 1000);
    EXPECT_EQ(bytesFromKilobytes(u"300"), 307200);
    for (std::int32_t bytes : {0, 1, 2, 511, 512, 1000, 1023, 4097, 307200, 1234567, -1, -1000,
                               2147483647, -2147483647 - 1}) {
        EXPECT_EQ(bytesFromKilobytes(kilobytes(bytes)), bytes) << bytes;
    }
    EXPECT_EQ(errorOf([] { bytesFromKilobytes(u"lots"); }), kTypeMismatch);
    EXPECT_EQ(errorOf([] { bytesFromKilobytes(u"2097152"); }), kOverflow);
}

TEST(DefinitionFileTest, NumbersAsTheRuntimeConvertsThem) {
    EXPECT_EQ(number(u"42"), 42);
    EXPECT_EQ(number(u"-7"), -7);
    EXPECT_EQ(number(u" 5 "), 5);
    EXPECT_EQ(number(u"2.5"), 2); // half to even
    EXPECT_EQ(number(u"3.5"), 4);
    EXPECT_EQ(number(u"2147483647"), 2147483647);
    EXPECT_EQ(errorOf([] { number(u""); }), kTypeMismatch);
    EXPECT_EQ(errorOf([] { number(u"abc"); }), kTypeMismatch);
    EXPECT_EQ(errorOf([] { number(u"12abc"); }), kTypeMismatch);
    EXPECT_EQ(errorOf([] { number(u"2147483648"); }), kOverflow);
    EXPECT_EQ(errorOf([] { number(u"-99999999999"); }), kOverflow);
}

TEST(DefinitionFileTest, AccountLinesHaveFourFields) {
    const Account account = parseAccount(u"2:1:CORP:alice");
    EXPECT_EQ(account.accountType, 2);
    EXPECT_EQ(account.authorityType, 1);
    EXPECT_EQ(account.authorityName, u"CORP");
    EXPECT_EQ(account.name, u"alice");
    EXPECT_EQ(accountValue(account), u"2:1:CORP:alice");

    // Only the first four pieces count; empty pieces are pieces.
    EXPECT_EQ(parseAccount(u"4:3:corp.example.com:Engineers:extra").name, u"Engineers");
    EXPECT_EQ(parseAccount(u"1:0::kiosk").authorityName, u"");
    EXPECT_EQ(parseAccount(u"1:0::").name, u"");

    EXPECT_EQ(errorOf([] { parseAccount(u"2:1:CORP"); }), kSubscriptOutOfRange);
    EXPECT_EQ(errorOf([] { parseAccount(u""); }), kSubscriptOutOfRange);
    EXPECT_EQ(errorOf([] { parseAccount(u"user:1:CORP:alice"); }), kTypeMismatch);
}

TEST(DefinitionFileTest, StatusShowsTheNameWithoutTheRootFolder) {
    EXPECT_EQ(withoutRootFolder(u"Applications/Office/Word"), u"Office/Word");
    EXPECT_EQ(withoutRootFolder(u"Applications/W"), u"W");
    EXPECT_EQ(withoutRootFolder(u"Applications/"), u"");
    EXPECT_EQ(withoutRootFolder(u"Word"), u"");
}

TEST(DefinitionFileTest, KeyTablesInWriteOrder) {
    const auto farm = farmKeys();
    ASSERT_EQ(farm.size(), 32u);
    EXPECT_EQ(farm.front().key, u"MaxConnectionsPerUser");
    EXPECT_EQ(farm[11].key, u"OvraKeepAliveEnable");
    EXPECT_EQ(farm[15].key, u"OvraVideoBufferSize");
    EXPECT_EQ(farm[15].kind, ValueKind::Kilobytes);
    EXPECT_EQ(farm[28].key, u"LegacyQVServerCompatibleMode");
    EXPECT_FALSE(farm[28].optional);
    EXPECT_TRUE(farm[29].optional && farm[30].optional && farm[31].optional);
    EXPECT_EQ(findFarmKey(u"NDSPreferredTree")->kind, ValueKind::Text);
    EXPECT_EQ(findFarmKey(u"Farmname"), nullptr);
    EXPECT_EQ(findFarmKey(u"maxconnectionsperuser"), nullptr);

    const auto application = applicationKeys();
    ASSERT_EQ(application.size(), 28u);
    EXPECT_EQ(application.front().key, u"AppName");
    EXPECT_EQ(application[5].key, u"DefaultInitProg");
    EXPECT_EQ(application[6].key, u"DefaultWorkDir");
    EXPECT_EQ(application.back().key, u"ParentFolderDN");
    // Read back except these: written for the reader of the file only.
    for (std::u16string_view key : {u"HideDisabledApp", u"CPUPriority", u"DistinguishedName"}) {
        const ApplicationKey* row = findApplicationKey(key);
        ASSERT_NE(row, nullptr);
        EXPECT_TRUE(!row->putText && !row->putNumber) << sky::narrow(key);
    }
    EXPECT_EQ(findApplicationKey(u"Server"), nullptr);
}

} // namespace
} // namespace brask::definition

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "diagnostics.h"
#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "test_support.h"

namespace idlc {
namespace {

using namespace idlc::testing;

TEST(Parser, ReadsTheLibraryAttributesAndItsTypesInOrder) {
    Library lib = farmlet();
    EXPECT_EQ(lib.name, "Farmlet");
    EXPECT_EQ(lib.libid.Data1, 0x5E1A0000u);
    EXPECT_EQ(lib.libid.Data4[7], 0x01);
    EXPECT_EQ(lib.versionMajor, 2);
    EXPECT_EQ(lib.versionMinor, 1);
    EXPECT_EQ(lib.lcid, 0x409u);
    EXPECT_EQ(lib.helpString, "Farmlet Test Library");
    ASSERT_EQ(lib.importlibs.size(), 1u);
    EXPECT_EQ(lib.importlibs[0], "stdole2.tlb");
    ASSERT_EQ(lib.order.size(), 12u); // 2 enums, 8 interfaces, 2 coclasses
    EXPECT_EQ(lib.order[0].kind, TypeEntry::Kind::Enum);
    EXPECT_EQ(lib.order[2].kind, TypeEntry::Kind::Interface);
    EXPECT_EQ(lib.order[11].kind, TypeEntry::Kind::Coclass);
}

TEST(Parser, EvaluatesEnumerationValuesAndKeepsTheAlias) {
    Library lib = farmlet();
    const Enum& kind = lib.enums[0];
    EXPECT_EQ(kind.name, "_FarmletKind");
    EXPECT_EQ(kind.alias, "FarmletKind");
    ASSERT_EQ(kind.constants.size(), 6u);
    EXPECT_EQ(kind.constants[2].name, "FarmletServer");
    EXPECT_EQ(kind.constants[2].value, 2); // follows FarmletFarm = 1
    EXPECT_EQ(kind.constants[3].value, 0x10);
    EXPECT_EQ(kind.constants[4].value, 0x13); // FarmletFarm | FarmletServer | FarmletApp
    EXPECT_EQ(kind.constants[5].value, -1);
    EXPECT_EQ(lib.enums[1].constants[1].helpString, "yes");
    EXPECT_EQ(lib.enums[1].constants.size(), 3u); // trailing comma accepted
}

TEST(Parser, ReadsMembersWithTheirKindsParametersAndDefaults) {
    Library lib = farmlet();
    const Interface& farm = lib.interfaces[static_cast<std::size_t>(lib.findInterface("IFarmlet"))];
    EXPECT_TRUE(farm.dual);
    EXPECT_EQ(farm.baseName, "IDispatch");
    ASSERT_EQ(farm.members.size(), 7u);
    EXPECT_EQ(farm.members[1].kind, MemberKind::PropGet);
    EXPECT_EQ(farm.members[2].kind, MemberKind::PropPut);
    EXPECT_EQ(farm.members[2].helpString, "Farm name");
    const Member& add = farm.members[6];
    EXPECT_EQ(add.name, "Add");
    ASSERT_EQ(add.params.size(), 4u);
    EXPECT_EQ(add.params[1].type.base, BaseType::Double);
    EXPECT_TRUE(add.params[2].optional);
    ASSERT_TRUE(add.params[2].defaultValue.has_value());
    EXPECT_EQ(add.params[2].defaultValue->integer, 10);
    EXPECT_TRUE(add.params[3].out && add.params[3].retval);
    EXPECT_EQ(add.params[3].type.pointers, 1);

    const Interface& items =
        lib.interfaces[static_cast<std::size_t>(lib.findInterface("IFarmletItems"))];
    EXPECT_EQ(items.members[4].params[0].type.base, BaseType::ULong); // unsigned long
    const Coclass& host = lib.coclasses[0];
    EXPECT_EQ(host.name, "FarmletHost");
    EXPECT_TRUE(host.interfaces[0].isDefault);
    EXPECT_TRUE(lib.coclasses[1].hidden);
}

struct BadInput {
    const char* what;
    std::string source;
    std::string message; // the whole message after "test.idl:"
};

// How GoogleTest shows a case in a test's listing.
void PrintTo(const BadInput& bad, std::ostream* out) {
    *out << bad.what;
}

class ParserRejects : public ::testing::TestWithParam<BadInput> {};

TEST_P(ParserRejects, WithALineAndColumn) {
    const BadInput& bad = GetParam();
    try {
        compile(bad.source);
        FAIL() << bad.what << ": accepted";
    } catch (const CompileError& e) {
        EXPECT_EQ(std::string(e.what()), "test.idl:" + bad.message) << bad.what;
    }
}

const std::string kFarm = "[uuid(AAAAAAAA-0000-0000-0000-000000000001), dual]\n";

INSTANTIATE_TEST_SUITE_P(
    BadInputs, ParserRejects,
    ::testing::Values(
        BadInput{"missing semicolon",
                 library(kFarm + "interface IA : IDispatch {\n  HRESULT A()\n};"),
                 "6:1: error: expected ';', found '}'"},
        BadInput{"unknown attribute",
                 library("[uuid(AAAAAAAA-0000-0000-0000-000000000001), dula]\n"
                         "interface IA : IDispatch {};"),
                 "3:46: error: unknown attribute 'dula'"},
        BadInput{
            "malformed uuid",
            library("[uuid(AAAAAAAA-0000-0000-0000-0001), dual]\ninterface IA : IDispatch {};"),
            "3:2: error: malformed uuid 'AAAAAAAA-0000-0000-0000-0001'"},
        BadInput{"unterminated comment", library("/* no end"), "3:1: error: unterminated comment"},
        BadInput{"unterminated string", library("[helpstring(\"abc)] interface IA;"),
                 "3:13: error: unterminated string"},
        BadInput{"unknown type",
                 library(kFarm + "interface IA : IDispatch {\n  HRESULT A([in] Gadget g);\n};"),
                 "5:18: error: unknown type 'Gadget'"},
        BadInput{"unsupported type",
                 library(kFarm + "interface IA : IDispatch {\n  HRESULT A([in] SAFEARRAY g);\n};"),
                 "5:18: error: type 'SAFEARRAY' is not supported"},
        BadInput{"unknown base", library(kFarm + "interface IA : IBase {};"),
                 "4:11: error: unknown base interface 'IBase' of 'IA'"},
        BadInput{"retval not last",
                 library(kFarm + "interface IA : IDispatch {\n"
                                 "  HRESULT A([out, retval] long* a, [in] long b);\n};"),
                 "5:13: error: retval parameter 'a' of 'IA::A' must be the last parameter"},
        BadInput{
            "getter without retval",
            library(kFarm + "interface IA : IDispatch {\n  [propget] HRESULT A([in] long a);\n};"),
            "5:21: error: property getter 'IA::A' needs an [out, retval] parameter last"},
        BadInput{"member declared twice",
                 library(kFarm + "interface IA : IDispatch {\n  HRESULT A();\n  HRESULT A();\n};"),
                 "6:11: error: 'A' is declared twice in 'IA'"},
        BadInput{"member already in the base",
                 library(kFarm + "interface IA : IDispatch {\n  HRESULT A();\n};\n" +
                         dual("IA2", "IA", 2, "  HRESULT A();")),
                 "9:11: error: 'A' of 'IA2' is already declared in its base 'IA'"},
        BadInput{"uuid used twice",
                 library(kFarm + "interface IA : IDispatch {};\n" + kFarm +
                         "interface IB : IDispatch {};"),
                 "6:11: error: uuid AAAAAAAA-0000-0000-0000-000000000001 of 'IB' is already "
                 "used by 'IA'"},
        BadInput{"required after optional",
                 library(kFarm + "interface IA : IDispatch {\n"
                                 "  HRESULT A([in, optional] VARIANT a, [in] long b);\n};"),
                 "5:39: error: parameter 'b' of 'IA::A' must be optional: it follows an "
                 "optional one"},
        BadInput{"dual from IUnknown", library(kFarm + "interface IA : IUnknown {};"),
                 "4:11: error: dual interface 'IA' must derive from IDispatch"},
        BadInput{"interface by value",
                 library(kFarm + "interface IA : IDispatch {\n  HRESULT A([in] IA a);\n};"),
                 "5:18: error: an interface is passed by pointer ('IA*')"},
        BadInput{"no library", "import \"oaidl.idl\";\n",
                 "2:1: error: no library block in the file"},
        BadInput{"number glued to a name", library("typedef enum { A = 12ab } E;"),
                 "3:20: error: malformed number '12a'"}));

TEST(Parser, DeepExpressionsAreRefusedWithTheirPlaceNotAStackOverflow) {
    const auto messageOf = [](const std::string& value) {
        try {
            compile(library("typedef enum {\n  A = " + value + "\n} E;"));
        } catch (const CompileError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(messageOf(std::string(6000, '(') + "1" + std::string(6000, ')')),
              "test.idl:4:263: error: expression nested more than 256 levels deep");
    EXPECT_EQ(messageOf(std::string(60000, '-') + "1"),
              "test.idl:4:263: error: expression nested more than 256 levels deep");
    std::string mixed;
    for (int i = 0; i < 30000; ++i)
        mixed += "~+";
    EXPECT_EQ(messageOf(mixed + "1"),
              "test.idl:4:263: error: expression nested more than 256 levels deep");
    // As deep as a file may go is fine.
    EXPECT_EQ(
        messageOf(std::string(128, '-') + std::string(128, '(') + "1" + std::string(128, ')')),
        "accepted");
}

TEST(Parser, ConstantArithmeticWrapsAround) {
    // Each sum or product overflows 64 bits on the way; the results are two's complement's.
    Library lib = compile(library("typedef enum {\n"
                                  "  A = 9223372036854775807 + 9223372036854775807 + 3,\n"
                                  "  B = 3037000500 * 3037000500 * 0 + 5,\n"
                                  "  C = -(-9223372036854775807 - 1) + 9223372036854775807\n} E;"));
    ASSERT_EQ(lib.enums.size(), 1u);
    ASSERT_EQ(lib.enums[0].constants.size(), 3u);
    EXPECT_EQ(lib.enums[0].constants[0].value, 1);
    EXPECT_EQ(lib.enums[0].constants[1].value, 5);
    EXPECT_EQ(lib.enums[0].constants[2].value, -1);
}

TEST(Idlc, AnEndlessInputIsRefused) {
    const auto dir = sky::machine::root() / "idlc_zero"; // goes with the test's machine
    const std::string command = (sky::testing::buildBin() / "idlc").string() + " /dev/zero -o " +
                                (dir / "out").string() + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char chunk[512];
    while (fgets(chunk, sizeof chunk, pipe))
        output += chunk;
    const int status = pclose(pipe);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    EXPECT_EQ(output, "idlc: /dev/zero is larger than 64 MiB; it is no IDL file\n");
}

// The tool itself: exit code 1 and the message on standard error.
TEST(Idlc, ReportsAnErrorWithExitCodeOne) {
    const auto dir = sky::machine::root() / "idlc_bad"; // goes with the test's machine
    std::filesystem::create_directories(dir);
    {
        std::ofstream out(dir / "bad.idl");
        out << library(kFarm + "interface IA : IDispatch {\n  HRESULT A()\n};");
    }
    std::string command = (sky::testing::buildBin() / "idlc").string() + " " +
                          (dir / "bad.idl").string() + " -o " + (dir / "out").string() + " 2>" +
                          (dir / "err.txt").string();
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readText((dir / "err.txt").string()),
              (dir / "bad.idl").string() + ":6:1: error: expected ';', found '}'\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "bad.h")); // nothing half-written
}

} // namespace
} // namespace idlc

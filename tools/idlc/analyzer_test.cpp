#include <gtest/gtest.h>

#include "diagnostics.h"
#include "test_support.h"

namespace idlc {
namespace {

using namespace idlc::testing;

const Interface& byName(const Library& lib, const std::string& name) {
    int i = lib.findInterface(name);
    EXPECT_GE(i, 0) << name;
    return lib.interfaces[static_cast<std::size_t>(i)];
}

std::vector<std::int32_t> dispids(const Interface& itf) {
    std::vector<std::int32_t> ids;
    for (const auto& m : itf.members)
        ids.push_back(m.dispid);
    return ids;
}

TEST(Dispids, FollowDepthAndFirstSlotAlongAThreeLevelChain) {
    Library lib = farmlet();
    // Initialize, FarmName get, FarmName put, ServerCount, Items, Settings, Add
    EXPECT_EQ(dispids(byName(lib, "IFarmlet")),
              (std::vector<std::int32_t>{0x60020000, 0x60020001, 0x60020001, 0x60020003, 0x60020004,
                                         0x60020005, 0x60020006}));
    // Enabled get, Enabled put, Join, Kind
    EXPECT_EQ(dispids(byName(lib, "IFarmlet2")),
              (std::vector<std::int32_t>{0x60030000, 0x60030000, 0x60030002, 0x60030003}));
    // Fail, Fixed, Swap, Value get, Value put, Take
    EXPECT_EQ(dispids(byName(lib, "IFarmlet3")),
              (std::vector<std::int32_t>{0x60040000, 0x60040001, 0x60040002, 0x60040003, 0x60040003,
                                         0x60040005}));
    EXPECT_EQ(byName(lib, "IFarmlet3").depth, 3);
}

TEST(Dispids, NewEnumIsMinusFourAndStillTakesItsSlot) {
    Library lib = farmlet();
    EXPECT_EQ(dispids(byName(lib, "IFarmletItems")),
              (std::vector<std::int32_t>{-4, 0x60020001, 0x60020002, 0x60020003, 0x60020004}));
}

TEST(Dispids, AnExplicitIdIsHonouredAndSharedWithTheSetter) {
    Library lib = compile(library(dual("IA", "IDispatch", 1,
                                       "[id(0x10), propget] HRESULT P([out, retval] long* v);\n"
                                       "[propput] HRESULT P([in] long v);\n"
                                       "HRESULT M();\n"
                                       "[id(DISPID_VALUE)] HRESULT Value();")));
    EXPECT_EQ(dispids(lib.interfaces[0]), (std::vector<std::int32_t>{0x10, 0x10, 0x60020002, 0}));
}

TEST(Dispids, ACollidingExplicitIdIsAnError) {
    EXPECT_THROW(
        compile(library(dual("IA", "IDispatch", 1, "HRESULT M();\n[id(0x60020000)] HRESULT N();"))),
        CompileError);
}

TEST(Depth, CountsThroughABaseOfAnotherFamily) {
    Library lib = compile(library(dual("IAccount", "IDispatch", 1, "HRESULT A();") +
                                  dual("IAccount2", "IAccount", 2, "HRESULT B();") +
                                  dual("IAdmin", "IAccount2", 3, "HRESULT C();\nHRESULT D();") +
                                  dual("IAdmin2", "IAdmin", 4, "HRESULT E();")));
    const Interface& admin = byName(lib, "IAdmin");
    EXPECT_EQ(admin.depth, 3);
    EXPECT_TRUE(admin.familyHead);
    EXPECT_FALSE(byName(lib, "IAccount2").familyHead);
    EXPECT_FALSE(byName(lib, "IAdmin2").familyHead);
    EXPECT_EQ(dispids(admin), (std::vector<std::int32_t>{0x60040000, 0x60040001}));
    EXPECT_EQ(dispids(byName(lib, "IAdmin2")), (std::vector<std::int32_t>{0x60050000}));
}

TEST(Families, CountOneHeadPerChain) {
    Library lib = farmlet();
    int heads = 0;
    for (const auto& itf : lib.interfaces)
        heads += itf.familyHead ? 1 : 0;
    // IFarmlet, IFarmletSettings, IFarmletItem, IFarmletOwnedItem (another family), IFarmletItems
    EXPECT_EQ(heads, 5);
    EXPECT_EQ(familyStem("ISkyloomFarm6"), "ISkyloomFarm");
    EXPECT_EQ(familyStem("ISkyloomServerResMgmt"), "ISkyloomServerResMgmt");
}

TEST(Analyzer, ResolvesParameterTypesToLibraryTypes) {
    Library lib = farmlet();
    const Member& init = byName(lib, "IFarmlet").members[0];
    EXPECT_EQ(init.params[0].type.base, BaseType::Enum);
    EXPECT_EQ(lib.enums[static_cast<std::size_t>(init.params[0].type.target)].alias, "FarmletKind");
    const Member& items = byName(lib, "IFarmlet").members[4];
    EXPECT_EQ(items.params[0].type.base, BaseType::Interface);
    EXPECT_EQ(lib.interfaces[static_cast<std::size_t>(items.params[0].type.target)].name,
              "IFarmletItems");
}

// The file-argument attribute: a parameter the member opens as a file for its caller.
TEST(FileArguments, ReadAndWriteAreKeptAndOtherCustomAttributesLeftOut) {
    Library lib = compile(library(dual(
        "IA", "IDispatch", 1,
        "HRESULT Load([in, custom(0F3A6E28-7C41-4B9D-8E52-A1D4C7B6390E, \"read\")] BSTR f, "
        "[in] long i);\n"
        "HRESULT Save([in, custom({0F3A6E28-7C41-4B9D-8E52-A1D4C7B6390E}, \"write\")] BSTR f);\n"
        "HRESULT Note([in, custom(11111111-2222-3333-4444-555555555555, \"read\")] BSTR f);")));
    const auto& members = lib.interfaces[0].members;
    EXPECT_EQ(members[0].params[0].file, Param::File::Read);
    EXPECT_EQ(members[0].params[1].file, Param::File::None);
    EXPECT_EQ(members[1].params[0].file, Param::File::Write);
    EXPECT_EQ(members[2].params[0].file, Param::File::None);
}

TEST(FileArguments, OnlyAnInBstrWithReadOrWriteIsAFileArgument) {
    const std::string attribute = "custom(0F3A6E28-7C41-4B9D-8E52-A1D4C7B6390E, ";
    for (const std::string& member : {"HRESULT M([in, " + attribute + "\"append\")] BSTR f);",
                                      "HRESULT M([in, " + attribute + "\"read\")] long f);",
                                      "HRESULT M([out, " + attribute + "\"write\")] BSTR* f);",
                                      std::string("HRESULT M([in, custom(\"read\")] BSTR f);")})
        EXPECT_THROW(compile(library(dual("IA", "IDispatch", 1, member))), CompileError) << member;
}

// The snapshot attribute: a property getter of a plain value, answered from a snapshot across the
// boundary; anything else so marked is refused.
TEST(Snapshots, APlainGetterIsMarkedAndOtherMembersAreRefused) {
    const std::string attribute = "custom(7B2E5C90-4D1A-4E8F-A36B-5C0D9E2F1A47, ";
    Library lib = compile(
        library(dual("IA", "IDispatch", 1,
                     "[propget, " + attribute +
                         "\"snapshot\")] HRESULT Name([out, retval] BSTR* v);\n"
                         "[propget] HRESULT Size([out, retval] long* v);\n"
                         "[propget, custom(11111111-2222-3333-4444-555555555555, \"snapshot\")] "
                         "HRESULT Kind([out, retval] long* v);")));
    const auto& members = lib.interfaces[0].members;
    EXPECT_TRUE(members[0].snapshot);
    EXPECT_FALSE(members[1].snapshot);
    EXPECT_FALSE(members[2].snapshot);
    for (const std::string& member :
         {"[propget, " + attribute + "\"snapshot\")] HRESULT M([out, retval] IDispatch** v);",
          "[propget, " + attribute + "\"snapshot\")] HRESULT M([out, retval] VARIANT* v);",
          "[propget, " + attribute +
              "\"snapshot\")] HRESULT M([in] long i, [out, retval] long* v);",
          "[propput, " + attribute + "\"snapshot\")] HRESULT M([in] long v);",
          attribute + "\"snapshot\")] HRESULT M([out, retval] long* v);",
          "[propget, " + attribute + "\"cached\")] HRESULT M([out, retval] long* v);"}) {
        const std::string text = member.front() == '[' ? member : "[" + member;
        EXPECT_THROW(compile(library(dual("IA", "IDispatch", 1, text))), CompileError) << text;
    }
}

// "reads": a property getter of an object that only reads; it ends no snapshot. A value, a
// method, an argument or a put so marked is refused.
TEST(Snapshots, AGetterOfAnObjectIsMarkedAsReadingOnly) {
    const std::string attribute = "custom(7B2E5C90-4D1A-4E8F-A36B-5C0D9E2F1A47, ";
    Library lib =
        compile(library(dual("IA", "IDispatch", 1,
                             "[propget, " + attribute +
                                 "\"reads\")] HRESULT Items([out, retval] IDispatch** v);\n"
                                 "[propget, id(0xfffffffc), " +
                                 attribute +
                                 "\"reads\")] HRESULT _NewEnum([out, retval] IEnumVARIANT** v);\n"
                                 "[propget] HRESULT Other([out, retval] IDispatch** v);")));
    const auto& members = lib.interfaces[0].members;
    EXPECT_TRUE(members[0].readsOnly);
    EXPECT_FALSE(members[0].snapshot);
    EXPECT_TRUE(members[1].readsOnly);
    EXPECT_FALSE(members[2].readsOnly);
    for (const std::string& member :
         {"[propget, " + attribute + "\"reads\")] HRESULT M([out, retval] long* v);",
          "[propget, " + attribute + "\"reads\")] HRESULT M([out, retval] VARIANT* v);",
          "[propget, " + attribute +
              "\"reads\")] HRESULT M([in] long i, [out, retval] IDispatch** v);",
          "[propput, " + attribute + "\"reads\")] HRESULT M([in] IDispatch* v);",
          "[" + attribute + "\"reads\")] HRESULT M([out, retval] IDispatch** v);"}) {
        EXPECT_THROW(compile(library(dual("IA", "IDispatch", 1, member))), CompileError) << member;
    }
}

} // namespace
} // namespace idlc

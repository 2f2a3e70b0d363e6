// The type-library image: a hand-built library written, read back and loaded; damaged images
// refused cleanly.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "sky/machine.h"
#include "sky/text.h"
#include "sky/typelib_image.h"

namespace sky::typelib {
namespace {

constexpr GUID kLib{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kItf{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 9}};
constexpr GUID kCls{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 10}};

Library sample() {
    Library lib;
    lib.guid = kLib;
    lib.lcid = 0x409;
    lib.major = 3;
    lib.minor = 2;
    lib.name = u"Sample";
    lib.doc = u"Sample library";
    lib.helpFile = u"sample.hlp";
    lib.helpContext = 17;
    lib.imports.push_back(
        {{0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, 2, 0, 0, u"stdole2.tlb"});
    lib.importedTypes.push_back({0, IID_IDispatch, u"IDispatch"});

    TypeDescription e;
    e.kind = TKIND_ENUM;
    e.name = u"_Colour";
    for (int i = 0; i < 3; ++i) {
        Var v;
        v.id = 0x40000000 + i;
        v.name = u"Colour" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        v.value.vt = VT_I4;
        v.value.integer = i * -7;
        e.vars.push_back(v);
    }
    TypeDescription alias;
    alias.kind = TKIND_ALIAS;
    alias.name = u"Colour";
    alias.alias = Type{VT_USERDEFINED, 0, localRef(0)};

    TypeDescription itf;
    itf.kind = TKIND_DISPATCH;
    itf.flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    itf.guid = kItf;
    itf.name = u"IPainter";
    itf.doc = u"Paints";
    itf.impls.push_back({importedRef(0), 0});
    Func paint;
    paint.id = 0x60020000;
    paint.name = u"Paint";
    paint.doc = u"Paints a wall";
    paint.result = Type{VT_HRESULT, 0, 0};
    Param colour;
    colour.name = u"colour";
    colour.type = Type{VT_USERDEFINED, 0, localRef(1)};
    colour.flags = PARAMFLAG_FIN;
    Param label;
    label.name = u"label";
    label.type = Type{VT_BSTR, 0, 0};
    label.flags = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    label.defaultValue = Value{VT_BSTR, 0, 0, u"plain"};
    Param ratio;
    ratio.name = u"ratio";
    ratio.type = Type{VT_R8, 0, 0};
    ratio.flags = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    ratio.defaultValue = Value{VT_R8, 0, 0.5, u""};
    Param out;
    out.name = u"pDone";
    out.type = Type{VT_BOOL, 1, 0};
    out.flags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    paint.params = {colour, label, ratio, out};
    itf.funcs.push_back(paint);

    TypeDescription cls;
    cls.kind = TKIND_COCLASS;
    cls.guid = kCls;
    cls.name = u"Painter";
    cls.flags = TYPEFLAG_FCANCREATE;
    cls.impls.push_back({localRef(2), IMPLTYPEFLAG_FDEFAULT});
    lib.types = {e, alias, itf, cls};
    return lib;
}

TEST(TypeLibImage, ReadsBackWhatWasWritten) {
    Library original = sample();
    std::vector<unsigned char> image = serialize(original);
    Library back;
    ASSERT_EQ(deserialize(image.data(), image.size(), back), S_OK);
    EXPECT_TRUE(back.guid == kLib);
    EXPECT_EQ(back.lcid, 0x409u);
    EXPECT_EQ(back.major, 3);
    EXPECT_EQ(back.minor, 2);
    EXPECT_EQ(back.name, u"Sample");
    EXPECT_EQ(back.helpFile, u"sample.hlp");
    EXPECT_EQ(back.helpContext, 17u);
    ASSERT_EQ(back.types.size(), 4u);
    EXPECT_EQ(back.types[0].vars[2].value.integer, -14);
    EXPECT_EQ(back.types[1].alias.href, localRef(0));
    const Func& paint = back.types[2].funcs.at(0);
    EXPECT_EQ(paint.id, 0x60020000);
    EXPECT_EQ(paint.doc, u"Paints a wall");
    ASSERT_EQ(paint.params.size(), 4u);
    EXPECT_EQ(paint.params[1].defaultValue->text, u"plain");
    EXPECT_DOUBLE_EQ(paint.params[2].defaultValue->real, 0.5);
    EXPECT_EQ(paint.params[3].type.pointers, 1);
    EXPECT_EQ(paint.params[3].flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    EXPECT_EQ(back.types[3].impls[0].flags, IMPLTYPEFLAG_FDEFAULT);
    // Writing what was read gives the same bytes.
    EXPECT_EQ(serialize(back), image);
}

TEST(TypeLibImage, RefusesEveryTruncationCleanly) {
    std::vector<unsigned char> image = serialize(sample());
    for (std::size_t size = 0; size < image.size(); ++size) {
        std::vector<unsigned char> cut(image.begin(), image.begin() + static_cast<long>(size));
        Library lib;
        HRESULT hr = deserialize(cut.data(), cut.size(), lib);
        EXPECT_TRUE(hr == TYPE_E_INVDATAREAD || hr == TYPE_E_UNSUPFORMAT) << size;
    }
}

TEST(TypeLibImage, SurvivesDamagedBytes) {
    std::vector<unsigned char> image = serialize(sample());
    std::mt19937 random(7);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<unsigned char> damaged = image;
        for (int k = 0; k < 3; ++k)
            damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
        ITypeLib* lib = nullptr;
        HRESULT hr = loadTypeLibFromMemory(damaged.data(), damaged.size(), &lib);
        if (FAILED(hr)) {
            ++refused;
            continue;
        }
        // Whatever loads must be safe to walk.
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            ITypeInfo* info = nullptr;
            if (FAILED(lib->GetTypeInfo(i, &info)))
                continue;
            TYPEATTR* attr = nullptr;
            if (SUCCEEDED(info->GetTypeAttr(&attr))) {
                for (UINT f = 0; f < attr->cFuncs; ++f) {
                    FUNCDESC* fd = nullptr;
                    if (SUCCEEDED(info->GetFuncDesc(f, &fd)))
                        info->ReleaseFuncDesc(fd);
                }
                for (UINT r = 0; r < attr->cImplTypes; ++r) {
                    HREFTYPE href;
                    ITypeInfo* ref = nullptr;
                    if (SUCCEEDED(info->GetRefTypeOfImplType(r, &href)) &&
                        SUCCEEDED(info->GetRefTypeInfo(href, &ref)))
                        ref->Release();
                }
                info->ReleaseTypeAttr(attr);
            }
            info->Release();
        }
        lib->Release();
    }
    EXPECT_GT(refused, 0);
}

TEST(TypeLibImage, RefusesOtherFormatsAndVersions) {
    Library lib;
    const char text[] = "MZ not a type library at all";
    EXPECT_EQ(deserialize(text, sizeof text, lib), TYPE_E_UNSUPFORMAT);
    std::vector<unsigned char> image = serialize(sample());
    image[8] = static_cast<unsigned char>(kFormatMajor + 1);
    EXPECT_EQ(deserialize(image.data(), image.size(), lib), TYPE_E_UNSUPFORMAT);
    image[8] = static_cast<unsigned char>(kFormatMajor);
    image[9] = 0;
    image[10] = 7; // a later minor version reads
    EXPECT_EQ(deserialize(image.data(), image.size(), lib), S_OK);
}

void writeFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

TEST(LoadTypeLib, LoadsAFileByItsWindowsPath) {
    writeFile(machine::driveC() / "Lib" / "sample.tlb", serialize(sample()));
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLib(u"C:\\LIB\\Sample.TLB", &lib), S_OK);
    EXPECT_EQ(lib->GetTypeInfoCount(), 4u);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(kCls, &info), S_OK);
    HREFTYPE href;
    ITypeInfo* painter = nullptr;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &href), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(href, &painter), S_OK);
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(painter->GetFuncDesc(0, &fd), S_OK);
    ASSERT_EQ(fd->cParams, 3); // dispatch form: the retval is the result
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_BOOL);
    PARAMDESCEX* label = fd->lprgelemdescParam[1].paramdesc.pparamdescex;
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->varDefaultValue.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(label->varDefaultValue.bstrVal), u"plain");
    painter->ReleaseFuncDesc(fd);
    painter->Release();
    info->Release();
    lib->Release();
}

TEST(LoadTypeLib, FailsForWhatIsNoTypeLibrary) {
    ITypeLib* lib = reinterpret_cast<ITypeLib*>(1);
    EXPECT_EQ(LoadTypeLib(u"C:\\missing.tlb", &lib), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(lib, nullptr);
    writeFile(machine::driveC() / "junk.tlb", {'j', 'u', 'n', 'k'});
    EXPECT_EQ(LoadTypeLib(u"C:\\junk.tlb", &lib), TYPE_E_CANTLOADLIBRARY);
    std::vector<unsigned char> damaged = serialize(sample());
    damaged.resize(damaged.size() / 2);
    writeFile(machine::driveC() / "half.tlb", damaged);
    EXPECT_EQ(LoadTypeLib(u"C:\\half.tlb", &lib), TYPE_E_INVDATAREAD);
    EXPECT_EQ(LoadTypeLibEx(u"C:\\half.tlb", static_cast<REGKIND>(9), &lib), E_INVALIDARG);
}

TEST(LoadTypeLib, GivesTheStandardLibraryForStdole2) {
    ITypeLib* lib = nullptr;
    ASSERT_EQ(LoadTypeLib(u"stdole2.tlb", &lib), S_OK);
    ITypeInfo* dispatch = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IDispatch, &dispatch), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cFuncs, 4);
    EXPECT_EQ(attr->cbSizeVft, 7 * sizeof(void*));
    dispatch->ReleaseTypeAttr(attr);
    dispatch->Release();
    lib->Release();
}

} // namespace
} // namespace sky::typelib

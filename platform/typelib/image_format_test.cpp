// The type-library image: a hand-built library written, read back and loaded; damaged images
// refused cleanly.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "sample_library_test.h"
#include "sky/machine.h"
#include "sky/text.h"
#include "sky/typelib_image.h"

namespace sky::typelib {
namespace {

using namespace sky::typelib::testing;

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

// The compiled test library read back through LoadTypeLib, ITypeLib and ITypeInfo.
#include <filesystem>

#include <gtest/gtest.h>

#include "sky/machine.h"
#include "sky/text.h"
#include "win/typelib.h"

namespace {

template <class T> struct Ptr {
    T* p = nullptr;
    ~Ptr() {
        if (p)
            p->Release();
    }
    T* operator->() const { return p; }
    T** out() { return &p; }
};

std::string text(BSTR b) {
    std::string s = sky::narrow(b);
    SysFreeString(b);
    return s;
}

class FarmletTypeLib : public ::testing::Test {
protected:
    void SetUp() override {
        std::u16string path = sky::widen(SKY_FARMLET_TLB);
        ASSERT_EQ(LoadTypeLib(path.c_str(), lib.out()), S_OK);
    }

    void typeInfo(const char* name, ITypeInfo** out) {
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            BSTR n = nullptr;
            lib->GetDocumentation(static_cast<INT>(i), &n, nullptr, nullptr, nullptr);
            if (text(n) == name) {
                ASSERT_EQ(lib->GetTypeInfo(i, out), S_OK);
                return;
            }
        }
        FAIL() << name << " not found";
    }

    void interfaceFace(ITypeInfo* dispatch, ITypeInfo** out) {
        HREFTYPE href;
        ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
        ASSERT_EQ(dispatch->GetRefTypeInfo(href, out), S_OK);
    }

    Ptr<ITypeLib> lib;
};

TEST_F(FarmletTypeLib, DescribesTheLibrary) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid.Data1, 0x5E1A0000u);
    EXPECT_EQ(attr->wMajorVerNum, 2);
    EXPECT_EQ(attr->wMinorVerNum, 1);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(text(name), "Farmlet");
    EXPECT_EQ(text(doc), "Farmlet Test Library");
    EXPECT_EQ(lib->GetTypeInfoCount(), 14u);
    TYPEKIND kinds[4];
    for (UINT i = 0; i < 4; ++i)
        ASSERT_EQ(lib->GetTypeInfoType(i, &kinds[i]), S_OK);
    EXPECT_EQ(kinds[0], TKIND_ENUM);
    EXPECT_EQ(kinds[1], TKIND_ALIAS);
    EXPECT_EQ(kinds[3], TKIND_ALIAS);
    TYPEKIND kind;
    EXPECT_EQ(lib->GetTypeInfoType(14, &kind), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(FarmletTypeLib, ShowsADualInterfaceAsDispatchWithAVtableFace) {
    Ptr<ITypeInfo> farm3, face;
    typeInfo("IFarmlet3", farm3.out());
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(farm3->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION |
                                  TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FNONEXTENSIBLE),
              TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE |
                  TYPEFLAG_FNONEXTENSIBLE);
    EXPECT_EQ(attr->cFuncs, 17); // 7 + 4 + 6 members of the chain
    EXPECT_EQ(attr->cImplTypes, 1);
    farm3->ReleaseTypeAttr(attr);

    interfaceFace(farm3.p, face.out());
    ASSERT_EQ(face->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->cFuncs, 6);
    EXPECT_EQ(attr->cbSizeVft, (7 + 11 + 6) * sizeof(void*));
    face->ReleaseTypeAttr(attr);

    // The dispatch face shows Add (of IFarmlet) in dispatch form: the retval is the result.
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(farm3->GetFuncDesc(6, &fd), S_OK);
    EXPECT_EQ(fd->memid, 0x60020006);
    EXPECT_EQ(fd->funckind, FUNC_DISPATCH);
    EXPECT_EQ(fd->cParams, 3);
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_R8);
    farm3->ReleaseFuncDesc(fd);
}

TEST_F(FarmletTypeLib, GivesMembersWithTheirNamesParametersAndHelp) {
    Ptr<ITypeInfo> farm, face;
    typeInfo("IFarmlet", farm.out());
    interfaceFace(farm.p, face.out());
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(face->GetFuncDesc(6, &fd), S_OK); // Add(long a, double b, [opt, 10] long c, retval)
    EXPECT_EQ(fd->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(fd->invkind, INVOKE_FUNC);
    EXPECT_EQ(fd->callconv, CC_STDCALL);
    EXPECT_EQ(fd->oVft, static_cast<SHORT>((7 + 6) * sizeof(void*)));
    EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(fd->cParams, 4);
    EXPECT_EQ(fd->cParamsOpt, 1);
    EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_I4);
    EXPECT_EQ(fd->lprgelemdescParam[1].tdesc.vt, VT_R8);
    const PARAMDESC& c = fd->lprgelemdescParam[2].paramdesc;
    EXPECT_EQ(c.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
    ASSERT_NE(c.pparamdescex, nullptr);
    EXPECT_EQ(c.pparamdescex->varDefaultValue.vt, VT_I4);
    EXPECT_EQ(c.pparamdescex->varDefaultValue.lVal, 10);
    const ELEMDESC& retval = fd->lprgelemdescParam[3];
    EXPECT_EQ(retval.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    EXPECT_EQ(retval.tdesc.vt, VT_PTR);
    EXPECT_EQ(retval.tdesc.lptdesc->vt, VT_R8);
    MEMBERID id = fd->memid;
    face->ReleaseFuncDesc(fd);

    BSTR names[5] = {};
    UINT count = 0;
    ASSERT_EQ(face->GetNames(id, names, 5, &count), S_OK);
    ASSERT_EQ(count, 5u);
    EXPECT_EQ(text(names[0]), "Add");
    EXPECT_EQ(text(names[1]), "a");
    EXPECT_EQ(text(names[3]), "c");
    EXPECT_EQ(text(names[4]), "pSum");
    text(names[2]);

    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(face->GetDocumentation(id, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(text(name), "Add");
    EXPECT_EQ(text(doc), "Adds numbers");
    ASSERT_EQ(farm->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(text(name), "IFarmlet");
    EXPECT_EQ(text(doc), "The farm");

    // Items returns a pointer to a library interface, by reference.
    ASSERT_EQ(face->GetFuncDesc(4, &fd), S_OK);
    const TYPEDESC& items = fd->lprgelemdescParam[0].tdesc;
    ASSERT_EQ(items.vt, VT_PTR);
    ASSERT_EQ(items.lptdesc->vt, VT_PTR);
    ASSERT_EQ(items.lptdesc->lptdesc->vt, VT_USERDEFINED);
    Ptr<ITypeInfo> target;
    ASSERT_EQ(face->GetRefTypeInfo(items.lptdesc->lptdesc->hreftype, target.out()), S_OK);
    face->ReleaseFuncDesc(fd);
    ASSERT_EQ(target->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(text(name), "IFarmletItems");
}

TEST_F(FarmletTypeLib, LeadsFromAnInterfaceToItsBaseAndToIDispatch) {
    Ptr<ITypeInfo> farm2, face, base, dispatch;
    typeInfo("IFarmlet2", farm2.out());
    interfaceFace(farm2.p, face.out());
    HREFTYPE href;
    ASSERT_EQ(face->GetRefTypeOfImplType(0, &href), S_OK);
    ASSERT_EQ(face->GetRefTypeInfo(href, base.out()), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(base->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(text(name), "IFarmlet");
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(base->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    base->ReleaseTypeAttr(attr);

    ASSERT_EQ(base->GetRefTypeOfImplType(0, &href), S_OK);
    ASSERT_EQ(base->GetRefTypeInfo(href, dispatch.out()), S_OK);
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == IID_IDispatch);
    dispatch->ReleaseTypeAttr(attr);
    Ptr<ITypeLib> stdole;
    UINT index = 0;
    ASSERT_EQ(dispatch->GetContainingTypeLib(stdole.out(), &index), S_OK);
    ASSERT_EQ(stdole->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(text(name), "stdole");

    Ptr<ITypeLib> container;
    ASSERT_EQ(farm2->GetContainingTypeLib(container.out(), &index), S_OK);
    EXPECT_EQ(container.p, lib.p);
    EXPECT_EQ(index, 5u);
}

TEST_F(FarmletTypeLib, GivesEnumerationsAliasesAndClasses) {
    Ptr<ITypeInfo> kind, alias, host, target;
    typeInfo("_FarmletKind", kind.out());
    VARDESC* vd = nullptr;
    ASSERT_EQ(kind->GetVarDesc(4, &vd), S_OK);
    EXPECT_EQ(vd->varkind, VAR_CONST);
    EXPECT_EQ(vd->lpvarValue->vt, VT_I4);
    EXPECT_EQ(vd->lpvarValue->lVal, 0x13);
    BSTR name = nullptr;
    UINT count = 0;
    ASSERT_EQ(kind->GetNames(vd->memid, &name, 1, &count), S_OK);
    EXPECT_EQ(text(name), "FarmletAll");
    kind->ReleaseVarDesc(vd);

    typeInfo("FarmletKind", alias.out());
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(alias->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_ALIAS);
    ASSERT_EQ(attr->tdescAlias.vt, VT_USERDEFINED);
    ASSERT_EQ(alias->GetRefTypeInfo(attr->tdescAlias.hreftype, target.out()), S_OK);
    alias->ReleaseTypeAttr(attr);
    ASSERT_EQ(target->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(text(name), "_FarmletKind");

    typeInfo("FarmletHost", host.out());
    ASSERT_EQ(host->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_EQ(attr->cImplTypes, 5);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    host->ReleaseTypeAttr(attr);
    INT flags = 0;
    ASSERT_EQ(host->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    ASSERT_EQ(host->GetImplTypeFlags(1, &flags), S_OK);
    EXPECT_EQ(flags, 0);
}

TEST_F(FarmletTypeLib, FindsByGuidAndMembersByName) {
    Ptr<ITypeInfo> info;
    const GUID farmlet3{0x5E1A0000, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 0x12}};
    ASSERT_EQ(lib->GetTypeInfoOfGuid(farmlet3, info.out()), S_OK);
    OLECHAR farmName[] = u"farmname";
    OLECHAR join[] = u"JOIN";
    OLECHAR sep[] = u"Sep";
    LPOLESTR names[] = {join, sep};
    MEMBERID ids[2];
    ASSERT_EQ(info->GetIDsOfNames(names, 2, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60030002);
    EXPECT_EQ(ids[1], 1);
    LPOLESTR one[] = {farmName};
    ASSERT_EQ(info->GetIDsOfNames(one, 1, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60020001);
    OLECHAR nothing[] = u"Nothing";
    LPOLESTR unknown[] = {nothing};
    EXPECT_EQ(info->GetIDsOfNames(unknown, 1, ids), DISP_E_UNKNOWNNAME);
    const GUID other{0x5E1A0000, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 0x99}};
    Ptr<ITypeInfo> none;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(other, none.out()), TYPE_E_ELEMENTNOTFOUND);
    BOOL isName = FALSE;
    OLECHAR lower[] = u"ifarmlet2";
    ASSERT_EQ(lib->IsName(lower, 0, &isName), S_OK);
    EXPECT_TRUE(isName);
    EXPECT_EQ(std::u16string(lower), u"IFarmlet2");
}

// The library carried by a module as resource "TYPELIB" 1 (and 2), read without running it.
TEST(ModuleTypeLib, LoadsFromTheModulesResource) {
    std::u16string module = sky::machine::toWindowsPath(SKY_FARMLET_MODULE);
    for (const std::u16string& path : {module, module + u"\\2"}) {
        Ptr<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLib(path.c_str(), lib.out()), S_OK) << sky::narrow(path);
        EXPECT_EQ(lib->GetTypeInfoCount(), 14u);
        BSTR name = nullptr;
        ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(text(name), "Farmlet");
    }
    Ptr<ITypeLib> none;
    EXPECT_EQ(LoadTypeLib((module + u"\\3").c_str(), none.out()), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(none.p, nullptr);
}

// A module file is read by the name given: a program without an extension is not looked for as
// "<name>.dll", which a library load would add (and which here is another file altogether).
TEST(ModuleTypeLib, LoadsFromAFileWithoutExtension) {
    const std::filesystem::path folder = sky::machine::driveC() / "Programs";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(SKY_FARMLET_MODULE, folder / "farmlet");
    std::filesystem::copy_file(SKY_FARMLET_TLB, folder / "farmlet.dll");
    for (const std::u16string& path :
         {std::u16string(u"C:\\Programs\\farmlet"), std::u16string(u"C:\\Programs\\farmlet\\2")}) {
        Ptr<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.out()), S_OK) << sky::narrow(path);
        EXPECT_EQ(lib->GetTypeInfoCount(), 14u);
    }
}

} // namespace

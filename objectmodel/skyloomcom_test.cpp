// The compiled SkyloomCOM library held to the library's published figures: counts, every
// interface's identifier and own members, the dispatch identifier rule, and an object that
// answers by name through the generated tables.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "SkyloomCOM_notimpl.h"
#include "analyzer.h"
#include "catalogue.h"
#include "parser.h"
#include "sky/com_object.h"
#include "sky/dispatch.h"
#include "sky/text.h"

namespace {

struct Expected {
    const char* name;
    DWORD iidFirstGroup;
    int ownMembers;
    bool hidden;
};

// Every interface of the library in the library's order, the first group of its IID and the
// number of members it declares itself.
const Expected kInterfaces[] = {
    {"ISkyloomFarm", 0xED62F4F0, 17, false},
    {"ISkyloomFarm2", 0xED62F52A, 1, false},
    {"ISkyloomFarm3", 0xED62F540, 10, false},
    {"ISkyloomFarm4", 0xED62F56E, 19, false},
    {"ISkyloomFarm5", 0xED62F58E, 14, false},
    {"ISkyloomFarm6", 0xED62F5C8, 25, false},
    {"ISkyloomZones", 0xED62F510, 5, false},
    {"ISkyloomApplications", 0xED62F51B, 5, false},
    {"ISkyloomServers", 0xED62F51A, 5, false},
    {"ISkyloomAcctAuths", 0xED62F513, 5, false},
    {"ISkyloomSessions", 0xED62F518, 5, false},
    {"ISkyloomWinFarm", 0xED62F4F2, 34, false},
    {"ISkyloomWinFarm2", 0xED62F4FA, 1, false},
    {"ISkyloomWinFarm3", 0xED62F52B, 38, false},
    {"ISkyloomWinFarm4", 0xED62F56D, 13, false},
    {"ISkyloomWinFarm5", 0xED62F5BE, 11, false},
    {"ISkyloomWinFarm6", 0xED62F5D7, 12, false},
    {"ISkyloomZone", 0xED62F4FC, 4, false},
    {"ISkyloomZone2", 0xED62F4FD, 1, false},
    {"ISkyloomZone3", 0xED62F5D3, 2, false},
    {"ISkyloomAccountAuthority", 0xED62F4F9, 6, false},
    {"ISkyloomAccountAuthority2", 0xED62F54A, 3, false},
    {"ISkyloomAccountAuthority3", 0xED62F5BA, 1, false},
    {"ISkyloomUsers", 0xED62F515, 5, false},
    {"ISkyloomGroups", 0xED62F516, 5, false},
    {"ISkyloomApplication", 0xED62F4F7, 29, false},
    {"ISkyloomApplication2", 0xED62F539, 8, false},
    {"ISkyloomApplication3", 0xED62F56F, 19, false},
    {"ISkyloomApplication4", 0xED62F58D, 32, false},
    {"ISkyloomApplication5", 0xED62F5C7, 9, false},
    {"ISkyloomAppSrvBinding", 0xED62F526, 8, false},
    {"ISkyloomAppSrvBinding2", 0xED62F594, 14, false},
    {"ISkyloomWinApp", 0xED62F4F8, 53, false},
    {"ISkyloomWinApp2", 0xED62F52D, 17, false},
    {"ISkyloomWinApp3", 0xED62F570, 24, false},
    {"ISkyloomWinApp4", 0xED62F591, 44, false},
    {"ISkyloomWinApp5", 0xED62F5CE, 8, false},
    {"ISkyloomServer", 0xED62F4F5, 18, false},
    {"ISkyloomServer2", 0xED62F541, 7, false},
    {"ISkyloomServer3", 0xED62F57D, 4, false},
    {"ISkyloomServer4", 0xED62F597, 17, false},
    {"ISkyloomServer5", 0xED62F5C2, 13, false},
    {"ISkyloomProcesses", 0xED62F517, 5, false},
    {"ISkyloomWinServer", 0xED62F4F6, 52, false},
    {"ISkyloomWinServer2", 0xED62F530, 22, false},
    {"ISkyloomWinServer3", 0xED62F57E, 20, false},
    {"ISkyloomWinServer4", 0xED62F59A, 25, false},
    {"ISkyloomWinServer5", 0xED62F5D2, 16, false},
    {"ISkyloomSession", 0xED62F4EB, 41, false},
    {"ISkyloomSession2", 0xED62F508, 3, false},
    {"ISkyloomSession3", 0xED62F563, 2, false},
    {"ISkyloomSession4", 0xED62F59C, 17, false},
    {"ISkyloomSession5", 0xED62F5DD, 3, false},
    {"ISkyloomTime", 0xED62F51C, 12, false},
    {"ISkyloomChannels", 0xED62F519, 5, false},
    {"ISkyloomProcess", 0xED62F4FE, 9, false},
    {"ISkyloomProcess2", 0xED62F56B, 1, false},
    {"ISkyloomWinProcess", 0xED62F524, 20, false},
    {"ISkyloomWinProcess2", 0xED62F56C, 1, false},
    {"ISkyloomVirtualChannel", 0xED62F4FF, 7, false},
    {"ISkyloomVirtualChannel2", 0xED62F59D, 7, false},
    {"ISkyloomFolder", 0xED62F520, 13, false},
    {"ISkyloomFolder2", 0xED62F549, 4, false},
    {"ISkyloomFolder3", 0xED62F589, 11, false},
    {"ISkyloomFolder4", 0xED62F590, 21, false},
    {"ISkyloomFolder5", 0xED62F5CA, 11, false},
    {"ISkyloomFolders", 0xED62F51E, 5, false},
    {"ISkyloomFolders2", 0xED62F5B3, 6, false},
    {"ISkyloomAppFolder", 0xED62F521, 4, false},
    {"ISkyloomAppFolder2", 0xED62F53B, 1, false},
    {"ISkyloomAppFolder3", 0xED62F58A, 6, false},
    {"ISkyloomAppFolder4", 0xED62F58F, 2, false},
    {"ISkyloomAppFolder5", 0xED62F5C9, 2, false},
    {"ISkyloomSrvFolder", 0xED62F522, 4, false},
    {"ISkyloomSrvFolder2", 0xED62F58B, 4, false},
    {"ISkyloomSrvFolder3", 0xED62F598, 4, false},
    {"ISkyloomSrvFolder4", 0xED62F5CD, 2, false},
    {"ISkyloomEventQueue", 0xED62F528, 7, false},
    {"ISkyloomEventQueue2", 0xED62F529, 1, false},
    {"ISkyloomEventQueue3", 0xED62F546, 1, false},
    {"ISkyloomPrinters", 0xED62F54E, 5, false},
    {"ISkyloomPrinters2", 0xED62F600, 5, false},
    {"ISkyloomPrinterDrivers", 0xED62F54F, 5, false},
    {"ISkyloomPrinterDrivers2", 0xED62F5DA, 3, false},
    {"ISkyloomMySessions", 0xED62F562, 7, false},
    {"ISkyloomMyServers", 0xED62F568, 11, false},
    {"ISkyloomMyServers2", 0xED62F5B9, 2, false},
    {"ISkyloomMyServer", 0xED62F567, 6, false},
    {"ISkyloomMyServer2", 0xED62F5BD, 9, false},
    {"ISkyloomSmartCardSetting", 0xED62F566, 4, false},
    {"ISkyloomMultiString", 0xED62F564, 8, false},
    {"ISkyloomMultiString2", 0xED62F5A9, 2, false},
    {"ISkyloomMultiString3", 0xED62F5FE, 2, false},
    {"ISkyloomFileTypes", 0xED62F52F, 5, false},
    {"ISkyloomPolicies", 0xED62F533, 5, false},
    {"ISkyloomPolicies2", 0xED62F5AF, 3, false},
    {"ISkyloomCredential", 0xED62F555, 10, false},
    {"ISkyloomPrinterDriverMappings", 0xED62F55E, 5, false},
    {"ISkyloomClientPrinters", 0xED62F55F, 5, false},
    {"ISkyloomFleetview", 0xED62F581, 2, false},
    {"ISkyloomMyAccounts", 0xED62F57B, 11, false},
    {"ISkyloomMyAccount", 0xED62F57A, 11, false},
    {"ISkyloomPolicy", 0xED62F535, 11, false},
    {"ISkyloomPolicy2", 0xED62F574, 9, false},
    {"ISkyloomPolicy3", 0xED62F5AE, 5, false},
    {"ISkyloomPolicy4", 0xED62F5E1, 2, false},
    {"ISkyloomUserPolicy", 0xED62F536, 51, false},
    {"ISkyloomUserPolicy2", 0xED62F575, 55, false},
    {"ISkyloomUser", 0xED62F500, 7, false},
    {"ISkyloomUser2", 0xED62F548, 4, false},
    {"ISkyloomUser3", 0xED62F572, 2, false},
    {"ISkyloomUser4", 0xED62F5BB, 1, false},
    {"ISkyloomUser5", 0xED62F5DC, 1, false},
    {"ISkyloomGroup", 0xED62F501, 8, false},
    {"ISkyloomGroup2", 0xED62F559, 4, false},
    {"ISkyloomGroup3", 0xED62F573, 1, false},
    {"ISkyloomGroup4", 0xED62F5BC, 1, false},
    {"ISkyloomGroup5", 0xED62F5E2, 1, false},
    {"ISkyloomID", 0xED62F57F, 6, false},
    {"ISkyloomAdministrators", 0xED62F585, 5, false},
    {"ISkyloomAdministrator", 0xED62F584, 10, false},
    {"ISkyloomAdministrator2", 0xED62F5B0, 17, false},
    {"ISkyloomAdministrator3", 0xED62F5D1, 6, false},
    {"ISkyloomPrivileges", 0xED62F586, 8, false},
    {"ISkyloomPrivileges2", 0xED62F5B5, 11, false},
    {"ISkyloomPrivileges3", 0xED62F5D0, 2, false},
    {"ISkyloomAccountFolder", 0xED62F547, 7, false},
    {"ISkyloomAccountFolder2", 0xED62F58C, 4, false},
    {"ISkyloomAccountFolder3", 0xED62F593, 3, false},
    {"ISkyloomAccountFolder4", 0xED62F5CB, 2, false},
    {"ISkyloomContent", 0xED62F53A, 33, false},
    {"ISkyloomContent2", 0xED62F571, 18, false},
    {"ISkyloomContent3", 0xED62F592, 13, false},
    {"ISkyloomContent4", 0xED62F5CF, 8, false},
    {"ISkyloomSwiftpane", 0xED62F5BF, 26, false},
    {"ISkyloomAppSrvBindings", 0xED62F595, 14, false},
    {"ISkyloomLoadEvaluator", 0xED62F5A4, 29, false},
    {"ISkyloomLMRules", 0xED62F5A3, 9, false},
    {"ISkyloomSessionPolicy", 0xED62F5AB, 71, false},
    {"ISkyloomSessionPolicy2", 0xED62F5DF, 38, false},
    {"ISkyloomLoadEvaluators", 0xED62F5A5, 5, false},
    {"ISkyloomIcon", 0xED62F5C4, 6, false},
    {"ISkyloomFiles", 0xED62F5C0, 5, false},
    {"ISkyloomProducts", 0xED62F601, 5, false},
    {"ISkyloomVIPRanges", 0xED62F5D6, 5, false},
    {"ISkyloomAIEFolder", 0xED62F5EC, 4, false},
    {"ISkyloomAIEs", 0xED62F5F2, 5, false},
    {"ISkyloomAIE", 0xED62F5ED, 20, false},
    {"ISkyloomPolicyFilter", 0xED62F5AC, 28, false},
    {"ISkyloomPolicyFilter2", 0xED62F5FB, 6, false},
    {"ISkyloomVCPolicy", 0xED62F578, 11, false},
    {"ISkyloomCDPolicy", 0xED62F580, 8, false},
    {"ISkyloomPrinter", 0xED62F550, 23, false},
    {"ISkyloomPrinter2", 0xED62F5FF, 8, false},
    {"ISkyloomPrinterDriver", 0xED62F553, 4, false},
    {"ISkyloomPrinterDriver2", 0xED62F5DB, 5, false},
    {"ISkyloomPrinterDriverMapping", 0xED62F55D, 8, false},
    {"ISkyloomClientPrinter", 0xED62F560, 13, false},
    {"ISkyloomLMRule", 0xED62F5A2, 20, false},
    {"ISkyloomLMRule2", 0xED62F5E5, 2, false},
    {"ISkyloomIPRanges", 0xED62F5E4, 8, false},
    {"ISkyloomMe", 0xED62F5B1, 7, true},
    {"ISkyloomMe2", 0xED62F5CC, 3, true},
    {"ISkyloomFile", 0xED62F5C3, 9, false},
    {"ISkyloomIcons", 0xED62F5C1, 5, false},
    {"ISkyloomIPRange", 0xED62F5E3, 4, false},
    {"ISkyloomVIPRange", 0xED62F5D4, 12, false},
    {"ISkyloomAIERoot", 0xED62F5EE, 8, false},
    {"ISkyloomAIESrvBinding", 0xED62F5EF, 7, false},
    {"ISkyloomAIERule", 0xED62F5F0, 14, false},
    {"ISkyloomAIERules", 0xED62F5F4, 7, false},
    {"ISkyloomClientModule", 0xED62F523, 4, false},
    {"ISkyloomFileType", 0xED62F52E, 6, false},
    {"ISkyloomFileType2", 0xED62F59F, 3, false},
    {"ISkyloomHotfix", 0xED62F538, 5, false},
    {"ISkyloomHotfix2", 0xED62F5FC, 5, false},
    {"ISkyloomProduct", 0xED62F5FD, 3, false},
    {"ISkyloomError", 0xED62F599, 3, false},
    {"ISkyloomAIESrvBindings", 0xED62F5F3, 5, false},
    {"ISkyloomServerResMgmt", 0xED62F5F5, 11, false},
};

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* const kCounts = "type descriptions: 321\n"
                            "coclasses: 47\n"
                            "interfaces: 180\n"
                            "dual interfaces: 180\n"
                            "hidden interfaces: 2\n"
                            "enumerations: 47\n"
                            "aliases: 47\n"
                            "enumeration constants: 394\n"
                            "families: 91\n"
                            "members: 1897\n"
                            "property getters: 1040\n"
                            "property setters: 425\n"
                            "methods: 432\n"
                            "_NewEnum members: 32\n"
                            "collections with Reset and Skip after Item: 26\n";

void checkAgainstTheList(const idlc::Catalogue& c) {
    std::string counts = idlc::format(c);
    counts.resize(counts.find("interface "));
    EXPECT_EQ(counts, kCounts);
    ASSERT_EQ(c.interfaceLines.size(), std::size(kInterfaces));
    for (std::size_t i = 0; i < std::size(kInterfaces); ++i) {
        const auto& line = c.interfaceLines[i];
        const Expected& e = kInterfaces[i];
        EXPECT_EQ(line.name, e.name);
        EXPECT_EQ(line.iid.Data1, e.iidFirstGroup) << e.name;
        EXPECT_EQ(idlc::guidString(line.iid).substr(10), "63C2-11D4-94D8-00C04FB0F326}") << e.name;
        EXPECT_EQ(line.ownMembers, e.ownMembers) << e.name;
    }
}

TEST(SkyloomCom, TheIdlHasTheLibrarysFigures) {
    idlc::Library lib = idlc::parse(SKYLOOMCOM_IDL_PATH, readText(SKYLOOMCOM_IDL_PATH));
    idlc::analyze(lib);
    checkAgainstTheList(idlc::catalogueOf(lib));
    EXPECT_EQ(lib.name, "SkyloomCOM");
    EXPECT_EQ(idlc::guidString(lib.libid), "{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}");
    EXPECT_EQ(lib.versionMajor, 4);
    EXPECT_EQ(lib.versionMinor, 0);
    EXPECT_EQ(lib.lcid, 0x409u);
    EXPECT_EQ(lib.helpString, "Vantor Skyloom COM Library");
    std::set<std::string> hidden;
    for (const auto& itf : lib.interfaces)
        if (itf.hidden)
            hidden.insert(itf.name);
    std::set<std::string> expectedHidden;
    for (const Expected& e : kInterfaces)
        if (e.hidden)
            expectedHidden.insert(e.name);
    EXPECT_EQ(hidden, expectedHidden);
}

class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        std::u16string path = sky::widen(SKYLOOMCOM_TLB_PATH);
        ASSERT_EQ(LoadTypeLib(path.c_str(), &lib), S_OK);
    }
    void TearDown() override {
        if (lib)
            lib->Release();
    }
    ITypeLib* lib = nullptr;
};

TEST_F(LoadedLibrary, GivesTheSameCatalogueAsTheIdl) {
    idlc::Catalogue fromTlb;
    ASSERT_EQ(idlc::catalogueOf(lib, fromTlb), S_OK);
    checkAgainstTheList(fromTlb);
    idlc::Library idl = idlc::parse(SKYLOOMCOM_IDL_PATH, readText(SKYLOOMCOM_IDL_PATH));
    idlc::analyze(idl);
    EXPECT_EQ(idlc::format(fromTlb), idlc::format(idlc::catalogueOf(idl)));
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == LIBID_SkyloomCOM);
    EXPECT_EQ(attr->wMajorVerNum, 4);
    EXPECT_EQ(attr->lcid, 1033u);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    lib->ReleaseTLibAttr(attr);
}

// Depth of a vtable face: interfaces from it down to IDispatch.
int depthOf(ITypeInfo* face) {
    int depth = 0;
    face->AddRef();
    for (ITypeInfo* at = face; at;) {
        TYPEATTR* attr = nullptr;
        at->GetTypeAttr(&attr);
        bool standard = attr->guid == IID_IDispatch || attr->guid == IID_IUnknown;
        at->ReleaseTypeAttr(attr);
        ITypeInfo* base = nullptr;
        HREFTYPE href;
        if (!standard && SUCCEEDED(at->GetRefTypeOfImplType(0, &href)))
            at->GetRefTypeInfo(href, &base);
        at->Release();
        if (standard)
            break;
        ++depth;
        at = base;
    }
    return depth;
}

TEST_F(LoadedLibrary, EveryMemberFollowsTheDispatchIdentifierRule) {
    int checked = 0, newEnums = 0;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        lib->GetTypeInfoType(i, &kind);
        if (kind != TKIND_DISPATCH)
            continue;
        ITypeInfo *info = nullptr, *face = nullptr;
        ASSERT_EQ(lib->GetTypeInfo(i, &info), S_OK);
        HREFTYPE href;
        ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
        ASSERT_EQ(info->GetRefTypeInfo(href, &face), S_OK);
        int depth = depthOf(face);
        TYPEATTR* attr = nullptr;
        face->GetTypeAttr(&attr);
        std::map<std::string, int> firstSlot;
        for (UINT k = 0; k < attr->cFuncs; ++k) {
            FUNCDESC* fd = nullptr;
            ASSERT_EQ(face->GetFuncDesc(k, &fd), S_OK);
            BSTR name = nullptr;
            UINT count = 0;
            face->GetNames(fd->memid, &name, 1, &count);
            std::string member = sky::narrow(name);
            SysFreeString(name);
            firstSlot.emplace(member, static_cast<int>(k));
            MEMBERID expected =
                member == "_NewEnum"
                    ? DISPID_NEWENUM
                    : static_cast<MEMBERID>((static_cast<DWORD>(0x6001 + depth) << 16) |
                                            static_cast<DWORD>(firstSlot[member]));
            EXPECT_EQ(fd->memid, expected) << member << " at slot " << k;
            if (member == "_NewEnum") {
                EXPECT_EQ(k, 0u);
                ++newEnums;
            }
            face->ReleaseFuncDesc(fd);
            ++checked;
        }
        face->ReleaseTypeAttr(attr);
        face->Release();
        info->Release();
    }
    EXPECT_EQ(checked, 1897);
    EXPECT_EQ(newEnums, 32);
}

TEST_F(LoadedLibrary, TheSixthFarmInterfaceStartsAt0x60070000) {
    ITypeInfo *info = nullptr, *face = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_ISkyloomFarm6, &info), S_OK);
    HREFTYPE href;
    ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
    ASSERT_EQ(info->GetRefTypeInfo(href, &face), S_OK);
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(face->GetFuncDesc(0, &fd), S_OK);
    EXPECT_EQ(fd->memid, 0x60070000);
    face->ReleaseFuncDesc(fd);
    face->Release();
    info->Release();
}

// A farm object as the object model module would write one: the farm family and the farm's
// Windows settings family, everything not implemented answering E_NOTIMPL.
class Farm final : public sky::ComObject<ISkyloomFarm6NotImpl, ISkyloomWinFarm6NotImpl> {
public:
    HRESULT STDMETHODCALLTYPE Initialize(SkyloomObjectType FarmType) override {
        type = FarmType;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FarmName(BSTR* pVal) override {
        *pVal = SysAllocString(u"North Farm");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RenameZone(BSTR OldName, BSTR NewName) override {
        renamed = std::u16string(OldName) + u">" + NewName;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsVantorAdministrator(LONG* pVal) override {
        *pVal = 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_NoRedundantGraphics(LONG newVal) override {
        noRedundantGraphics = newVal;
        return S_OK;
    }
    // Every version of GetApplication lands here, with the version asked for.
    HRESULT GetApplicationAs(SkyloomObjectType AppType, BSTR AppDN, REFIID riid,
                             void** out) override {
        type = AppType;
        renamed = AppDN ? AppDN : u"";
        askedFor = riid;
        *out = nullptr;
        return S_FALSE;
    }

    IID askedFor = IID_NULL;
    SkyloomObjectType type = SkyloomUnknownObject;
    std::u16string renamed;
    LONG noRedundantGraphics = 0;

private:
    ~Farm() = default;
};

DISPID idOf(IDispatch* d, const char16_t* name) {
    std::u16string copy(name);
    LPOLESTR names[] = {copy.data()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << sky::narrow(copy);
    return id;
}

TEST(FarmObject, AnswersByNameThroughTheGeneratedTables) {
    Farm* farm = new Farm;
    IDispatch* d = nullptr;
    ASSERT_EQ(farm->query(IID_ISkyloomFarm6, reinterpret_cast<void**>(&d)), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(d->Invoke(idOf(d, u"farmname"), IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result,
                        nullptr, nullptr),
              S_OK);
    EXPECT_EQ(std::u16string(result.bstrVal), u"North Farm");
    VariantClear(&result);

    VARIANT init;
    VariantInit(&init);
    init.vt = VT_BSTR;
    init.bstrVal = SysAllocString(u"1");
    DISPPARAMS one{&init, nullptr, 1, 0};
    ASSERT_EQ(d->Invoke(idOf(d, u"Initialize"), IID_NULL, 0, DISPATCH_METHOD, &one, &result,
                        nullptr, nullptr),
              S_OK);
    EXPECT_EQ(farm->type, SkyloomWinFarmObject);
    VariantClear(&init);

    VARIANT names[2];
    VariantInit(&names[0]);
    VariantInit(&names[1]);
    names[1].vt = VT_BSTR;
    names[1].bstrVal = SysAllocString(u"East");
    names[0].vt = VT_I4;
    names[0].lVal = 7;
    DISPPARAMS two{names, nullptr, 2, 0};
    ASSERT_EQ(d->Invoke(idOf(d, u"RENAMEZONE"), IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                        &two, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(farm->renamed, u"East>7");
    VariantClear(&names[1]);

    // A member nobody implements: E_NOTIMPL with its description.
    EXCEPINFO info;
    EXPECT_EQ(d->Invoke(idOf(d, u"LocalServerName"), IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                        &result, &info, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_NOTIMPL);
    EXPECT_EQ(sky::narrow(info.bstrDescription),
              "ISkyloomFarm::LocalServerName is not implemented");
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    d->Release();

    // The Windows settings side: the administrator check and a property put.
    IDispatch* settings = nullptr;
    ASSERT_EQ(farm->query(IID_ISkyloomWinFarm5, reinterpret_cast<void**>(&settings)), S_OK);
    ASSERT_EQ(settings->Invoke(idOf(settings, u"IsVantorAdministrator"), IID_NULL, 0,
                               DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 2);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(u"1");
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS assign{&value, &put, 1, 1};
    ASSERT_EQ(settings->Invoke(idOf(settings, u"NoRedundantGraphics"), IID_NULL, 0,
                               DISPATCH_PROPERTYPUT, &assign, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(farm->noRedundantGraphics, 1);
    VariantClear(&value);
    settings->Release();
    farm->Release();
}

TEST(FarmObject, EveryFaceAnswersTheMembersOfTheOthersByName) {
    sky::ComPtr<ISkyloomFarm6> farm(sky::makeObject<Farm>());
    // The settings face, as WinFarmObject hands it out, asked for a member of the farm face, and
    // the farm face asked for the administrator check; each through its own IDispatch.
    sky::ComPtr<IDispatch> settings = farm.as<ISkyloomWinFarm>();
    EXPECT_EQ(sky::getProperty(settings.get(), u"farmName").toUtf8(), "North Farm");
    EXPECT_EQ(sky::getProperty(farm.get(), u"IsVantorAdministrator").toInt32(), 2);
    sky::putProperty(farm.get(), u"NoRedundantGraphics", sky::Variant(std::int32_t{5}));
    EXPECT_EQ(static_cast<Farm*>(farm.get())->noRedundantGraphics, 5);
    sky::callMethod(settings.get(), u"RenameZone", u"West", u"North");
    EXPECT_EQ(static_cast<Farm*>(farm.get())->renamed, u"West>North");

    // The other face's member gets an identifier of the range that stands for it; its own
    // members keep theirs, and a name no face has is unknown.
    const DISPID other = sky::dispatchId(settings.get(), u"FarmName");
    EXPECT_TRUE(sky::dispatch::isOtherFaceId(other)) << std::hex << other;
    EXPECT_FALSE(sky::dispatch::isOtherFaceId(sky::dispatchId(farm.get(), u"FarmName")));
    std::u16string unknown = u"NoSuchMember";
    LPOLESTR names[] = {unknown.data()};
    DISPID id = 0;
    EXPECT_EQ(settings->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);

    // An identifier of the range that names no member of any face.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(settings->Invoke(sky::dispatch::kOtherFaceFirst | 0xFFFF, IID_NULL, 0,
                               DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(settings->Invoke(sky::dispatch::kOtherFaceFirst | (0x7F << 16), IID_NULL, 0,
                               DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST(FarmObject, NoTableOfTheLibraryUsesTheOtherFacesRange) {
    const sky::dispatch::Table* tables[] = {
        &sky::dispatch::TableOf<ISkyloomFarm6>::get(),
        &sky::dispatch::TableOf<ISkyloomWinFarm6>::get(),
        &sky::dispatch::TableOf<ISkyloomApplication5>::get(),
        &sky::dispatch::TableOf<ISkyloomWinApp5>::get(),
        &sky::dispatch::TableOf<ISkyloomServer5>::get(),
        &sky::dispatch::TableOf<ISkyloomFolder5>::get(),
    };
    for (const sky::dispatch::Table* table : tables)
        for (WORD i = 0; i < table->memberCount; ++i)
            EXPECT_FALSE(sky::dispatch::isOtherFaceId(table->members[i].dispid))
                << sky::narrow(table->name) << "::" << sky::narrow(table->members[i].name);
}

TEST(FarmObject, IsFoundForEveryInterfaceOfItsFamiliesAndNoOther) {
    Farm* farm = new Farm;
    for (const IID* iid :
         {&IID_ISkyloomFarm, &IID_ISkyloomFarm2, &IID_ISkyloomFarm3, &IID_ISkyloomFarm4,
          &IID_ISkyloomFarm5, &IID_ISkyloomFarm6, &IID_ISkyloomWinFarm, &IID_ISkyloomWinFarm6}) {
        IUnknown* p = nullptr;
        EXPECT_EQ(farm->query(*iid, reinterpret_cast<void**>(&p)), S_OK);
        if (p)
            p->Release();
    }
    IUnknown* p = nullptr;
    EXPECT_EQ(farm->query(IID_ISkyloomServer, reinterpret_cast<void**>(&p)), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    farm->Release();
}

TEST(FarmObject, ForwardsEveryVersionOfAMemberToTheOneTheObjectImplements) {
    sky::ComPtr<ISkyloomFarm6> farm(sky::makeObject<Farm>());
    ISkyloomApplication* first = reinterpret_cast<ISkyloomApplication*>(1);
    ISkyloomApplication4* fourth = nullptr;
    ISkyloomApplication5* fifth = nullptr;
    BSTR dn = SysAllocString(u"Applications/Editor");
    const auto askedFor = [&] { return static_cast<Farm*>(farm.get())->askedFor; };

    EXPECT_EQ(farm->GetApplication(SkyloomWinAppObject, dn, &first), S_FALSE);
    EXPECT_TRUE(IsEqualIID(askedFor(), IID_ISkyloomApplication));
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(farm->GetApplication4(SkyloomContentObject, dn, &fourth), S_FALSE);
    EXPECT_TRUE(IsEqualIID(askedFor(), IID_ISkyloomApplication4));
    EXPECT_EQ(farm->GetApplication5(SkyloomWinAppObject, dn, &fifth), S_FALSE);
    EXPECT_TRUE(IsEqualIID(askedFor(), IID_ISkyloomApplication5));
    EXPECT_EQ(static_cast<Farm*>(farm.get())->renamed, u"Applications/Editor");
    EXPECT_EQ(static_cast<Farm*>(farm.get())->type, SkyloomWinAppObject);
    SysFreeString(dn);

    // A member in versions that the object does not implement names the version called.
    ISkyloomServer4* server = nullptr;
    EXPECT_EQ(farm->GetServer4(SkyloomWinFarmObject, nullptr, &server), E_NOTIMPL);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR description = nullptr;
    ASSERT_EQ(info->GetDescription(&description), S_OK);
    EXPECT_EQ(sky::narrow(description), "ISkyloomFarm5::GetServer4 is not implemented");
    SysFreeString(description);
    info->Release();
    ISkyloomServer* oldest = nullptr;
    EXPECT_EQ(farm->GetServer(SkyloomWinFarmObject, nullptr, &oldest), E_NOTIMPL);
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    ASSERT_EQ(info->GetDescription(&description), S_OK);
    EXPECT_EQ(sky::narrow(description), "ISkyloomFarm::GetServer is not implemented");
    SysFreeString(description);
    info->Release();
}

} // namespace

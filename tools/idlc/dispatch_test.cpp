// IDispatch by name on an object that implements generated interfaces.
#include <gtest/gtest.h>

#include <vector>

#include "farmlet_object.h"

namespace idlc::testing {
namespace {

// Arguments in reading order, stored reversed as DISPPARAMS wants them.
class Args {
public:
    Args& add(VARIANT v) {
        values_.insert(values_.begin(), v);
        return *this;
    }
    Args& str(const char16_t* s) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(s);
        return add(v);
    }
    Args& i4(LONG n) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = n;
        return add(v);
    }
    Args& missing() {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_ERROR;
        v.scode = DISP_E_PARAMNOTFOUND;
        return add(v);
    }
    Args& named(DISPID id) {
        names_.insert(names_.begin(), id);
        return *this;
    }
    DISPPARAMS* params() {
        dp_ = {values_.data(), names_.data(), static_cast<UINT>(values_.size()),
               static_cast<UINT>(names_.size())};
        return &dp_;
    }
    ~Args() {
        for (auto& v : values_)
            VariantClear(&v);
    }

private:
    std::vector<VARIANT> values_;
    std::vector<DISPID> names_;
    DISPPARAMS dp_{};
};

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override {
        object = new FarmletObject;
        ASSERT_EQ(object->query(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
    }
    void TearDown() override {
        disp->Release();
        object->Release();
    }

    DISPID id(const char16_t* name) {
        std::u16string copy(name);
        LPOLESTR names[] = {copy.data()};
        DISPID out = 0;
        EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &out), S_OK)
            << sky::narrow(copy);
        return out;
    }

    HRESULT call(const char16_t* name, WORD flags, Args& args, VARIANT* result,
                 EXCEPINFO* info = nullptr, UINT* argErr = nullptr) {
        VariantInit(result);
        return disp->Invoke(id(name), IID_NULL, LOCALE_USER_DEFAULT, flags, args.params(), result,
                            info, argErr);
    }

    FarmletObject* object = nullptr;
    IDispatch* disp = nullptr;
};

TEST_F(Dispatch, GetIDsOfNamesIgnoresCaseAndResolvesParameterNames) {
    EXPECT_EQ(id(u"FarmName"), 0x60020001);
    EXPECT_EQ(id(u"farmname"), 0x60020001);
    EXPECT_EQ(id(u"FARMNAME"), 0x60020001);
    EXPECT_EQ(id(u"swap"), 0x60040002);

    std::u16string add = u"add", b = u"B", c = u"c", nope = u"nope";
    LPOLESTR names[] = {add.data(), b.data(), nope.data(), c.data()};
    DISPID ids[4];
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 4, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 0x60020006);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);
    EXPECT_EQ(ids[3], 2);

    LPOLESTR unknown[] = {nope.data()};
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

// An object with two dual faces, asked for IDispatch through the second, answers with that face:
// its names are the second face's first, the first face's answer through it too (with an
// identifier of the other faces' range), and it is still the one object.
TEST_F(Dispatch, ASecondFaceAskedForIDispatchAnswersWithItsOwnNames) {
    IFarmletSettings* settings = nullptr;
    ASSERT_EQ(object->get_Settings(&settings), S_OK);
    IDispatch* plain = nullptr;
    ASSERT_EQ(settings->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&plain)), S_OK);
    EXPECT_EQ(static_cast<void*>(plain), static_cast<void*>(settings));
    std::u16string isAdmin = u"IsAdmin", farmName = u"FarmName";
    LPOLESTR names[] = {isAdmin.data()};
    DISPID found = 0;
    EXPECT_EQ(plain->GetIDsOfNames(IID_NULL, names, 1, 0, &found), S_OK);
    EXPECT_FALSE(sky::dispatch::isOtherFaceId(found));
    names[0] = farmName.data();
    EXPECT_EQ(plain->GetIDsOfNames(IID_NULL, names, 1, 0, &found), S_OK);
    EXPECT_TRUE(sky::dispatch::isOtherFaceId(found));
    std::u16string nope = u"NoSuchName";
    names[0] = nope.data();
    EXPECT_EQ(plain->GetIDsOfNames(IID_NULL, names, 1, 0, &found), DISP_E_UNKNOWNNAME);

    // The first face asked the same is still the first; IUnknown is one pointer whoever asks.
    IDispatch* first = nullptr;
    ASSERT_EQ(disp->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&first)), S_OK);
    EXPECT_EQ(first, disp);
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    ASSERT_EQ(plain->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(a, b);
    for (IUnknown* p : {static_cast<IUnknown*>(settings), static_cast<IUnknown*>(plain),
                        static_cast<IUnknown*>(first), a, b})
        p->Release();
}

TEST_F(Dispatch, GetsAPropertyDeclaredInABaseInterface) {
    Args none;
    VARIANT result;
    ASSERT_EQ(call(u"FarmName", DISPATCH_PROPERTYGET, none, &result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(result.bstrVal), u"Alpha");
    VariantClear(&result);
    ASSERT_EQ(call(u"Fixed", DISPATCH_PROPERTYGET, none, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 7);
}

TEST_F(Dispatch, CallsAMethodConvertingItsArguments) {
    Args args;
    args.str(u"2").str(u"3.5");
    VARIANT result;
    ASSERT_EQ(call(u"Add", DISPATCH_METHOD, args, &result), S_OK);
    ASSERT_EQ(result.vt, VT_R8);
    EXPECT_DOUBLE_EQ(result.dblVal, 15.5); // c defaults to 10

    Args three;
    VARIANT small;
    VariantInit(&small);
    small.vt = VT_I2;
    small.iVal = 1;
    three.i4(2).str(u"0.25").add(small);
    ASSERT_EQ(call(u"Add", DISPATCH_METHOD | DISPATCH_PROPERTYGET, three, &result), S_OK);
    EXPECT_DOUBLE_EQ(result.dblVal, 3.25);
}

TEST_F(Dispatch, FillsDefaultsAndMissingOptionalVariants) {
    Args args;
    args.str(u"a");
    VARIANT result;
    ASSERT_EQ(call(u"Join", DISPATCH_METHOD, args, &result), S_OK);
    EXPECT_EQ(std::u16string(result.bstrVal), u"a-(none)");
    VariantClear(&result);

    Args given;
    given.str(u"a").missing().str(u"z");
    ASSERT_EQ(call(u"Join", DISPATCH_METHOD, given, &result), S_OK);
    EXPECT_EQ(std::u16string(result.bstrVal), u"a-z");
    VariantClear(&result);

    // By name: extra = "q", a = "p" (named arguments arrive in any order).
    Args named;
    named.str(u"q").named(2).str(u"p").named(0);
    ASSERT_EQ(call(u"Join", DISPATCH_METHOD, named, &result), S_OK);
    EXPECT_EQ(std::u16string(result.bstrVal), u"p-q");
    VariantClear(&result);
}

TEST_F(Dispatch, PutsAPropertyAndRejectsAPutOnAReadOnlyOne) {
    Args value;
    value.str(u"Beta").named(DISPID_PROPERTYPUT);
    VARIANT result;
    ASSERT_EQ(call(u"FarmName", DISPATCH_PROPERTYPUT, value, &result), S_OK);
    EXPECT_EQ(object->name, u"Beta");

    Args flag;
    flag.str(u"True").named(DISPID_PROPERTYPUT);
    ASSERT_EQ(call(u"Enabled", DISPATCH_PROPERTYPUT, flag, &result), S_OK);
    EXPECT_EQ(object->enabled, VARIANT_TRUE);

    Args count;
    count.i4(3).named(DISPID_PROPERTYPUT);
    EXPECT_EQ(call(u"ServerCount", DISPATCH_PROPERTYPUT, count, &result), DISP_E_MEMBERNOTFOUND);
}

TEST_F(Dispatch, PutsAnIndexedPropertyWithItsValueNamed) {
    Args args;
    args.i4(4).str(u"v").named(DISPID_PROPERTYPUT);
    VARIANT result;
    ASSERT_EQ(call(u"Value", DISPATCH_PROPERTYPUT, args, &result), S_OK);
    EXPECT_EQ(object->lastIndex, 4);
    EXPECT_EQ(object->lastValueType, VT_BSTR);
    Args get;
    get.str(u"3");
    ASSERT_EQ(call(u"Value", DISPATCH_PROPERTYGET, get, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 300);
}

TEST_F(Dispatch, TellsWhatIsWrongWithACall) {
    VARIANT result;
    Args none;
    EXPECT_EQ(disp->Invoke(0x12345, IID_NULL, 0, DISPATCH_METHOD, none.params(), &result, nullptr,
                           nullptr),
              DISP_E_MEMBERNOTFOUND);
    // A property get called as a method only, and a method called as a get only.
    EXPECT_EQ(call(u"FarmName", DISPATCH_METHOD, none, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(u"Swap", DISPATCH_PROPERTYGET, none, &result), DISP_E_MEMBERNOTFOUND);

    Args tooMany;
    tooMany.i4(1).i4(2).i4(3).i4(4);
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, tooMany, &result), DISP_E_BADPARAMCOUNT);
    Args tooFew;
    tooFew.i4(1);
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, tooFew, &result), DISP_E_BADPARAMCOUNT);
    Args missing;
    missing.missing().i4(2);
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, missing, &result), DISP_E_PARAMNOTOPTIONAL);

    Args mismatch;
    mismatch.i4(1).str(u"not a number");
    UINT argErr = 99;
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, mismatch, &result, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u); // rgvarg[0]: the second argument, arguments being reversed

    Args named;
    named.i4(1).named(0);
    EXPECT_EQ(call(u"FarmName", DISPATCH_PROPERTYGET, named, &result), DISP_E_NONAMEDARGS);
    Args badName;
    badName.i4(1).named(7);
    argErr = 99;
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, badName, &result, nullptr, &argErr),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argErr, 0u);

    EXPECT_EQ(disp->Invoke(0x60020001, IID_IDispatch, 0, DISPATCH_PROPERTYGET, none.params(),
                           &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(Dispatch, ReportsAFailingMemberThroughExcepInfo) {
    Args args;
    args.str(u"no access");
    VARIANT result;
    EXCEPINFO info;
    ASSERT_EQ(call(u"Fail", DISPATCH_METHOD, args, &result, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_ACCESSDENIED);
    ASSERT_NE(info.bstrDescription, nullptr);
    EXPECT_EQ(std::u16string(info.bstrDescription), u"no access");
    EXPECT_EQ(std::u16string(info.bstrSource), u"Farmlet.Host");
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);

    EXPECT_EQ(call(u"Fail", DISPATCH_METHOD, args, &result), E_ACCESSDENIED);
    IErrorInfo* left = nullptr;
    if (GetErrorInfo(0, &left) == S_OK && left)
        left->Release();
}

TEST_F(Dispatch, WritesOutParametersBackThroughReferences) {
    LONG number = 21;
    BSTR text = SysAllocString(u"hi");
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    a.vt = VT_BYREF | VT_I4;
    a.plVal = &number;
    b.vt = VT_BYREF | VT_BSTR;
    b.pbstrVal = &text;
    VARIANT args[] = {b, a};
    DISPPARAMS dp{args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(
        disp->Invoke(id(u"Swap"), IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(std::u16string(text), u"hi!");
    SysFreeString(text);

    VARIANT byValue[] = {b, a};
    byValue[0].vt = VT_BSTR; // an [in, out] parameter needs a reference
    byValue[0].bstrVal = nullptr;
    UINT argErr = 0;
    DISPPARAMS bad{byValue, nullptr, 2, 0};
    EXPECT_EQ(
        disp->Invoke(id(u"Swap"), IID_NULL, 0, DISPATCH_METHOD, &bad, &result, nullptr, &argErr),
        DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
}

TEST_F(Dispatch, ReturnsInterfacesAsDispatchAndEnumerationsAsLong) {
    Args none;
    VARIANT result;
    ASSERT_EQ(call(u"Settings", DISPATCH_PROPERTYGET, none, &result), S_OK);
    ASSERT_EQ(result.vt, VT_DISPATCH);
    ASSERT_NE(result.pdispVal, nullptr);
    // The settings object answers its own members by name.
    std::u16string isAdmin = u"IsAdmin";
    LPOLESTR names[] = {isAdmin.data()};
    DISPID adminId;
    ASSERT_EQ(result.pdispVal->GetIDsOfNames(IID_NULL, names, 1, 0, &adminId), S_OK);
    VARIANT admin;
    VariantInit(&admin);
    ASSERT_EQ(result.pdispVal->Invoke(adminId, IID_NULL, 0, DISPATCH_PROPERTYGET, none.params(),
                                      &admin, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(admin.vt, VT_I4);
    EXPECT_EQ(admin.lVal, 5);
    VariantClear(&result);

    Args kind;
    kind.str(u"16");
    ASSERT_EQ(call(u"Initialize", DISPATCH_METHOD, kind, &result), S_OK);
    EXPECT_EQ(object->kind, FarmletApp);
    EXPECT_EQ(result.vt, VT_EMPTY);
    ASSERT_EQ(call(u"Kind", DISPATCH_PROPERTYGET, none, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, FarmletApp);
}

TEST_F(Dispatch, PassesAnObjectArgumentAsTheDeclaredInterface) {
    ItemObject* item = new ItemObject;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = static_cast<IDispatch*>(item);
    DISPPARAMS dp{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(
        disp->Invoke(id(u"Take"), IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, nullptr),
        S_OK);
    EXPECT_EQ(std::u16string(result.bstrVal), u"item-1");
    VariantClear(&result);
    item->AddRef();
    EXPECT_EQ(item->Release(), 1u);

    // The farm object is no item.
    arg.pdispVal = disp;
    UINT argErr = 9;
    EXPECT_EQ(
        disp->Invoke(id(u"Take"), IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, &argErr),
        DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    item->Release();
}

TEST_F(Dispatch, AnswersQueryInterfaceForItsFamiliesOnly) {
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IFarmlet, &IID_IFarmlet2,
                           &IID_IFarmlet3, &IID_IFarmletSettings, &IID_IFarmletSettings2}) {
        IUnknown* p = nullptr;
        EXPECT_EQ(disp->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
        if (p)
            p->Release();
    }
    IUnknown* p = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(disp->QueryInterface(IID_IFarmletItem, reinterpret_cast<void**>(&p)), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(Dispatch, GivesItsTypeInfo) {
    UINT count = 0;
    ASSERT_EQ(disp->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(disp->GetTypeInfo(0, 0, &info), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(std::u16string(name), u"IFarmlet3");
    SysFreeString(name);
    info->Release();
    EXPECT_EQ(disp->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
}

TEST(CollectionDispatch, AnswersNewEnumAtMinusFourAsScriptsAskForIt) {
    auto* items = new ItemsObject;
    IDispatch* disp = items;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(disp->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                           &none, &result, nullptr, nullptr),
              S_OK);
    ASSERT_EQ(result.vt, VT_UNKNOWN);
    EXPECT_EQ(result.punkVal, static_cast<IUnknown*>(disp));
    VariantClear(&result);
    items->AddRef();
    EXPECT_EQ(items->Release(), 1u);

    // Skip takes an unsigned long: a negative count does not fit.
    VARIANT count;
    VariantInit(&count);
    count.vt = VT_I4;
    count.lVal = 2;
    DISPPARAMS one{&count, nullptr, 1, 0};
    std::u16string skip = u"skip";
    LPOLESTR names[] = {skip.data()};
    DISPID id;
    ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    ASSERT_EQ(disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(items->skipped, 2u);
    count.lVal = -1;
    UINT argErr = 9;
    EXPECT_EQ(disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, &argErr),
              DISP_E_OVERFLOW);
    EXPECT_EQ(argErr, 0u);
    items->Release();
}

} // namespace
} // namespace idlc::testing

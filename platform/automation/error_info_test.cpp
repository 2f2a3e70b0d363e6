#include <gtest/gtest.h>

#include <thread>

#include "sky/automation.h"
#include "testdata/error_of.h"
#include "testdata/sample_object.h"

namespace {

using sky::testclass::errorOf;

using sky::testclass::SAMPLE_E_REFUSED;
using sky::testclass::SampleObject;

ULONG referencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

sky::ComPtr<IErrorInfo> makeError(const char16_t* description) {
    sky::ComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(create.put()), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(description));
    return create.as<IErrorInfo>();
}

TEST(ErrorInfo, ObjectKeepsWhatItIsGiven) {
    sky::ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
    EXPECT_EQ(create->SetGUID(IID_IDispatch), S_OK);
    EXPECT_EQ(create->SetSource(const_cast<LPOLESTR>(u"SkyloomCOM.SkyloomFarm")), S_OK);
    EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(u"The farm store is locked.")), S_OK);
    EXPECT_EQ(create->SetHelpFile(nullptr), S_OK);
    EXPECT_EQ(create->SetHelpContext(17), S_OK);
    auto info = create.as<IErrorInfo>();
    GUID guid{};
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, IID_IDispatch));
    sky::Bstr text;
    EXPECT_EQ(info->GetSource(text.put()), S_OK);
    EXPECT_EQ(text, u"SkyloomCOM.SkyloomFarm");
    EXPECT_EQ(info->GetDescription(text.put()), S_OK);
    EXPECT_EQ(text, u"The farm store is locked.");
    EXPECT_EQ(info->GetHelpFile(text.put()), S_OK);
    EXPECT_EQ(text, u"");
    DWORD context = 0;
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 17u);
}

TEST(ErrorInfo, GetHandsOverAndClears) {
    auto error = makeError(u"first");
    EXPECT_EQ(SetErrorInfo(0, error.get()), S_OK);
    EXPECT_EQ(referencesOf(error.get()), 2u);
    sky::ComPtr<IErrorInfo> taken;
    EXPECT_EQ(GetErrorInfo(0, taken.put()), S_OK);
    EXPECT_EQ(taken.get(), error.get());
    EXPECT_EQ(referencesOf(error.get()), 2u); // the thread's reference went to `taken`
    EXPECT_EQ(GetErrorInfo(0, taken.put()), S_FALSE);
    EXPECT_EQ(taken.get(), nullptr);
    EXPECT_EQ(referencesOf(error.get()), 1u);
}

TEST(ErrorInfo, SettingAgainReleasesThePreviousError) {
    auto first = makeError(u"first");
    auto second = makeError(u"second");
    SetErrorInfo(0, first.get());
    SetErrorInfo(0, second.get());
    EXPECT_EQ(referencesOf(first.get()), 1u);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(referencesOf(second.get()), 1u);
    sky::ComPtr<IErrorInfo> none;
    EXPECT_EQ(GetErrorInfo(0, none.put()), S_FALSE);
    EXPECT_EQ(SetErrorInfo(1, first.get()), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(1, none.put()), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
    auto mine = makeError(u"main thread");
    SetErrorInfo(0, mine.get());
    HRESULT seenElsewhere = E_FAIL;
    std::thread other([&] {
        sky::ComPtr<IErrorInfo> info;
        seenElsewhere = GetErrorInfo(0, info.put());
        // Left set when the thread ends: the thread's end releases it.
        SetErrorInfo(0, makeError(u"other thread").get());
    });
    other.join();
    EXPECT_EQ(seenElsewhere, S_FALSE);
    sky::ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    EXPECT_EQ(info.get(), mine.get());
}

TEST(ErrorInfo, DescriptionCrossesAFailedCallIntoComError) {
    auto sample = sky::makeObject<SampleObject>();
    sky::Bstr why(u"Server FARM01 is offline.");
    const HRESULT hr = sample->Fail(why.get());
    EXPECT_EQ(hr, SAMPLE_E_REFUSED);
    {
        const auto e = errorOf([&] { sky::check(hr); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), SAMPLE_E_REFUSED);
        EXPECT_EQ(e->description(), u"Server FARM01 is offline.");
        EXPECT_EQ(e->source(), u"SkyTest.Sample");
        EXPECT_STREQ(e->what(), "Server FARM01 is offline.");
    }
    // The error was taken by the ComError.
    sky::ComPtr<IErrorInfo> left;
    EXPECT_EQ(GetErrorInfo(0, left.put()), S_FALSE);
}

TEST(ErrorInfo, EmptyDescriptionOfAnObjectStaysEmpty) {
    auto sample = sky::makeObject<SampleObject>();
    sky::Bstr nothing(u"");
    const HRESULT hr = sample->Fail(nothing.get());
    EXPECT_EQ(hr, SAMPLE_E_REFUSED);
    const auto e = errorOf([&] { sky::check(hr); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->result(), SAMPLE_E_REFUSED);
    EXPECT_EQ(e->description(), u"");
    EXPECT_EQ(e->source(), u"SkyTest.Sample");
}

TEST(ErrorInfo, ComErrorWithoutErrorInformationUsesTheSystemText) {
    EXPECT_EQ(sky::check(S_FALSE), S_FALSE);
    EXPECT_NO_THROW(sky::check(S_OK));
    {
        const auto e = errorOf([&] { sky::check(REGDB_E_CLASSNOTREG); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->description(), u"Class not registered");
        EXPECT_EQ(e->source(), u"");
    }
    EXPECT_EQ(sky::ComError(static_cast<HRESULT>(0x80040999)).description(),
              u"Unknown error 0x80040999");
    EXPECT_EQ(sky::ComError(E_FAIL, u"").description(), u"Unspecified error");
}

TEST(ErrorInfo, SetErrorReturnsTheChosenCode) {
    const IID& iid = IID_IEnumVARIANT;
    EXPECT_EQ(sky::setError(E_NOTIMPL, u"Not available in this farm.", u"Farm", iid), E_NOTIMPL);
    sky::ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    GUID guid{};
    info->GetGUID(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, iid));
    sky::Bstr text;
    info->GetDescription(text.put());
    EXPECT_EQ(text, u"Not available in this farm.");
}

TEST(ErrorInfo, SupportErrorInfoNamesTheInterface) {
    auto sample = sky::makeObject<SampleObject>();
    auto support = sky::ComPtr<ISampleObject>(sample.get()).as<ISupportErrorInfo>();
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(sky::testclass::IID_ISampleObject), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

} // namespace

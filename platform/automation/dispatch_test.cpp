#include <gtest/gtest.h>

#include <vector>

#include "sky/automation.h"
#include "testdata/error_of.h"
#include "testdata/sample_object.h"

namespace {

using sky::testclass::errorOf;

using sky::ComPtr;
using sky::Variant;
using sky::testclass::SAMPLE_E_REFUSED;
using sky::testclass::SampleCollection;
using sky::testclass::SampleObject;

ULONG referencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

ComPtr<IDispatch> makeSample() {
    return sky::makeObject<SampleObject>().as<IDispatch>();
}

// Two versions of an interface, the second derived from the first.
inline constexpr IID IID_IVersion1{0x7A000001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
inline constexpr IID IID_IVersion2{0x7A000002, 0, 0, {0, 0, 0, 0, 0, 0, 0, 2}};
struct IVersion1 : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE First(LONG* value) = 0;
};
struct IVersion2 : IVersion1 {
    virtual HRESULT STDMETHODCALLTYPE Second(LONG* value) = 0;
};

} // namespace

SKY_INTERFACE_ID(IVersion1, IID_IVersion1);
SKY_INTERFACE_ID(IVersion2, IID_IVersion2);
SKY_INTERFACE_PARENT(IVersion2, IVersion1);

namespace {

class Versioned final : public sky::ComObject<IVersion2> {
public:
    HRESULT STDMETHODCALLTYPE First(LONG* value) override {
        *value = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Second(LONG* value) override {
        *value = 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

TEST(ComPtr, CountsReferences) {
    auto object = sky::makeObject<SampleObject>();
    IDispatch* raw = object.as<IDispatch>().get();
    EXPECT_EQ(referencesOf(raw), 1u);
    {
        ComPtr<IDispatch> shared(raw);
        EXPECT_EQ(referencesOf(raw), 2u);
        ComPtr<IDispatch> copy = shared;
        EXPECT_EQ(referencesOf(raw), 3u);
        ComPtr<IDispatch> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(referencesOf(raw), 3u);
        IDispatch* detached = moved.detach();
        EXPECT_EQ(referencesOf(raw), 3u);
        auto adopted = ComPtr<IDispatch>::adopt(detached);
        EXPECT_EQ(referencesOf(raw), 3u);
        adopted.put(); // an out parameter slot releases what was there
        EXPECT_EQ(referencesOf(raw), 2u);
        ComPtr<IUnknown> base = shared; // derived to base
        EXPECT_EQ(referencesOf(raw), 3u);
    }
    EXPECT_EQ(referencesOf(raw), 1u);
}

TEST(ComPtr, AsQueriesAndThrowsOnAMissingInterface) {
    ComPtr<IDispatch> sample = makeSample();
    auto typed = sample.as<ISampleObject>();
    LONG sum = 0;
    EXPECT_EQ(typed->Add(40, 2, &sum), S_OK);
    EXPECT_EQ(sum, 42);
    EXPECT_FALSE(sample.tryAs<IEnumVARIANT>());
    {
        const auto e = errorOf([&] { sample.as<IEnumVARIANT>(); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), E_NOINTERFACE);
    }
    ComPtr<IDispatch> empty;
    ComPtr<IUnknown> out;
    EXPECT_EQ(empty.query(out), E_POINTER);
    EXPECT_THROW(empty.as<IUnknown>(), sky::ComError);
}

TEST(ComObject, AnswersListedInterfacesParentsAndOneIdentity) {
    auto sample = sky::makeObject<SampleObject>();
    void* unknownA = nullptr;
    void* unknownB = nullptr;
    ASSERT_EQ(static_cast<ISampleObject*>(sample.get())->QueryInterface(IID_IUnknown, &unknownA),
              S_OK);
    ASSERT_EQ(
        static_cast<ISupportErrorInfo*>(sample.get())->QueryInterface(IID_IUnknown, &unknownB),
        S_OK);
    EXPECT_EQ(unknownA, unknownB);
    static_cast<IUnknown*>(unknownA)->Release();
    static_cast<IUnknown*>(unknownB)->Release();
    void* none = &none;
    EXPECT_EQ(sample->query(IID_IEnumVARIANT, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(sample->query(IID_IDispatch, nullptr), E_POINTER);

    auto versioned = sky::makeObject<Versioned>();
    auto first = ComPtr<IVersion2>(versioned.get()).as<IVersion1>();
    LONG value = 0;
    first->First(&value);
    EXPECT_EQ(value, 1);
    EXPECT_TRUE(first.tryAs<IDispatch>());
    EXPECT_TRUE(first.tryAs<IVersion2>());
}

TEST(ComObject, ClassFactoryCreatesAndRefusesAggregation) {
    auto factory = sky::makeClassFactory<SampleObject>();
    ComPtr<IDispatch> created;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, created.putVoid()), S_OK);
    EXPECT_EQ(sky::getProperty(created.get(), u"Name").toString(), u"sample");
    EXPECT_EQ(referencesOf(created.get()), 1u);
    ComPtr<IDispatch> aggregated;
    EXPECT_EQ(factory->CreateInstance(created.get(), IID_IDispatch, aggregated.putVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(aggregated);
    ComPtr<IEnumVARIANT> wrong;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IEnumVARIANT, wrong.putVoid()), E_NOINTERFACE);
}

TEST(ComObject, ClassFactoryKeepsItsModuleLoadedWhileItLivesOrIsLocked) {
    sky::ModuleCount module{0};
    {
        auto factory = sky::makeClassFactory<SampleObject>(&module);
        EXPECT_EQ(module.load(), 1);
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        EXPECT_EQ(module.load(), 3);
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
        EXPECT_EQ(module.load(), 2);
        // The objects it makes count in their own module's way, not as locks.
        ComPtr<IDispatch> created;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, created.putVoid()), S_OK);
        EXPECT_EQ(module.load(), 2);
    }
    // The factory is gone; the lock not undone still holds the module.
    EXPECT_EQ(module.load(), 1);
}

TEST(Dispatch, PropertiesAndMethodsByName) {
    auto sample = makeSample();
    EXPECT_EQ(sky::getProperty(sample.get(), u"Name").toString(), u"sample");
    sky::putProperty(sample.get(), u"NAME", Variant(u"FARM01"));
    EXPECT_EQ(sky::getProperty(sample.get(), u"name").toString(), u"FARM01");
    EXPECT_EQ(sky::callMethod(sample.get(), u"Add", 40, u" 2 ").toInt32(), 42);
    EXPECT_EQ(sky::dispatchId(sample.get(), u"Fail"), sky::testclass::memberFail);
}

TEST(Dispatch, FailuresBecomeComErrorsWithTheObjectsText) {
    auto sample = makeSample();
    {
        const auto e = errorOf([&] { sky::callMethod(sample.get(), u"Add", INT32_MAX, 1); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), DISP_E_OVERFLOW);
        EXPECT_EQ(e->description(), u"The sum does not fit.");
    }
    {
        const auto e =
            errorOf([&] { sky::callMethod(sample.get(), u"Raise", u"Through EXCEPINFO."); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), SAMPLE_E_REFUSED);
        EXPECT_EQ(e->description(), u"Through EXCEPINFO.");
        EXPECT_EQ(e->source(), u"SkyTest.Sample");
    }
    {
        const auto e = errorOf([&] { sky::getProperty(sample.get(), u"IsMissing"); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), DISP_E_UNKNOWNNAME);
    }
    EXPECT_THROW(sky::callMethod(sample.get(), u"Add", 1), sky::ComError); // parameter count
    EXPECT_THROW(sky::getProperty(nullptr, u"Name"), sky::ComError);
}

TEST(Dispatch, EnumeratesACollection) {
    auto sample = makeSample();
    auto items = sky::getProperty(sample.get(), u"Items").toDispatch();
    std::vector<std::u16string> seen;
    for (const Variant& item : sky::enumerate(items.get()))
        seen.push_back(item.type() == VT_DISPATCH ? u"object" : item.toString());
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"first", u"2", u"object"}));
    EXPECT_EQ(sky::getProperty(items.get(), u"Count").toInt32(), 3);

    // As typed objects: an item that is no object ends the loop with an error.
    EXPECT_THROW(for (const auto& object
                      : sky::enumerateAs<ISampleObject>(items.get()))(void) object,
                 sky::ComError);
    std::vector<Variant> objects{Variant(makeSample()), Variant(makeSample())};
    auto collection = sky::makeObject<SampleCollection>(objects).as<IDispatch>();
    int count = 0;
    for (const ComPtr<ISampleObject>& object : sky::enumerateAs<ISampleObject>(collection.get())) {
        LONG sum = 0;
        object->Add(count, 1, &sum);
        EXPECT_EQ(sum, ++count);
    }
    EXPECT_EQ(count, 2);
    EXPECT_THROW(sky::enumerateAs<IEnumVARIANT>(collection.get()).begin(), sky::ComError);
    // No _NewEnum at all.
    EXPECT_THROW(sky::enumerate(sample.get()), sky::ComError);
}

TEST(VariantEnumerator, NextSkipResetAndClone) {
    auto enumerator = sky::makeVariantEnumerator({Variant(1), Variant(2), Variant(3)});
    VARIANT batch[4];
    ULONG fetched = 99;
    ASSERT_EQ(enumerator->Next(2, batch, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(batch[0].lVal, 1);
    EXPECT_EQ(batch[1].lVal, 2);
    ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(enumerator->Clone(clone.put()), S_OK);
    EXPECT_EQ(enumerator->Next(4, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(batch[0].lVal, 3);
    EXPECT_EQ(enumerator->Next(1, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    // The clone goes on from where the original stood when it was made.
    ASSERT_EQ(clone->Next(1, batch, nullptr), S_OK);
    EXPECT_EQ(batch[0].lVal, 3);
    EXPECT_EQ(clone->Next(2, batch, nullptr), E_INVALIDARG);
    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(enumerator->Skip(2), S_OK);
    EXPECT_EQ(enumerator->Skip(2), S_FALSE);
    EXPECT_EQ(enumerator->Reset(), S_OK);
    ASSERT_EQ(enumerator->Skip(1), S_OK);
    ASSERT_EQ(enumerator->Next(1, batch, &fetched), S_OK);
    EXPECT_EQ(batch[0].lVal, 2);
}

TEST(VariantEnumerator, HandsOutCopiesThatTheCallerOwns) {
    auto sample = makeSample();
    auto enumerator = sky::makeVariantEnumerator(std::vector<ComPtr<IDispatch>>{sample, sample});
    EXPECT_EQ(referencesOf(sample.get()), 3u);
    VARIANT items[2];
    ULONG fetched = 0;
    ASSERT_EQ(enumerator->Next(2, items, &fetched), S_OK);
    EXPECT_EQ(items[0].vt, VT_DISPATCH);
    EXPECT_EQ(referencesOf(sample.get()), 5u);
    VariantClear(&items[0]);
    VariantClear(&items[1]);
    enumerator.reset();
    EXPECT_EQ(referencesOf(sample.get()), 1u);
}

} // namespace

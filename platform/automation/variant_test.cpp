#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "sky/automation.h"
#include "testdata/error_of.h"
#include "testdata/sample_object.h"

namespace {

using sky::testclass::errorOf;

using sky::Variant;

// An object that only counts its references, to see what VARIANT functions do with them.
class Counted final : public sky::ComObject<IUnknown> {
public:
    explicit Counted(bool* destroyed) : destroyed_(destroyed) {}
    ~Counted() override { *destroyed_ = true; }
    ULONG references() {
        AddRef();
        return Release();
    }

private:
    bool* destroyed_;
};

struct Converted {
    HRESULT hr;
    Variant value;
};

Converted convert(const Variant& source, VARTYPE vt, USHORT flags = 0) {
    Converted result{S_OK, Variant()};
    result.hr = VariantChangeType(result.value.get(), source.get(), flags, vt);
    return result;
}

std::u16string text(const Variant& v) {
    EXPECT_EQ(v.type(), VT_BSTR);
    return v.type() == VT_BSTR ? std::u16string(v.get()->bstrVal, SysStringLen(v.get()->bstrVal))
                               : std::u16string();
}

TEST(VariantLifecycle, ClearFreesTextAndReleasesObjectsButNotReferences) {
    bool destroyed = false;
    auto object = sky::makeObject<Counted>(&destroyed);
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    v.vt = VT_UNKNOWN;
    v.punkVal = object.get();
    object->AddRef();
    EXPECT_EQ(object->references(), 2u);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(object->references(), 1u);

    // By reference: neither the object nor the string belongs to the variant.
    IUnknown* held = object.get();
    v.vt = VT_BYREF | VT_UNKNOWN;
    v.ppunkVal = &held;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object->references(), 1u);
    sky::Bstr kept(u"kept");
    BSTR raw = kept.get();
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = &raw;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(kept.view(), u"kept");

    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"owned"); // freed by the clear (the leak checker would see it)
    EXPECT_EQ(VariantClear(&v), S_OK);
    object.reset();
    EXPECT_TRUE(destroyed);
}

TEST(VariantLifecycle, BadTypesAreRefused) {
    VARIANT v;
    for (VARTYPE vt : {VARTYPE(VT_VARIANT), VARTYPE(0x0FFF), VARTYPE(VT_BYREF | VT_EMPTY),
                       VARTYPE(VT_ARRAY | VT_EMPTY)}) {
        v.vt = vt;
        EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << vt;
        EXPECT_EQ(v.vt, vt);
    }
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(VariantLifecycle, CopyIsDeepForTextAndSharesObjects) {
    bool destroyed = false;
    auto object = sky::makeObject<Counted>(&destroyed);
    const char16_t withNul[] = {u'a', 0, u'b'};
    VARIANT source;
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(withNul, 3);
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(std::u16string_view(copy.bstrVal, SysStringLen(copy.bstrVal)),
              std::u16string_view(withNul, 3));
    VariantClear(&source);

    source.vt = VT_UNKNOWN;
    source.punkVal = object.get();
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK); // also frees the copied text
    EXPECT_EQ(copy.punkVal, object.get());
    EXPECT_EQ(object->references(), 2u);
    EXPECT_EQ(VariantCopy(&copy, &copy), S_OK);
    EXPECT_EQ(object->references(), 2u);
    VariantClear(&copy);
    EXPECT_EQ(object->references(), 1u);
}

struct TextCase {
    const char16_t* text;
    HRESULT hr;
    LONG value;
};

TEST(VariantChangeType, TextToI4ParsesAsTheUsLocale) {
    const TextCase cases[] = {
        {u"42", S_OK, 42},
        {u"  42  ", S_OK, 42},
        {u"\t-17\r\n", S_OK, -17},
        {u"+5", S_OK, 5},
        {u"1,234,567", S_OK, 1234567},
        {u"1,000.5", S_OK, 1000},
        {u"12.5", S_OK, 12},
        {u"13.5", S_OK, 14},
        {u"-2.5", S_OK, -2},
        {u"2.51", S_OK, 3},
        {u"0.5", S_OK, 0},
        {u".5", S_OK, 0},
        {u"1.5", S_OK, 2},
        {u"7.", S_OK, 7},
        {u"1e3", S_OK, 1000},
        {u"1.5E+2", S_OK, 150},
        {u"2500E-2", S_OK, 25},
        {u"(7)", S_OK, -7},
        {u"7-", S_OK, -7},
        {u"$12", S_OK, 12},
        {u"&H1F", S_OK, 31},
        {u"&hff", S_OK, 255},
        {u"&HFFFFFFFF", S_OK, -1},
        {u"&O17", S_OK, 15},
        {u"007", S_OK, 7},
        {u"2147483647", S_OK, 2147483647},
        {u"-2147483648", S_OK, INT32_MIN},
        {u"2147483647.4", S_OK, 2147483647},
        {u"abc", DISP_E_TYPEMISMATCH, 0},
        {u"", DISP_E_TYPEMISMATCH, 0},
        {u"   ", DISP_E_TYPEMISMATCH, 0},
        {u"1 2", DISP_E_TYPEMISMATCH, 0},
        {u"12abc", DISP_E_TYPEMISMATCH, 0},
        {u"1.2.3", DISP_E_TYPEMISMATCH, 0},
        {u",5", DISP_E_TYPEMISMATCH, 0},
        {u"1e", DISP_E_TYPEMISMATCH, 0},
        {u"--5", DISP_E_TYPEMISMATCH, 0},
        {u"(-5)", DISP_E_TYPEMISMATCH, 0},
        {u"(5", DISP_E_TYPEMISMATCH, 0},
        {u"True", DISP_E_TYPEMISMATCH, 0},
        {u"&H", DISP_E_TYPEMISMATCH, 0},
        {u"99999999999", DISP_E_OVERFLOW, 0},
        {u"2147483648", DISP_E_OVERFLOW, 0},
        {u"-2147483649", DISP_E_OVERFLOW, 0},
        {u"2147483647.5", DISP_E_OVERFLOW, 0},
        {u"1e10", DISP_E_OVERFLOW, 0},
        {u"&H100000000", DISP_E_OVERFLOW, 0},
        {u"123456789012345678901234567890123456789", DISP_E_OVERFLOW, 0},
    };
    for (const auto& c : cases) {
        auto r = convert(Variant(c.text), VT_I4);
        EXPECT_EQ(r.hr, c.hr) << sky::narrow(c.text);
        if (c.hr == S_OK && r.hr == S_OK) {
            EXPECT_EQ(r.value.type(), VT_I4) << sky::narrow(c.text);
            EXPECT_EQ(r.value.get()->lVal, c.value) << sky::narrow(c.text);
        }
    }
}

TEST(VariantChangeType, TextToOtherIntegerWidths) {
    EXPECT_EQ(convert(Variant(u"32767"), VT_I2).value.get()->iVal, 32767);
    EXPECT_EQ(convert(Variant(u"32768"), VT_I2).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(u"&HFFFF"), VT_I2).value.get()->iVal, -1);
    EXPECT_EQ(convert(Variant(u"255"), VT_UI1).value.get()->bVal, 255);
    EXPECT_EQ(convert(Variant(u"256"), VT_UI1).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(u"-1"), VT_UI1).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(u"-0.4"), VT_UI1).value.get()->bVal, 0);
    EXPECT_EQ(convert(Variant(u"-128"), VT_I1).value.get()->cVal, -128);
    EXPECT_EQ(convert(Variant(u"4294967295"), VT_UI4).value.get()->ulVal, 4294967295u);
    EXPECT_EQ(convert(Variant(u"9223372036854775807"), VT_I8).value.get()->llVal, INT64_MAX);
    EXPECT_EQ(convert(Variant(u"-9223372036854775808"), VT_I8).value.get()->llVal, INT64_MIN);
    EXPECT_EQ(convert(Variant(u"9223372036854775808"), VT_I8).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(u"18446744073709551615"), VT_UI8).value.get()->ullVal, UINT64_MAX);
}

TEST(VariantChangeType, RealsRoundHalfToEvenAndOverflow) {
    const struct {
        double in;
        HRESULT hr;
        LONG out;
    } cases[] = {
        {2.5, S_OK, 2},
        {3.5, S_OK, 4},
        {-2.5, S_OK, -2},
        {-3.5, S_OK, -4},
        {0.49999, S_OK, 0},
        {2147483647.4, S_OK, INT32_MAX},
        {-2147483648.5, S_OK, INT32_MIN},
        {2147483647.5, DISP_E_OVERFLOW, 0},
        {-2147483649.0, DISP_E_OVERFLOW, 0},
        {1e300, DISP_E_OVERFLOW, 0},
        {std::numeric_limits<double>::quiet_NaN(), DISP_E_OVERFLOW, 0},
        {std::numeric_limits<double>::infinity(), DISP_E_OVERFLOW, 0},
    };
    for (const auto& c : cases) {
        auto r = convert(Variant(c.in), VT_I4);
        EXPECT_EQ(r.hr, c.hr) << c.in;
        if (c.hr == S_OK) {
            EXPECT_EQ(r.value.get()->lVal, c.out) << c.in;
        }
    }
    EXPECT_EQ(convert(Variant(255.5), VT_UI1).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(-0.5), VT_UI1).value.get()->bVal, 0);
    EXPECT_EQ(convert(Variant(1e300), VT_R4).hr, DISP_E_OVERFLOW);
    EXPECT_FLOAT_EQ(convert(Variant(0.1), VT_R4).value.get()->fltVal, 0.1f);
    EXPECT_EQ(convert(Variant(40000), VT_I2).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(std::int16_t(-32768)), VT_I4).value.get()->lVal, -32768);
    EXPECT_EQ(convert(Variant(-1), VT_UI4).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(std::int64_t(1) << 40), VT_I4).hr, DISP_E_OVERFLOW);
}

TEST(VariantChangeType, BooleansFromAndToText) {
    const struct {
        const char16_t* text;
        HRESULT hr;
        bool value;
    } cases[] = {
        {u"True", S_OK, true},
        {u"  true ", S_OK, true},
        {u"FALSE", S_OK, false},
        {u"0", S_OK, false},
        {u"0.0", S_OK, false},
        {u"5", S_OK, true},
        {u"-1", S_OK, true},
        {u"&H0", S_OK, false},
        {u"&H10", S_OK, true},
        {u"yes", DISP_E_TYPEMISMATCH, false},
        {u"", DISP_E_TYPEMISMATCH, false},
        // The boolean literals, exactly as written.
        {u"#TRUE#", S_OK, true},
        {u"#FALSE#", S_OK, false},
        {u"#true#", DISP_E_TYPEMISMATCH, false},
        {u" #TRUE# ", DISP_E_TYPEMISMATCH, false},
        {u"#TRUE", DISP_E_TYPEMISMATCH, false},
        // Numbers as doubles: beyond the range overflows, below it is zero.
        {u"1e400", DISP_E_OVERFLOW, false},
        {u"-1e400", DISP_E_OVERFLOW, false},
        {u"1e308", S_OK, true},
        {u"1e-400", S_OK, false},
        {u"2.5", S_OK, true},
    };
    for (const auto& c : cases) {
        auto r = convert(Variant(c.text), VT_BOOL);
        EXPECT_EQ(r.hr, c.hr) << sky::narrow(c.text);
        if (c.hr == S_OK) {
            EXPECT_EQ(r.value.get()->boolVal, c.value ? VARIANT_TRUE : VARIANT_FALSE)
                << sky::narrow(c.text);
        }
    }
    EXPECT_EQ(text(convert(Variant(true), VT_BSTR).value), u"-1");
    EXPECT_EQ(text(convert(Variant(false), VT_BSTR).value), u"0");
    EXPECT_EQ(text(convert(Variant(true), VT_BSTR, VARIANT_ALPHABOOL).value), u"True");
    EXPECT_EQ(text(convert(Variant(false), VT_BSTR, VARIANT_ALPHABOOL).value), u"False");
    EXPECT_EQ(convert(Variant(true), VT_I4).value.get()->lVal, -1);
    EXPECT_EQ(convert(Variant(true), VT_UI1).value.get()->bVal, 255);
    EXPECT_EQ(convert(Variant(true), VT_R8).value.get()->dblVal, -1.0);
    EXPECT_EQ(convert(Variant(0.25), VT_BOOL).value.get()->boolVal, VARIANT_TRUE);
    EXPECT_EQ(convert(Variant(0), VT_BOOL).value.get()->boolVal, VARIANT_FALSE);
}

TEST(VariantChangeType, NumbersToTextAsWindowsWritesThem) {
    const struct {
        Variant in;
        const char16_t* out;
    } cases[] = {
        {Variant(-17), u"-17"},
        {Variant(12.5), u"12.5"},
        {Variant(1e20), u"1E+20"},
        {Variant(0.1 + 0.2), u"0.3"},
        {Variant(1e15), u"1E+15"},
        {Variant(123456789012345.0), u"123456789012345"},
        {Variant(100.0), u"100"},
        {Variant(0.0001), u"0.0001"},
        {Variant(0.00001), u"1E-05"},
        {Variant(-1.5e-7), u"-1.5E-07"},
        {Variant(1.0 / 3), u"0.333333333333333"},
        {Variant(2.0 / 3), u"0.666666666666667"},
        {Variant(-0.0), u"0"},
        {Variant(1.7976931348623157e308), u"1.79769313486232E+308"},
        {Variant(0.1f), u"0.1"},
        {Variant(1234567.0f), u"1234567"},
        {Variant(16777216.0f), u"1.677722E+07"},
        {Variant(std::int64_t(INT64_MIN)), u"-9223372036854775808"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(convert(c.in, VT_BSTR).value), c.out) << sky::narrow(c.out);
    VARIANT big;
    big.vt = VT_UI4;
    big.ulVal = 4294967295u;
    EXPECT_EQ(text(convert(Variant(big), VT_BSTR).value), u"4294967295");
}

TEST(VariantChangeType, TextToReals) {
    EXPECT_EQ(convert(Variant(u"12.5"), VT_R8).value.get()->dblVal, 12.5);
    EXPECT_EQ(convert(Variant(u" -1,234.5e1 "), VT_R8).value.get()->dblVal, -12345.0);
    EXPECT_EQ(convert(Variant(u"0.1"), VT_R8).value.get()->dblVal, 0.1);
    EXPECT_EQ(convert(Variant(u"1e400"), VT_R8).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(u"1e39"), VT_R4).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(convert(Variant(u"0.1"), VT_R4).value.get()->fltVal, 0.1f);
    EXPECT_EQ(convert(Variant(u"x1"), VT_R8).hr, DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, EmptyAndNull) {
    const Variant empty;
    EXPECT_EQ(convert(empty, VT_I4).value.get()->lVal, 0);
    EXPECT_EQ(convert(empty, VT_R8).value.get()->dblVal, 0.0);
    EXPECT_EQ(convert(empty, VT_BOOL).value.get()->boolVal, VARIANT_FALSE);
    auto asText = convert(empty, VT_BSTR);
    ASSERT_EQ(asText.hr, S_OK);
    EXPECT_NE(asText.value.get()->bstrVal, nullptr);
    EXPECT_EQ(text(asText.value), u"");
    auto asObject = convert(empty, VT_DISPATCH);
    EXPECT_EQ(asObject.value.type(), VT_DISPATCH);
    EXPECT_EQ(asObject.value.get()->pdispVal, nullptr);
    EXPECT_EQ(convert(Variant(u"x"), VT_EMPTY).value.type(), VT_EMPTY);

    VARIANT null;
    null.vt = VT_NULL;
    EXPECT_EQ(convert(Variant(null), VT_I4).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(convert(Variant(null), VT_BSTR).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(convert(Variant(null), VT_NULL).value.type(), VT_NULL);
}

TEST(VariantChangeType, DispatchConvertsThroughItsDefaultMember) {
    auto sample = sky::makeObject<sky::testclass::SampleObject>();
    const Variant object(sky::ComPtr<IDispatch>(sample.get()));
    EXPECT_EQ(convert(object, VT_I4).value.get()->lVal, 42);
    EXPECT_EQ(text(convert(object, VT_BSTR).value), u"42");
    EXPECT_EQ(convert(object, VT_I4, VARIANT_NOVALUEPROP).hr, DISP_E_TYPEMISMATCH);
    sample->setValue(Variant(u"12.5"));
    EXPECT_EQ(convert(object, VT_R8).value.get()->dblVal, 12.5);
    EXPECT_EQ(convert(object, VT_I4).value.get()->lVal, 12);
    sample->setValue(Variant(u"many"));
    EXPECT_EQ(convert(object, VT_I4).hr, DISP_E_TYPEMISMATCH);

    // An object whose value is itself: the conversion gives up instead of recursing forever.
    sample->setValue(object);
    EXPECT_EQ(convert(object, VT_I4).hr, DISP_E_TYPEMISMATCH);
    sample->setValue(Variant());

    // No default member, or no object at all.
    auto collection = sky::makeObject<sky::testclass::SampleCollection>(std::vector<Variant>{});
    EXPECT_EQ(convert(Variant(sky::ComPtr<IDispatch>(collection.get())), VT_I4).hr,
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(convert(Variant(static_cast<IDispatch*>(nullptr)), VT_I4).hr, DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeType, UnknownAndDispatchThroughQueryInterface) {
    auto sample = sky::makeObject<sky::testclass::SampleObject>();
    auto asUnknown = convert(
        Variant(static_cast<IUnknown*>(static_cast<ISampleObject*>(sample.get()))), VT_DISPATCH);
    ASSERT_EQ(asUnknown.hr, S_OK);
    EXPECT_EQ(asUnknown.value.get()->pdispVal, static_cast<IDispatch*>(sample.get()));
    auto back = convert(asUnknown.value, VT_UNKNOWN);
    ASSERT_EQ(back.hr, S_OK);
    sky::ComPtr<IUnknown> identity;
    ASSERT_EQ(sample->query(IID_IUnknown, identity.putVoid()), S_OK);
    EXPECT_EQ(back.value.get()->punkVal, identity.get());

    bool destroyed = false;
    auto plain = sky::makeObject<Counted>(&destroyed);
    EXPECT_EQ(convert(Variant(static_cast<IUnknown*>(plain.get())), VT_DISPATCH).hr,
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(convert(Variant(static_cast<IUnknown*>(plain.get())), VT_I4).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(convert(Variant(7), VT_DISPATCH).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(plain->references(), 1u);
}

TEST(VariantChangeType, InPlaceAndFailureLeavesTheDestination) {
    Variant v(u"123");
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_I4), S_OK);
    EXPECT_EQ(v.type(), VT_I4);
    EXPECT_EQ(v.get()->lVal, 123);
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(text(v), u"123");

    Variant destination(u"keep");
    EXPECT_EQ(VariantChangeType(destination.get(), Variant(u"abc").get(), 0, VT_I4),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(text(destination), u"keep");

    // A successful conversion clears what the destination held.
    bool destroyed = false;
    auto object = sky::makeObject<Counted>(&destroyed);
    Variant holder(static_cast<IUnknown*>(object.get()));
    EXPECT_EQ(object->references(), 2u);
    ASSERT_EQ(VariantChangeType(holder.get(), Variant(5).get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(object->references(), 1u);
    EXPECT_EQ(text(holder), u"5");

    EXPECT_EQ(VariantChangeType(holder.get(), Variant(5).get(), 0, VT_I4 | VT_BYREF),
              DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(holder.get(), Variant(5).get(), 0, VT_VARIANT), DISP_E_BADVARTYPE);
}

TEST(VariantChangeType, ByReferenceSourcesAreReadThrough) {
    LONG number = 7;
    VARIANT ref;
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = &number;
    EXPECT_EQ(text(convert(Variant(ref), VT_BSTR).value), u"7");
    Variant inner(u"99");
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = inner.get();
    EXPECT_EQ(convert(Variant(ref), VT_I4).value.get()->lVal, 99);
    auto same = convert(Variant(ref), VT_BSTR);
    EXPECT_NE(same.value.get()->bstrVal, inner.get()->bstrVal);
    EXPECT_EQ(text(same.value), u"99");
}

TEST(VariantLifecycle, CopyIndirectReadsThroughReferences) {
    sky::Bstr text(u"by reference");
    BSTR raw = text.get();
    VARIANT ref;
    ref.vt = VT_BYREF | VT_BSTR;
    ref.pbstrVal = &raw;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, raw);
    EXPECT_EQ(std::u16string(copy.bstrVal), u"by reference");
    // In place: the reference becomes a value of its own.
    ASSERT_EQ(VariantCopyInd(&ref, &ref), S_OK);
    EXPECT_EQ(ref.vt, VT_BSTR);
    EXPECT_NE(ref.bstrVal, raw);
    VariantClear(&ref);
    VariantClear(&copy);
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = nullptr;
    EXPECT_EQ(VariantCopyInd(&copy, &ref), E_INVALIDARG);
}

TEST(VariantOwner, ConvertsAndThrowsComError) {
    EXPECT_EQ(Variant(u" 12 ").toInt32(), 12);
    EXPECT_EQ(Variant(true).toString(), u"True");
    EXPECT_EQ(Variant(2.5).toUtf8(), "2.5");
    EXPECT_TRUE(Variant(u"true").toBool());
    {
        const auto e = errorOf([&] { Variant(u"abc").toInt32(); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), DISP_E_TYPEMISMATCH);
        EXPECT_STREQ(e->what(), "Type mismatch.");
    }
    Variant a(u"text");
    Variant b = a;
    EXPECT_NE(a.get()->bstrVal, b.get()->bstrVal);
    Variant c = std::move(a);
    EXPECT_TRUE(a.isEmpty());
    EXPECT_EQ(c.toString(), u"text");
}

} // namespace

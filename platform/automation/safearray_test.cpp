#include <gtest/gtest.h>

#include <string>

#include "sky/automation.h"

namespace {

// An object that only counts its references, to see what arrays of objects do with them.
class Held final : public sky::ComObject<IUnknown> {
public:
    ULONG references() {
        AddRef();
        return Release();
    }
};

struct ArrayDeleter {
    void operator()(SAFEARRAY* psa) const { EXPECT_EQ(SafeArrayDestroy(psa), S_OK); }
};
using Array = std::unique_ptr<SAFEARRAY, ArrayDeleter>;

TEST(SafeArray, VectorHasItsBoundsTypeAndSize) {
    Array a(SafeArrayCreateVector(VT_I4, -2, 5));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(SafeArrayGetDim(a.get()), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(a.get()), 4u);
    LONG lower = 0, upper = 0;
    EXPECT_EQ(SafeArrayGetLBound(a.get(), 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(a.get(), 1, &upper), S_OK);
    EXPECT_EQ(lower, -2);
    EXPECT_EQ(upper, 2);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(a.get(), &vt), S_OK);
    EXPECT_EQ(vt, VT_I4);
    EXPECT_EQ(a->cbElements, 4u);
    EXPECT_EQ(a->cLocks, 0u);
    EXPECT_TRUE(a->fFeatures & FADF_HAVEVARTYPE);

    // Elements start zeroed; put and get round-trip by index.
    for (LONG i = -2; i <= 2; ++i) {
        LONG value = -1;
        EXPECT_EQ(SafeArrayGetElement(a.get(), &i, &value), S_OK);
        EXPECT_EQ(value, 0);
        value = i * 10;
        EXPECT_EQ(SafeArrayPutElement(a.get(), &i, &value), S_OK);
    }
    LONG* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a.get(), reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_EQ(data[0], -20);
    EXPECT_EQ(data[4], 20);
    EXPECT_EQ(SafeArrayUnaccessData(a.get()), S_OK);

    // An empty vector: upper bound one below the lower.
    Array empty(SafeArrayCreateVector(VT_BSTR, 0, 0));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SafeArrayGetUBound(empty.get(), 1, &upper), S_OK);
    EXPECT_EQ(upper, -1);
}

TEST(SafeArray, DimensionsAreNumberedFromTheLeftAndTheFirstIndexVariesFastest) {
    SAFEARRAYBOUND bounds[] = {{2, 1}, {3, 10}}; // (1..2, 10..12)
    Array a(SafeArrayCreate(VT_R8, 2, bounds));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(SafeArrayGetDim(a.get()), 2u);
    // Stored last dimension first.
    EXPECT_EQ(a->rgsabound[0].cElements, 3u);
    EXPECT_EQ(a->rgsabound[0].lLbound, 10);
    LONG bound = 0;
    EXPECT_EQ(SafeArrayGetLBound(a.get(), 2, &bound), S_OK);
    EXPECT_EQ(bound, 10);
    EXPECT_EQ(SafeArrayGetUBound(a.get(), 1, &bound), S_OK);
    EXPECT_EQ(bound, 2);
    EXPECT_EQ(SafeArrayGetLBound(a.get(), 0, &bound), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(a.get(), 3, &bound), DISP_E_BADINDEX);

    LONG at[] = {2, 10};
    double value = 1.5;
    EXPECT_EQ(SafeArrayPutElement(a.get(), at, &value), S_OK);
    at[0] = 1;
    at[1] = 11;
    value = 2.5;
    EXPECT_EQ(SafeArrayPutElement(a.get(), at, &value), S_OK);
    auto* data = static_cast<double*>(a->pvData);
    EXPECT_EQ(data[1], 1.5);
    EXPECT_EQ(data[2], 2.5);

    // Bad indices, in each dimension and on either side.
    for (auto bad : {std::pair{0, 10}, {3, 10}, {1, 9}, {1, 13}}) {
        LONG indices[] = {bad.first, bad.second};
        EXPECT_EQ(SafeArrayGetElement(a.get(), indices, &value), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayPutElement(a.get(), indices, &value), DISP_E_BADINDEX);
    }
}

TEST(SafeArray, BadArgumentsAreRefused) {
    SAFEARRAYBOUND bound{4, 0};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &bound), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &bound), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_NULL, 1, &bound), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4 | VT_BYREF, 1, &bound), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_VOID, 0, 1), nullptr);
    // Sizes whose bytes overflow are refused, not wrapped.
    SAFEARRAYBOUND huge[] = {{0x10000, 0}, {0x10000, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_VARIANT, 0, 0xFFFFFFFF), nullptr);

    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
    LONG value = 0;
    VARTYPE vt = VT_EMPTY;
    void* data = nullptr;
    EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetUBound(nullptr, 1, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetVartype(nullptr, &vt), E_INVALIDARG);
    EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);
    EXPECT_EQ(SafeArrayUnaccessData(nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(nullptr, &value, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayPutElement(nullptr, &value, &value), E_INVALIDARG);
    SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(&value);
    EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
    EXPECT_EQ(copy, nullptr);

    Array a(SafeArrayCreateVector(VT_I4, 0, 1));
    EXPECT_EQ(SafeArrayGetElement(a.get(), nullptr, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayCopy(a.get(), nullptr), E_INVALIDARG);
    // Unaccessing an array nobody accessed is unexpected.
    EXPECT_EQ(SafeArrayUnaccessData(a.get()), E_UNEXPECTED);
}

TEST(SafeArray, ALockedArrayIsNotDestroyed) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 1);
    ASSERT_NE(psa, nullptr);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(data, psa->pvData);
    EXPECT_EQ(psa->cLocks, 1u);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);

    // Nor is the variant that holds it cleared.
    VARIANT v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = psa;
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_BSTR);

    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(SafeArray, StringsAndVariantsAreCopiedInAndOut) {
    Array strings(SafeArrayCreateVector(VT_BSTR, 0, 2));
    ASSERT_NE(strings, nullptr);
    EXPECT_TRUE(strings->fFeatures & FADF_BSTR);
    EXPECT_EQ(SafeArrayGetElemsize(strings.get()), sizeof(BSTR));
    LONG at = 1;
    BSTR farm = SysAllocString(u"Farm");
    EXPECT_EQ(SafeArrayPutElement(strings.get(), &at, farm), S_OK);
    SysFreeString(farm); // the array holds its own copy
    BSTR out = nullptr;
    EXPECT_EQ(SafeArrayGetElement(strings.get(), &at, &out), S_OK);
    EXPECT_EQ(std::u16string(out), u"Farm");
    SysFreeString(out);
    // Putting a null string replaces (and frees) the one held.
    EXPECT_EQ(SafeArrayPutElement(strings.get(), &at, nullptr), S_OK);
    EXPECT_EQ(SafeArrayGetElement(strings.get(), &at, &out), S_OK);
    EXPECT_EQ(out, nullptr);

    Array variants(SafeArrayCreateVector(VT_VARIANT, 0, 2));
    ASSERT_NE(variants, nullptr);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(variants.get(), &vt), S_OK);
    EXPECT_EQ(vt, VT_VARIANT);
    EXPECT_EQ(SafeArrayGetElemsize(variants.get()), sizeof(VARIANT));
    sky::Variant text(u"Word");
    at = 0;
    EXPECT_EQ(SafeArrayPutElement(variants.get(), &at, text.get()), S_OK);
    VARIANT got;
    VariantInit(&got);
    EXPECT_EQ(SafeArrayGetElement(variants.get(), &at, &got), S_OK);
    ASSERT_EQ(got.vt, VT_BSTR);
    EXPECT_NE(got.bstrVal, text.get()->bstrVal);
    EXPECT_EQ(std::u16string(got.bstrVal), u"Word");
    VariantClear(&got);
    // Elements not put are empty variants.
    at = 1;
    EXPECT_EQ(SafeArrayGetElement(variants.get(), &at, &got), S_OK);
    EXPECT_EQ(got.vt, VT_EMPTY);
}

TEST(SafeArray, ObjectsAreHeldWhileInTheArrayAndItsCopies) {
    auto held = sky::makeObject<Held>();
    const ULONG before = held->references();
    {
        Array objects(SafeArrayCreateVector(VT_UNKNOWN, 0, 3));
        ASSERT_NE(objects, nullptr);
        EXPECT_TRUE(objects->fFeatures & FADF_HAVEIID);
        VARTYPE vt = VT_EMPTY;
        EXPECT_EQ(SafeArrayGetVartype(objects.get(), &vt), S_OK);
        EXPECT_EQ(vt, VT_UNKNOWN);
        for (LONG i = 0; i < 2; ++i)
            EXPECT_EQ(SafeArrayPutElement(objects.get(), &i, held.get()), S_OK);
        EXPECT_EQ(held->references(), before + 2);
        // Replacing an element releases the one it held.
        LONG at = 1;
        EXPECT_EQ(SafeArrayPutElement(objects.get(), &at, nullptr), S_OK);
        EXPECT_EQ(held->references(), before + 1);
        IUnknown* out = nullptr;
        at = 0;
        EXPECT_EQ(SafeArrayGetElement(objects.get(), &at, &out), S_OK);
        EXPECT_EQ(out, held.get());
        EXPECT_EQ(held->references(), before + 2);
        out->Release();

        SAFEARRAY* copy = nullptr;
        EXPECT_EQ(SafeArrayCopy(objects.get(), &copy), S_OK);
        EXPECT_EQ(held->references(), before + 2);
        EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
        EXPECT_EQ(held->references(), before + 1);
    }
    EXPECT_EQ(held->references(), before);

    Array dispatches(SafeArrayCreateVector(VT_DISPATCH, 0, 1));
    ASSERT_NE(dispatches, nullptr);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(dispatches.get(), &vt), S_OK);
    EXPECT_EQ(vt, VT_DISPATCH);
}

TEST(SafeArray, VariantCopyAndClearTakeWholeArrays) {
    SAFEARRAYBOUND bounds[] = {{2, 0}, {2, 5}};
    VARIANT source;
    source.vt = VT_ARRAY | VT_VARIANT;
    source.parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    ASSERT_NE(source.parray, nullptr);
    // An element that is itself an array of strings.
    VARIANT inner;
    inner.vt = VT_ARRAY | VT_BSTR;
    inner.parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
    LONG zero = 0;
    BSTR name = SysAllocString(u"Tarn");
    EXPECT_EQ(SafeArrayPutElement(inner.parray, &zero, name), S_OK);
    SysFreeString(name);
    LONG at[] = {1, 6};
    EXPECT_EQ(SafeArrayPutElement(source.parray, at, &inner), S_OK);
    EXPECT_EQ(VariantClear(&inner), S_OK);
    sky::Variant flag(true);
    at[0] = 0;
    EXPECT_EQ(SafeArrayPutElement(source.parray, at, flag.get()), S_OK);

    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(copy.vt, VT_ARRAY | VT_VARIANT);
    ASSERT_NE(copy.parray, source.parray);
    EXPECT_EQ(SafeArrayGetDim(copy.parray), 2u);
    LONG bound = 0;
    EXPECT_EQ(SafeArrayGetLBound(copy.parray, 2, &bound), S_OK);
    EXPECT_EQ(bound, 5);
    VARIANT indirect;
    VariantInit(&indirect);
    ASSERT_EQ(VariantCopyInd(&indirect, &source), S_OK);
    EXPECT_EQ(indirect.vt, VT_ARRAY | VT_VARIANT);
    EXPECT_NE(indirect.parray, source.parray);
    EXPECT_EQ(VariantClear(&indirect), S_OK);
    EXPECT_EQ(VariantClear(&source), S_OK); // the copy stands alone

    VARIANT element;
    VariantInit(&element);
    EXPECT_EQ(SafeArrayGetElement(copy.parray, at, &element), S_OK);
    EXPECT_EQ(element.vt, VT_BOOL);
    EXPECT_EQ(element.boolVal, VARIANT_TRUE);
    at[0] = 1;
    EXPECT_EQ(SafeArrayGetElement(copy.parray, at, &element), S_OK);
    ASSERT_EQ(element.vt, VT_ARRAY | VT_BSTR);
    BSTR text = nullptr;
    EXPECT_EQ(SafeArrayGetElement(element.parray, &zero, &text), S_OK);
    EXPECT_EQ(std::u16string(text), u"Tarn");
    SysFreeString(text);
    EXPECT_EQ(VariantClear(&element), S_OK);
    EXPECT_EQ(VariantClear(&copy), S_OK);

    // Arrays of types no array holds here are bad variant types.
    VARIANT odd;
    odd.vt = VT_ARRAY | VT_EMPTY;
    odd.parray = nullptr;
    EXPECT_EQ(VariantClear(&odd), DISP_E_BADVARTYPE);
}

} // namespace

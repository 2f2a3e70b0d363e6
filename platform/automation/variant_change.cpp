// VariantChangeType: conversion between the VARIANT types that automation clients use.
//
// Numbers convert with range checks (DISP_E_OVERFLOW) and round half to even; text parses and
// formats as the US locale does; a dispatch object converts through its default member
// (DISPID_VALUE, a property get); VT_UNKNOWN and VT_DISPATCH convert into each other through
// QueryInterface. The result is built aside and only then replaces the destination, so a failure
// leaves the destination as it was and the destination may be the source itself.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "number_text.h"
#include "sky/text.h"
#include "variant_types.h"
#include "win/oleauto.h"

namespace {

using namespace sky::automation;

// How many default members deep a conversion may follow (an object whose value is an object...).
constexpr int maxValueDepth = 8;

enum class Kind { Empty, Null, Signed, Unsigned, Real, Bool, Text, Object, Other };

// The source reduced to what a conversion needs.
struct Value {
    Kind kind = Kind::Other;
    std::int64_t signedValue = 0;
    std::uint64_t unsignedValue = 0;
    double real = 0;
    bool single = false; // a VT_R4: formatted with 7 significant digits
    bool flag = false;
    std::u16string_view text;
    IUnknown* object = nullptr;
};

struct IntegerType {
    VARTYPE vt;
    int bits;
    bool isSigned;
};

constexpr IntegerType integerTypes[] = {
    {VT_I1, 8, true},  {VT_UI1, 8, false},  {VT_I2, 16, true},  {VT_UI2, 16, false},
    {VT_I4, 32, true}, {VT_UI4, 32, false}, {VT_INT, 32, true}, {VT_UINT, 32, false},
    {VT_I8, 64, true}, {VT_UI8, 64, false},
};

const IntegerType* integerType(VARTYPE vt) {
    for (const auto& t : integerTypes)
        if (t.vt == vt)
            return &t;
    return nullptr;
}

// A by-value view of the source (not owning anything): VT_BYREF values are read through.
HRESULT dereference(const VARIANT& source, VARIANT& view) {
    view = source;
    if (!(source.vt & VT_BYREF))
        return S_OK;
    const VARTYPE base = source.vt & VT_TYPEMASK;
    if (!source.byref)
        return E_INVALIDARG;
    if (base == VT_VARIANT) {
        view = *source.pvarVal;
        return (view.vt & VT_BYREF) ? E_INVALIDARG : S_OK;
    }
    const std::size_t size = sky::automation::valueSize(base);
    if (size == 0)
        return DISP_E_BADVARTYPE;
    view.vt = base;
    view.llVal = 0;
    std::memcpy(&view.llVal, source.byref, size);
    return S_OK;
}

Value read(const VARIANT& v) {
    Value value;
    switch (v.vt) {
    case VT_EMPTY:
        value.kind = Kind::Empty;
        break;
    case VT_NULL:
        value.kind = Kind::Null;
        break;
    case VT_I1:
        value.kind = Kind::Signed;
        value.signedValue = static_cast<signed char>(v.cVal);
        break;
    case VT_I2:
        value.kind = Kind::Signed;
        value.signedValue = v.iVal;
        break;
    case VT_I4:
        value.kind = Kind::Signed;
        value.signedValue = v.lVal;
        break;
    case VT_INT:
        value.kind = Kind::Signed;
        value.signedValue = v.intVal;
        break;
    case VT_I8:
        value.kind = Kind::Signed;
        value.signedValue = v.llVal;
        break;
    case VT_UI1:
        value.kind = Kind::Unsigned;
        value.unsignedValue = v.bVal;
        break;
    case VT_UI2:
        value.kind = Kind::Unsigned;
        value.unsignedValue = v.uiVal;
        break;
    case VT_UI4:
        value.kind = Kind::Unsigned;
        value.unsignedValue = v.ulVal;
        break;
    case VT_UINT:
        value.kind = Kind::Unsigned;
        value.unsignedValue = v.uintVal;
        break;
    case VT_UI8:
        value.kind = Kind::Unsigned;
        value.unsignedValue = v.ullVal;
        break;
    case VT_R4:
        value.kind = Kind::Real;
        value.real = v.fltVal;
        value.single = true;
        break;
    case VT_R8:
        value.kind = Kind::Real;
        value.real = v.dblVal;
        break;
    case VT_BOOL:
        value.kind = Kind::Bool;
        value.flag = v.boolVal != VARIANT_FALSE;
        break;
    case VT_BSTR:
        value.kind = Kind::Text;
        if (v.bstrVal)
            value.text = std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal));
        break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        value.kind = Kind::Object;
        value.object = v.punkVal;
        break;
    default:
        break;
    }
    return value;
}

void storeInteger(VARIANT& out, VARTYPE vt, std::uint64_t bits) {
    out.vt = vt;
    switch (vt) {
    case VT_I1:
        out.cVal = static_cast<CHAR>(static_cast<signed char>(bits));
        break;
    case VT_UI1:
        out.bVal = static_cast<BYTE>(bits);
        break;
    case VT_I2:
        out.iVal = static_cast<SHORT>(bits);
        break;
    case VT_UI2:
        out.uiVal = static_cast<USHORT>(bits);
        break;
    case VT_I4:
        out.lVal = static_cast<LONG>(bits);
        break;
    case VT_UI4:
        out.ulVal = static_cast<ULONG>(bits);
        break;
    case VT_INT:
        out.intVal = static_cast<INT>(bits);
        break;
    case VT_UINT:
        out.uintVal = static_cast<UINT>(bits);
        break;
    case VT_I8:
        out.llVal = static_cast<LONGLONG>(bits);
        break;
    default:
        out.ullVal = bits;
        break;
    }
}

bool fits(const IntegerType& type, std::int64_t value) {
    if (type.isSigned) {
        const std::int64_t limit =
            type.bits == 64 ? INT64_MAX : (std::int64_t{1} << (type.bits - 1)) - 1;
        return value <= limit && value >= -limit - 1;
    }
    return value >= 0 && (type.bits == 64 || value < (std::int64_t{1} << type.bits));
}

bool fits(const IntegerType& type, std::uint64_t value) {
    if (type.isSigned)
        return value <= static_cast<std::uint64_t>(INT64_MAX) &&
               fits(type, static_cast<std::int64_t>(value));
    return type.bits == 64 || value < (std::uint64_t{1} << type.bits);
}

HRESULT toInteger(const Value& value, const IntegerType& type, VARIANT& out) {
    switch (value.kind) {
    case Kind::Empty:
        storeInteger(out, type.vt, 0);
        return S_OK;
    case Kind::Bool:
        // True is -1: all bits set, also in an unsigned type.
        storeInteger(out, type.vt, value.flag ? ~std::uint64_t{0} : 0);
        return S_OK;
    case Kind::Signed:
        if (!fits(type, value.signedValue))
            return DISP_E_OVERFLOW;
        storeInteger(out, type.vt, static_cast<std::uint64_t>(value.signedValue));
        return S_OK;
    case Kind::Unsigned:
        if (!fits(type, value.unsignedValue))
            return DISP_E_OVERFLOW;
        storeInteger(out, type.vt, value.unsignedValue);
        return S_OK;
    case Kind::Real: {
        if (!std::isfinite(value.real))
            return DISP_E_OVERFLOW;
        const double rounded = std::nearbyint(value.real); // half to even
        const double low = type.isSigned ? -std::ldexp(1.0, type.bits - 1) : 0.0;
        const double high = std::ldexp(1.0, type.isSigned ? type.bits - 1 : type.bits);
        if (rounded < low || rounded >= high)
            return DISP_E_OVERFLOW;
        if (type.isSigned)
            storeInteger(out, type.vt,
                         static_cast<std::uint64_t>(static_cast<std::int64_t>(rounded)));
        else
            storeInteger(out, type.vt, static_cast<std::uint64_t>(rounded));
        return S_OK;
    }
    case Kind::Text: {
        ParsedNumber number;
        if (HRESULT hr = parseNumber(value.text, number); FAILED(hr))
            return hr;
        if (type.isSigned) {
            std::int64_t result = 0;
            if (HRESULT hr = toSigned(number, type.bits, result); FAILED(hr))
                return hr;
            storeInteger(out, type.vt, static_cast<std::uint64_t>(result));
        } else {
            std::uint64_t result = 0;
            if (HRESULT hr = toUnsigned(number, type.bits, result); FAILED(hr))
                return hr;
            storeInteger(out, type.vt, result);
        }
        return S_OK;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

HRESULT toReal(const Value& value, VARTYPE vt, VARIANT& out) {
    double result = 0;
    switch (value.kind) {
    case Kind::Empty:
        break;
    case Kind::Bool:
        result = value.flag ? -1.0 : 0.0;
        break;
    case Kind::Signed:
        result = static_cast<double>(value.signedValue);
        break;
    case Kind::Unsigned:
        result = static_cast<double>(value.unsignedValue);
        break;
    case Kind::Real:
        result = value.real;
        break;
    case Kind::Text: {
        ParsedNumber number;
        if (HRESULT hr = parseNumber(value.text, number); FAILED(hr))
            return hr;
        if (vt == VT_R4) {
            float single = 0;
            if (HRESULT hr = toFloat(number, single); FAILED(hr))
                return hr;
            out.vt = VT_R4;
            out.fltVal = single;
            return S_OK;
        }
        if (HRESULT hr = toDouble(number, result); FAILED(hr))
            return hr;
        break;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
    out.vt = vt;
    if (vt == VT_R8) {
        out.dblVal = result;
        return S_OK;
    }
    if (std::isfinite(result) && std::fabs(result) > std::numeric_limits<float>::max())
        return DISP_E_OVERFLOW;
    out.fltVal = static_cast<float>(result);
    return S_OK;
}

bool isBoolWord(std::u16string_view text, std::u16string_view word) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
        text.remove_suffix(1);
    return sky::equalNoCase(text, word);
}

HRESULT toBool(const Value& value, VARIANT& out) {
    bool result = false;
    switch (value.kind) {
    case Kind::Empty:
        break;
    case Kind::Bool:
        result = value.flag;
        break;
    case Kind::Signed:
        result = value.signedValue != 0;
        break;
    case Kind::Unsigned:
        result = value.unsignedValue != 0;
        break;
    case Kind::Real:
        result = value.real != 0;
        break;
    case Kind::Text: {
        // The words in any case and between blanks; the literals of a date-and-boolean text
        // ("#TRUE#", "#FALSE#") only as they stand; otherwise a number, read as a double (so
        // one beyond its range overflows and one too small for it is false).
        if (isBoolWord(value.text, u"True") || value.text == u"#TRUE#") {
            result = true;
        } else if (!isBoolWord(value.text, u"False") && value.text != u"#FALSE#") {
            ParsedNumber number;
            if (HRESULT hr = parseNumber(value.text, number); FAILED(hr))
                return hr;
            double real = 0;
            if (HRESULT hr = toDouble(number, real); FAILED(hr))
                return hr;
            result = real != 0;
        }
        break;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
    out.vt = VT_BOOL;
    out.boolVal = result ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT toText(const Value& value, USHORT flags, VARIANT& out) {
    std::u16string text;
    switch (value.kind) {
    case Kind::Empty:
        break;
    case Kind::Bool:
        if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
            text = value.flag ? u"True" : u"False";
        else
            text = value.flag ? u"-1" : u"0";
        break;
    case Kind::Signed:
        text = sky::widen(std::to_string(value.signedValue));
        break;
    case Kind::Unsigned:
        text = sky::widen(std::to_string(value.unsignedValue));
        break;
    case Kind::Real:
        text = formatReal(value.real, value.single ? 7 : 15);
        break;
    case Kind::Text:
        text = value.text;
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!bstr)
        return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    out.bstrVal = bstr;
    return S_OK;
}

HRESULT toObject(const Value& value, VARTYPE vt, VARIANT& out) {
    if (value.kind != Kind::Empty && value.kind != Kind::Object)
        return DISP_E_TYPEMISMATCH;
    out.vt = vt;
    out.punkVal = nullptr;
    if (!value.object)
        return S_OK;
    void* result = nullptr;
    const IID& iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
    if (FAILED(value.object->QueryInterface(iid, &result)))
        return DISP_E_TYPEMISMATCH;
    out.punkVal = static_cast<IUnknown*>(result);
    return S_OK;
}

HRESULT convert(const VARIANT& source, VARTYPE vt, USHORT flags, VARIANT& out, int depth) {
    VARIANT view;
    if (HRESULT hr = dereference(source, view); FAILED(hr))
        return hr;
    if (view.vt == vt)
        return VariantCopy(&out, &view);
    if (vt == VT_EMPTY)
        return S_OK;

    if (view.vt == VT_DISPATCH && vt != VT_UNKNOWN) {
        // An object converts through the value of its default member.
        if ((flags & VARIANT_NOVALUEPROP) || !view.pdispVal || depth >= maxValueDepth)
            return DISP_E_TYPEMISMATCH;
        DISPPARAMS noArguments{nullptr, nullptr, 0, 0};
        VARIANT member;
        VariantInit(&member);
        HRESULT hr =
            view.pdispVal->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                  &noArguments, &member, nullptr, nullptr);
        if (FAILED(hr))
            return DISP_E_TYPEMISMATCH;
        hr = convert(member, vt, flags, out, depth + 1);
        VariantClear(&member);
        return hr;
    }

    const Value value = read(view);
    if (value.kind == Kind::Null)
        return vt == VT_NULL ? S_OK : DISP_E_TYPEMISMATCH;
    if (const IntegerType* type = integerType(vt))
        return toInteger(value, *type, out);
    switch (vt) {
    case VT_R4:
    case VT_R8:
        return toReal(value, vt, out);
    case VT_BOOL:
        return toBool(value, out);
    case VT_BSTR:
        return toText(value, flags, out);
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return toObject(value, vt, out);
    case VT_NULL:
        if (value.kind != Kind::Empty)
            return DISP_E_TYPEMISMATCH;
        out.vt = VT_NULL;
        return S_OK;
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

} // namespace

extern "C" {

HRESULT WINAPI VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                   USHORT wFlags, VARTYPE vt) {
    (void)lcid; // text is read and written as in the US locale
    if (!pvargDest || !pvarSrc)
        return E_INVALIDARG;
    if (!isValidVariantType(pvarSrc->vt) || !isValidVariantType(vt) || (vt & VT_BYREF))
        return DISP_E_BADVARTYPE;
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = convert(*pvarSrc, vt, wFlags, result, 0);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    // The source is no longer needed, so the destination may be the source itself.
    if (hr = VariantClear(pvargDest); FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

HRESULT WINAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (!pvarDest || !pvargSrc)
        return E_INVALIDARG;
    // An array (held by value) is copied as VariantCopy copies it.
    if (!isValidVariantType(pvargSrc->vt) && !sky::automation::isValidArrayType(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    VARIANT view;
    if (HRESULT hr = dereference(*pvargSrc, view); FAILED(hr))
        return hr;
    // The copy is made aside first: the destination may be the source.
    VARIANT copy;
    VariantInit(&copy);
    if (HRESULT hr = VariantCopy(&copy, &view); FAILED(hr))
        return hr;
    if (HRESULT hr = VariantClear(pvarDest); FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvarDest = copy;
    return S_OK;
}

HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                 VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

} // extern "C"

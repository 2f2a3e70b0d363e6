// VARIANT life cycle: initialise, clear, copy.
#include "variant_types.h"
#include "win/oleauto.h"

namespace sky::automation {

std::size_t valueSize(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
        return 4;
    case VT_R8:
    case VT_DATE:
    case VT_CY:
    case VT_I8:
    case VT_UI8:
        return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return sizeof(void*);
    default:
        return 0;
    }
}

bool isValidArrayType(VARTYPE vt) {
    if ((vt & ~(VT_TYPEMASK | VT_ARRAY)) || !(vt & VT_ARRAY))
        return false;
    const VARTYPE base = vt & VT_TYPEMASK;
    return base == VT_VARIANT || (base != VT_EMPTY && base != VT_NULL && valueSize(base) != 0);
}

bool isValidVariantType(VARTYPE vt) {
    if (vt & VT_ARRAY)
        return false; // arrays are not supported by this platform
    const VARTYPE base = vt & VT_TYPEMASK;
    const bool byRef = (vt & VT_BYREF) != 0;
    if (vt & ~(VT_TYPEMASK | VT_BYREF))
        return false;
    switch (base) {
    case VT_EMPTY:
    case VT_NULL:
        return !byRef;
    case VT_VARIANT:
        return byRef;
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

} // namespace sky::automation

using sky::automation::isValidArrayType;
using sky::automation::isValidVariantType;

extern "C" {

void WINAPI VariantInit(VARIANTARG* pvarg) {
    if (pvarg)
        pvarg->vt = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
    if (!pvarg)
        return E_INVALIDARG;
    if (isValidArrayType(pvarg->vt)) {
        // A locked array stays, and so does the variant that holds it.
        if (HRESULT hr = SafeArrayDestroy(pvarg->parray); FAILED(hr))
            return hr;
        pvarg->vt = VT_EMPTY;
        return S_OK;
    }
    if (!isValidVariantType(pvarg->vt))
        return DISP_E_BADVARTYPE;
    switch (pvarg->vt) {
    case VT_BSTR:
        SysFreeString(pvarg->bstrVal);
        break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        if (pvarg->punkVal)
            pvarg->punkVal->Release();
        break;
    default: // plain values; VT_BYREF points at storage the variant does not own
        break;
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    const bool array = isValidArrayType(pvargSrc->vt);
    if (!array && !isValidVariantType(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    VARIANT copy = *pvargSrc;
    if (array) {
        if (HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray); FAILED(hr))
            return hr;
    } else if (copy.vt == VT_BSTR && copy.bstrVal) {
        copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                             SysStringByteLen(pvargSrc->bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
    } else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal) {
        copy.punkVal->AddRef();
    }
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

} // extern "C"

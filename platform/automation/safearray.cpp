// SAFEARRAY: arrays of automation values, with the bounds and locking automation gives them.
//
// The descriptor is allocated with a prefix in front of it, as automation lays it out: the
// element type in the four bytes just before the descriptor (FADF_HAVEVARTYPE), and for arrays
// of objects the interface's IID in the sixteen bytes before that (FADF_HAVEIID).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "variant_types.h"
#include "win/oleauto.h"

namespace {

// The prefix: padding, the IID (16 bytes), the VARTYPE (4 bytes); 24 keeps the descriptor aligned.
constexpr std::size_t prefixBytes = 24;
// The most bytes one array's elements may take; larger arrays are refused as out of memory.
constexpr std::uint64_t maxDataBytes = std::numeric_limits<std::uint32_t>::max();
// The most times an array may be locked at once.
constexpr ULONG maxLocks = 0xFFFF;

std::byte* prefixOf(SAFEARRAY* psa) {
    return reinterpret_cast<std::byte*>(psa) - prefixBytes;
}

VARTYPE storedVartype(SAFEARRAY* psa) {
    DWORD vt = 0;
    std::memcpy(&vt, reinterpret_cast<std::byte*>(psa) - sizeof(DWORD), sizeof(DWORD));
    return static_cast<VARTYPE>(vt);
}

// The size of one element of an array of this type, 0 for a type an array cannot hold.
ULONG elementSize(VARTYPE vt) {
    switch (vt) {
    case VT_VARIANT:
        return sizeof(VARIANT);
    case VT_EMPTY:
    case VT_NULL:
        return 0;
    default:
        return static_cast<ULONG>(sky::automation::valueSize(vt));
    }
}

USHORT featuresOf(VARTYPE vt) {
    switch (vt) {
    case VT_BSTR:
        return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_VARIANT:
        return FADF_HAVEVARTYPE | FADF_VARIANT;
    case VT_UNKNOWN:
        return FADF_HAVEIID | FADF_UNKNOWN;
    case VT_DISPATCH:
        return FADF_HAVEIID | FADF_DISPATCH;
    default:
        return FADF_HAVEVARTYPE;
    }
}

std::uint64_t elementCount(const SAFEARRAY* psa) {
    std::uint64_t count = 1;
    for (USHORT d = 0; d < psa->cDims; ++d)
        count *= psa->rgsabound[d].cElements; // bounded at creation
    return count;
}

// The descriptor alone, with its bounds (given first dimension first) and no data.
SAFEARRAY* allocateDescriptor(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
    const ULONG size = elementSize(vt);
    if (cDims == 0 || cDims > 0xFFFF || size == 0 || !bounds)
        return nullptr;
    std::uint64_t bytes = size;
    for (UINT d = 0; d < cDims; ++d) {
        bytes *= bounds[d].cElements;
        if (bytes > maxDataBytes) // also bounds the element count: every element takes a byte
            return nullptr;
    }
    const std::size_t descriptorBytes =
        prefixBytes + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<std::byte*>(std::calloc(1, descriptorBytes));
    if (!block)
        return nullptr;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + prefixBytes);
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = featuresOf(vt);
    psa->cbElements = size;
    for (UINT d = 0; d < cDims; ++d)
        psa->rgsabound[cDims - 1 - d] = bounds[d];
    if (psa->fFeatures & FADF_HAVEIID) {
        const GUID& iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
        std::memcpy(block + prefixBytes - 16 - sizeof(DWORD), &iid, sizeof(GUID));
    }
    const DWORD stored = vt;
    std::memcpy(block + prefixBytes - sizeof(DWORD), &stored, sizeof(DWORD));
    return psa;
}

void freeDescriptor(SAFEARRAY* psa) {
    std::free(prefixOf(psa));
}

HRESULT allocateData(SAFEARRAY* psa) {
    const std::uint64_t bytes = elementCount(psa) * psa->cbElements;
    psa->pvData = std::calloc(bytes ? bytes : 1, 1);
    return psa->pvData ? S_OK : E_OUTOFMEMORY;
}

// Releases what the elements own and zeroes them.
void clearElements(SAFEARRAY* psa) {
    const std::uint64_t count = elementCount(psa);
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(psa, &vt);
    auto* data = static_cast<std::byte*>(psa->pvData);
    for (std::uint64_t i = 0; i < count; ++i) {
        std::byte* cell = data + i * psa->cbElements;
        if (vt == VT_BSTR) {
            BSTR b = nullptr;
            std::memcpy(&b, cell, sizeof b);
            SysFreeString(b);
        } else if (vt == VT_VARIANT) {
            VariantClear(reinterpret_cast<VARIANT*>(cell));
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            IUnknown* unknown = nullptr;
            std::memcpy(&unknown, cell, sizeof unknown);
            if (unknown)
                unknown->Release();
        }
    }
    std::memset(data, 0, count * psa->cbElements);
}

// Copies one element from source to an empty (zeroed) destination cell.
HRESULT copyElement(VARTYPE vt, std::size_t size, const std::byte* from, std::byte* to) {
    if (vt == VT_BSTR) {
        BSTR b = nullptr;
        std::memcpy(&b, from, sizeof b);
        if (b) {
            b = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(b), SysStringByteLen(b));
            if (!b)
                return E_OUTOFMEMORY;
        }
        std::memcpy(to, &b, sizeof b);
        return S_OK;
    }
    if (vt == VT_VARIANT) {
        auto* dest = reinterpret_cast<VARIANT*>(to);
        VariantInit(dest);
        return VariantCopy(dest, reinterpret_cast<const VARIANT*>(from));
    }
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        IUnknown* unknown = nullptr;
        std::memcpy(&unknown, from, sizeof unknown);
        if (unknown)
            unknown->AddRef();
    }
    std::memcpy(to, from, size);
    return S_OK;
}

// The byte offset of the element at these indices (first dimension first), or false when an
// index lies outside its dimension.
bool cellOffset(const SAFEARRAY* psa, const LONG* indices, std::uint64_t& offset) {
    std::uint64_t cell = 0;
    std::uint64_t stride = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - d];
        const std::int64_t at = std::int64_t{indices[d]} - bound.lLbound;
        if (at < 0 || at >= std::int64_t{bound.cElements})
            return false;
        cell += static_cast<std::uint64_t>(at) * stride;
        stride *= bound.cElements;
    }
    offset = cell * psa->cbElements;
    return true;
}

// Finds the element at these indices and locks the array for the element's copy.
HRESULT lockCell(SAFEARRAY* psa, const LONG* indices, std::uint64_t& offset, VARTYPE& vt) {
    if (!psa || !indices)
        return E_INVALIDARG;
    if (!cellOffset(psa, indices, offset))
        return DISP_E_BADINDEX;
    if (HRESULT hr = SafeArrayGetVartype(psa, &vt); FAILED(hr))
        return hr;
    return SafeArrayLock(psa);
}

} // namespace

extern "C" {

SAFEARRAY* WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    SAFEARRAY* psa = allocateDescriptor(vt, cDims, rgsabound);
    if (!psa)
        return nullptr;
    if (FAILED(allocateData(psa))) {
        freeDescriptor(psa);
        return nullptr;
    }
    return psa;
}

SAFEARRAY* WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa)
        return S_OK;
    if (psa->cLocks > 0)
        return DISP_E_ARRAYISLOCKED;
    if (psa->pvData) {
        clearElements(psa);
        std::free(psa->pvData);
    }
    freeDescriptor(psa);
    return S_OK;
}

UINT WINAPI SafeArrayGetDim(SAFEARRAY* psa) {
    return psa ? psa->cDims : 0;
}

UINT WINAPI SafeArrayGetElemsize(SAFEARRAY* psa) {
    return psa ? psa->cbElements : 0;
}

HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound)
        return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound)
        return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
    // An empty dimension's upper bound is one below its lower bound.
    *plUbound = static_cast<LONG>(std::int64_t{bound.lLbound} + bound.cElements - 1);
    return S_OK;
}

HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt)
        return E_INVALIDARG;
    if (psa->fFeatures & FADF_HAVEVARTYPE)
        *pvt = storedVartype(psa);
    else if (psa->fFeatures & FADF_BSTR)
        *pvt = VT_BSTR;
    else if (psa->fFeatures & FADF_VARIANT)
        *pvt = VT_VARIANT;
    else if (psa->fFeatures & FADF_DISPATCH)
        *pvt = VT_DISPATCH;
    else if (psa->fFeatures & FADF_UNKNOWN)
        *pvt = VT_UNKNOWN;
    else
        return E_INVALIDARG;
    return S_OK;
}

HRESULT WINAPI SafeArrayLock(SAFEARRAY* psa) {
    if (!psa)
        return E_INVALIDARG;
    if (psa->cLocks >= maxLocks)
        return E_UNEXPECTED;
    ++psa->cLocks;
    return S_OK;
}

HRESULT WINAPI SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa)
        return E_INVALIDARG;
    if (psa->cLocks == 0)
        return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData)
        return E_INVALIDARG;
    if (HRESULT hr = SafeArrayLock(psa); FAILED(hr)) {
        *ppvData = nullptr;
        return hr;
    }
    *ppvData = psa->pvData;
    return S_OK;
}

HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* psa) {
    return SafeArrayUnlock(psa);
}

HRESULT WINAPI SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!pv)
        return E_INVALIDARG;
    std::uint64_t offset = 0;
    VARTYPE vt = VT_EMPTY;
    if (HRESULT hr = lockCell(psa, rgIndices, offset, vt); FAILED(hr))
        return hr;
    const HRESULT hr =
        copyElement(vt, psa->cbElements, static_cast<const std::byte*>(psa->pvData) + offset,
                    static_cast<std::byte*>(pv));
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT WINAPI SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    std::uint64_t offset = 0;
    VARTYPE vt = VT_EMPTY;
    if (HRESULT hr = lockCell(psa, rgIndices, offset, vt); FAILED(hr))
        return hr;
    // Strings and objects are passed as themselves, other values by their address.
    const bool byValue = vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH;
    if (!pv && !byValue) {
        SafeArrayUnlock(psa);
        return E_INVALIDARG;
    }
    std::byte* cell = static_cast<std::byte*>(psa->pvData) + offset;
    HRESULT hr = S_OK;
    if (vt == VT_VARIANT) {
        hr = VariantCopy(reinterpret_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
    } else if (byValue) {
        std::byte fresh[sizeof(void*)] = {};
        hr = copyElement(vt, sizeof(void*), reinterpret_cast<const std::byte*>(&pv), fresh);
        if (SUCCEEDED(hr)) {
            void* old = nullptr;
            std::memcpy(&old, cell, sizeof old);
            if (vt == VT_BSTR)
                SysFreeString(static_cast<BSTR>(old));
            else if (old)
                static_cast<IUnknown*>(old)->Release();
            std::memcpy(cell, fresh, sizeof fresh);
        }
    } else {
        std::memcpy(cell, pv, psa->cbElements);
    }
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT WINAPI SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut)
        return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa)
        return S_OK;
    VARTYPE vt = VT_EMPTY;
    if (HRESULT hr = SafeArrayGetVartype(psa, &vt); FAILED(hr))
        return hr;
    // The bounds come back first dimension first, as SafeArrayCreate takes them.
    std::vector<SAFEARRAYBOUND> bounds(psa->cDims);
    for (USHORT d = 0; d < psa->cDims; ++d)
        bounds[d] = psa->rgsabound[psa->cDims - 1 - d];
    SAFEARRAY* copy = SafeArrayCreate(vt, psa->cDims, bounds.data());
    if (!copy)
        return E_OUTOFMEMORY;
    const std::uint64_t count = elementCount(psa);
    const auto* from = static_cast<const std::byte*>(psa->pvData);
    auto* to = static_cast<std::byte*>(copy->pvData);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = i * psa->cbElements;
        if (HRESULT hr = copyElement(vt, psa->cbElements, from + at, to + at); FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

} // extern "C"

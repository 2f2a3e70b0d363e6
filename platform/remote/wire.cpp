// The wire format's values (see wire.h).
#include "wire.h"

#include "../automation/variant_types.h"
#include "sky/remote.h"

namespace sky::remote {

void Writer::str(const OLECHAR* text, std::uint32_t characters) {
    if (!text) {
        u32(0xFFFFFFFFu);
        return;
    }
    u32(characters * 2);
    raw(text, characters * 2);
}

void Writer::bstr(BSTR b) {
    if (!b) {
        u32(0xFFFFFFFFu);
        return;
    }
    const UINT bytes = SysStringByteLen(b);
    u32(bytes);
    raw(b, bytes);
}

bool Reader::raw(void* out, std::size_t size) {
    if (!ok_ || static_cast<std::size_t>(end_ - p_) < size) {
        ok_ = false;
        p_ = end_;
        if (size)
            std::memset(out, 0, size);
        return false;
    }
    if (size)
        std::memcpy(out, p_, size);
    p_ += size;
    return true;
}

BSTR Reader::bstr() {
    const std::uint32_t bytes = u32();
    if (!ok_ || bytes == 0xFFFFFFFFu)
        return nullptr;
    if (static_cast<std::size_t>(end_ - p_) < bytes) {
        fail();
        return nullptr;
    }
    BSTR b = SysAllocStringByteLen(reinterpret_cast<const char*>(p_), bytes);
    if (!b) {
        fail();
        return nullptr;
    }
    p_ += bytes;
    return b;
}

void writeFile(Writer& out, const HandedFile& file) {
    out.u8(static_cast<std::uint8_t>(file.use));
    out.u8(file.file.fd >= 0 ? 1 : 0);
    out.i32(file.file.error);
    out.u32(file.file.kind);
    out.u8(file.file.folderMissing ? 1 : 0);
    out.str(file.name.data(), static_cast<std::uint32_t>(file.name.size()));
}

bool readFile(Reader& in, HandedFile& file, bool& opened) {
    const std::uint8_t use = in.u8();
    const std::uint8_t isOpen = in.u8();
    file.file = MemberFile();
    file.file.error = in.i32();
    file.file.kind = in.u32();
    file.file.folderMissing = in.u8() != 0;
    BSTR name = in.bstr();
    const bool ok =
        in.ok() && name && (use == 1 || use == 2) && isOpen <= 1 && SysStringByteLen(name) % 2 == 0;
    if (ok)
        file.name.assign(reinterpret_cast<const char16_t*>(name), SysStringLen(name));
    SysFreeString(name);
    file.use = static_cast<dispatch::FileUse>(use);
    opened = isOpen == 1;
    return ok;
}

const IID& faceToHandOut(REFIID asked, const GUID& face) {
    const bool plain = IsEqualIID(asked, IID_IDispatch) || IsEqualIID(asked, IID_IUnknown);
    if (!plain || IsEqualIID(face, asked) || !findInterface(face))
        return asked;
    return face;
}

namespace {

// The size of a value of a variant type held in place (no string or object), 0 for others.
std::size_t plainSize(VARTYPE vt) {
    if (vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN)
        return 0;
    return automation::valueSize(vt);
}

// The fewest bytes one element of an array of this type takes on the wire.
std::size_t leastElementBytes(VARTYPE base) {
    if (base == VT_VARIANT)
        return 2; // the type word
    if (base == VT_BSTR)
        return 4; // the byte count
    if (base == VT_DISPATCH || base == VT_UNKNOWN)
        return 8; // the reference
    return plainSize(base);
}

HRESULT readValue(Reader& in, VARTYPE vt, const IID* iid, VARIANT& v, ObjectCodec& objects,
                  unsigned depth);

HRESULT writeArray(Writer& out, VARTYPE base, SAFEARRAY* psa, ObjectCodec& objects) {
    if (!psa) {
        out.u16(0);
        return S_OK;
    }
    VARTYPE held = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(psa, &held)) || held != base)
        return DISP_E_BADVARTYPE;
    if (psa->cDims > maxArrayDims)
        return E_INVALIDARG;
    std::uint64_t total = 1;
    for (USHORT d = 0; d < psa->cDims; ++d)
        total *= psa->rgsabound[d].cElements;
    if (total > maxArrayElements)
        return E_OUTOFMEMORY;
    out.u16(psa->cDims);
    std::uint64_t count = 1;
    for (USHORT d = psa->cDims; d-- > 0;) { // first dimension first
        out.u32(psa->rgsabound[d].cElements);
        out.i32(psa->rgsabound[d].lLbound);
        count *= psa->rgsabound[d].cElements;
    }
    if (HRESULT hr = SafeArrayLock(psa); FAILED(hr))
        return hr;
    HRESULT hr = S_OK;
    const auto* data = static_cast<const std::byte*>(psa->pvData);
    for (std::uint64_t i = 0; i < count && SUCCEEDED(hr); ++i)
        hr = writeTyped(out, base, data + i * psa->cbElements, nullptr, objects);
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT readArray(Reader& in, VARTYPE base, VARIANT& v, ObjectCodec& objects, unsigned depth) {
    if (depth >= maxArrayNesting)
        return badStubData;
    const std::uint16_t dims = in.u16();
    if (!in.ok() || dims > maxArrayDims)
        return badStubData;
    if (dims == 0) {
        v.vt = static_cast<VARTYPE>(VT_ARRAY | base);
        v.parray = nullptr;
        return S_OK;
    }
    SAFEARRAYBOUND bounds[maxArrayDims];
    // Every element takes some bytes of what is left of the message: a count the bytes cannot
    // hold is refused before anything is allocated.
    const std::size_t least = leastElementBytes(base);
    std::uint64_t count = 1;
    for (std::uint16_t d = 0; d < dims; ++d) {
        bounds[d].cElements = in.u32();
        bounds[d].lLbound = in.i32();
        count *= bounds[d].cElements;
        if (!in.ok() || count > maxArrayElements || count > in.remaining() / least)
            return badStubData;
    }
    SAFEARRAY* psa = SafeArrayCreate(base, dims, bounds);
    if (!psa)
        return E_OUTOFMEMORY;
    auto* data = static_cast<std::byte*>(psa->pvData);
    for (std::uint64_t i = 0; i < count; ++i) {
        VARIANT element;
        HRESULT hr = readValue(in, base, nullptr, element, objects, depth + 1);
        if (FAILED(hr)) {
            SafeArrayDestroy(psa);
            return hr;
        }
        storeTyped(base, element, data + i * psa->cbElements);
    }
    v.vt = static_cast<VARTYPE>(VT_ARRAY | base);
    v.parray = psa;
    return S_OK;
}

HRESULT readVariantAt(Reader& in, VARIANT& v, ObjectCodec& objects, unsigned depth) {
    VariantInit(&v);
    const VARTYPE vt = in.u16();
    if (!in.ok() || vt == VT_VARIANT)
        return badStubData;
    return readValue(in, vt, nullptr, v, objects, depth);
}

HRESULT readValue(Reader& in, VARTYPE vt, const IID* iid, VARIANT& v, ObjectCodec& objects,
                  unsigned depth) {
    VariantInit(&v);
    if (vt == VT_VARIANT)
        return readVariantAt(in, v, objects, depth);
    if (automation::isValidArrayType(vt))
        return readArray(in, static_cast<VARTYPE>(vt & VT_TYPEMASK), v, objects, depth);
    v.llVal = 0;
    if (const std::size_t size = plainSize(vt)) {
        if (!in.raw(&v.llVal, size))
            return badStubData;
        v.vt = vt;
        return S_OK;
    }
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
        v.vt = vt;
        return S_OK;
    case VT_BSTR:
        v.bstrVal = in.bstr();
        if (!in.ok())
            return badStubData;
        v.vt = VT_BSTR;
        return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
        void* object = nullptr;
        const HRESULT hr = objects.getObject(
            in, iid ? *iid : (vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown), &object);
        if (FAILED(hr))
            return hr;
        v.vt = vt;
        v.punkVal = static_cast<IUnknown*>(object);
        return S_OK;
    }
    default:
        return badStubData;
    }
}

} // namespace

HRESULT writeTyped(Writer& out, VARTYPE vt, const void* value, const IID* iid,
                   ObjectCodec& objects) {
    if (vt == VT_VARIANT)
        return writeVariant(out, *static_cast<const VARIANT*>(value), objects);
    if (const std::size_t size = plainSize(vt)) {
        out.raw(value, size);
        return S_OK;
    }
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
        return S_OK;
    case VT_BSTR:
        out.bstr(*static_cast<const BSTR*>(value));
        return S_OK;
    case VT_DISPATCH:
        return objects.putObject(out, *static_cast<IUnknown* const*>(value),
                                 iid ? *iid : IID_IDispatch);
    case VT_UNKNOWN:
        return objects.putObject(out, *static_cast<IUnknown* const*>(value),
                                 iid ? *iid : IID_IUnknown);
    default:
        return DISP_E_BADVARTYPE;
    }
}

HRESULT readTyped(Reader& in, VARTYPE vt, const IID* iid, VARIANT& v, ObjectCodec& objects) {
    return readValue(in, vt, iid, v, objects, 0);
}

void clearTyped(VARTYPE vt, void* destination) {
    if (vt == VT_VARIANT)
        VariantInit(static_cast<VARIANT*>(destination));
    else if (const std::size_t size = plainSize(vt))
        std::memset(destination, 0, size);
    else if (vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN)
        *static_cast<void**>(destination) = nullptr;
}

void storeTyped(VARTYPE vt, VARIANT& value, void* destination) {
    if (vt == VT_VARIANT)
        *static_cast<VARIANT*>(destination) = value;
    else if (const std::size_t size = plainSize(vt))
        std::memcpy(destination, &value.llVal, size);
    else if (vt == VT_BSTR)
        *static_cast<BSTR*>(destination) = value.bstrVal;
    else if (vt == VT_DISPATCH || vt == VT_UNKNOWN)
        *static_cast<void**>(destination) = value.punkVal;
    VariantInit(&value);
}

HRESULT writeVariant(Writer& out, const VARIANT& v, ObjectCodec& objects) {
    if (v.vt & VT_BYREF) {
        const auto base = static_cast<VARTYPE>(v.vt & ~VT_BYREF);
        if (!v.byref)
            return E_POINTER;
        if (base == VT_VARIANT)
            return writeVariant(out, *v.pvarVal, objects);
        if (base == VT_VARIANT ||
            (!plainSize(base) && base != VT_BSTR && base != VT_DISPATCH && base != VT_UNKNOWN))
            return DISP_E_BADVARTYPE;
        out.u16(base);
        return writeTyped(out, base, v.byref, nullptr, objects);
    }
    if (automation::isValidArrayType(v.vt)) {
        out.u16(v.vt);
        return writeArray(out, static_cast<VARTYPE>(v.vt & VT_TYPEMASK), v.parray, objects);
    }
    if (v.vt == VT_VARIANT || (v.vt != VT_EMPTY && v.vt != VT_NULL && !plainSize(v.vt) &&
                               v.vt != VT_BSTR && v.vt != VT_DISPATCH && v.vt != VT_UNKNOWN))
        return DISP_E_BADVARTYPE;
    out.u16(v.vt);
    return writeTyped(out, v.vt, &v.llVal, nullptr, objects);
}

HRESULT readVariant(Reader& in, VARIANT& v, ObjectCodec& objects) {
    return readVariantAt(in, v, objects, 0);
}

} // namespace sky::remote

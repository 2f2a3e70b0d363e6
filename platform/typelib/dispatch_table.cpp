// IDispatch from generated tables (sky/dispatch_table.h).
#include "sky/dispatch_table.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sky/text.h"
#include "sky/typelib_image.h"

namespace sky::dispatch {

namespace {

int compareName(const char16_t* a, const OLECHAR* b) {
    return compareNoCase(std::u16string_view(a, sky::length(a)),
                         std::u16string_view(b, sky::length(b)));
}

// The positions in byName of the members called `name`: [first, last).
std::pair<WORD, WORD> nameRange(const Table& t, const OLECHAR* name) {
    const WORD* begin = t.byName;
    const WORD* end = t.byName + t.memberCount;
    const WORD* lo = std::lower_bound(begin, end, name, [&](WORD index, const OLECHAR* n) {
        return compareName(t.members[index].name, n) < 0;
    });
    const WORD* hi = lo;
    while (hi != end && compareName(t.members[*hi].name, name) == 0)
        ++hi;
    return {static_cast<WORD>(lo - begin), static_cast<WORD>(hi - begin)};
}

const Member* choose(const Table& t, DISPID dispid, WORD wFlags) {
    const WORD* begin = t.byDispid;
    const WORD* end = t.byDispid + t.memberCount;
    const WORD* lo = std::lower_bound(
        begin, end, dispid, [&](WORD index, DISPID id) { return t.members[index].dispid < id; });
    const Member *method = nullptr, *get = nullptr, *put = nullptr, *putref = nullptr;
    for (const WORD* at = lo; at != end && t.members[*at].dispid == dispid; ++at) {
        const Member& m = t.members[*at];
        switch (m.invkind) {
        case INVOKE_FUNC:
            method = &m;
            break;
        case INVOKE_PROPERTYGET:
            get = &m;
            break;
        case INVOKE_PROPERTYPUT:
            put = &m;
            break;
        case INVOKE_PROPERTYPUTREF:
            putref = &m;
            break;
        }
    }
    if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if ((wFlags & DISPATCH_PROPERTYPUT) && put)
            return put;
        if ((wFlags & DISPATCH_PROPERTYPUTREF) && putref)
            return putref;
        return nullptr;
    }
    if ((wFlags & DISPATCH_METHOD) && method)
        return method;
    if ((wFlags & DISPATCH_PROPERTYGET) && get)
        return get;
    return nullptr;
}

bool isMissing(const VARIANT* v) {
    return v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND;
}

// A plain (not by-reference) view of an argument. It does not own what it points at. By-reference
// arguments of types that automation members do not take read as a type mismatch.
VARIANT plainView(const VARIANT& v) {
    if (!(v.vt & VT_BYREF))
        return v;
    VARIANT out;
    VariantInit(&out);
    out.llVal = 0;
    VARTYPE base = static_cast<VARTYPE>(v.vt & ~VT_BYREF);
    if (!v.byref)
        return out;
    out.vt = base;
    switch (base) {
    case VT_VARIANT:
        return plainView(*v.pvarVal);
    case VT_I1:
    case VT_UI1:
        out.bVal = *v.pbVal;
        break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        out.iVal = *v.piVal;
        break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
        out.lVal = *v.plVal;
        break;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
        out.llVal = *static_cast<LONGLONG*>(v.byref);
        break;
    case VT_R4:
        out.fltVal = *v.pfltVal;
        break;
    case VT_R8:
    case VT_DATE:
        out.dblVal = *v.pdblVal;
        break;
    case VT_BSTR:
        out.bstrVal = *v.pbstrVal;
        break;
    case VT_DISPATCH:
        out.pdispVal = *v.ppdispVal;
        break;
    case VT_UNKNOWN:
        out.punkVal = *v.ppunkVal;
        break;
    default:
        out.vt = VT_ERROR;
        out.scode = DISP_E_TYPEMISMATCH;
        break;
    }
    return out;
}

// Releases what an argument slot owns. Interface slots may hold a null pointer.
void clearSlot(VARIANT& v) {
    if ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && !v.punkVal) {
        v.vt = VT_EMPTY;
        return;
    }
    VariantClear(&v);
}

// An empty value of the given type, for optional parameters without default and out-only ones.
void emptyOf(VARIANT& slot, VARTYPE vt) {
    VariantInit(&slot);
    slot.llVal = 0;
    slot.vt = vt == VT_VARIANT ? static_cast<VARTYPE>(VT_EMPTY) : vt;
}

HRESULT convertInterface(const Param& p, const VARIANT& value, VARIANT& slot) {
    IUnknown* source = nullptr;
    switch (value.vt) {
    case VT_DISPATCH:
        source = value.pdispVal;
        break;
    case VT_UNKNOWN:
        source = value.punkVal;
        break;
    case VT_EMPTY:
    case VT_NULL:
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    emptyOf(slot, p.vt);
    if (!source)
        return S_OK;
    const IID& iid = p.iid ? *p.iid : (p.vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown);
    void* result = nullptr;
    if (FAILED(source->QueryInterface(iid, &result)) || !result)
        return DISP_E_TYPEMISMATCH;
    if (p.vt == VT_DISPATCH)
        slot.pdispVal = static_cast<IDispatch*>(result);
    else
        slot.punkVal = static_cast<IUnknown*>(result);
    return S_OK;
}

HRESULT convert(const Param& p, const VARIANT& given, VARIANT& slot) {
    VARIANT value = plainView(given);
    if (p.vt == VT_DISPATCH || p.vt == VT_UNKNOWN)
        return convertInterface(p, value, slot);
    VariantInit(&slot);
    if (p.vt == VT_VARIANT)
        return VariantCopy(&slot, &value);
    return VariantChangeType(&slot, &value, 0, p.vt);
}

HRESULT defaultOf(const Param& p, VARIANT& slot) {
    const DefaultValue& d = *p.defaultValue;
    VARIANT value;
    VariantInit(&value);
    value.vt = d.vt;
    switch (d.vt) {
    case VT_BSTR:
        value.bstrVal = SysAllocString(d.text);
        if (!value.bstrVal)
            return E_OUTOFMEMORY;
        break;
    case VT_R8:
        value.dblVal = d.real;
        break;
    case VT_BOOL:
        value.boolVal = d.integer ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    default:
        value.vt = VT_I4;
        value.lVal = static_cast<LONG>(d.integer);
        break;
    }
    HRESULT hr;
    if (p.vt == VT_VARIANT) {
        slot = value;
        return S_OK;
    }
    if (p.vt == VT_DISPATCH || p.vt == VT_UNKNOWN) {
        emptyOf(slot, p.vt); // defaultvalue(0) of an interface: a null pointer
        hr = S_OK;
    } else {
        VariantInit(&slot);
        hr = VariantChangeType(&slot, &value, 0, p.vt);
    }
    VariantClear(&value);
    return hr;
}

// Writes an [out] parameter's value back through the caller's by-reference argument; the
// slot's value moves out.
void writeBack(VARIANT& slot, VARIANT& target) {
    VARTYPE base = static_cast<VARTYPE>(target.vt & ~VT_BYREF);
    if (base == VT_VARIANT) {
        VariantClear(target.pvarVal);
        *target.pvarVal = slot;
        VariantInit(&slot);
        return;
    }
    switch (base) {
    case VT_BSTR:
        SysFreeString(*target.pbstrVal);
        *target.pbstrVal = slot.bstrVal;
        break;
    case VT_DISPATCH:
        if (*target.ppdispVal)
            (*target.ppdispVal)->Release();
        *target.ppdispVal = slot.pdispVal;
        break;
    case VT_UNKNOWN:
        if (*target.ppunkVal)
            (*target.ppunkVal)->Release();
        *target.ppunkVal = slot.punkVal;
        break;
    case VT_I1:
    case VT_UI1:
        *target.pbVal = slot.bVal;
        break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        *target.piVal = slot.iVal;
        break;
    case VT_R4:
        *target.pfltVal = slot.fltVal;
        break;
    case VT_R8:
    case VT_DATE:
        *target.pdblVal = slot.dblVal;
        break;
    default:
        *target.plVal = slot.lVal;
        break;
    }
    VariantInit(&slot);
}

// Whether a by-reference argument can receive a value of type vt.
bool canReceive(const VARIANT& target, VARTYPE vt) {
    if (!(target.vt & VT_BYREF) || !target.byref)
        return false;
    VARTYPE base = static_cast<VARTYPE>(target.vt & ~VT_BYREF);
    return base == VT_VARIANT || base == vt;
}

HRESULT fillException(HRESULT hr, EXCEPINFO* info) {
    std::memset(info, 0, sizeof *info);
    info->scode = hr;
    IErrorInfo* error = nullptr;
    if (GetErrorInfo(0, &error) == S_OK && error) {
        error->GetSource(&info->bstrSource);
        error->GetDescription(&info->bstrDescription);
        error->GetHelpFile(&info->bstrHelpFile);
        error->GetHelpContext(&info->dwHelpContext);
        error->Release();
    }
    return DISP_E_EXCEPTION;
}

class Slots {
public:
    explicit Slots(std::size_t count) : slots_(count) {
        for (auto& s : slots_)
            VariantInit(&s);
    }
    ~Slots() {
        for (auto& s : slots_)
            clearSlot(s);
    }
    VARIANT& operator[](std::size_t i) { return slots_[i]; }
    VARIANT* data() { return slots_.data(); }

private:
    std::vector<VARIANT> slots_;
};

} // namespace

int findByName(const Table& table, const OLECHAR* name) {
    if (!name || !table.memberCount)
        return -1;
    auto [first, last] = nameRange(table, name);
    return first == last ? -1 : table.byName[first];
}

HRESULT notImplemented(const char16_t* interfaceName, const char16_t* member) {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
        std::u16string text =
            std::u16string(interfaceName) + u"::" + member + u" is not implemented";
        create->SetDescription(text.data());
        std::u16string source(interfaceName);
        create->SetSource(source.data());
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return E_NOTIMPL;
}

HRESULT getTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo)
        return E_INVALIDARG;
    *pctinfo = 1;
    return S_OK;
}

HRESULT getTypeInfo(const Table& table, UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    if (!ppTInfo)
        return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    if (!table.typelib)
        return E_NOTIMPL;
    // Each library image is loaded once and kept for the life of the process.
    static std::mutex lock;
    static auto* loaded = new std::map<const TypeLibImage*, ITypeLib*>;
    ITypeLib* lib = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto it = loaded->find(table.typelib);
        if (it == loaded->end()) {
            HRESULT hr =
                typelib::loadTypeLibFromMemory(table.typelib->data, table.typelib->size, &lib);
            if (FAILED(hr))
                return hr;
            it = loaded->emplace(table.typelib, lib).first;
        }
        lib = it->second;
    }
    return lib->GetTypeInfoOfGuid(*table.iid, ppTInfo);
}

HRESULT getIDsOfNames(const Table& table, REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                      DISPID* rgDispId) {
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0)
        return S_OK;
    if (!rgszNames || !rgDispId)
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        rgDispId[i] = DISPID_UNKNOWN;
    if (!rgszNames[0] || !table.memberCount)
        return DISP_E_UNKNOWNNAME;
    auto [first, last] = nameRange(table, rgszNames[0]);
    if (first == last)
        return DISP_E_UNKNOWNNAME;
    rgDispId[0] = table.members[table.byName[first]].dispid;
    HRESULT hr = S_OK;
    // Parameter names: their positions among the parameters of any member of that name.
    for (UINT i = 1; i < cNames; ++i) {
        for (WORD at = first; at < last && rgDispId[i] == DISPID_UNKNOWN; ++at) {
            const Member& m = table.members[table.byName[at]];
            for (WORD k = 0; k < m.paramCount; ++k) {
                if (rgszNames[i] && compareName(m.params[k].name, rgszNames[i]) == 0) {
                    rgDispId[i] = k;
                    break;
                }
            }
        }
        if (rgDispId[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

namespace {

// The faces of `self`, or null when it has no others (the caller releases it).
IObjectFaces* facesOf(IUnknown* self) {
    IObjectFaces* faces = nullptr;
    if (!self || FAILED(self->QueryInterface(IID_IObjectFaces, reinterpret_cast<void**>(&faces))))
        return nullptr;
    return faces;
}

} // namespace

HRESULT getIDsOfNamesOfOtherFaces(const Table& table, IUnknown* self, REFIID riid,
                                  LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) {
    IObjectFaces* faces = facesOf(self);
    if (!faces)
        return DISP_E_UNKNOWNNAME;
    HRESULT hr = DISP_E_UNKNOWNNAME;
    const UINT count = std::min<UINT>(faces->FaceCount(), 0x100);
    for (UINT f = 0; f < count && rgDispId[0] == DISPID_UNKNOWN; ++f) {
        const Table* other = nullptr;
        IUnknown* face = nullptr;
        if (FAILED(faces->Face(f, &other, &face)) || !other || other == &table)
            continue;
        const int index = findByName(*other, rgszNames[0]);
        if (index < 0)
            continue;
        hr = getIDsOfNames(*other, riid, rgszNames, cNames, lcid, rgDispId);
        rgDispId[0] = kOtherFaceFirst | static_cast<DISPID>(f << 16) | index;
    }
    faces->Release();
    return hr;
}

HRESULT invokeOtherFace(IUnknown* self, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) {
    IObjectFaces* faces = facesOf(self);
    if (!faces)
        return DISP_E_MEMBERNOTFOUND;
    const UINT f = static_cast<UINT>(dispIdMember >> 16) & 0xFF;
    const UINT index = static_cast<UINT>(dispIdMember) & 0xFFFF;
    const Table* table = nullptr;
    IUnknown* face = nullptr;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    if (f < faces->FaceCount() && SUCCEEDED(faces->Face(f, &table, &face)) && table && face &&
        index < table->memberCount)
        hr = invoke(*table, face, table->members[index].dispid, riid, lcid, wFlags, pDispParams,
                    pVarResult, pExcepInfo, puArgErr);
    faces->Release();
    return hr;
}

HRESULT invokeSameNameOnOtherFace(const Table& table, IUnknown* self, DISPID dispIdMember,
                                  REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                  VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    const Member* own = nullptr;
    for (WORD i = 0; i < table.memberCount && !own; ++i)
        if (table.members[i].dispid == dispIdMember)
            own = &table.members[i];
    if (!own)
        return DISP_E_MEMBERNOTFOUND;
    IObjectFaces* faces = facesOf(self);
    if (!faces)
        return DISP_E_MEMBERNOTFOUND;
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    const UINT count = std::min<UINT>(faces->FaceCount(), 0x100);
    for (UINT f = 0; f < count && hr == DISP_E_MEMBERNOTFOUND; ++f) {
        const Table* other = nullptr;
        IUnknown* face = nullptr;
        if (FAILED(faces->Face(f, &other, &face)) || !other || other == &table || !face)
            continue;
        const int index = findByName(*other, own->name);
        if (index >= 0)
            hr = invoke(*other, face, other->members[index].dispid, riid, lcid, wFlags, pDispParams,
                        pVarResult, pExcepInfo, puArgErr);
    }
    faces->Release();
    return hr;
}

HRESULT checkGate(IUnknown* self, const Table& table, WORD index) {
    IMemberGate* gate = nullptr;
    if (!self || FAILED(self->QueryInterface(IID_IMemberGate, reinterpret_cast<void**>(&gate))) ||
        !gate)
        return S_OK;
    const HRESULT hr = gate->MayCall(&table, index);
    gate->Release();
    return hr;
}

HRESULT invoke(const Table& table, IUnknown* self, DISPID dispIdMember, REFIID riid, LCID,
               WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
               UINT* puArgErr) {
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (!pDispParams)
        return E_INVALIDARG;
    const DISPPARAMS& dp = *pDispParams;
    if (dp.cNamedArgs > dp.cArgs || (dp.cArgs && !dp.rgvarg) ||
        (dp.cNamedArgs && !dp.rgdispidNamedArgs))
        return E_INVALIDARG;
    const Member* m = table.memberCount ? choose(table, dispIdMember, wFlags) : nullptr;
    if (!m)
        return DISP_E_MEMBERNOTFOUND;
    auto argError = [&](HRESULT hr, UINT index) {
        if (puArgErr)
            *puArgErr = index;
        return hr;
    };

    // Which argument (by index into rgvarg) goes to which parameter.
    constexpr UINT kNone = ~0u;
    std::vector<UINT> source(m->paramCount, kNone);
    bool isPut = m->invkind == INVOKE_PROPERTYPUT || m->invkind == INVOKE_PROPERTYPUTREF;
    UINT positional = dp.cArgs - dp.cNamedArgs;
    UINT firstPositional = dp.cNamedArgs;
    if (isPut && dp.cNamedArgs == 0 && dp.cArgs > 0 && m->paramCount > 0) {
        // The value of a put given without its DISPID_PROPERTYPUT name: still the last argument.
        source[m->paramCount - 1u] = 0;
        --positional;
        firstPositional = 1;
    }
    UINT positionalSlots = isPut && m->paramCount ? m->paramCount - 1u : m->paramCount;
    if (positional > positionalSlots)
        return DISP_E_BADPARAMCOUNT;
    for (UINT j = 0; j < positional; ++j)
        source[j] = firstPositional + positional - 1 - j;
    for (UINT k = 0; k < dp.cNamedArgs; ++k) {
        DISPID id = dp.rgdispidNamedArgs[k];
        UINT param;
        if (id == DISPID_PROPERTYPUT) {
            if (!isPut || m->paramCount == 0)
                return argError(DISP_E_PARAMNOTFOUND, k);
            param = m->paramCount - 1u;
        } else if (m->paramCount == 0) {
            return DISP_E_NONAMEDARGS;
        } else if (id < 0 || static_cast<UINT>(id) >= m->paramCount ||
                   source[static_cast<UINT>(id)] != kNone) {
            return argError(DISP_E_PARAMNOTFOUND, k);
        } else {
            param = static_cast<UINT>(id);
        }
        if (source[param] != kNone)
            return argError(DISP_E_PARAMNOTFOUND, k);
        source[param] = k;
    }

    // Convert every argument to its parameter's type.
    Slots args(m->paramCount);
    for (UINT i = 0; i < m->paramCount; ++i) {
        const Param& p = m->params[i];
        const VARIANT* given = source[i] == kNone ? nullptr : &dp.rgvarg[source[i]];
        if (given && !(p.flags & PARAMFLAG_FOUT)) {
            VARIANT value = plainView(*given);
            if (isMissing(&value))
                given = nullptr;
        }
        if (!given) {
            if (!(p.flags & PARAMFLAG_FOPT)) {
                // Too few arguments, or a required one passed as missing.
                return source[i] == kNone && dp.cNamedArgs == 0 ? DISP_E_BADPARAMCOUNT
                                                                : DISP_E_PARAMNOTOPTIONAL;
            }
            HRESULT hr = S_OK;
            if (p.defaultValue) {
                hr = defaultOf(p, args[i]);
            } else if (p.vt == VT_VARIANT) {
                args[i].vt = VT_ERROR;
                args[i].scode = DISP_E_PARAMNOTFOUND;
            } else {
                emptyOf(args[i], p.vt);
            }
            if (FAILED(hr))
                return hr;
            continue;
        }
        if ((p.flags & PARAMFLAG_FOUT) && !canReceive(*given, p.vt))
            return argError(DISP_E_TYPEMISMATCH, source[i]);
        if ((p.flags & PARAMFLAG_FOUT) && !(p.flags & PARAMFLAG_FIN)) {
            emptyOf(args[i], p.vt);
            continue;
        }
        HRESULT hr = convert(p, *given, args[i]);
        if (FAILED(hr)) {
            VariantInit(&args[i]);
            if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == DISP_E_BADVARTYPE)
                return argError(hr == DISP_E_BADVARTYPE ? DISP_E_TYPEMISMATCH : hr, source[i]);
            return hr;
        }
    }

    VARIANT result;
    emptyOf(result, VT_EMPTY);
    HRESULT hr = checkGate(self, table, static_cast<WORD>(m - table.members));
    if (SUCCEEDED(hr))
        hr = m->thunk(self, args.data(), &result);
    if (m->resultVt != VT_EMPTY && m->resultVt != VT_VARIANT)
        result.vt = m->resultVt;
    if (FAILED(hr)) {
        clearSlot(result);
        return pExcepInfo ? fillException(hr, pExcepInfo) : hr;
    }
    for (UINT i = 0; i < m->paramCount; ++i) {
        if ((m->params[i].flags & PARAMFLAG_FOUT) && source[i] != kNone)
            writeBack(args[i], dp.rgvarg[source[i]]);
    }
    if (pVarResult) {
        *pVarResult = result;
    } else {
        clearSlot(result);
    }
    return S_OK;
}

} // namespace sky::dispatch

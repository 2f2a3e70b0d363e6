// ITypeInfo: the type descriptions of a library held in memory, each with its functions,
// variables and implemented interfaces in the form a caller of ITypeInfo expects.
#include <cstring>
#include <new>

#include "documentation.h"
#include "typelib_object.h"

namespace sky::typelib {

namespace {

// Memory for one FUNCDESC, VARDESC or TYPEATTR and what hangs off it, in a single block so
// that the Release call frees it in one go. Every part is a multiple of 8 bytes.
class Block {
public:
    explicit Block(std::size_t bytes) : base_(static_cast<unsigned char*>(::operator new(bytes))) {
        std::memset(base_, 0, bytes);
    }
    template <class T> T* take(std::size_t count = 1) {
        static_assert(sizeof(T) % alignof(T) == 0);
        T* p = reinterpret_cast<T*>(base_ + used_);
        for (std::size_t i = 0; i < count; ++i)
            new (p + i) T{};
        used_ += round(sizeof(T) * count);
        return p;
    }
    static std::size_t round(std::size_t n) { return (n + 7) & ~static_cast<std::size_t>(7); }
    void* base() const { return base_; }

private:
    unsigned char* base_;
    std::size_t used_ = 0;
};

// Fills a TYPEDESC from a Type, taking `pointers` nodes from the block.
void fillTypeDesc(TYPEDESC& out, const Type& t, Block& block) {
    TYPEDESC* node = &out;
    for (BYTE i = 0; i < t.pointers; ++i) {
        node->vt = VT_PTR;
        node->lptdesc = block.take<TYPEDESC>();
        node = node->lptdesc;
    }
    node->vt = t.vt;
    if (t.vt == VT_USERDEFINED)
        node->hreftype = t.href;
}

void fillVariant(VARIANT& v, const Value& value) {
    VariantInit(&v);
    v.vt = value.vt;
    switch (value.vt) {
    case VT_BSTR:
        v.bstrVal = bstr(value.text);
        break;
    case VT_R8:
    case VT_DATE:
        v.dblVal = value.real;
        break;
    case VT_R4:
        v.fltVal = static_cast<FLOAT>(value.real);
        break;
    case VT_I8:
    case VT_UI8:
        v.llVal = value.integer;
        break;
    case VT_BOOL:
        v.boolVal = value.integer ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_I2:
    case VT_UI2:
        v.iVal = static_cast<SHORT>(value.integer);
        break;
    case VT_I1:
    case VT_UI1:
        v.bVal = static_cast<BYTE>(value.integer);
        break;
    default:
        v.lVal = static_cast<LONG>(value.integer);
        break;
    }
}

} // namespace

TypeInfoObject::TypeInfoObject(TypeLibObject& lib, std::size_t index, bool interfaceFace)
    : ComObject(static_cast<ITypeLib&>(lib)), lib_(lib), index_(index),
      interfaceFace_(interfaceFace) {}

const TypeDescription& TypeInfoObject::desc() const {
    return lib_.data().types[index_];
}

bool TypeInfoObject::isDualDispatchFace() const {
    return !interfaceFace_ && desc().kind == TKIND_DISPATCH && (desc().flags & TYPEFLAG_FDUAL);
}

void TypeInfoObject::prepare() {
    const TypeDescription& d = desc();
    if (d.kind != TKIND_INTERFACE && d.kind != TKIND_DISPATCH)
        return;
    // The chain of library interfaces, base first, and the slots taken below it: IDispatch's
    // seven or IUnknown's three.
    std::vector<std::size_t> chain;
    int baseSlots = 0; // a chain that starts in this library (stdole's IUnknown) has none
    std::size_t at = index_;
    for (std::size_t guard = 0; guard <= lib_.data().types.size(); ++guard) {
        chain.insert(chain.begin(), at);
        const TypeDescription& t = lib_.data().types[at];
        if (t.impls.empty())
            break;
        HREFTYPE base = t.impls.front().href;
        if (isImportedRef(base)) {
            const ImportedType& imp = lib_.data().importedTypes[refIndex(base)];
            baseSlots = imp.guid == IID_IUnknown ? 3 : 7;
            break;
        }
        if (refIndex(base) == at)
            break;
        at = refIndex(base);
        const TypeDescription& next = lib_.data().types[at];
        if (next.kind != TKIND_INTERFACE && next.kind != TKIND_DISPATCH)
            break;
    }
    int slot = baseSlots;
    bool dispatchForm = isDualDispatchFace();
    for (std::size_t i : chain) {
        for (const Func& f : lib_.data().types[i].funcs) {
            if (dispatchForm || i == index_)
                funcs_.push_back({&f, slot, dispatchForm});
            ++slot;
        }
    }
    vtableSlots_ = dispatchForm ? 7 : slot;
}

HRESULT TypeInfoObject::GetTypeAttr(TYPEATTR** ppTypeAttr) {
    if (!ppTypeAttr)
        return E_INVALIDARG;
    const TypeDescription& d = desc();
    std::size_t nodes = d.kind == TKIND_ALIAS ? d.alias.pointers : 0;
    Block block(Block::round(sizeof(TYPEATTR)) + nodes * Block::round(sizeof(TYPEDESC)));
    TYPEATTR* a = block.take<TYPEATTR>();
    a->guid = d.guid;
    a->lcid = lib_.data().lcid;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->typekind = interfaceFace_ ? TKIND_INTERFACE : d.kind;
    a->wTypeFlags = d.flags;
    a->wMajorVerNum = d.major;
    a->wMinorVerNum = d.minor;
    a->cbAlignment = sizeof(void*);
    switch (a->typekind) {
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
        a->cFuncs = static_cast<WORD>(funcs_.size());
        a->cImplTypes = d.impls.empty() ? 0 : 1;
        a->cbSizeVft = static_cast<WORD>(vtableSlots_ * static_cast<int>(sizeof(void*)));
        a->cbSizeInstance = sizeof(void*);
        break;
    case TKIND_ENUM:
        a->cVars = static_cast<WORD>(d.vars.size());
        a->cbSizeInstance = sizeof(LONG);
        a->cbAlignment = sizeof(LONG);
        break;
    case TKIND_ALIAS:
        fillTypeDesc(a->tdescAlias, d.alias, block);
        a->cbSizeInstance = sizeof(LONG);
        break;
    case TKIND_COCLASS:
        a->cImplTypes = static_cast<WORD>(d.impls.size());
        a->cbSizeInstance = sizeof(void*);
        break;
    default:
        break;
    }
    *ppTypeAttr = a;
    return S_OK;
}

void TypeInfoObject::ReleaseTypeAttr(TYPEATTR* pTypeAttr) {
    ::operator delete(pTypeAttr);
}

HRESULT TypeInfoObject::GetTypeComp(ITypeComp** ppTComp) {
    if (ppTComp)
        *ppTComp = nullptr;
    return E_NOTIMPL;
}

HRESULT TypeInfoObject::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
    if (!ppFuncDesc)
        return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    if (index >= funcs_.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const Entry& e = funcs_[index];
    const Func& f = *e.func;
    // In dispatch form the [out, retval] parameter is the result.
    std::size_t shown = f.params.size();
    const Param* retval = nullptr;
    if (e.dispatchForm && !f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL)) {
        retval = &f.params.back();
        --shown;
    }
    std::size_t nodes = 0, defaults = 0;
    for (std::size_t i = 0; i < shown; ++i) {
        nodes += f.params[i].type.pointers;
        defaults += f.params[i].defaultValue ? 1 : 0;
    }
    Type result = f.result;
    if (e.dispatchForm) {
        if (retval) {
            result = retval->type;
            --result.pointers;
        } else {
            result = Type{VT_VOID, 0, 0};
        }
    }
    nodes += result.pointers;
    Block block(Block::round(sizeof(FUNCDESC)) + Block::round(sizeof(ELEMDESC) * shown) +
                nodes * Block::round(sizeof(TYPEDESC)) +
                defaults * Block::round(sizeof(PARAMDESCEX)));
    FUNCDESC* fd = block.take<FUNCDESC>();
    fd->memid = f.id;
    fd->funckind = e.dispatchForm ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
    fd->invkind = f.invkind;
    fd->callconv = CC_STDCALL;
    fd->cParams = static_cast<SHORT>(shown);
    fd->oVft = static_cast<SHORT>(e.slot * static_cast<int>(sizeof(void*)));
    fd->wFuncFlags = f.flags;
    fillTypeDesc(fd->elemdescFunc.tdesc, result, block);
    if (shown) {
        fd->lprgelemdescParam = block.take<ELEMDESC>(shown);
        for (std::size_t i = 0; i < shown; ++i) {
            const Param& p = f.params[i];
            ELEMDESC& el = fd->lprgelemdescParam[i];
            fillTypeDesc(el.tdesc, p.type, block);
            el.paramdesc.wParamFlags = p.flags;
            if (p.flags & PARAMFLAG_FOPT)
                ++fd->cParamsOpt;
            if (p.defaultValue) {
                PARAMDESCEX* ex = block.take<PARAMDESCEX>();
                ex->cBytes = sizeof(PARAMDESCEX);
                fillVariant(ex->varDefaultValue, *p.defaultValue);
                el.paramdesc.pparamdescex = ex;
                el.paramdesc.wParamFlags |= PARAMFLAG_FHASDEFAULT;
            }
        }
    }
    *ppFuncDesc = fd;
    return S_OK;
}

void TypeInfoObject::ReleaseFuncDesc(FUNCDESC* pFuncDesc) {
    if (!pFuncDesc)
        return;
    for (SHORT i = 0; i < pFuncDesc->cParams; ++i) {
        PARAMDESCEX* ex = pFuncDesc->lprgelemdescParam[i].paramdesc.pparamdescex;
        if (ex)
            VariantClear(&ex->varDefaultValue);
    }
    ::operator delete(pFuncDesc);
}

HRESULT TypeInfoObject::GetVarDesc(UINT index, VARDESC** ppVarDesc) {
    if (!ppVarDesc)
        return E_INVALIDARG;
    *ppVarDesc = nullptr;
    const TypeDescription& d = desc();
    if (index >= d.vars.size())
        return TYPE_E_ELEMENTNOTFOUND;
    const Var& v = d.vars[index];
    Block block(Block::round(sizeof(VARDESC)) + Block::round(sizeof(VARIANT)));
    VARDESC* vd = block.take<VARDESC>();
    vd->memid = v.id;
    vd->varkind = VAR_CONST;
    vd->wVarFlags = v.flags;
    vd->lpvarValue = block.take<VARIANT>();
    fillVariant(*vd->lpvarValue, v.value);
    vd->elemdescVar.tdesc.vt = v.value.vt;
    *ppVarDesc = vd;
    return S_OK;
}

void TypeInfoObject::ReleaseVarDesc(VARDESC* pVarDesc) {
    if (!pVarDesc)
        return;
    if (pVarDesc->varkind == VAR_CONST && pVarDesc->lpvarValue)
        VariantClear(pVarDesc->lpvarValue);
    ::operator delete(pVarDesc);
}

const TypeInfoObject::Entry* TypeInfoObject::findFunc(MEMBERID memid) const {
    for (const Entry& e : funcs_)
        if (e.func->id == memid)
            return &e;
    return nullptr;
}

const Var* TypeInfoObject::findVar(MEMBERID memid) const {
    for (const Var& v : desc().vars)
        if (v.id == memid)
            return &v;
    return nullptr;
}

HRESULT TypeInfoObject::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
    if (!rgBstrNames || !pcNames)
        return E_INVALIDARG;
    *pcNames = 0;
    if (const Entry* e = findFunc(memid)) {
        std::vector<const std::u16string*> names{&e->func->name};
        for (const Param& p : e->func->params) {
            if (e->dispatchForm && (p.flags & PARAMFLAG_FRETVAL))
                continue;
            names.push_back(&p.name);
        }
        UINT n = 0;
        for (; n < cMaxNames && n < names.size(); ++n)
            rgBstrNames[n] = bstr(*names[n]);
        *pcNames = n;
        return S_OK;
    }
    if (const Var* v = findVar(memid)) {
        if (cMaxNames) {
            rgBstrNames[0] = bstr(v->name);
            *pcNames = 1;
        }
        return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfoObject::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
    if (!pRefType)
        return E_INVALIDARG;
    const TypeDescription& d = desc();
    if (isDualDispatchFace()) {
        if (index == static_cast<UINT>(-1)) {
            *pRefType = interfaceFaceRef(index_);
            return S_OK;
        }
        if (index == 0) {
            *pRefType = lib_.dispatchRef();
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    if (index >= d.impls.size())
        return TYPE_E_ELEMENTNOTFOUND;
    HREFTYPE href = d.impls[index].href;
    // The vtable face derives from its base's vtable face.
    if (interfaceFace_ && !isImportedRef(href)) {
        const TypeDescription& base = lib_.data().types[refIndex(href)];
        if (base.kind == TKIND_DISPATCH && (base.flags & TYPEFLAG_FDUAL))
            href = interfaceFaceRef(refIndex(href));
    }
    *pRefType = href;
    return S_OK;
}

HRESULT TypeInfoObject::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
    if (!pImplTypeFlags)
        return E_INVALIDARG;
    const TypeDescription& d = desc();
    std::size_t count = isDualDispatchFace() ? 1 : d.impls.size();
    if (index >= count)
        return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = d.kind == TKIND_COCLASS ? d.impls[index].flags : 0;
    return S_OK;
}

HRESULT TypeInfoObject::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
    if (!rgszNames || !pMemId || cNames == 0)
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        pMemId[i] = MEMBERID_NIL;
    const Func* found = nullptr;
    for (const Entry& e : funcs_) {
        if (sameName(e.func->name, rgszNames[0])) {
            found = e.func;
            pMemId[0] = e.func->id;
            break;
        }
    }
    if (!found) {
        for (const Var& v : desc().vars) {
            if (sameName(v.name, rgszNames[0])) {
                pMemId[0] = v.id;
                return cNames > 1 ? DISP_E_UNKNOWNNAME : S_OK;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i) {
        for (std::size_t k = 0; k < found->params.size(); ++k)
            if (sameName(found->params[k].name, rgszNames[i]))
                pMemId[i] = static_cast<MEMBERID>(k);
        if (pMemId[i] == MEMBERID_NIL)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT TypeInfoObject::Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    // Objects dispatch through their generated tables (sky/dispatch_table.h), not through here.
    return E_NOTIMPL;
}

HRESULT TypeInfoObject::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                         DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    const std::u16string *name = nullptr, *doc = nullptr;
    DWORD context = 0;
    if (memid == MEMBERID_NIL) {
        name = &desc().name;
        doc = &desc().doc;
        context = desc().helpContext;
    } else if (const Entry* e = findFunc(memid)) {
        name = &e->func->name;
        doc = &e->func->doc;
        context = e->func->helpContext;
    } else if (const Var* v = findVar(memid)) {
        name = &v->name;
        doc = &v->doc;
        context = v->helpContext;
    } else {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    return document(*name, *doc, context, lib_.data().helpFile, pBstrName, pBstrDocString,
                    pdwHelpContext, pBstrHelpFile);
}

HRESULT TypeInfoObject::GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) {
    return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfoObject::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    if (!ppTInfo)
        return E_INVALIDARG;
    return lib_.resolve(hRefType, ppTInfo);
}

HRESULT TypeInfoObject::AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) {
    if (ppv)
        *ppv = nullptr;
    return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfoObject::CreateInstance(IUnknown*, REFIID, PVOID* ppvObj) {
    if (ppvObj)
        *ppvObj = nullptr;
    return TYPE_E_BADMODULEKIND;
}

HRESULT TypeInfoObject::GetMops(MEMBERID, BSTR* pBstrMops) {
    if (pBstrMops)
        *pBstrMops = nullptr;
    return S_OK;
}

HRESULT TypeInfoObject::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
    if (ppTLib) {
        *ppTLib = &lib_;
        lib_.AddRef();
    }
    if (pIndex)
        *pIndex = static_cast<UINT>(index_);
    return S_OK;
}

} // namespace sky::typelib
